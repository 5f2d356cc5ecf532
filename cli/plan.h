// The plan of a conventional run: which inputs are taken and what their
// outputs are named (names.h), one Job per input, in order.
//
// - When decompressing, a name without the suffix is skipped with a warning
//   unless -c or -o names the output; when compressing, a name that already
//   has it is skipped unless -f is given.
// - Anything but a regular file, symbolic links included, is skipped with a
//   warning when compressing or decompressing, unless -f is given (which
//   follows links). Directories are walked with -r (links in them are not
//   followed without -f); files met there that the suffix rule leaves out
//   are passed over silently.
// - "-" (and no operand at all) is standard input, whose output is
//   standard output unless -o names one.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/messages.h"
#include "cli/options.h"
#include "moltavex/moltavex.hpp"

namespace mx::cli {

// What every job of a run shares.
struct RunContext {
  const Settings* settings = nullptr;
  moltavex::Setting setting;       // --model/--order's setting, or the level's row within the limit
  int level = 0;                   // the level (Choice::level)
  std::uint64_t memory_limit = 0;  // the limit of each job (MVX_NO_MEMORY_LIMIT: none)
  const volatile std::sig_atomic_t* stop = nullptr;
  bool progress = false;  // draw the progress line (-v, a terminal, one job at a time)
  std::atomic<bool> broken_pipe{false};  // standard output's reader has gone
};

struct Job {
  std::string input;         // the file; empty for standard input
  std::string output;        // the file; empty for standard output
  std::string name;          // the input as messages name it
  bool skipped = false;      // nothing to run (the report says why, or nothing)
  std::uint64_t memory = 0;  // table memory to reserve before it starts
  unsigned weight = 1;       // threads it runs on
  Report report;
  bool listed = false;  // -l: `info` describes the stream
  moltavex::StreamInfo info;
};

// Whether the run's jobs write outputs (compress, decompress).
bool writes_outputs(const Settings& settings);

// Turns the operands into jobs, in order (directories expanded with -r).
// Problems that concern one input are in its job's report; a problem of
// the whole command line (-o with several inputs) is returned as its
// message, with no jobs.
std::string plan_jobs(const RunContext& context, std::vector<Job>& jobs);

}  // namespace mx::cli
