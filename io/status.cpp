#include "io/status.h"

namespace moltavex {

const char* status_message(Status status) {
  switch (status) {
    case Status::ok: return "";
    case Status::open_input_failed: return "Could not open input file.";
    case Status::create_output_failed: return "Could not create output file.";
    case Status::read_failed: return "Could not read input file.";
    case Status::write_failed: return "Could not write output file.";
    case Status::out_of_memory: return "Out of memory.";
    case Status::invalid_stream: return "Not a valid compressed file.";
    case Status::truncated_stream: return "Unexpected end of compressed data.";
    case Status::invalid_argument: return "Invalid model or order.";
    case Status::interrupted: return "Interrupted.";
  }
  return "Unknown error.";
}

}  // namespace moltavex
