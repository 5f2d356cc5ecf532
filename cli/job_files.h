// The files of one job as the program opens them: a named file or a
// standard stream at each end (platform/files.h keeps a named output safe
// until commit), read and written through the library's stream functions.
// Which name means a standard stream is each interface's own convention
// (":" for the classic commands); here a null name does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "moltavex/moltavex.hpp"
#include "platform/files.h"

namespace mx::cli {

class JobInput {
 public:
  // Opens `name`, or the standard input when it is null. An open blocked
  // on a FIFO gives up when `stop` is raised.
  moltavex::Status open(const char* name, platform::StopFlag stop);

  // The first byte (the stream's header) without taking it: 0..255, -1 at
  // the end of the input, -2 after a read error.
  int peek();

  // The input's size when it is a regular file, else 0.
  std::uint64_t known_size() const { return file_.known_size(); }
  const platform::InputFile& file() const { return file_; }

  // moltavex::ReadFunction over this input (context: the JobInput).
  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size);

 private:
  platform::InputFile file_;
  platform::StopFlag stop_ = nullptr;
  int peeked_ = -1;  // a byte read ahead by peek(), handed out first
};

class JobOutput {
 public:
  // Opens `name` for the job reading `input`, or the standard output when
  // it is null.
  moltavex::Status open(const char* name, const JobInput& input, platform::StopFlag stop);

  // After a job that succeeded: the output is complete (see
  // platform::OutputFile::commit); false when that fails.
  bool commit(bool durable = false) { return file_.commit(durable); }

  // moltavex::WriteFunction over this output (context: the JobOutput).
  static bool write(void* context, const std::uint8_t* data, std::size_t size);

 private:
  platform::OutputFile file_;
  platform::StopFlag stop_ = nullptr;
};

// Whole jobs on one input and output (null: the standard stream): the input
// opened first, the setting's memory (or the stream's header) checked
// before the output is touched, the output complete only once the job has
// succeeded. A memory limit of 0 is none.
moltavex::Options with_size(const moltavex::Options* options, const JobInput& input);
moltavex::Status compress_job(const char* input_name, const char* output_name, int model, int order,
                              const moltavex::Observer* observer, const moltavex::Options* options);
// `info`, when given, describes the stream after a success.
moltavex::Status decompress_job(const char* input_name, const char* output_name,
                                const moltavex::Observer* observer,
                                const moltavex::Options* options,
                                moltavex::StreamInfo* info = nullptr);
moltavex::Status test_job(const char* input_name, moltavex::StreamInfo* info,
                          const moltavex::Observer* observer, const moltavex::Options* options);
// The output is opened before the choice.
moltavex::Status compress_auto_job(const char* input_name, const char* output_name,
                                   moltavex::Setting* chosen, const moltavex::Observer* observer,
                                   const moltavex::Options* options);

// The library's status for a file that could not be opened.
moltavex::Status status_of(platform::FileError error);

}  // namespace mx::cli
