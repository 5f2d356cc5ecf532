// The public entry points: thin wrappers that set up streams over memory,
// named files or the caller's functions and run the drivers.
#include "io/memory_streams.h"
#include "models/registry.h"
#include "pipeline/drivers.h"

namespace moltavex {

namespace {

// `expected_bytes`: what `read` will hand over, when known (else 0).
template <class Job>
Status run_streams(ReadFunction read, void* read_context, WriteFunction write, void* write_context,
                   Job job, std::uint64_t expected_bytes = 0) {
  mx::ByteReader reader;
  mx::ByteWriter writer;
  Status status = mx::reader_open_function(reader, read, read_context);
  reader.expected_bytes = expected_bytes;
  if (status == Status::ok) status = mx::writer_open_function(writer, write, write_context);
  if (status == Status::ok) status = job(reader, writer);
  return status;
}

template <class Job>
Status run_memory(const void* data, std::size_t size, std::vector<std::uint8_t>& out, Job job) {
  out.clear();
  mx::MemorySource source{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : size};
  mx::VectorSink sink{&out};
  const Status status = run_streams(&mx::MemorySource::read, &source, &mx::VectorSink::write, &sink,
                                    job, source.size);
  return sink.out_of_memory ? Status::out_of_memory : status;
}

}  // namespace

const char* model_name(int model) {
  const mx::ModelDescriptor* descriptor = mx::find_model(model);
  return descriptor != nullptr ? descriptor->info.name : nullptr;
}

std::uint64_t model_memory(int model, int order) {
  const mx::ModelDescriptor* descriptor = mx::find_model(model);
  if (descriptor == nullptr || !mx::valid_order(order)) return 0;
  return descriptor->info.table_bytes(order);
}

bool read_header(std::uint8_t header, int* model, int* order) {
  if (mx::find_model(header >> 5) == nullptr) return false;
  if (model != nullptr) *model = header >> 5;
  if (order != nullptr) *order = header & 0x1F;
  return true;
}

namespace {

std::uint64_t memory_limit(const Options* options) {
  return options != nullptr ? options->memory_limit : 0;
}

const volatile std::sig_atomic_t* stop_flag(const Observer* observer) {
  return observer != nullptr ? observer->stop : nullptr;
}

}  // namespace

Status compress(const void* data, std::size_t size, int model, int order,
                std::vector<std::uint8_t>& out, const Observer* observer, const Options* options) {
  return run_memory(data, size, out, [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
    return mx::compress_streams(reader, writer, model, order, observer, memory_limit(options));
  });
}

Status decompress(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                  const Observer* observer, const Options* options) {
  return run_memory(data, size, out, [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
    return mx::decompress_streams(reader, writer, observer, memory_limit(options));
  });
}

// Both file jobs open the input, check what they can before the output is
// touched, then open the output and run.
Status compress_file(const char* input_name, const char* output_name, int model, int order,
                     const Observer* observer, const Options* options) {
  if (input_name == nullptr || output_name == nullptr || mx::find_model(model) == nullptr ||
      !mx::valid_order(order)) {
    return Status::invalid_argument;
  }
  mx::StreamPair pair;
  Status status = mx::open_input_stream(input_name, pair.reader, stop_flag(observer));
  if (status == Status::ok) status = mx::check_memory(model, order, memory_limit(options));
  if (status == Status::ok) {
    status = mx::open_output_stream(output_name, pair.reader, pair.writer, stop_flag(observer));
  }
  if (status != Status::ok) return status;
  return mx::compress_streams(pair.reader, pair.writer, model, order, observer,
                              memory_limit(options));
}

Status decompress_file(const char* input_name, const char* output_name, const Observer* observer,
                       const Options* options) {
  if (input_name == nullptr || output_name == nullptr) return Status::invalid_argument;
  mx::StreamPair pair;
  Status status = mx::open_input_stream(input_name, pair.reader, stop_flag(observer));
  if (status != Status::ok) return status;
  // The header names the tables: a stream that names none, or needs more
  // memory than allowed, fails before the output is touched.
  mx::JobWatch watch;
  mx::watch_streams(watch, observer, pair.reader, pair.writer);
  const int header = mx::reader_peek(pair.reader);
  if (header < 0 && pair.reader.failed) return mx::stream_status(pair.reader, pair.writer);
  int model = 0, order = 0;
  if (header < 0 || !read_header(static_cast<std::uint8_t>(header), &model, &order)) {
    return Status::invalid_stream;
  }
  status = mx::check_memory(model, order, memory_limit(options));
  if (status == Status::ok) {
    status = mx::open_output_stream(output_name, pair.reader, pair.writer, stop_flag(observer));
  }
  if (status != Status::ok) return status;
  return mx::decompress_streams(pair.reader, pair.writer, observer, memory_limit(options));
}

Status test_file(const char* input_name, StreamInfo* info, const Observer* observer,
                 const Options* options) {
  if (input_name == nullptr) return Status::invalid_argument;
  mx::ByteReader reader;
  mx::ByteWriter writer;
  mx::CountingSink sink;
  Status status = mx::open_input_stream(input_name, reader, stop_flag(observer));
  if (status == Status::ok)
    status = mx::writer_open_function(writer, &mx::CountingSink::write, &sink);
  if (status != Status::ok) return status;
  return mx::decompress_streams(reader, writer, observer, memory_limit(options), info);
}

Status compress_stream(ReadFunction read, void* read_context, WriteFunction write,
                       void* write_context, int model, int order, const Observer* observer,
                       const Options* options) {
  if (read == nullptr || write == nullptr) return Status::invalid_argument;
  return run_streams(read, read_context, write, write_context,
                     [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                       return mx::compress_streams(reader, writer, model, order, observer,
                                                   memory_limit(options));
                     });
}

Status decompress_stream(ReadFunction read, void* read_context, WriteFunction write,
                         void* write_context, const Observer* observer, const Options* options) {
  if (read == nullptr || write == nullptr) return Status::invalid_argument;
  return run_streams(read, read_context, write, write_context,
                     [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                       return mx::decompress_streams(reader, writer, observer,
                                                     memory_limit(options));
                     });
}

const char* version() { return MVX_VERSION_STRING; }

}  // namespace moltavex
