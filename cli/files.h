// The file policy of the conventional command line: which inputs are
// taken, what their outputs are named, and what happens around each job.
//
// - Compressing FILE gives FILE.mx (the -S suffix); decompressing FILE.mx
//   gives FILE. When decompressing, a name without the suffix is skipped
//   with a warning unless -c or -o names the output; when compressing, a
//   name that already has it is skipped unless -f is given.
// - An existing output is refused (an error) unless -f is given; the
//   library then replaces it atomically, so a failed job leaves it as it
//   was, and the new file takes the input's permissions and times.
// - Anything but a regular file, symbolic links included, is skipped with a
//   warning when compressing or decompressing, unless -f is given (which
//   follows links). Directories are walked with -r (links in them are not
//   followed without -f); files met there that the suffix rule leaves out
//   are passed over silently.
// - With --rm the input is removed only after the output file and its
//   directory were synced to disk, so that a crash never loses both.
// - "-" (and no operand at all) is standard input, whose output is
//   standard output unless -o names one. Compressed data is not written to
//   or read from a terminal unless -f is given.
//
// Every input becomes a Job; run_job() may run on any thread, and leaves
// its messages in the job's Report, which the runner prints in file order.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "moltavex/moltavex.hpp"

namespace mx::cli {

// The messages of one input and the worst of them. Lines are
// "moltavex: NAME: message" with LF; -q drops warnings, -qq errors too.
class Report {
 public:
  enum Outcome { ok = 0, error = 1, warning = 2 };

  void warn(int quiet, const std::string& name, const std::string& message);
  void fail(int quiet, const std::string& name, const std::string& message);
  void note(const std::string& name, const std::string& message);  // -v lines

  const std::string& text() const { return text_; }
  bool failed() const { return failed_; }
  bool warned() const { return warned_; }

 private:
  std::string text_;
  bool failed_ = false;
  bool warned_ = false;
};

// What every job shares.
struct RunContext {
  const Settings* settings = nullptr;
  moltavex::Setting setting;       // the level's or --model/--order's setting
  std::uint64_t memory_limit = 0;  // the limit of each job (0: none)
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

// Turns the operands into jobs, in order (directories expanded with -r).
// Problems that concern one input are in its job's report; a problem of
// the whole command line (-o with several inputs) is returned as its
// message, with no jobs.
std::string plan_jobs(const RunContext& context, std::vector<Job>& jobs);

// Runs one job: the checks that need the file system as it is when the job
// starts, the library's job, the messages and --rm.
void run_job(Job& job, RunContext& context);

}  // namespace mx::cli
