// Outcome of opening streams and of a whole compression or decompression
// job. The library never prints: it returns one of these, and the program
// prints the matching fixed line with status_message().
#pragma once

namespace mx {

enum class Status : int {
  ok = 0,
  open_input_failed,     // the input name cannot be opened
  create_output_failed,  // the output cannot be created, or is the input itself
  read_failed,           // the input reported a read error
  write_failed,          // a write, flush or close of the output failed
  out_of_memory,         // a model table, record or buffer cannot be allocated
  invalid_stream,        // no header byte, or a header naming no model
  truncated_stream,      // the coded data ends before the end marker
  invalid_argument,      // model outside 0..5 or order outside 0..31 (library callers only)
};

// The single line that reports a status (without line end); "" for ok.
const char* status_message(Status status);

}  // namespace mx
