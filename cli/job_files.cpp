#include "cli/job_files.h"

namespace mx::cli {

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

}  // namespace mx::cli
