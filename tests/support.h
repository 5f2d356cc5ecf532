// In-memory helpers for the tests: streams over byte vectors, whole jobs
// from memory to memory, and access to the benchmark corpus.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/files.h"
#include "io/memory_streams.h"
#include "io/streams.h"
#include "known_data.h"  // from_hex, the known streams, random_bytes
#include "pipeline/drivers.h"

namespace mx::test {

using Bytes = std::vector<std::uint8_t>;

// A source over a vector, handing out at most `chunk` bytes per read so that
// buffer boundaries fall in awkward places too.
inline MemorySource source_of(const Bytes& data, std::size_t chunk = SIZE_MAX) {
  return MemorySource{data.data(), data.size(), 0, chunk};
}

struct JobResult {
  Status status = Status::ok;
  Bytes output;
};

// Runs `job(reader, writer)` with the reader over `input` and the writer
// into memory. Optionally the input comes in reads of at most `chunk`
// bytes, the writer's buffer holds `writer_capacity` bytes (any, down to
// 1), and the sink refuses output beyond `output_limit` bytes, so that a
// runaway decoder fails instead of filling memory.
template <class Job>
JobResult run_in_memory(const Bytes& input, Job job, std::size_t chunk = SIZE_MAX,
                        std::int32_t writer_capacity = stream_buffer_size,
                        std::size_t output_limit = SIZE_MAX) {
  MemorySource source = source_of(input, chunk);
  JobResult result;
  VectorSink sink{&result.output};
  sink.limit = output_limit;
  ByteReader reader;
  ByteWriter writer;
  reader_open_function(reader, &MemorySource::read, &source);
  writer_open_function(writer, &VectorSink::write, &sink);
  writer.capacity = writer_capacity;
  result.status = job(reader, writer);
  return result;
}

inline JobResult compress_bytes(const Bytes& input, int model, int order) {
  return run_in_memory(input, [&](ByteReader& reader, ByteWriter& writer) {
    return compress_streams(reader, writer, model, order);
  });
}

inline JobResult decompress_bytes(const Bytes& input) {
  return run_in_memory(input, [](ByteReader& reader, ByteWriter& writer) {
    return decompress_streams(reader, writer);
  });
}

inline Bytes from_text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A job's named files with the streams over them, set up as the library's
// file jobs set them up (api/files.h): the input first.
using StreamPair = api::FileJob;

inline Status open_streams(const char* input_name, const char* output_name, StreamPair& pair) {
  const Status status = pair.begin(input_name, nullptr, nullptr, api::LimitDefault::none);
  if (status != Status::ok) return status;
  return pair.open_output(output_name);
}

#ifndef MOLTAVEX_CORPUS_DIR
#define MOLTAVEX_CORPUS_DIR "../shared/corpus"
#endif

inline const std::vector<std::string>& corpus_names() {
  static const std::vector<std::string> names = {
      "alice29.txt", "asyoulik.txt", "fireworks.jpeg", "geo.protodata", "html",
      "kppkn.gtb",   "lcet10.txt",   "paper-100k.pdf", "plrabn12.txt",  "urls.10K"};
  return names;
}

// The corpus file's bytes; false when the corpus is not there.
inline bool read_corpus(const std::string& name, Bytes& out) {
  std::ifstream in(std::string(MOLTAVEX_CORPUS_DIR) + "/" + name, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace mx::test
