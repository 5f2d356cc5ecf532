// moltavex_structured: writes the structured set, binary data made of
// fixed-width records, on which the automatic choice is measured beside the
// corpus (bench/choice.sh).
//
//   moltavex_structured DIR [BYTES]
//
// Writes into DIR (which must exist) these files of about BYTES bytes each
// (default 1 MiB), all little-endian:
//
//   walk16.i16    random walk of 16-bit integers, steps -16..16
//   walk32.i32    random walk of 32-bit integers, steps -4..4 (a counter log)
//   walk64.i64    64-bit timestamps, steps 1000 +- a bell-shaped jitter
//   series.f32    float32: two slow waves and a little noise
//   prices.f64    float64: a random walk in cents, stored as value / 100
//   audio.s16     16-bit stereo frames: tones under an envelope, noise
//   pixels.rgb    24-bit pixels: gradients, discs and bars, noise
//   text.utf16    UTF-16LE (with its byte order mark) of the corpus texts
//                 (a synthetic English-like text without the corpus)
//   mixed.tar     a ustar archive of a quarter of each of walk32, audio,
//                 pixels and text.utf16, beside the first corpus text
//
// Everything comes from one fixed xorshift generator and integer or
// basic floating-point arithmetic (no libm), so the files are the same on
// every run and machine. Exit status 0, or 2 on a usage or write error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using mx::bench::Bytes;

struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  // Uniform in lo..hi.
  std::int64_t uniform(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  // Bell-shaped in -2*span..2*span: a sum of four uniforms.
  std::int64_t bell(std::int64_t span) {
    std::int64_t sum = 0;
    for (int i = 0; i < 4; ++i) sum += uniform(-span / 2, span / 2);
    return sum;
  }
};

template <class T>
void put(Bytes& out, T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));  // little-endian hosts only (checked in main)
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

// A sine wave by rotation (no libm): step holds cos and sin of the angle
// per sample, from their series.
struct Wave {
  double c = 1, s = 0, step_c, step_s;
  explicit Wave(double angle) {
    double term = 1, cos_sum = 0, sin_sum = 0;
    for (int k = 0; k < 20; ++k) {
      if (k % 4 == 0) cos_sum += term;
      if (k % 4 == 1) sin_sum += term;
      if (k % 4 == 2) cos_sum -= term;
      if (k % 4 == 3) sin_sum -= term;
      term *= angle / (k + 1);
    }
    step_c = cos_sum;
    step_s = sin_sum;
  }
  double next() {
    const double nc = c * step_c - s * step_s;
    s = s * step_c + c * step_s;
    c = nc;
    return s;
  }
};

Bytes walk16(std::size_t size) {
  Random r{0x9E3779B97F4A7C15};
  Bytes out;
  std::int16_t x = 0;
  while (out.size() < size) {
    x = static_cast<std::int16_t>(x + r.uniform(-16, 16));
    put(out, x);
  }
  return out;
}

Bytes walk32(std::size_t size) {
  Random r{0xD1B54A32D192ED03};
  Bytes out;
  std::int32_t x = 1000000;
  while (out.size() < size) {
    x += static_cast<std::int32_t>(r.uniform(-4, 4));
    put(out, x);
  }
  return out;
}

Bytes walk64(std::size_t size) {
  Random r{0x8CB92BA72F3D8DD7};
  Bytes out;
  std::int64_t t = 1765000000000000;  // microseconds, late 2025
  while (out.size() < size) {
    t += 1000 + r.bell(40);
    put(out, t);
  }
  return out;
}

Bytes series32(std::size_t size) {
  Random r{0xA0761D6478BD642F};
  Wave slow(0.001), faster(0.037);
  Bytes out;
  while (out.size() < size) {
    const double noise = static_cast<double>(r.bell(1000)) / 1e6;
    put(out, static_cast<float>(20.0 + 3.0 * slow.next() + 0.5 * faster.next() + noise));
  }
  return out;
}

Bytes prices64(std::size_t size) {
  Random r{0xE7037ED1A0B428DB};
  Bytes out;
  std::int64_t cents = 1234567;
  while (out.size() < size) {
    cents += r.bell(8);
    put(out, static_cast<double>(cents) / 100.0);
  }
  return out;
}

Bytes audio(std::size_t size) {
  Random r{0x8EBC6AF09C88C6E3};
  Wave a(0.0627), b(0.0941), c(0.0313), envelope(0.0002);
  Bytes out;
  while (out.size() < size) {
    const double gain = 6000.0 + 5000.0 * envelope.next();
    const double tone = gain * (a.next() + 0.5 * b.next() + 0.3 * c.next());
    const auto left = static_cast<std::int16_t>(tone + static_cast<double>(r.bell(30)));
    const auto right = static_cast<std::int16_t>(0.8 * tone + static_cast<double>(r.bell(30)));
    put(out, left);
    put(out, right);
  }
  return out;
}

Bytes pixels(std::size_t size) {
  Random r{0x589965CC75374CC3};
  const int width = 640;
  const int height = static_cast<int>((size + 3 * width - 1) / (3 * width));
  struct Disc {
    int x, y, radius, color[3];
  };
  std::vector<Disc> discs;
  for (int i = 0; i < 24; ++i) {
    discs.push_back({static_cast<int>(r.uniform(0, width)),
                     static_cast<int>(r.uniform(0, height)),
                     static_cast<int>(r.uniform(10, 80)),
                     {static_cast<int>(r.uniform(0, 255)), static_cast<int>(r.uniform(0, 255)),
                      static_cast<int>(r.uniform(0, 255))}});
  }
  Bytes out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int color[3] = {x * 255 / width, y * 255 / height, (x + y) * 255 / (width + height)};
      if ((x / 40) % 5 == 0 && y > height / 2) color[0] = color[1] = color[2] = 240;  // bars
      for (const Disc& d : discs) {
        const int dx = x - d.x, dy = y - d.y;
        if (dx * dx + dy * dy <= d.radius * d.radius) std::memcpy(color, d.color, sizeof color);
      }
      for (int k = 0; k < 3; ++k) {
        const std::int64_t v = color[k] + r.uniform(-2, 2);
        out.push_back(static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v));
      }
    }
  }
  out.resize(size);
  return out;
}

Bytes utf16(std::size_t size) {
  Bytes text;
  if (!mx::bench::read_concatenation(mx::bench::corpus_dir(), mx::bench::text_names(), text)) {
    text = mx::bench::synthetic_text(size);
  }
  Bytes out = {0xFF, 0xFE};
  for (std::size_t i = 0; out.size() < size; i = (i + 1) % text.size()) {
    out.push_back(text[i]);
    out.push_back(0);
  }
  out.resize(size);
  return out;
}

// One ustar member: header, data, padding to 512 bytes.
void tar_member(Bytes& out, const std::string& name, const Bytes& data) {
  char header[512] = {};
  std::snprintf(header, 100, "%s", name.c_str());
  std::snprintf(header + 100, 8, "%07o", 0644);
  std::snprintf(header + 108, 8, "%07o", 0);
  std::snprintf(header + 116, 8, "%07o", 0);
  std::snprintf(header + 124, 12, "%011llo", static_cast<unsigned long long>(data.size()));
  std::snprintf(header + 136, 12, "%011o", 1765000000u);
  header[156] = '0';
  std::memcpy(header + 257, "ustar", 6);
  std::memcpy(header + 263, "00", 2);
  std::memset(header + 148, ' ', 8);
  unsigned sum = 0;
  for (const char c : header) sum += static_cast<unsigned char>(c);
  std::snprintf(header + 148, 8, "%06o", sum);
  out.insert(out.end(), header, header + sizeof header);
  out.insert(out.end(), data.begin(), data.end());
  out.resize((out.size() + 511) / 512 * 512);
}

Bytes mixed(std::size_t size) {
  Bytes text;
  if (!mx::bench::read_file(mx::bench::corpus_dir() + "/" + mx::bench::text_names()[0], text)) {
    text = mx::bench::synthetic_text(size / 5);
  }
  Bytes out;
  tar_member(out, "walk32.i32", walk32(size / 4));
  tar_member(out, "notes.txt", text);
  tar_member(out, "audio.s16", audio(size / 4));
  tar_member(out, "pixels.rgb", pixels(size / 4));
  tar_member(out, "text.utf16", utf16(size / 4));
  out.resize(out.size() + 1024);  // the two zero blocks that end an archive
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint16_t one = 1;
  if (*reinterpret_cast<const std::uint8_t*>(&one) != 1) {
    std::fprintf(stderr, "moltavex_structured: needs a little-endian host\n");
    return 2;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: moltavex_structured DIR [BYTES]\n");
    return 2;
  }
  const std::string dir = argv[1];
  char* end = nullptr;
  const unsigned long long size = argc == 3 ? std::strtoull(argv[2], &end, 10) : 1 << 20;
  if ((argc == 3 && (*end != '\0' || size < 4096)) || size > (std::size_t{1} << 30)) {
    std::fprintf(stderr, "moltavex_structured: BYTES must be 4096 to 2^30\n");
    return 2;
  }
  struct File {
    const char* name;
    Bytes (*make)(std::size_t);
  };
  const File files[] = {{"walk16.i16", walk16},   {"walk32.i32", walk32},   {"walk64.i64", walk64},
                        {"series.f32", series32}, {"prices.f64", prices64}, {"audio.s16", audio},
                        {"pixels.rgb", pixels},   {"text.utf16", utf16},    {"mixed.tar", mixed}};
  for (const File& file : files) {
    const Bytes data = file.make(static_cast<std::size_t>(size));
    const std::string path = dir + "/" + file.name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f != nullptr && std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f == nullptr || std::fclose(f) != 0 || !ok) {
      std::fprintf(stderr, "moltavex_structured: cannot write %s\n", path.c_str());
      return 2;
    }
  }
  return 0;
}
