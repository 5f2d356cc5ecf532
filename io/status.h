// Outcome of opening streams and of a whole compression or decompression
// job. The library never prints: it returns one of these, and the caller
// decides what to say. The values are those of the public mvx_status, so
// that the C API hands them on as they are.
#pragma once

#include "moltavex/moltavex.h"

namespace mx {

enum class Status : int {
  ok = MVX_OK,
  open_input_failed = MVX_OPEN_INPUT_FAILED,
  create_output_failed = MVX_CREATE_OUTPUT_FAILED,
  read_failed = MVX_READ_FAILED,
  write_failed = MVX_WRITE_FAILED,
  out_of_memory = MVX_OUT_OF_MEMORY,
  invalid_stream = MVX_INVALID_STREAM,
  truncated_stream = MVX_TRUNCATED_STREAM,
  invalid_argument = MVX_INVALID_ARGUMENT,
  interrupted = MVX_INTERRUPTED,
  output_too_small = MVX_OUTPUT_TOO_SMALL,
  memory_limit = MVX_MEMORY_LIMIT,
  invalid_call = MVX_INVALID_CALL,
  corrupt = MVX_CORRUPT,
};

inline mvx_status c_status(Status status) { return static_cast<mvx_status>(status); }

}  // namespace mx
