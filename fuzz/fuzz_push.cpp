// The push contexts, driven with random piece sizes and random output room
// in both directions, against the one-shot jobs.
//
// The input's first byte chooses the model (0..5), a low order and whether
// the record is written; the next four seed the cuts; the rest is data.
// Each run checks:
//   - the push compressor, fed the data in random pieces with random room,
//     gives byte for byte the one-shot stream;
//   - the push decompressor, fed that stream with bytes after it in random
//     pieces with random room, restores the data, takes exactly the
//     stream's bytes (its record included) and reports the end;
//   - the data read as a stream (a header byte and a body of arbitrary
//     bytes), through the push decompressor in random pieces, ends in the
//     status the pull driver gives the same bytes, with the same data when
//     both succeed (the output is capped: a few bytes can stand for
//     megabytes, and a capped run is not compared).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "moltavex/moltavex.h"
#include "pipeline/header.h"

namespace {

using mx::fuzz::Bytes;

constexpr std::size_t output_cap = std::size_t{16} << 10;
// Tables of the raw stream's header are kept small (see fuzz_decompress.cpp
// on why huge tables do not suit this build).
constexpr std::uint64_t table_cap = std::uint64_t{1} << 20;

// xorshift64: the cuts, from the input's seed.
struct Cuts {
  std::uint64_t x;
  std::size_t next(std::size_t most) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    // Now and then a single byte, else anything up to `most`.
    return (x & 15) == 0 ? 1 : 1 + static_cast<std::size_t>((x >> 8) % most);
  }
};

Bytes compress_pushed(const Bytes& data, int model, int order, const mvx_options& options,
                      Cuts& cuts) {
  mvx_compressor* c = nullptr;
  MX_FUZZ_CHECK(mvx_compressor_create(&c, model, order, &options) == MVX_OK);
  Bytes out;
  std::uint8_t room[4096];
  std::size_t at = 0;
  while (at < data.size()) {
    const std::size_t piece = std::min(data.size() - at, cuts.next(3000));
    std::size_t consumed = 0, written = 0;
    MX_FUZZ_CHECK(mvx_compressor_compress(c, data.data() + at, piece, &consumed, room,
                                          cuts.next(sizeof room), &written) == MVX_OK);
    MX_FUZZ_CHECK(consumed <= piece);
    out.insert(out.end(), room, room + written);
    at += consumed;
  }
  for (bool done = false; !done;) {
    std::size_t written = 0;
    MX_FUZZ_CHECK(mvx_compressor_finish(c, room, cuts.next(sizeof room), &written, &done) ==
                  MVX_OK);
    out.insert(out.end(), room, room + written);
  }
  mvx_compressor_free(c);
  return out;
}

struct Pushed {
  mvx_status status = MVX_OK;
  Bytes data;
  std::size_t consumed = 0;
  bool ended = false;
  bool capped = false;
};

// Feeds `stream` in random pieces until the context ends, fails or the
// input is used up, then finishes it; stops early past output_cap.
Pushed decompress_pushed(const Bytes& stream, Cuts& cuts) {
  Pushed r;
  mvx_options options = MVX_OPTIONS_INIT;
  options.memory_limit = table_cap;
  mvx_decompressor* d = nullptr;
  MX_FUZZ_CHECK(mvx_decompressor_create(&d, &options) == MVX_OK);
  std::uint8_t room[4096];
  int idle = 0;
  while (!r.ended && r.status == MVX_OK && r.data.size() <= output_cap) {
    const std::size_t piece = std::min(stream.size() - r.consumed, cuts.next(2000));
    const bool rest = piece == stream.size() - r.consumed;
    std::size_t consumed = 0, written = 0;
    r.status = mvx_decompressor_decompress(d, stream.data() + r.consumed, piece, &consumed, room,
                                           cuts.next(sizeof room), &written, &r.ended);
    r.data.insert(r.data.end(), room, room + written);
    r.consumed += consumed;
    // No input left (but for up to 3 bytes that may begin a record, which
    // wait for more) and nothing more coming out: time to finish.
    if (rest && stream.size() - r.consumed < 4 && written == 0 && ++idle > 2) break;
    if (written != 0) idle = 0;
  }
  while (!r.ended && r.status == MVX_OK && r.data.size() <= output_cap) {
    std::size_t written = 0;
    bool done = false;
    r.status = mvx_decompressor_finish(d, room, cuts.next(sizeof room), &written, &done);
    r.data.insert(r.data.end(), room, room + written);
    if (done) break;
  }
  r.capped = r.data.size() > output_cap;
  mvx_decompressor_free(d);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 5) return 0;
  const int model = input[0] % 6;
  const int order = (input[0] >> 3) % 13;
  mvx_options options = MVX_OPTIONS_INIT;
  options.checksum = (input[0] & 0x80) != 0 ? 1 : 0;
  Cuts cuts{1 + (std::uint64_t{input[1]} | std::uint64_t{input[2]} << 8 |
                 std::uint64_t{input[3]} << 16 | std::uint64_t{input[4]} << 24)};
  const Bytes data(input + 5, input + size);

  // Compression, both ways.
  Bytes expected(mvx_compress_bound(data.size()));
  std::size_t written = 0;
  MX_FUZZ_CHECK(mvx_compress_with(data.data(), data.size(), model, order, expected.data(),
                                  expected.size(), &written, &options) == MVX_OK);
  expected.resize(written);
  MX_FUZZ_CHECK(compress_pushed(data, model, order, options, cuts) == expected);

  // Decompression of that stream, with bytes after it that are not its own
  // (the first begins no record).
  Bytes trailed = expected;
  trailed.push_back(0x00);
  trailed.insert(trailed.end(), input, input + std::min<std::size_t>(size, 9));
  const Pushed back = decompress_pushed(trailed, cuts);
  MX_FUZZ_CHECK(back.status == MVX_OK);
  MX_FUZZ_CHECK(back.data == data);
  MX_FUZZ_CHECK(back.ended);
  MX_FUZZ_CHECK(back.consumed == expected.size());

  // The data as a stream of its own, pushed and pulled.
  Bytes raw = data;
  if (raw.empty()) return 0;
  const int raw_model = raw[0] >> 5;
  if (raw_model < mx::model_count &&
      mx::model_table[raw_model].info.table_bytes(raw[0] & 0x1F) > table_cap) {
    raw[0] = mx::header_byte(raw_model, mx::fuzz::highest_order_within(raw_model, table_cap));
  }
  const Pushed pushed = decompress_pushed(raw, cuts);
  const auto pulled = mx::fuzz::decompress_memory(raw.data(), raw.size(), output_cap);
  if (pushed.capped || pulled.sink_refused) return 0;
  MX_FUZZ_CHECK(static_cast<int>(pushed.status) == static_cast<int>(pulled.status));
  if (pulled.status == mx::Status::ok) MX_FUZZ_CHECK(pushed.data == pulled.output);
  return 0;
}
