// Memory sources and sinks for the library's read and write functions
// (mvx_read_function, mvx_write_function): a job's input from a block of
// memory, its output into a vector, into a caller's buffer or only
// counted.
//
// Shared by the library's memory-to-memory entry points, the tests, the
// fuzz targets and the benchmarks. It depends on nothing but the standard
// library, so that the benchmark can use it against older trees too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace mx {

// Hands out `size` bytes from `data`, at most `chunk` per read, so that
// tests can make buffer boundaries fall in awkward places.
struct MemorySource {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t offset = 0;
  std::size_t chunk = SIZE_MAX;
  bool fail_at_end = false;         // report a read error instead of the end
  std::size_t reads_after_end = 0;  // calls made once everything was handed out

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<MemorySource*>(context);
    std::size_t n = self->size - self->offset;
    if (n == 0) {
      ++self->reads_after_end;
      if (self->fail_at_end) return -1;
    }
    if (n > size) n = size;
    if (n > self->chunk) n = self->chunk;
    if (n > 0) std::memcpy(buffer, self->data + self->offset, n);
    self->offset += n;
    return static_cast<std::int64_t>(n);
  }
};

// Appends to a vector. It refuses a write that would take the vector past
// `limit` bytes (so that a job producing without end fails instead of
// filling memory), and tells such a refusal and a failed allocation apart
// from each other.
struct VectorSink {
  std::vector<std::uint8_t>* out = nullptr;
  std::size_t limit = SIZE_MAX;
  bool refused = false;        // a write would have passed the limit
  bool out_of_memory = false;  // the vector could not grow

  static bool write(void* context, const std::uint8_t* data, std::size_t size) {
    auto* self = static_cast<VectorSink*>(context);
    if (size > self->limit - self->out->size()) {
      self->refused = true;
      return false;
    }
    try {
      self->out->insert(self->out->end(), data, data + size);
      return true;
    } catch (const std::bad_alloc&) {
      self->out_of_memory = true;
      return false;
    }
  }
};

// Fills a caller's buffer of `capacity` bytes, and notes when it was too
// small (the bytes that fit are kept).
struct BufferSink {
  std::uint8_t* data = nullptr;
  std::size_t capacity = 0;
  std::size_t length = 0;
  bool too_small = false;

  static bool write(void* context, const std::uint8_t* bytes, std::size_t size) {
    auto* self = static_cast<BufferSink*>(context);
    const std::size_t room = self->capacity - self->length;
    const std::size_t n = size < room ? size : room;
    if (n != 0) std::memcpy(self->data + self->length, bytes, n);
    self->length += n;
    if (n < size) self->too_small = true;
    return n == size;
  }
};

// Counts what it is given and keeps nothing.
struct CountingSink {
  std::uint64_t bytes = 0;

  static bool write(void* context, const std::uint8_t*, std::size_t size) {
    static_cast<CountingSink*>(context)->bytes += size;
    return true;
  }
};

}  // namespace mx
