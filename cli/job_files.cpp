#include "cli/job_files.h"

namespace mx::cli {

namespace {

platform::StopFlag stop_of(const moltavex::Observer* observer) {
  return observer != nullptr ? observer->stop : nullptr;
}

}  // namespace

moltavex::Status status_of(platform::FileError error) {
  switch (error) {
    case platform::FileError::none: return moltavex::Status::ok;
    case platform::FileError::open_failed: return moltavex::Status::open_input_failed;
    case platform::FileError::create_failed: return moltavex::Status::create_output_failed;
    case platform::FileError::interrupted: return moltavex::Status::interrupted;
    case platform::FileError::out_of_memory: return moltavex::Status::out_of_memory;
  }
  return moltavex::Status::create_output_failed;
}

moltavex::Status JobInput::open(const char* name, platform::StopFlag stop) {
  stop_ = stop;
  if (name == nullptr) {
    file_.use_standard_input();
    return moltavex::Status::ok;
  }
  return status_of(file_.open(name, stop));
}

int JobInput::peek() {
  if (peeked_ >= 0) return peeked_;
  std::uint8_t byte = 0;
  const std::int64_t n = platform::read(file_.handle(), &byte, 1, stop_);
  if (n < 0) return -2;
  if (n == 0) return -1;
  peeked_ = byte;
  return peeked_;
}

std::int64_t JobInput::read(void* context, std::uint8_t* buffer, std::size_t size) {
  auto* self = static_cast<JobInput*>(context);
  if (self->peeked_ >= 0 && size > 0) {
    buffer[0] = static_cast<std::uint8_t>(self->peeked_);
    self->peeked_ = -1;
    return 1;
  }
  return platform::read(self->file_.handle(), buffer, size, self->stop_);
}

moltavex::Status JobOutput::open(const char* name, const JobInput& input, platform::StopFlag stop) {
  stop_ = stop;
  if (name == nullptr) return status_of(file_.use_standard_output(input.file()));
  return status_of(file_.open(name, input.file(), stop));
}

bool JobOutput::write(void* context, const std::uint8_t* data, std::size_t size) {
  auto* self = static_cast<JobOutput*>(context);
  return platform::write_all(self->file_.handle(), data, size, self->stop_);
}

// The size hint and memory limit of a job on `input`.
moltavex::Options with_size(const moltavex::Options* options, const JobInput& input) {
  moltavex::Options sized = *options;
  sized.size_hint = input.known_size();
  // The program's limit 0 is none; the library's 0 is its default.
  if (sized.memory_limit == 0) sized.memory_limit = MVX_NO_MEMORY_LIMIT;
  // A regular file is the whole input, as the library's named-file jobs
  // take it: its end is checked for a record the decoded body missed.
  if (input.file().id().regular) sized.whole_input = 1;
  return sized;
}

// Compresses `input_name` into `output_name` (null for the standard
// streams): the input opened first, the memory checked before the output is
// touched, the output complete only once the job has succeeded.
moltavex::Status compress_job(const char* input_name, const char* output_name, int model, int order,
                              const moltavex::Observer* observer,
                              const moltavex::Options* options) {
  JobInput input;
  JobOutput output;
  moltavex::Status status = input.open(input_name, stop_of(observer));
  if (status != moltavex::Status::ok) return status;
  if (options->memory_limit != 0 && moltavex::model_memory(model, order) > options->memory_limit) {
    return moltavex::Status::memory_limit;
  }
  status = output.open(output_name, input, stop_of(observer));
  if (status != moltavex::Status::ok) return status;
  const moltavex::Options sized = with_size(options, input);
  status = moltavex::compress_stream(&JobInput::read, &input, &JobOutput::write, &output, model,
                                     order, observer, &sized);
  if (status == moltavex::Status::ok && !output.commit()) status = moltavex::Status::write_failed;
  return status;
}

// Decompresses as compress_named compresses; the stream's header is read
// (and checked, with the memory it names) before the output is touched.
moltavex::Status decompress_job(const char* input_name, const char* output_name,
                                const moltavex::Observer* observer,
                                const moltavex::Options* options, moltavex::StreamInfo* info) {
  JobInput input;
  JobOutput output;
  moltavex::Status status = input.open(input_name, stop_of(observer));
  if (status != moltavex::Status::ok) return status;
  const int header = input.peek();
  if (header == -2) {
    return platform::stopped(stop_of(observer)) ? moltavex::Status::interrupted
                                                : moltavex::Status::read_failed;
  }
  int model = 0, order = 0;
  if (header < 0 || !moltavex::read_header(static_cast<std::uint8_t>(header), &model, &order)) {
    return moltavex::Status::invalid_stream;
  }
  if (options->memory_limit != 0 && moltavex::model_memory(model, order) > options->memory_limit) {
    return moltavex::Status::memory_limit;
  }
  status = output.open(output_name, input, stop_of(observer));
  if (status != moltavex::Status::ok) return status;
  const moltavex::Options sized = with_size(options, input);
  status = moltavex::decompress_stream(&JobInput::read, &input, &JobOutput::write, &output, info,
                                       observer, &sized);
  if (status == moltavex::Status::ok && !output.commit()) status = moltavex::Status::write_failed;
  return status;
}

moltavex::Status test_job(const char* input_name, moltavex::StreamInfo* info,
                          const moltavex::Observer* observer, const moltavex::Options* options) {
  JobInput input;
  const moltavex::Status status = input.open(input_name, stop_of(observer));
  if (status != moltavex::Status::ok) return status;
  const moltavex::Options sized = with_size(options, input);
  return moltavex::test_stream(&JobInput::read, &input, info, observer, &sized);
}

moltavex::Status compress_auto_job(const char* input_name, const char* output_name,
                                   moltavex::Setting* chosen, const moltavex::Observer* observer,
                                   const moltavex::Options* options) {
  JobInput input;
  JobOutput output;
  moltavex::Status status = input.open(input_name, stop_of(observer));
  if (status == moltavex::Status::ok) status = output.open(output_name, input, stop_of(observer));
  if (status != moltavex::Status::ok) return status;
  const moltavex::Options sized = with_size(options, input);
  status = moltavex::compress_stream_auto(&JobInput::read, &input, &JobOutput::write, &output,
                                          chosen, observer, &sized);
  if (status == moltavex::Status::ok && !output.commit()) status = moltavex::Status::write_failed;
  return status;
}

}  // namespace mx::cli
