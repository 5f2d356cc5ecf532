// The program's file jobs (see file_jobs.h).
#include "cli/file_jobs.h"

#include <filesystem>
#include <system_error>

#include "cli/system.h"

namespace mx::cli {

namespace {}  // namespace

namespace {

moltavex::Status call_library(const JobRequest& request, JobResult& result,
                              const moltavex::Observer* observer,
                              const moltavex::Options* options) {
  const char* in = request.standard_input ? nullptr : request.input.c_str();
  const char* out = request.standard_output ? nullptr : request.output.c_str();
  switch (request.kind) {
    case JobKind::compress:
      result.chosen = request.setting;
      return moltavex::compress_file(in, out, request.setting.model, request.setting.order,
                                     observer, options);
    case JobKind::compress_level: {
      moltavex::Options at_level = *options;
      at_level.level = request.level;
      return moltavex::compress_file_auto(in, out, &result.chosen, observer, &at_level);
    }
    case JobKind::compress_auto:
      return moltavex::compress_file_auto(in, out, &result.chosen, observer, options);
    case JobKind::decompress:
      return moltavex::decompress_file(in, out, &result.info, observer, options);
    case JobKind::test: return moltavex::test_file(in, &result.info, observer, options);
  }
  return moltavex::Status::invalid_call;
}

}  // namespace

moltavex::Status run_file_job(const JobRequest& request, JobResult& result,
                              const moltavex::Observer* observer,
                              const moltavex::Options* options) {
  // The library's file jobs leave the system's reason of a failed open,
  // read or write in errno, last.
  errno = 0;
  const moltavex::Status status = call_library(request, result, observer, options);
  const bool file_failure = status == moltavex::Status::open_input_failed ||
                            status == moltavex::Status::create_output_failed ||
                            status == moltavex::Status::read_failed ||
                            status == moltavex::Status::write_failed;
  result.system_error = file_failure ? errno : 0;
  return status;
}

std::uint64_t input_size(const std::string& input, bool standard_input) {
  if (standard_input) return sys::standard_input_size();
  std::error_code ec;
  const auto path = std::filesystem::u8path(input);
  if (!std::filesystem::is_regular_file(path, ec)) return 0;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace mx::cli
