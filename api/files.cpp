// The C API's jobs on named files: the input and output files of
// platform/files.h (which keep a failed job's output name untouched) around
// the drivers. Each job opens its input, checks what it can before the
// output is touched (the setting, the memory, the stream's header), then
// opens the output, runs, and commits the output only on success.
#include "api/files.h"

#include <cerrno>

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

Status open_input(const char* name, platform::StopFlag stop, platform::InputFile& input,
                  ByteReader& reader) {
  const Status status = status_of(input.open(name, stop));
  if (status != Status::ok) return status;
  const Status buffer = reader_open_handle(reader, input.handle());
  reader.expected_bytes = input.known_size();
  return buffer;
}

Status open_output(const char* name, const platform::InputFile& input, platform::StopFlag stop,
                   platform::OutputFile& output, ByteWriter& writer) {
  const Status status = status_of(output.open(name, input, stop));
  if (status != Status::ok) return status;
  return writer_open_handle(writer, output.handle());
}

bool whole_input(const CallSettings& settings, const platform::InputFile& input) {
  return settings.whole_input || input.id().regular;
}

Status commit(Status job, platform::OutputFile& output) {
  if (job != Status::ok) return job;
  return output.commit() ? Status::ok : Status::write_failed;
}

int system_reason(Status status, const platform::InputFile& input,
                  const platform::OutputFile* output, const ByteReader& reader,
                  const ByteWriter& writer) {
  switch (status) {
    case Status::open_input_failed: return input.error();
    case Status::create_output_failed: return output != nullptr ? output->error() : 0;
    case Status::read_failed: return reader.error != 0 ? reader.error : input.error();
    case Status::write_failed:
      return writer.error != 0 ? writer.error : output != nullptr ? output->error() : 0;
    default: return 0;
  }
}

mvx_status with_reason(Status status, int reason) {
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

namespace {

using mx::c_status;
using mx::Status;
using mx::api::CallSettings;
using mx::api::LimitDefault;

// The jobs, with the system's reason for a failure in `reason`: their
// files are closed when they return, before the callers set errno.
Status compress_file_job(const char* input_name, const char* output_name, int model, int order,
                         const CallSettings& settings, int& reason) {
  const mx::platform::StopFlag stop = mx::api::stop_flag_of(settings.observer);
  mx::platform::InputFile input;
  mx::platform::OutputFile output;
  mx::ByteReader reader;
  mx::ByteWriter writer;
  Status status = mx::api::open_input(input_name, stop, input, reader);
  if (status == Status::ok) status = mx::check_memory(model, order, settings.memory_limit);
  if (status == Status::ok) status = mx::api::open_output(output_name, input, stop, output, writer);
  if (status == Status::ok) {
    status = mx::api::commit(mx::compress_streams(reader, writer, model, order, settings.observer,
                                                  settings.memory_limit, settings.checksum),
                             output);
  }
  reason = mx::api::system_reason(status, input, &output, reader, writer);
  return status;
}

Status decompress_file_job(const char* input_name, const char* output_name,
                           const CallSettings& settings, int& reason) {
  const mx::platform::StopFlag stop = mx::api::stop_flag_of(settings.observer);
  mx::platform::InputFile input;
  mx::platform::OutputFile output;
  mx::ByteReader reader;
  mx::ByteWriter writer;
  const auto done = [&](Status status) {
    reason = mx::api::system_reason(status, input, &output, reader, writer);
    return status;
  };
  Status status = mx::api::open_input(input_name, stop, input, reader);
  if (status != Status::ok) return done(status);
  // The header names the tables: a stream that names none, or needs more
  // memory than allowed, fails before the output is touched.
  mx::JobWatch watch;
  mx::watch_streams(watch, settings.observer, reader, writer);
  const int header = mx::reader_peek(reader);
  if (header < 0 && reader.failed) return done(mx::stream_status(reader, writer));
  int model = 0, order = 0;
  if (header < 0 || !mx::parse_header(static_cast<std::uint8_t>(header), model, order)) {
    return Status::invalid_stream;
  }
  status = mx::check_memory(model, order, settings.memory_limit);
  if (status == Status::ok) status = mx::api::open_output(output_name, input, stop, output, writer);
  if (status != Status::ok) return done(status);
  return done(mx::api::commit(
      mx::decompress_streams(reader, writer, settings.observer, settings.memory_limit, nullptr,
                             mx::api::whole_input(settings, input)),
      output));
}

Status test_file_job(const char* input_name, mvx_stream_info* info, const CallSettings& settings,
                     int& reason) {
  mx::platform::InputFile input;
  mx::ByteReader reader;
  mx::ByteWriter writer;
  mx::CountingSink sink;
  Status status =
      mx::api::open_input(input_name, mx::api::stop_flag_of(settings.observer), input, reader);
  if (status == Status::ok)
    status = mx::writer_open_function(writer, &mx::CountingSink::write, &sink);
  if (status == Status::ok) {
    mvx_stream_info found{};
    status = mx::decompress_streams(reader, writer, settings.observer, settings.memory_limit,
                                    &found, mx::api::whole_input(settings, input));
    if (status == Status::ok) status = mx::api::write_info(found, info);
  }
  reason = mx::api::system_reason(status, input, nullptr, reader, writer);
  return status;
}

}  // namespace

extern "C" {

MVX_API mvx_status mvx_compress_file(const char* input_name, const char* output_name, int model,
                                     int order, const mvx_observer* observer,
                                     const mvx_options* options) {
  if (input_name == nullptr || output_name == nullptr) return MVX_INVALID_CALL;
  if (mx::find_model(model) == nullptr || !mx::valid_order(order)) return MVX_INVALID_ARGUMENT;
  CallSettings settings;
  const Status read = mx::api::read_settings(options, observer, LimitDefault::none, settings);
  if (read != Status::ok) return c_status(read);
  int reason = 0;
  const Status status = compress_file_job(input_name, output_name, model, order, settings, reason);
  return mx::api::with_reason(status, reason);
}

MVX_API mvx_status mvx_decompress_file(const char* input_name, const char* output_name,
                                       const mvx_observer* observer, const mvx_options* options) {
  if (input_name == nullptr || output_name == nullptr) return MVX_INVALID_CALL;
  CallSettings settings;
  const Status read = mx::api::read_settings(options, observer, LimitDefault::safe, settings);
  if (read != Status::ok) return c_status(read);
  int reason = 0;
  const Status status = decompress_file_job(input_name, output_name, settings, reason);
  return mx::api::with_reason(status, reason);
}

MVX_API mvx_status mvx_test_file(const char* input_name, mvx_stream_info* info,
                                 const mvx_observer* observer, const mvx_options* options) {
  if (input_name == nullptr || !mx::api::info_size_ok(info)) return MVX_INVALID_CALL;
  CallSettings settings;
  const Status read = mx::api::read_settings(options, observer, LimitDefault::safe, settings);
  if (read != Status::ok) return c_status(read);
  int reason = 0;
  const Status status = test_file_job(input_name, info, settings, reason);
  return mx::api::with_reason(status, reason);
}

}  // extern "C"
