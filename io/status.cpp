#include "io/status.h"

extern "C" MVX_API const char* mvx_status_message(mvx_status status) {
  switch (status) {
    case MVX_OK: return "";
    case MVX_OPEN_INPUT_FAILED: return "Could not open input file.";
    case MVX_CREATE_OUTPUT_FAILED: return "Could not create output file.";
    case MVX_READ_FAILED: return "Could not read input file.";
    case MVX_WRITE_FAILED: return "Could not write output file.";
    case MVX_OUT_OF_MEMORY: return "Out of memory.";
    case MVX_INVALID_STREAM: return "Not a valid compressed file.";
    case MVX_TRUNCATED_STREAM: return "Unexpected end of compressed data.";
    case MVX_INVALID_ARGUMENT: return "Invalid model or order.";
    case MVX_INTERRUPTED: return "Interrupted.";
    case MVX_OUTPUT_TOO_SMALL: return "Output buffer too small.";
    case MVX_CORRUPT: return "Compressed data is corrupt.";
  }
  return "Unknown error.";
}
