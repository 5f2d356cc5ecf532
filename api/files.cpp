// The C API's jobs on named files: the input and output files of
// platform/files.h (which keep a failed job's output name untouched) around
// the drivers. Each job opens its input, checks what it can before the
// output is touched (the setting, the memory, the stream's header), then
// opens the output, runs, and commits the output only on success.
#include "api/files.h"

#include "io/memory_streams.h"
#include "models/registry.h"
#include "pipeline/header.h"

namespace mx::api {

Status status_of(platform::FileError error) {
  switch (error) {
    case platform::FileError::none: return Status::ok;
    case platform::FileError::open_failed: return Status::open_input_failed;
    case platform::FileError::create_failed: return Status::create_output_failed;
    case platform::FileError::interrupted: return Status::interrupted;
    case platform::FileError::out_of_memory: return Status::out_of_memory;
  }
  return Status::create_output_failed;
}

Status FileJob::begin(const char* input_name, const mvx_options* options,
                      const mvx_observer* observer, LimitDefault limit_default) {
  Status status = read_settings(options, observer, limit_default, settings);
  if (status != Status::ok) return status;
  if (input_name == nullptr) {
    input.use_standard_input();
  } else {
    status = status_of(input.open(input_name, stop()));
    if (status != Status::ok) return status;
  }
  status = reader_open_handle(reader, input.handle());
  reader.expected_bytes = input.known_size();
  return status;
}

Status FileJob::open_output(const char* output_name) {
  const Status status = status_of(output_name == nullptr ? output.use_standard_output(input)
                                                         : output.open(output_name, input, stop()));
  if (status != Status::ok) return status;
  return writer_open_handle(writer, output.handle());
}

int FileJob::system_reason(Status status) const {
  switch (status) {
    case Status::open_input_failed: return input.error();
    case Status::create_output_failed: return output.error();
    case Status::read_failed: return reader.error != 0 ? reader.error : input.error();
    case Status::write_failed: return writer.error != 0 ? writer.error : output.error();
    default: return 0;
  }
}

Status FileJob::finish(Status job) {
  if (job != Status::ok) return job;
  return output.commit(settings.options.durable != 0) ? Status::ok : Status::write_failed;
}

}  // namespace mx::api

namespace {

using mx::c_status;
using mx::Status;
using mx::api::CallSettings;
using mx::api::FileJob;
using mx::api::LimitDefault;

}  // namespace

namespace {

// Decodes the job's input into its output (`test`: into nothing), once
// the header has named the model and order and their tables are allowed:
// a stream that names none, or needs more memory than allowed, fails
// before the output is touched.
Status decompress_job(FileJob& job, const char* output_name, bool test, mvx_stream_info* info) {
  mx::JobWatch watch;
  mx::watch_streams(watch, job.settings.observer, job.reader, job.writer);
  const int header = mx::reader_peek(job.reader);
  if (header < 0 && job.reader.failed) return mx::stream_status(job.reader, job.writer);
  int model = 0, order = 0;
  if (header < 0 || !mx::parse_header(static_cast<std::uint8_t>(header), model, order)) {
    return Status::invalid_stream;
  }
  Status status = mx::check_memory(model, order, job.settings.memory_limit);
  mx::CountingSink sink;
  if (status == Status::ok) {
    status = test ? mx::writer_open_function(job.writer, &mx::CountingSink::write, &sink)
                  : job.open_output(output_name);
  }
  if (status != Status::ok) return status;
  mvx_stream_info found{};
  status = mx::decompress_streams(job.reader, job.writer, job.settings.observer,
                                  job.settings.memory_limit, &found, job.whole_input());
  if (status == Status::ok) status = mx::api::write_info(found, info);
  return test ? status : job.finish(status);
}

}  // namespace

extern "C" {

MVX_API mvx_status mvx_compress_file(const char* input_name, const char* output_name, int model,
                                     int order, const mvx_observer* observer,
                                     const mvx_options* options) {
  if (mx::find_model(model) == nullptr || !mx::valid_order(order)) return MVX_INVALID_ARGUMENT;
  return mx::api::run_file_job([&](FileJob& job) {
    Status status = job.begin(input_name, options, observer, LimitDefault::none);
    if (status == Status::ok) status = mx::check_memory(model, order, job.settings.memory_limit);
    if (status == Status::ok) status = job.open_output(output_name);
    if (status != Status::ok) return status;
    return job.finish(mx::compress_streams(job.reader, job.writer, model, order,
                                           job.settings.observer, job.settings.memory_limit,
                                           job.settings.checksum));
  });
}

MVX_API mvx_status mvx_decompress_file_info(const char* input_name, const char* output_name,
                                            mvx_stream_info* info, const mvx_observer* observer,
                                            const mvx_options* options) {
  if (!mx::api::info_size_ok(info)) return MVX_INVALID_CALL;
  return mx::api::run_file_job([&](FileJob& job) {
    const Status status = job.begin(input_name, options, observer, LimitDefault::safe);
    return status == Status::ok ? decompress_job(job, output_name, false, info) : status;
  });
}

MVX_API mvx_status mvx_decompress_file(const char* input_name, const char* output_name,
                                       const mvx_observer* observer, const mvx_options* options) {
  return mvx_decompress_file_info(input_name, output_name, nullptr, observer, options);
}

MVX_API mvx_status mvx_test_file(const char* input_name, mvx_stream_info* info,
                                 const mvx_observer* observer, const mvx_options* options) {
  if (!mx::api::info_size_ok(info)) return MVX_INVALID_CALL;
  return mx::api::run_file_job([&](FileJob& job) {
    const Status status = job.begin(input_name, options, observer, LimitDefault::safe);
    return status == Status::ok ? decompress_job(job, nullptr, true, info) : status;
  });
}

}  // extern "C"
