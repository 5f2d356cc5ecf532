// The steps the C API's file jobs share (files.cpp, auto.cpp): a named
// input and output (platform/files.h) set up under the streams, and the
// output committed only after a job that succeeded.
#pragma once

#include "api/jobs.h"
#include "api/options.h"
#include "platform/files.h"

namespace mx::api {

Status status_of(platform::FileError error);

// Opens the named input and a reader over it (expecting its size).
Status open_input(const char* name, platform::StopFlag stop, platform::InputFile& input,
                  ByteReader& reader);

// Opens the named output of the job reading `input`, and a writer over it.
Status open_output(const char* name, const platform::InputFile& input, platform::StopFlag stop,
                   platform::OutputFile& output, ByteWriter& writer);

// Whether a decoder reading `input` has the whole input (and checks its
// end): a regular file, or what the caller says of the rest.
bool whole_input(const CallSettings& settings, const platform::InputFile& input);

// The job's status; an output that cannot be committed makes a write
// failure of a job that succeeded.
Status commit(Status job, platform::OutputFile& output);

// The system's error number behind a file job's open_input_failed,
// create_output_failed, read_failed or write_failed (0 for none, and for
// any other status). `output` may be null (a test).
int system_reason(Status status, const platform::InputFile& input,
                  const platform::OutputFile* output, const ByteReader& reader,
                  const ByteWriter& writer);

// The C status of a named-file job, with errno set to `reason` when the
// status is one of those four: called last, once the job's files are
// closed, so that nothing after it changes errno.
mvx_status with_reason(Status status, int reason);

}  // namespace mx::api
