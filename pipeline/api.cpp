// The public entry points: thin wrappers that set up streams over memory,
// named files or the caller's functions and run the drivers.
#include <cstring>
#include <new>

#include "models/model_table.h"
#include "pipeline/drivers.h"

namespace moltavex {

namespace {

// Reads from a caller's memory block.
struct MemorySource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset = 0;

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<MemorySource*>(context);
    std::size_t n = self->size - self->offset;
    if (n > size) n = size;
    if (n > 0) std::memcpy(buffer, self->data + self->offset, n);
    self->offset += n;
    return static_cast<std::int64_t>(n);
  }
};

// Appends to a vector; remembers a failed allocation so that it can be
// reported as such rather than as a write error.
struct VectorSink {
  std::vector<std::uint8_t>* out;
  bool out_of_memory = false;

  static bool write(void* context, const std::uint8_t* data, std::size_t size) {
    auto* self = static_cast<VectorSink*>(context);
    try {
      self->out->insert(self->out->end(), data, data + size);
      return true;
    } catch (const std::bad_alloc&) {
      self->out_of_memory = true;
      return false;
    }
  }
};

template <class Job>
Status run_streams(ReadFunction read, void* read_context, WriteFunction write,
                   void* write_context, Job job) {
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
  MemorySource source{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : size};
  VectorSink sink{&out};
  const Status status =
      run_streams(&MemorySource::read, &source, &VectorSink::write, &sink, job);
  return sink.out_of_memory ? Status::out_of_memory : status;
}

}  // namespace

const char* model_name(int model) {
  return model >= 0 && model < model_count ? mx::model_table[model].name : nullptr;
}

std::uint64_t model_memory(int model, int order) {
  if (model < 0 || model >= model_count || order < 0 || order > max_order) return 0;
  static const std::uint64_t entry_bytes[model_count] = {8, 8, 4, 17, 8, 17};
  std::uint64_t bytes = entry_bytes[model] << order;
  if (model == 5) bytes += 16384 * sizeof(mx::BitCounter);
  return bytes;
}

bool read_header(std::uint8_t header, int* model, int* order) {
  if ((header >> 5) >= model_count) return false;
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
    return mx::decompress_file(reader, writer, observer);
  });
}

Status compress_file(const char* input_name, const char* output_name, int model, int order,
                     const Observer* observer) {
  if (input_name == nullptr || output_name == nullptr) return Status::invalid_argument;
  return mx::compress_file(input_name, output_name, model, order, observer);
}

Status decompress_file(const char* input_name, const char* output_name,
                       const Observer* observer) {
  if (input_name == nullptr || output_name == nullptr) return Status::invalid_argument;
  mx::StreamPair pair;
  const Status status = mx::open_streams(input_name, output_name, pair);
  if (status != Status::ok) return status;
  return mx::decompress_file(pair.reader, pair.writer, observer);
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
                       return mx::decompress_file(reader, writer, observer);
                     });
}

const char* version() { return "1.9"; }

}  // namespace moltavex
