// The program's file jobs, for both interfaces: each is one call of the
// library's job on named files (an empty name: the standard stream), so
// that the program and the library share one implementation of opening,
// checking, replacing and committing files. The library opens the input
// first, checks the setting's or the header's memory before it touches the
// output, opens the output of the automatic choice only after the choice,
// and commits the output only once the job has succeeded.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "moltavex/moltavex.hpp"

namespace mx::cli {

// compress: the setting given; compress_level: the level's choice for the
// input (its length, its data, the memory limit); compress_auto: the
// automatic choice among all settings.
enum class JobKind { compress, compress_level, compress_auto, decompress, test };

// A name is a file's, even an empty one (which no file takes); the
// standard streams are named by `standard_input` and `standard_output`.
struct JobRequest {
  JobKind kind = JobKind::compress;
  std::string input;
  std::string output;  // (no output for test)
  bool standard_input = false;
  bool standard_output = false;
  moltavex::Setting setting;  // compress: the model and order
  int level = 0;              // compress_level
};

struct JobResult {
  moltavex::Setting chosen;   // compress, compress_level, compress_auto: the setting used
  moltavex::StreamInfo info;  // decompress, test: the stream
  // After a failure to open, create, read or write a file: the system's
  // reason (an errno value), 0 when there is none.
  int system_error = 0;
};

// Runs the job. `result.chosen` is set before observer->started.
moltavex::Status run_file_job(const JobRequest& request, JobResult& result,
                              const moltavex::Observer* observer, const moltavex::Options* options);

// The input's size when it is a regular file (or standard input that is
// one), else 0.
std::uint64_t input_size(const std::string& input, bool standard_input);

}  // namespace mx::cli
