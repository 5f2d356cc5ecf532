// The public entry points: thin wrappers that set up streams over memory,
// named files or the caller's functions and run the drivers.
#include "io/memory_streams.h"
#include "models/registry.h"
#include "pipeline/drivers.h"

namespace moltavex {

namespace {

template <class Job>
Status run_streams(ReadFunction read, void* read_context, WriteFunction write, void* write_context,
                   Job job) {
  mx::ByteReader reader;
  mx::ByteWriter writer;
  Status status = mx::reader_open_function(reader, read, read_context);
  if (status == Status::ok) status = mx::writer_open_function(writer, write, write_context);
  if (status == Status::ok) status = job(reader, writer);
  return status;
}

template <class Job>
Status run_memory(const void* data, std::size_t size, std::vector<std::uint8_t>& out, Job job) {
  out.clear();
  mx::MemorySource source{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : size};
  mx::VectorSink sink{&out};
  const Status status =
      run_streams(&mx::MemorySource::read, &source, &mx::VectorSink::write, &sink, job);
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

Status compress(const void* data, std::size_t size, int model, int order,
                std::vector<std::uint8_t>& out, const Observer* observer) {
  return run_memory(data, size, out, [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
    return mx::compress_streams(reader, writer, model, order, observer);
  });
}

Status decompress(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                  const Observer* observer) {
  return run_memory(data, size, out, [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
    return mx::decompress_streams(reader, writer, observer);
  });
}

Status compress_file(const char* input_name, const char* output_name, int model, int order,
                     const Observer* observer) {
  if (input_name == nullptr || output_name == nullptr) return Status::invalid_argument;
  mx::StreamPair pair;
  const Status status = mx::open_streams(input_name, output_name, pair);
  if (status != Status::ok) return status;
  return mx::compress_streams(pair.reader, pair.writer, model, order, observer);
}

Status decompress_file(const char* input_name, const char* output_name, const Observer* observer) {
  if (input_name == nullptr || output_name == nullptr) return Status::invalid_argument;
  mx::StreamPair pair;
  const Status status = mx::open_streams(input_name, output_name, pair);
  if (status != Status::ok) return status;
  return mx::decompress_streams(pair.reader, pair.writer, observer);
}

Status compress_stream(ReadFunction read, void* read_context, WriteFunction write,
                       void* write_context, int model, int order, const Observer* observer) {
  if (read == nullptr || write == nullptr) return Status::invalid_argument;
  return run_streams(read, read_context, write, write_context,
                     [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                       return mx::compress_streams(reader, writer, model, order, observer);
                     });
}

Status decompress_stream(ReadFunction read, void* read_context, WriteFunction write,
                         void* write_context, const Observer* observer) {
  if (read == nullptr || write == nullptr) return Status::invalid_argument;
  return run_streams(read, read_context, write, write_context,
                     [&](mx::ByteReader& reader, mx::ByteWriter& writer) {
                       return mx::decompress_streams(reader, writer, observer);
                     });
}

const char* version() { return MVX_VERSION_STRING; }

}  // namespace moltavex
