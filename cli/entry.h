// Program entry and command dispatch.
//
//   Moltavex c ORDER IN [OUT]         compress with model 0
//   Moltavex c<model> ORDER IN [OUT]  compress with model 0..5
//   Moltavex d IN [OUT]               decompress
//   Moltavex t IN                     test: decode to the end, discard, report
//   Moltavex a IN [OUT]               compress with a model and order chosen
//                                     for the data (moltavex::compress_file_auto)
//
// ":" as a name selects standard input or output. A missing output name is
// derived: IN.mx when compressing, IN.dec when decompressing. Only the first
// character of the command counts; only the low five bits of the order do
// (37 means 5); a model number that is not 0..5 means model 1.
//
// More arguments than a command takes are a usage error. Compressed data
// is never written to or read from a terminal. MOLTAVEX_MEMLIMIT (a byte
// count with an optional K, M or G) caps the table memory of a job; the
// machine's physical memory caps it otherwise.
//
// Exit status: 0 after a successful job, 1 after a failed one (its message
// on standard error), 2 when the command line cannot be used (usage text)
// or MOLTAVEX_MEMLIMIT holds no byte count, 128 + n when signal n stopped
// the job.
#pragma once

#include <cstddef>

namespace mx::cli {

inline constexpr std::size_t argument_slots = 260;
inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;

// Runs the program on the arguments in `slots` (slot 0 the program name;
// `count` arguments found, of which at most `argument_slots` are stored).
// When `strip_name_quotes` is set, double quotes are removed from the file
// names (after a missing output name has been derived), as a raw Windows
// command line needs. Prints the banner first and a final empty line last.
// Returns the exit status.
int program_main(std::size_t count, char** slots, bool strip_name_quotes);

}  // namespace mx::cli
