// In-memory helpers for the tests: streams over byte vectors, whole jobs
// from memory to memory, and access to the benchmark corpus.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "io/streams.h"
#include "known_data.h"  // from_hex, the known streams, random_bytes
#include "pipeline/drivers.h"

namespace mx::test {

using Bytes = std::vector<std::uint8_t>;

// A source over a vector, handing out at most `chunk` bytes per read so that
// buffer boundaries fall in awkward places too.
struct MemorySource {
  const Bytes* data = nullptr;
  std::size_t offset = 0;
  std::size_t chunk = SIZE_MAX;
  bool fail_at_end = false;  // report a read error instead of the end

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<MemorySource*>(context);
    std::size_t n = self->data->size() - self->offset;
    if (n == 0 && self->fail_at_end) return -1;
    if (n > size) n = size;
    if (n > self->chunk) n = self->chunk;
    if (n > 0) std::memcpy(buffer, self->data->data() + self->offset, n);
    self->offset += n;
    return static_cast<std::int64_t>(n);
  }
};

struct MemorySink {
  Bytes data;
  std::size_t limit = SIZE_MAX;  // fail writes beyond this many bytes

  static bool write(void* context, const std::uint8_t* bytes, std::size_t size) {
    auto* self = static_cast<MemorySink*>(context);
    if (self->data.size() + size > self->limit) return false;
    self->data.insert(self->data.end(), bytes, bytes + size);
    return true;
  }
};

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
  MemorySource source{&input, 0, chunk};
  MemorySink sink;
  sink.limit = output_limit;
  ByteReader reader;
  ByteWriter writer;
  reader_open_function(reader, &MemorySource::read, &source);
  writer_open_function(writer, &MemorySink::write, &sink);
  writer.capacity = writer_capacity;
  JobResult result;
  result.status = job(reader, writer);
  result.output = std::move(sink.data);
  return result;
}

inline JobResult compress_bytes(const Bytes& input, int model, int order) {
  return run_in_memory(input, [&](ByteReader& reader, ByteWriter& writer) {
    return compress_streams(reader, writer, model, order);
  });
}

inline JobResult decompress_bytes(const Bytes& input) {
  return run_in_memory(input, [](ByteReader& reader, ByteWriter& writer) {
    return decompress_file(reader, writer);
  });
}

inline Bytes from_text(const std::string& text) { return Bytes(text.begin(), text.end()); }

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
