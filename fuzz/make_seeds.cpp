// Writes the starting corpus of every fuzz target into DIR/<target>/:
//
//   make_seeds DIR
//
// The seeds are made here rather than kept as files: compressed streams of
// short inputs for every model at small orders (so the decompression target
// starts from streams that decode to the end marker), the same inputs in the
// round-trip and transform layouts, and command lines with quotes, extra
// blanks and more arguments than the program's table holds.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pipeline/record.h"

namespace {

using mx::fuzz::Bytes;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Small inputs that reach the transform's cases: literals, lone escapes,
// runs below, at and past 255, a count of 240 (F0 itself), zeros after runs.
std::vector<Bytes> sample_inputs() {
  std::vector<Bytes> inputs;
  inputs.push_back({});
  inputs.push_back(text("hello"));
  inputs.push_back({0xF0});
  inputs.push_back({0xF0, 0x00});
  inputs.push_back(cat(Bytes(240, 0xF0), {0x00}));
  inputs.push_back(cat(cat(text("ab"), Bytes(300, 0xF0)), text("cd")));
  inputs.push_back(
      text("the quick brown fox jumps over the lazy dog. "
           "the quick brown fox jumps over the lazy dog.\n"));
  Bytes mixed;
  std::uint32_t x = 12345;
  for (int i = 0; i < 400; ++i) {
    x = x * 1103515245u + 12345u;
    const std::uint32_t r = x >> 16;
    mixed.push_back(r % 5 == 0 ? 0xF0 : r % 5 == 1 ? 0x00 : static_cast<std::uint8_t>(r));
  }
  inputs.push_back(mixed);
  return inputs;
}

bool write_file(const std::string& path, const Bytes& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR (DIR/<target>/ must exist)\n");
    return 2;
  }
  const std::string dir = argv[1];
  int written = 0;
  bool ok = true;
  auto put = [&](const std::string& target, const Bytes& data) {
    ok = write_file(dir + "/" + target + "/seed-" + std::to_string(written++), data) && ok;
  };

  const std::vector<Bytes> inputs = sample_inputs();
  for (int model = 0; model < 6; ++model) {
    for (int order : {0, 1, 5, 8, 12, 16}) {
      for (const Bytes& input : inputs) {
        if (order != 8 && input.size() > 100) continue;  // keep the corpus small
        const auto coded = mx::fuzz::compress_memory(input.data(), input.size(), model, order);
        if (coded.status != mx::Status::ok) return 1;
        put("fuzz_decompress", coded.output);
        if (order == 8) {
          // The same stream with its record, as the push target's data
          // (control byte: model, order 8, the record on or off).
          Bytes with = coded.output;
          mx::append_record(with, input.data(), input.size());
          put("fuzz_decompress", with);
          const auto control = static_cast<std::uint8_t>(model | 8 << 3 | (input.size() & 1) << 7);
          put("fuzz_push", cat({control, 1, 2, 3, 4}, cat(with, input)));
        }
        if (order == 8 || order == 16) {
          const Bytes control = {static_cast<std::uint8_t>(model), static_cast<std::uint8_t>(order),
                                 static_cast<std::uint8_t>(order == 8 ? 0x00 : 0x83), 0x81};
          put("fuzz_roundtrip", cat(control, input));
        }
      }
    }
  }
  // Headers alone, models 6 and 7, and a body behind the largest orders.
  put("fuzz_decompress", {0x21});
  put("fuzz_decompress", {0xC0, 0x12, 0x34, 0x56, 0x78});
  put("fuzz_decompress", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  {
    Bytes high = mx::fuzz::compress_memory(inputs[1].data(), inputs[1].size(), 5, 16).output;
    high[0] = 0xBF;
    put("fuzz_decompress", high);
  }

  for (const Bytes& input : inputs) {
    put("fuzz_transform", cat({0x00}, input));
    put("fuzz_transform", cat({0x06}, input));
  }
  put("fuzz_transform", {0x01, 0xF0, 0xFF, 0x41, 0x02, 0xF0, 0xEE, 0x00, 0x00});
  put("fuzz_transform", {0x00, 0xF0, 0xF0, 0xF0, 0x00, 0xF0, 0xF0, 0x00});

  for (const char* line : {"moltavex c 16 in out", "moltavex  c5 22 in", "prog d  in out ",
                           "\"C:\\my dir\\moltavex.exe\" d \"my file\" out",
                           "prog a\"b c\"d e \"open", "prog c 4294967333 : :", " x  y"}) {
    put("fuzz_tokenizer", text(line));
  }
  std::string many = "prog";
  for (int i = 0; i < 300; ++i) many += " a" + std::to_string(i);
  put("fuzz_tokenizer", text(many));
  put("fuzz_tokenizer", text("p" + std::string(280, ' ') + "x"));

  if (!ok) {
    std::fprintf(stderr, "make_seeds: cannot write under %s\n", dir.c_str());
    return 1;
  }
  std::printf("%d seeds written under %s\n", written, dir.c_str());
  return 0;
}
