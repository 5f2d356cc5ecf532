// The C API's one-shot and whole-job entry points: thin wrappers that set up
// streams over memory, named files or the caller's functions and run the
// drivers. The push contexts are in push_stream.cpp.
#include <cstring>
#include <limits>

#include "io/memory_streams.h"
#include "models/registry.h"
#include "pipeline/drivers.h"

namespace {

using moltavex::Status;

using mx::c_status;

// Runs job(reader, writer) with the two streams over the caller's
// functions; `expected_bytes`: what `read` will hand over, when known.
template <class Job>
Status run_streams(mvx_read_function read, void* read_context, mvx_write_function write,
                   void* write_context, std::uint64_t expected_bytes, Job job) {
  mx::ByteReader reader;
  mx::ByteWriter writer;
  Status status = mx::reader_open_function(reader, read, read_context);
  reader.expected_bytes = expected_bytes;
  if (status == Status::ok) status = mx::writer_open_function(writer, write, write_context);
  if (status == Status::ok) status = job(reader, writer);
  return status;
}

template <class Job>
mvx_status run_buffers(const void* src, std::size_t size, void* dst, std::size_t capacity,
                       std::size_t* written, Job job) {
  if (written != nullptr) *written = 0;
  if ((src == nullptr && size != 0) || (dst == nullptr && capacity != 0) || written == nullptr) {
    return MVX_INVALID_ARGUMENT;
  }
  mx::MemorySource source{static_cast<const std::uint8_t*>(src), size};
  mx::BufferSink sink{static_cast<std::uint8_t*>(dst), capacity};
  const Status status =
      run_streams(&mx::MemorySource::read, &source, &mx::BufferSink::write, &sink, size, job);
  *written = sink.length;
  return sink.too_small ? MVX_OUTPUT_TOO_SMALL : c_status(status);
}

}  // namespace

extern "C" {

MVX_API const char* mvx_version_string(void) { return MVX_VERSION_STRING; }

MVX_API const char* mvx_model_name(int model) {
  const mx::ModelDescriptor* descriptor = mx::find_model(model);
  return descriptor != nullptr ? descriptor->info.name : nullptr;
}

MVX_API uint64_t mvx_model_memory(int model, int order) {
  const mx::ModelDescriptor* descriptor = mx::find_model(model);
  if (descriptor == nullptr || !mx::valid_order(order)) return 0;
  return descriptor->info.table_bytes(order);
}

MVX_API bool mvx_read_header(uint8_t header, int* model, int* order) {
  if (mx::find_model(header >> 5) == nullptr) return false;
  if (model != nullptr) *model = header >> 5;
  if (order != nullptr) *order = header & 0x1F;
  return true;
}

// The bound, for every model and order:
//   - The transform gives at most 4 bytes for 3 (F0 F0 x becomes
//     F0 F0 02 x), and 3 more (the end marker) and 2 (a run closed at the
//     end).
//   - Every model's probabilities come from counters that each learn as a
//     Laplace estimator (models 0, 1, 3, 4 and 5), or from the Adaptive
//     Bitwise Model's rule. A counter that sees m bits, whatever they are,
//     codes them in at most log2((m + 1) * C(m, m/2)) bits: at most 1.30
//     bits a bit (its worst, m = 2); the adaptive rule's worst average,
//     against an adversary that knows its state, is about 1.23 bits a bit
//     (at orders 30 and 31; nearer 1 below).
//   - The coder adds a fraction of a bit per bit only where its interval is
//     small, and its finish 4 to 7 bytes.
// So a stream takes at most about 1.3 * 8/6 = 1.73 bytes a byte and a few
// bytes more; 2 bytes a byte and 64 more hold with room to spare.
MVX_API size_t mvx_compress_bound(size_t size) {
  constexpr std::size_t fixed = 64;
  if (size > (std::numeric_limits<std::size_t>::max() - fixed) / 2) {
    return std::numeric_limits<std::size_t>::max();
  }
  return 2 * size + fixed;
}

MVX_API mvx_status mvx_compress_with(const void* src, size_t size, int model, int order, void* dst,
                                     size_t capacity, size_t* written, const mvx_options* options) {
  return run_buffers(
      src, size, dst, capacity, written, [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
        return mx::compress_streams(reader, writer, model, order, nullptr,
                                    mx::memory_limit_of(options), mx::checksum_of(options));
      });
}

MVX_API mvx_status mvx_decompress_with(const void* src, size_t size, void* dst, size_t capacity,
                                       size_t* written, const mvx_options* options) {
  return run_buffers(
      src, size, dst, capacity, written, [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
        return mx::decompress_streams(reader, writer, nullptr, mx::memory_limit_of(options),
                                      nullptr, /*whole_input*/ true);
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
  if (read == nullptr || write == nullptr) return MVX_INVALID_ARGUMENT;
  return c_status(run_streams(read, read_context, write, write_context, mx::size_hint_of(options),
                              [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                                return mx::compress_streams(reader, writer, model, order, observer,
                                                            mx::memory_limit_of(options),
                                                            mx::checksum_of(options));
                              }));
}

MVX_API mvx_status mvx_decompress_stream(mvx_read_function read, void* read_context,
                                         mvx_write_function write, void* write_context,
                                         const mvx_observer* observer, const mvx_options* options) {
  if (read == nullptr || write == nullptr) return MVX_INVALID_ARGUMENT;
  return c_status(run_streams(read, read_context, write, write_context, mx::size_hint_of(options),
                              [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                                return mx::decompress_streams(reader, writer, observer,
                                                              mx::memory_limit_of(options), nullptr,
                                                              mx::whole_input_of(options));
                              }));
}

// Both file jobs open the input, check what they can before the output is
// touched, then open the output and run.
MVX_API mvx_status mvx_compress_file(const char* input_name, const char* output_name, int model,
                                     int order, const mvx_observer* observer,
                                     const mvx_options* options) {
  if (input_name == nullptr || output_name == nullptr || mx::find_model(model) == nullptr ||
      !mx::valid_order(order)) {
    return MVX_INVALID_ARGUMENT;
  }
  mx::StreamPair pair;
  Status status = mx::open_input_stream(input_name, pair.reader, mx::stop_flag_of(observer));
  if (status == Status::ok) status = mx::check_memory(model, order, mx::memory_limit_of(options));
  if (status == Status::ok) {
    status =
        mx::open_output_stream(output_name, pair.reader, pair.writer, mx::stop_flag_of(observer));
  }
  if (status != Status::ok) return c_status(status);
  return c_status(mx::compress_streams(pair.reader, pair.writer, model, order, observer,
                                       mx::memory_limit_of(options), mx::checksum_of(options)));
}

MVX_API mvx_status mvx_decompress_file(const char* input_name, const char* output_name,
                                       const mvx_observer* observer, const mvx_options* options) {
  if (input_name == nullptr || output_name == nullptr) return MVX_INVALID_ARGUMENT;
  mx::StreamPair pair;
  Status status = mx::open_input_stream(input_name, pair.reader, mx::stop_flag_of(observer));
  if (status != Status::ok) return c_status(status);
  // The header names the tables: a stream that names none, or needs more
  // memory than allowed, fails before the output is touched.
  mx::JobWatch watch;
  mx::watch_streams(watch, observer, pair.reader, pair.writer);
  const int header = mx::reader_peek(pair.reader);
  if (header < 0 && pair.reader.failed)
    return c_status(mx::stream_status(pair.reader, pair.writer));
  int model = 0, order = 0;
  if (header < 0 || !mvx_read_header(static_cast<std::uint8_t>(header), &model, &order)) {
    return MVX_INVALID_STREAM;
  }
  status = mx::check_memory(model, order, mx::memory_limit_of(options));
  if (status == Status::ok) {
    status =
        mx::open_output_stream(output_name, pair.reader, pair.writer, mx::stop_flag_of(observer));
  }
  if (status != Status::ok) return c_status(status);
  return c_status(mx::decompress_streams(
      pair.reader, pair.writer, observer, mx::memory_limit_of(options), nullptr,
      mx::whole_input_of(options) || mx::whole_named_file(pair.reader)));
}

MVX_API mvx_status mvx_test_file(const char* input_name, mvx_stream_info* info,
                                 const mvx_observer* observer, const mvx_options* options) {
  if (input_name == nullptr) return MVX_INVALID_ARGUMENT;
  mx::ByteReader reader;
  mx::ByteWriter writer;
  mx::CountingSink sink;
  Status status = mx::open_input_stream(input_name, reader, mx::stop_flag_of(observer));
  if (status == Status::ok)
    status = mx::writer_open_function(writer, &mx::CountingSink::write, &sink);
  if (status != Status::ok) return c_status(status);
  return c_status(
      mx::decompress_streams(reader, writer, observer, mx::memory_limit_of(options), info,
                             mx::whole_input_of(options) || mx::whole_named_file(reader)));
}

}  // extern "C"
