// The classic commands, the format's original interface:
//
//   moltavex c ORDER IN [OUT]         compress with model 0
//   moltavex c<model> ORDER IN [OUT]  compress with model 0..5
//   moltavex d IN [OUT]               decompress
//   moltavex t IN                     test: decode to the end, discard, report
//   moltavex a IN [OUT]               compress with a model and order chosen
//                                     for the data
//
// ":" as a name selects standard input or output. A missing output name is
// derived: IN.mx when compressing, IN.dec when decompressing. Only the first
// character of the command counts; only the low five bits of the order do
// (37 means 5); a model number that is not 0..5 means model 1. Console
// lines end with CRLF (console.h), after the banner.
//
// More arguments than a command takes are a usage error. Compressed data
// is never written to or read from a terminal.
//
// Exit status: 0 after a successful job, 1 after a failed one (its message
// on standard error), 2 when the command line cannot be used (usage text)
// or MOLTAVEX_MEMLIMIT holds no byte count, 128 + n when signal n stopped
// the job.
#pragma once

#include <cstddef>

namespace mx::cli {

// Runs a classic command on `slots` (slot 0 the program name, `count`
// arguments, null past the last). With `strip_name_quotes` (a raw Windows
// command line) double quotes are removed from the file names after a
// missing output name has been derived. Returns the exit status.
int run_classic(std::size_t count, char** slots, bool strip_name_quotes);

}  // namespace mx::cli
