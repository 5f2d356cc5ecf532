// Round trip of arbitrary data through every model.
//
// Input layout: byte 0 picks the model (mod 6), byte 1 the order (mod 21,
// so no table passes 17 MiB and each run stays fast), byte 2 the read size
// (bit 7 set: reads of 1..64 bytes, so refills fall inside runs and escape
// units), byte 3 where a copy of the stream is cut (bit 7 set: 1..128 bytes
// from the end, else after 1..128 bytes); the data is the rest.
// Checks:
//   - compression succeeds and the first byte is the header model*32+order;
//   - decompression gives the data back, exactly;
//   - bytes appended to the stream are never read into the result (unless
//     they begin with the integrity record's first byte: then they are a
//     damaged record, and the stream fails);
//   - the stream cut short either fails with truncated_stream, having
//     written a prefix of the data, or (when only unread finishing bytes
//     went) gives the data exactly; never anything else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "fuzz_support.h"
#include "models/registry.h"
#include "pipeline/record.h"

namespace {

using mx::Status;
using mx::fuzz::Bytes;

constexpr int highest_order = 20;

bool is_prefix(const Bytes& part, const std::uint8_t* data, std::size_t size) {
  return part.size() <= size && std::equal(part.begin(), part.end(), data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t input_size) {
  std::uint8_t control[4] = {1, 16, 0, 0};
  const std::size_t taken = std::min<std::size_t>(input_size, 4);
  std::copy(input, input + taken, control);
  const std::uint8_t* data = input + taken;
  const std::size_t size = input_size - taken;

  const int model = control[0] % mx::model_count;
  const int order = control[1] % (highest_order + 1);
  const std::size_t chunk = (control[2] & 0x80) != 0 ? 1 + (control[2] & 0x3F) : SIZE_MAX;

  const auto coded = mx::fuzz::compress_memory(data, size, model, order, chunk);
  MX_FUZZ_CHECK(coded.status == Status::ok);
  const Bytes& stream = coded.output;
  MX_FUZZ_CHECK(!stream.empty());
  MX_FUZZ_CHECK(stream[0] == model * 32 + order);

  const auto back = mx::fuzz::decompress_memory(stream.data(), stream.size(), SIZE_MAX, chunk);
  MX_FUZZ_CHECK(back.status == Status::ok);
  MX_FUZZ_CHECK(back.output.size() == size);
  MX_FUZZ_CHECK(is_prefix(back.output, data, size));

  Bytes longer = stream;
  longer.insert(longer.end(), data, data + std::min<std::size_t>(size, 16));
  longer.insert(longer.end(), {0xF0, 0xF0, 0x00});
  const auto extended = mx::fuzz::decompress_memory(longer.data(), longer.size(), SIZE_MAX);
  if (longer.size() >= stream.size() + sizeof mx::record_magic &&
      std::equal(std::begin(mx::record_magic), std::end(mx::record_magic),
                 longer.begin() + static_cast<std::ptrdiff_t>(stream.size()))) {
    // The bytes after the body begin with the record's magic: a record,
    // which these bytes are not. Anything else after the body (a part of
    // the magic among it) is not the stream's.
    MX_FUZZ_CHECK(extended.status == Status::corrupt ||
                  extended.status == Status::truncated_stream);
  } else {
    MX_FUZZ_CHECK(extended.status == Status::ok);
    MX_FUZZ_CHECK(extended.output == back.output);
  }

  // Bit 7 of byte 3 counts the cut from the end, where the finishing bytes
  // are; otherwise from the front.
  const std::size_t offset = control[3] & 0x7F;
  std::size_t keep;
  if ((control[3] & 0x80) != 0) {
    keep = stream.size() > offset + 1 ? stream.size() - 1 - offset : 1;
  } else {
    keep = std::min(1 + offset, stream.size());
  }
  if (keep < stream.size()) {
    const auto cut = mx::fuzz::decompress_memory(stream.data(), keep, SIZE_MAX);
    if (cut.status == Status::ok) {
      MX_FUZZ_CHECK(cut.output == back.output);
    } else {
      MX_FUZZ_CHECK(cut.status == Status::truncated_stream);
      MX_FUZZ_CHECK(is_prefix(cut.output, data, size));
    }
  }
  return 0;
}
