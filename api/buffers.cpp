// The C API's jobs between caller buffers and between the caller's own
// read and write functions: thin wrappers that set up streams over them
// and run the drivers. Named files are in files.cpp, the push contexts in
// push.cpp, the automatic choice in auto.cpp.
#include "api/jobs.h"
#include "io/memory_streams.h"
#include "models/registry.h"

namespace {

using mx::c_status;
using mx::Status;
using mx::api::CallSettings;
using mx::api::LimitDefault;

template <class Job>
mvx_status run_buffers(const void* src, std::size_t size, void* dst, std::size_t capacity,
                       std::size_t* written, Job&& job) {
  if (written != nullptr) *written = 0;
  if ((src == nullptr && size != 0) || (dst == nullptr && capacity != 0) || written == nullptr) {
    return MVX_INVALID_CALL;
  }
  mx::MemorySource source{static_cast<const std::uint8_t*>(src), size};
  mx::BufferSink sink{static_cast<std::uint8_t*>(dst), capacity};
  const Status status = mx::api::run_on_functions(&mx::MemorySource::read, &source,
                                                  &mx::BufferSink::write, &sink, size, job);
  *written = sink.length;
  return sink.too_small ? MVX_OUTPUT_TOO_SMALL : c_status(status);
}

}  // namespace

extern "C" {

MVX_API mvx_status mvx_compress_with(const void* src, size_t size, int model, int order, void* dst,
                                     size_t capacity, size_t* written, const mvx_options* options) {
  CallSettings settings;
  if (written != nullptr) *written = 0;
  const Status read = mx::api::read_settings(options, nullptr, LimitDefault::none, settings);
  if (read != Status::ok) return c_status(read);
  return run_buffers(src, size, dst, capacity, written,
                     [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                       return mx::compress_streams(reader, writer, model, order, nullptr,
                                                   settings.memory_limit, settings.checksum);
                     });
}

MVX_API mvx_status mvx_decompress_with(const void* src, size_t size, void* dst, size_t capacity,
                                       size_t* written, const mvx_options* options) {
  CallSettings settings;
  if (written != nullptr) *written = 0;
  const Status read = mx::api::read_settings(options, nullptr, LimitDefault::safe, settings);
  if (read != Status::ok) return c_status(read);
  return run_buffers(src, size, dst, capacity, written,
                     [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                       // A buffer is the whole input.
                       return mx::decompress_streams(reader, writer, nullptr, settings.memory_limit,
                                                     nullptr, true);
                     });
}

MVX_API mvx_status mvx_compress(const void* src, size_t size, int model, int order, void* dst,
                                size_t capacity, size_t* written) {
  return mvx_compress_with(src, size, model, order, dst, capacity, written, nullptr);
}

MVX_API mvx_status mvx_decompress(const void* src, size_t size, void* dst, size_t capacity,
                                  size_t* written) {
  return mvx_decompress_with(src, size, dst, capacity, written, nullptr);
}

MVX_API mvx_status mvx_compress_stream(mvx_read_function read, void* read_context,
                                       mvx_write_function write, void* write_context, int model,
                                       int order, const mvx_observer* observer,
                                       const mvx_options* options) {
  if (read == nullptr || write == nullptr) return MVX_INVALID_CALL;
  CallSettings settings;
  const Status status = mx::api::read_settings(options, observer, LimitDefault::none, settings);
  if (status != Status::ok) return c_status(status);
  return c_status(mx::api::run_on_functions(
      read, read_context, write, write_context, settings.options.size_hint,
      [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
        return mx::compress_streams(reader, writer, model, order, settings.observer,
                                    settings.memory_limit, settings.checksum);
      }));
}

MVX_API mvx_status mvx_decompress_stream(mvx_read_function read, void* read_context,
                                         mvx_write_function write, void* write_context,
                                         const mvx_observer* observer, const mvx_options* options) {
  return mvx_decompress_stream_info(read, read_context, write, write_context, nullptr, observer,
                                    options);
}

MVX_API mvx_status mvx_decompress_stream_info(mvx_read_function read, void* read_context,
                                              mvx_write_function write, void* write_context,
                                              mvx_stream_info* info, const mvx_observer* observer,
                                              const mvx_options* options) {
  if (read == nullptr || write == nullptr || !mx::api::info_size_ok(info)) return MVX_INVALID_CALL;
  CallSettings settings;
  Status status = mx::api::read_settings(options, observer, LimitDefault::safe, settings);
  if (status != Status::ok) return c_status(status);
  mvx_stream_info found{};
  status = mx::api::run_on_functions(
      read, read_context, write, write_context, settings.options.size_hint,
      [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
        return mx::decompress_streams(reader, writer, settings.observer, settings.memory_limit,
                                      &found, settings.whole_input);
      });
  if (status == Status::ok) status = mx::api::write_info(found, info);
  return c_status(status);
}

MVX_API mvx_status mvx_test_stream(mvx_read_function read, void* read_context,
                                   mvx_stream_info* info, const mvx_observer* observer,
                                   const mvx_options* options) {
  if (read == nullptr || !mx::api::info_size_ok(info)) return MVX_INVALID_CALL;
  CallSettings settings;
  Status status = mx::api::read_settings(options, observer, LimitDefault::safe, settings);
  if (status != Status::ok) return c_status(status);
  mx::CountingSink sink;
  mvx_stream_info found{};
  status = mx::api::run_on_functions(
      read, read_context, &mx::CountingSink::write, &sink, settings.options.size_hint,
      [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
        return mx::decompress_streams(reader, writer, settings.observer, settings.memory_limit,
                                      &found, settings.whole_input);
      });
  if (status == Status::ok) status = mx::api::write_info(found, info);
  return c_status(status);
}

}  // extern "C"
