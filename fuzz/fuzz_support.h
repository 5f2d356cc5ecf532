// Shared pieces of the fuzz targets: streams over memory with awkward read
// sizes, a sink with a byte cap, whole jobs in memory, and the table size
// each model asks for at an order.
//
// Kept apart from the unit tests' helpers on purpose: a fuzz target must stay
// small, allocation-light and free of gtest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/streams.h"
#include "pipeline/drivers.h"

namespace mx::fuzz {

using Bytes = std::vector<std::uint8_t>;

// Aborts with a message: libFuzzer records the input that got here as a
// crash, like a sanitizer report.
#define MX_FUZZ_CHECK(condition)                                                     \
  do {                                                                               \
    if (!(condition)) {                                                              \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)

// A source over bytes that hands out at most `chunk` bytes per read, so
// that the reader's refills fall at places the data chooses.
struct MemorySource {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t offset = 0;
  std::size_t chunk = SIZE_MAX;
  std::size_t reads_after_end = 0;  // calls made once everything was handed out

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<MemorySource*>(context);
    std::size_t n = self->size - self->offset;
    if (n == 0) ++self->reads_after_end;
    if (n > size) n = size;
    if (n > self->chunk) n = self->chunk;
    if (n > 0) std::memcpy(buffer, self->data + self->offset, n);
    self->offset += n;
    return static_cast<std::int64_t>(n);
  }
};

// A sink that refuses any write that would take it past `limit` bytes. A job
// that writes into it then reports write_failed, which bounds the time a
// stream that expands a lot can take.
struct CappedSink {
  Bytes data;
  std::size_t limit = SIZE_MAX;
  bool refused = false;

  static bool write(void* context, const std::uint8_t* bytes, std::size_t size) {
    auto* self = static_cast<CappedSink*>(context);
    if (size > self->limit - self->data.size()) {
      self->refused = true;
      return false;
    }
    self->data.insert(self->data.end(), bytes, bytes + size);
    return true;
  }
};

struct JobResult {
  Status status = Status::ok;
  Bytes output;
  bool sink_refused = false;
};

inline JobResult compress_memory(const std::uint8_t* data, std::size_t size, int model, int order,
                                 std::size_t chunk = SIZE_MAX) {
  MemorySource source{data, size, 0, chunk};
  CappedSink sink;
  ByteReader reader;
  ByteWriter writer;
  reader_open_function(reader, &MemorySource::read, &source);
  writer_open_function(writer, &CappedSink::write, &sink);
  JobResult result;
  result.status = compress_streams(reader, writer, model, order);
  result.output = std::move(sink.data);
  return result;
}

// `writer_capacity` below the stream buffer's size makes the writer hand
// its bytes to the sink in smaller blocks, so that the cap stops the job
// sooner.
inline JobResult decompress_memory(const std::uint8_t* data, std::size_t size,
                                   std::size_t output_limit, std::size_t chunk = SIZE_MAX,
                                   std::int32_t writer_capacity = stream_buffer_size) {
  MemorySource source{data, size, 0, chunk};
  CappedSink sink;
  sink.limit = output_limit;
  ByteReader reader;
  ByteWriter writer;
  reader_open_function(reader, &MemorySource::read, &source);
  writer_open_function(writer, &CappedSink::write, &sink);
  writer.capacity = writer_capacity;
  JobResult result;
  result.status = decompress_file(reader, writer);
  result.output = std::move(sink.data);
  result.sink_refused = sink.refused;
  return result;
}

// Bytes of the table that model 0..5 allocates at `order` (the fixed
// second-stage table of model 5 aside).
inline std::uint64_t table_bytes(int model, int order) {
  static const std::uint64_t entry_size[6] = {8, 8, 4, 17, 8, 17};
  return entry_size[model] << order;
}

// The highest order whose table fits in `cap` bytes for `model`.
inline int highest_order_within(int model, std::uint64_t cap) {
  int order = 0;
  while (order < 31 && table_bytes(model, order + 1) <= cap) ++order;
  return order;
}

}  // namespace mx::fuzz
