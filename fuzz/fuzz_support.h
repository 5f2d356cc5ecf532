// Shared pieces of the fuzz targets: whole jobs in memory (over
// io/memory_streams.h, with awkward read sizes and a cap on the output)
// and the highest order whose tables fit a cap.
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

#include "io/memory_streams.h"
#include "io/streams.h"
#include "models/registry.h"
#include "pipeline/drivers.h"

namespace mx::fuzz {

using Bytes = std::vector<std::uint8_t>;

// Aborts with a message: libFuzzer records the input that got here as a
// crash, like a sanitizer report.
#define MX_FUZZ_CHECK(condition)                                                         \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

struct JobResult {
  Status status = Status::ok;
  Bytes output;
  bool sink_refused = false;
};

inline JobResult compress_memory(const std::uint8_t* data, std::size_t size, int model, int order,
                                 std::size_t chunk = SIZE_MAX) {
  MemorySource source{data, size, 0, chunk};
  JobResult result;
  VectorSink sink{&result.output};
  ByteReader reader;
  ByteWriter writer;
  reader_open_function(reader, &MemorySource::read, &source);
  writer_open_function(writer, &VectorSink::write, &sink);
  result.status = compress_streams(reader, writer, model, order);
  return result;
}

// `writer_capacity` below the stream buffer's size makes the writer hand
// its bytes to the sink in smaller blocks, so that the cap stops the job
// sooner.
// `whole_input`: the decoder knows the input to be whole and checks its
// end (see decompress_streams).
inline JobResult decompress_memory(const std::uint8_t* data, std::size_t size,
                                   std::size_t output_limit, std::size_t chunk = SIZE_MAX,
                                   std::int32_t writer_capacity = stream_buffer_size,
                                   bool whole_input = false) {
  MemorySource source{data, size, 0, chunk};
  JobResult result;
  VectorSink sink{&result.output};
  sink.limit = output_limit;
  ByteReader reader;
  ByteWriter writer;
  reader_open_function(reader, &MemorySource::read, &source);
  writer_open_function(writer, &VectorSink::write, &sink);
  writer.capacity = writer_capacity;
  result.status =
      decompress_streams(reader, writer, nullptr, no_memory_limit, nullptr, whole_input);
  result.sink_refused = sink.refused;
  return result;
}

// The highest order whose tables fit in `cap` bytes for `model` (0..5).
inline int highest_order_within(int model, std::uint64_t cap) {
  const ModelInfo& info = model_table[model].info;
  int order = 0;
  while (order < max_order && info.table_bytes(order + 1) <= cap) ++order;
  return order;
}

}  // namespace mx::fuzz
