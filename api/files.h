// One named-file job of the C API (files.cpp, auto.cpp): its settings, its
// input and output (platform/files.h; a null name is the standard stream)
// and the streams over them. The input opens first; the output opens only
// once the job has checked what it can (the setting, the memory, the
// stream's header); finish() commits the output of a job that succeeded,
// and an output never committed is left as it was.
#pragma once

#include <cerrno>

#include "api/jobs.h"
#include "api/options.h"
#include "platform/files.h"

namespace mx::api {

Status status_of(platform::FileError error);

class FileJob {
 public:
  // Reads the caller's structures and opens the input (null: standard
  // input), with a reader expecting its size.
  Status begin(const char* input_name, const mvx_options* options, const mvx_observer* observer,
               LimitDefault limit_default);
  // Opens the output (null: standard output) and a writer over it.
  Status open_output(const char* output_name);
  // The job's status; an output that cannot be committed makes a write
  // failure of a job that succeeded.
  Status finish(Status job);

  // Whether a decoder has the whole input (and checks its end): a regular
  // file, or what the caller says of the rest.
  bool whole_input() const { return settings.whole_input || input.id().regular; }
  platform::StopFlag stop() const { return stop_flag_of(settings.observer); }
  // The system's error number behind a status of open_input_failed,
  // create_output_failed, read_failed or write_failed (0 for none, and for
  // any other status).
  int system_reason(Status status) const;

  CallSettings settings;
  platform::InputFile input;
  platform::OutputFile output;
  ByteReader reader;
  ByteWriter writer;
};

// Runs job(FileJob&) and returns its C status, with errno set to the
// system's reason when the status is one of the four above: once the
// job's files are closed, so that nothing after it changes errno.
template <class Job>
mvx_status run_file_job(Job&& job) {
  Status status = Status::ok;
  int reason = 0;
  {
    FileJob frame;
    status = job(frame);
    reason = frame.system_reason(status);
  }
  switch (status) {
    case Status::open_input_failed:
    case Status::create_output_failed:
    case Status::read_failed:
    case Status::write_failed: errno = reason; break;
    default: break;
  }
  return c_status(status);
}

}  // namespace mx::api
