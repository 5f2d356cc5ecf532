// The C API's jobs as the tests drive them: one shot into a bound-sized
// buffer, and the push contexts fed in pieces of random sizes with output
// room of random sizes, so that a result that depends on the cuts shows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "moltavex/moltavex.h"
#include "support.h"

namespace mx::test {

inline Bytes one_shot(const Bytes& data, int model, int order,
                      const mvx_options* options = nullptr) {
  Bytes out(mvx_compress_bound(data.size()));
  std::size_t written = 0;
  EXPECT_EQ(mvx_compress_with(data.data(), data.size(), model, order, out.data(), out.size(),
                              &written, options),
            MVX_OK);
  out.resize(written);
  return out;
}

// Runs a push compressor over `data` in pieces of random sizes (1 byte
// among them), with output buffers of random sizes too.
inline Bytes compress_in_pieces(const Bytes& data, int model, int order, std::mt19937& random,
                                const mvx_options* options = nullptr) {
  mvx_compressor* c = nullptr;
  const mvx_status created = mvx_compressor_create(&c, model, order, options);
  EXPECT_EQ(created, MVX_OK);
  if (created != MVX_OK) return {};
  Bytes out;
  std::uint8_t room[1000];
  auto room_size = [&] {
    return std::uniform_int_distribution<std::size_t>(1, sizeof room)(random);
  };
  std::size_t at = 0;
  while (at < data.size()) {
    const std::size_t piece = std::min(data.size() - at, random() % 3 == 0 ? 1 : random() % 5000);
    std::size_t taken = 0;
    do {
      std::size_t consumed = 0, written = 0;
      EXPECT_EQ(mvx_compressor_compress(c, data.data() + at + taken, piece - taken, &consumed, room,
                                        room_size(), &written),
                MVX_OK);
      out.insert(out.end(), room, room + written);
      taken += consumed;
    } while (taken < piece);
    at += piece;
  }
  for (bool done = false; !done;) {
    std::size_t written = 0;
    const mvx_status finished = mvx_compressor_finish(c, room, room_size(), &written, &done);
    EXPECT_EQ(finished, MVX_OK);
    if (finished != MVX_OK) break;
    out.insert(out.end(), room, room + written);
  }
  mvx_compressor_free(c);
  return out;
}

struct Pushed {
  mvx_status status = MVX_OK;
  Bytes data;
  std::size_t consumed = 0;  // of the input, up to the end of the stream
  bool ended = false;
};

// Runs a push decompressor over `stream` in random pieces, until it ends
// or the input is used up, then finishes unless it ended.
inline Pushed decompress_in_pieces(const Bytes& stream, std::mt19937& random) {
  Pushed r;
  mvx_decompressor* d = nullptr;
  EXPECT_EQ(mvx_decompressor_create(&d, nullptr), MVX_OK);
  std::uint8_t room[700];
  auto room_size = [&] {
    return std::uniform_int_distribution<std::size_t>(1, sizeof room)(random);
  };
  // A piece that ends within a beginning of the record's magic after the
  // body leaves those bytes (up to 3) untaken: the next piece must hold
  // more, or the finish decides that they are not the stream's.
  static const std::uint8_t magic[4] = {0xC5, 0x4D, 0x56, 0x58};
  std::size_t untaken = 0;
  while (r.consumed < stream.size() && !r.ended && r.status == MVX_OK) {
    const std::size_t left = stream.size() - r.consumed;
    const std::size_t piece = std::min(
        left,
        std::max(untaken + 1, random() % 4 == 0 ? std::size_t{1} : std::size_t{random() % 3000}));
    std::size_t consumed = 0, written = 0;
    r.status = mvx_decompressor_decompress(d, stream.data() + r.consumed, piece, &consumed, room,
                                           room_size(), &written, &r.ended);
    r.data.insert(r.data.end(), room, room + written);
    r.consumed += consumed;
    untaken = 0;
    if (r.status == MVX_OK && consumed < piece && !r.ended && written == 0) {
      const std::size_t rest = piece - consumed;
      if (rest >= sizeof magic || std::memcmp(stream.data() + r.consumed, magic, rest) != 0) {
        ADD_FAILURE() << "no progress";
        break;
      }
      if (piece == left) break;
      untaken = rest;
    }
  }
  if (!r.ended && r.status == MVX_OK) {
    for (bool done = false; !done && r.status == MVX_OK;) {
      std::size_t written = 0;
      r.status = mvx_decompressor_finish(d, room, room_size(), &written, &done);
      r.data.insert(r.data.end(), room, room + written);
    }
  }
  mvx_decompressor_free(d);
  return r;
}

}  // namespace mx::test
