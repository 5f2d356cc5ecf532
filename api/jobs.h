// What the C API's entry points share: a job run between two streams set
// up over the caller's functions, and the checks of a caller's structures
// (api/options.h).
#pragma once

#include <cstdint>

#include "api/options.h"
#include "io/streams.h"

namespace mx::api {

// Runs job(reader, writer) with the two streams over the caller's
// functions; `expected_bytes`: what `read` will hand over, when known.
template <class Job>
Status run_on_functions(mvx_read_function read, void* read_context, mvx_write_function write,
                        void* write_context, std::uint64_t expected_bytes, Job&& job) {
  ByteReader reader;
  ByteWriter writer;
  Status status = reader_open_function(reader, read, read_context);
  reader.expected_bytes = expected_bytes;
  if (status == Status::ok) status = writer_open_function(writer, write, write_context);
  if (status == Status::ok) status = job(reader, writer);
  return status;
}

// Whether the caller's info structure (if any) can be filled.
inline bool info_size_ok(const mvx_stream_info* info) {
  return info == nullptr || info->size >= first_info_size;
}

}  // namespace mx::api
