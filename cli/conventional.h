// The conventional command line, as gzip, xz and zstd are used:
//
//   moltavex [OPTION]... [FILE]...
//
// options.h has the options, plan.h which files are taken and how their
// outputs are named, job.h what happens around each job, scheduler.h the
// -T scheduler. Messages are single lines on standard error, "moltavex:
// NAME: message" and LF, with no banner; --help, --version and -l print to
// standard output.
//
// Exit status: 0 when everything succeeded, 1 after any error (a bad
// command line, a missing input, an existing output without -f, a failed
// job), 2 when there were warnings only (skipped inputs), 128 + n when
// signal n stopped the run. When standard output's reader goes away
// (moltavex -dc big.mx | head), the program ends quietly, as by SIGPIPE.
#pragma once

#include <cstddef>

namespace mx::cli {

// Runs the program on `slots` (slot 0 the program name; `count` arguments,
// of which at most argument_slots are stored when the command line was
// split by the program itself). With `strip_name_quotes` (a raw Windows
// command line) double quotes are removed from every argument and empty
// arguments are dropped. Returns the exit status.
int run_conventional(std::size_t count, char** slots, bool strip_name_quotes);

}  // namespace mx::cli
