// Escape run-length transform: the exact transformed bytes at every run
// length that changes the output, block reads against byte-wise ones, the
// unpacker's reading unit by unit, and round trips that check the end flag
// is set on the last byte, never before.
#include <gtest/gtest.h>

#include "pipeline/run_length.h"
#include "support.h"

namespace mx {
namespace {

using test::Bytes;

Bytes pack(const Bytes& input, std::size_t chunk = SIZE_MAX) {
  MemorySource source = test::source_of(input, chunk);
  ByteReader reader;
  reader_open_function(reader, &MemorySource::read, &source);
  RunPacker packer;
  packer_create(packer, reader);
  Bytes out;
  for (int c = packer_get(packer); c >= 0; c = packer_get(packer))
    out.push_back(static_cast<std::uint8_t>(c));
  // Finished for good: no more reads.
  const std::size_t offset = source.offset;
  EXPECT_EQ(packer_get(packer), -1);
  EXPECT_EQ(source.offset, offset);
  return out;
}

// The same transform through packer_read, `max` bytes per call: only the
// last call may come back short, and once one has, reads stop.
Bytes pack_blocks(const Bytes& input, std::size_t chunk, std::size_t max) {
  MemorySource source = test::source_of(input, chunk);
  ByteReader reader;
  reader_open_function(reader, &MemorySource::read, &source);
  RunPacker packer;
  packer_create(packer, reader);
  Bytes out, block(max);
  for (;;) {
    const std::size_t n = packer_read(packer, block.data(), max);
    out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    if (n < max) break;
  }
  const std::size_t offset = source.offset;
  EXPECT_EQ(packer_read(packer, block.data(), max), 0u);
  EXPECT_EQ(source.offset, offset);
  return out;
}

struct Unpacked {
  Bytes data;
  std::size_t end_at = 0;  // transformed bytes taken when `end` was first set (0: never)
};

Unpacked unpack(const Bytes& transformed) {
  Unpacked result;
  VectorSink sink{&result.data};
  ByteWriter writer;
  writer_open_function(writer, &VectorSink::write, &sink);
  RunUnpacker unpacker;
  unpacker_create(unpacker, writer);
  for (std::size_t i = 0; i < transformed.size(); ++i) {
    unpacker_put(unpacker, transformed[i]);
    if (unpacker.end != 0 && result.end_at == 0) result.end_at = i + 1;
  }
  writer_drain(writer);
  return result;
}

Bytes f0(std::size_t n) { return Bytes(n, 0xF0); }
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(RunPacker, TransformsRunsAndAppendsTheEndMarker) {
  const Bytes end = {0xF0, 0xF0, 0x00};
  struct Case {
    Bytes input, transformed;
  };
  const Case cases[] = {
      {{}, end},
      {{0xF0}, cat({0xF0, 0xF0, 0x01}, end)},
      {{0xF0, 0x00}, cat({0xF0, 0x00}, end)},
      {{0xF0, 0xF0, 0x00}, cat({0xF0, 0xF0, 0x02, 0x00}, end)},
      {{0x41, 0x41, 0x41, 0x41, 0x41}, cat({0x41, 0x41, 0x41, 0x41, 0x41}, end)},
      {{0x41, 0xF0, 0x42, 0xF0, 0xF0, 0xF0, 0x43, 0x43},
       cat({0x41, 0xF0, 0x42, 0xF0, 0xF0, 0x03, 0x43, 0x43}, end)},
      {f0(254), cat({0xF0, 0xF0, 0xFE}, end)},
      {f0(255), cat({0xF0, 0xF0, 0xFF}, end)},
      {f0(256), cat({0xF0, 0xF0, 0xFF, 0xF0, 0xF0, 0x01}, end)},
      {f0(511), cat({0xF0, 0xF0, 0xFF, 0xF0, 0xF0, 0xFF, 0xF0, 0xF0, 0x01}, end)},
      {cat(f0(256), {0x41}), cat({0xF0, 0xF0, 0xFF, 0xF0, 0x41}, end)},
      {f0(240), cat({0xF0, 0xF0, 0xF0}, end)},
      {cat(f0(240), {0x00}), cat({0xF0, 0xF0, 0xF0, 0x00}, end)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pack(c.input), c.transformed) << "input of " << c.input.size() << " bytes";
    EXPECT_EQ(pack(c.input, 1), c.transformed) << "one byte per read";
  }
}

TEST(RunUnpacker, ReadsUnitByUnit) {
  Unpacked end_only = unpack({0xF0, 0xF0, 0x00});
  EXPECT_TRUE(end_only.data.empty());
  EXPECT_EQ(end_only.end_at, 3u);

  Unpacked run = unpack({0xF0, 0xF0, 0x03});
  EXPECT_EQ(run.data, f0(3));
  EXPECT_EQ(run.end_at, 0u);

  // Bytes 2..4 read F0 F0 00, but the count F0 belongs to an escape run.
  Unpacked tricky = unpack({0xF0, 0xF0, 0xF0, 0x00, 0xF0, 0xF0, 0x00});
  EXPECT_EQ(tricky.data, cat(f0(240), {0x00}));
  EXPECT_EQ(tricky.end_at, 7u);

  // An escape left open when the data stops produces nothing.
  EXPECT_EQ(unpack({0x41, 0xF0}).data, Bytes{0x41});
  EXPECT_EQ(unpack({0x41, 0xF0, 0xF0}).data, Bytes{0x41});
}

TEST(RunLength, RoundTripsEndOnTheLastByte) {
  std::vector<Bytes> inputs;
  for (std::size_t n : {1, 2, 3, 239, 240, 241, 254, 255, 256, 509, 510, 511, 765, 1000}) {
    inputs.push_back(f0(n));
    inputs.push_back(cat(f0(n), {0x00}));
    inputs.push_back(cat({0x00}, cat(f0(n), {0xF0 ^ 1})));
  }
  // Random data rich in F0 and 00, so escapes meet zeros and counts meet F0.
  for (std::uint64_t seed = 1; seed <= 30; ++seed) {
    Bytes data = test::random_bytes(3000, seed);
    for (auto& b : data) b = (b & 3) == 0 ? 0x00 : (b & 3) == 1 ? 0x41 : 0xF0;
    inputs.push_back(data);
  }
  inputs.push_back(test::random_bytes(70000, 7));
  for (const Bytes& input : inputs) {
    const Bytes transformed = pack(input);
    Unpacked back = unpack(transformed);
    ASSERT_EQ(back.data, input);
    ASSERT_EQ(back.end_at, transformed.size());
  }
}

// Block reads copy literals in one piece and fall back to the byte-wise
// path at escapes, runs, refills and the end: every mix of block size and
// read size must give the byte-wise transform exactly.
TEST(RunPacker, BlockReadsMatchByteByByte) {
  std::vector<Bytes> inputs = {{},
                               {0xF0},
                               {0x41},
                               cat(f0(300), {0x41, 0x42}),
                               cat({0x41, 0x42, 0xF0}, f0(2)),
                               cat(Bytes(5000, 0x41), f0(3))};
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    Bytes data = test::random_bytes(5000, seed);
    // Long literal stretches broken by lone escapes and runs.
    for (auto& b : data) b = b < 8 ? 0xF0 : b < 12 ? 0x00 : static_cast<std::uint8_t>(b | 1);
    inputs.push_back(data);
  }
  for (const Bytes& input : inputs) {
    const Bytes expected = pack(input);
    for (std::size_t chunk : {SIZE_MAX, std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
      for (std::size_t max : {1, 2, 3, 64, 4096}) {
        ASSERT_EQ(pack_blocks(input, chunk, max), expected)
            << input.size() << " bytes, reads of " << chunk << ", blocks of " << max;
      }
    }
  }
}

}  // namespace
}  // namespace mx
