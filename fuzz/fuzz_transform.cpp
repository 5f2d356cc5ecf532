// The escape run-length transform on its own, over memory streams.
//
// Input layout: byte 0, bit 0 selects how the data is made from the rest:
//   0: the bytes as they are;
//   1: pairs (value, n) expand to runs of value, 1 + n long, and for 0xF0
//      up to 1024 long (bits 0..1 of n add multiples of 256), so that runs
//      cross the 255 limit of one escape run several times;
// bits 1..7 of byte 0, when not zero, are the packer's read size.
//
// Checks, on the data:
//   - the packer's output parses, unit by unit with the reference reader
//     below, back to the data, and its one end marker is its last unit;
//   - once it has handed out -1 the packer keeps doing so and reads nothing;
//   - block reads (packer_read) give the same bytes as byte-wise ones;
//   - the unpacker restores the data and sets `end` on the last transformed
//     byte, never earlier.
// And on the rest of the input taken as a transformed stream (valid or
// not): the unpacker writes what the reference reader reads, and sets `end`
// exactly where the reference finds the end marker.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pipeline/run_length.h"

namespace {

using mx::fuzz::Bytes;

// Reads transformed bytes unit by unit: literal x, lone escape F0 x, escape
// run F0 F0 n, end marker F0 F0 00. A unit cut off by the end of the bytes
// produces nothing. `end_at` is the number of bytes up to and including the
// end marker, 0 when there is none.
struct ReferenceRead {
  Bytes data;
  std::size_t end_at = 0;
  std::size_t units = 0;
};

ReferenceRead reference_read(const Bytes& t) {
  ReferenceRead r;
  std::size_t i = 0;
  while (i < t.size()) {
    ++r.units;
    if (t[i] != 0xF0) {
      r.data.push_back(t[i]);
      i += 1;
    } else if (i + 1 >= t.size()) {
      break;
    } else if (t[i + 1] != 0xF0) {
      r.data.push_back(0xF0);
      r.data.push_back(t[i + 1]);
      i += 2;
    } else if (i + 2 >= t.size()) {
      break;
    } else if (t[i + 2] == 0x00) {
      r.end_at = i + 3;
      break;
    } else {
      r.data.insert(r.data.end(), t[i + 2], 0xF0);
      i += 3;
    }
  }
  return r;
}

struct Unpacked {
  Bytes data;
  std::size_t end_at = 0;  // bytes taken when `end` was first seen set
};

// Feeds bytes to an unpacker until it reports the end marker.
Unpacked unpack(const Bytes& t) {
  Unpacked u;
  mx::VectorSink sink{&u.data};
  mx::ByteWriter writer;
  mx::writer_open_function(writer, &mx::VectorSink::write, &sink);
  mx::RunUnpacker unpacker;
  mx::unpacker_create(unpacker, writer);
  for (std::size_t i = 0; i < t.size(); ++i) {
    MX_FUZZ_CHECK(unpacker.end == 0);
    mx::unpacker_put(unpacker, t[i]);
    if (unpacker.end != 0) {
      u.end_at = i + 1;
      break;
    }
  }
  mx::writer_drain(writer);
  MX_FUZZ_CHECK(!writer.failed);
  return u;
}

Bytes make_data(const std::uint8_t* rest, std::size_t size, bool runs) {
  if (!runs) return Bytes(rest, rest + size);
  Bytes data;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const std::uint8_t value = rest[i];
    std::size_t n = 1 + rest[i + 1];
    if (value == 0xF0) n += std::size_t{rest[i + 1] & 3u} * 256;
    data.insert(data.end(), n, value);
  }
  return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  const std::uint8_t control = size > 0 ? input[0] : 0;
  const std::uint8_t* rest = size > 0 ? input + 1 : input;
  const std::size_t rest_size = size > 0 ? size - 1 : 0;
  const Bytes data = make_data(rest, rest_size, (control & 1) != 0);
  const std::size_t chunk = (control >> 1) != 0 ? static_cast<std::size_t>(control >> 1) : SIZE_MAX;

  // Pack.
  mx::MemorySource source{data.data(), data.size(), 0, chunk};
  mx::ByteReader reader;
  mx::reader_open_function(reader, &mx::MemorySource::read, &source);
  mx::RunPacker packer;
  mx::packer_create(packer, reader);
  Bytes transformed;
  for (int c = mx::packer_get(packer); c >= 0; c = mx::packer_get(packer)) {
    MX_FUZZ_CHECK(c <= 0xFF);
    transformed.push_back(static_cast<std::uint8_t>(c));
    // The worst expansion inside the data is a run of two F0, three bytes;
    // a lone F0 at the very end takes three too, then the end marker.
    MX_FUZZ_CHECK(transformed.size() <= data.size() + data.size() / 2 + 5);
  }
  const std::size_t reads = source.reads_after_end;
  const std::size_t offset = source.offset;
  MX_FUZZ_CHECK(mx::packer_get(packer) == -1);
  MX_FUZZ_CHECK(mx::packer_get(packer) == -1);
  MX_FUZZ_CHECK(source.reads_after_end == reads && source.offset == offset);
  MX_FUZZ_CHECK(offset == data.size());

  // The same transform in blocks, as the compressor reads it.
  {
    const std::size_t max = 1 + rest_size % 61;
    mx::MemorySource again{data.data(), data.size(), 0, chunk};
    mx::ByteReader block_reader;
    mx::reader_open_function(block_reader, &mx::MemorySource::read, &again);
    mx::RunPacker block_packer;
    mx::packer_create(block_packer, block_reader);
    Bytes blocks, block(max);
    for (;;) {
      const std::size_t n = mx::packer_read(block_packer, block.data(), max);
      blocks.insert(blocks.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
      if (n < max) break;
    }
    MX_FUZZ_CHECK(blocks == transformed);
    MX_FUZZ_CHECK(mx::packer_read(block_packer, block.data(), max) == 0);
  }

  const ReferenceRead parsed = reference_read(transformed);
  MX_FUZZ_CHECK(parsed.data == data);
  MX_FUZZ_CHECK(parsed.end_at == transformed.size());

  const Unpacked unpacked = unpack(transformed);
  MX_FUZZ_CHECK(unpacked.data == data);
  MX_FUZZ_CHECK(unpacked.end_at == transformed.size());

  // Arbitrary transformed bytes.
  const Bytes raw(rest, rest + rest_size);
  const ReferenceRead expected = reference_read(raw);
  const Unpacked actual = unpack(raw);
  MX_FUZZ_CHECK(actual.end_at == expected.end_at);
  MX_FUZZ_CHECK(actual.data == expected.data);
  return 0;
}
