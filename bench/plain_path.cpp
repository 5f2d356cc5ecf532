#include "plain_path.h"

#include <cstring>

#include "coder/arith.h"
#include "io/memory_streams.h"
#include "models/registry.h"
#include "pipeline/drivers.h"
#include "pipeline/header.h"
#include "pipeline/run_length.h"

namespace mx::bench {

namespace {

// Out-of-line wrappers: one call per coded bit and per transformed byte,
// whatever the compiler would inline otherwise.
MX_NOINLINE void plain_encode_bit(ArithEncoder& encoder, int bit, Prob32 p) {
  encode_bit(encoder, bit, p);
}

MX_NOINLINE int plain_decode_bit(ArithDecoder& decoder, Prob32 p) { return decode_bit(decoder, p); }

MX_NOINLINE int plain_packer_get(RunPacker& packer) { return packer_get(packer); }

MX_NOINLINE void plain_unpacker_put(RunUnpacker& unpacker, int byte) {
  unpacker_put(unpacker, byte);
}

// Writes every entry of the model's tables with its start value (all-zero
// bytes in this representation), touching every page as an initialising
// fill does.
void fill_tables(int model, void* state) {
  with_model(model, [state](auto tag) {
    using Model = typename decltype(tag)::type;
    const ZeroedBlock& tables = static_cast<OwnedModel<Model>*>(state)->tables();
    std::memset(tables.data(), 0, tables.size());
    return Status::ok;
  });
}

// The model of a job, created and destroyed through the table.
struct PlainModel {
  const ModelDescriptor* row = nullptr;
  void* state = nullptr;

  PlainModel(int model, int order) : row(&model_table[model]), state(row->create(order)) {
    if (state != nullptr) fill_tables(model, state);
  }
  ~PlainModel() {
    if (state != nullptr) row->destroy(state);
  }
  PlainModel(const PlainModel&) = delete;
  PlainModel& operator=(const PlainModel&) = delete;
};

Status compress_streams_plainly(ByteReader& reader, ByteWriter& writer, int model, int order) {
  if (find_model(model) == nullptr || !valid_order(order)) return Status::invalid_argument;
  writer_put(writer, header_byte(model, order));
  PlainModel coding(model, order);
  if (coding.state == nullptr) return Status::out_of_memory;
  ArithEncoder encoder;
  encoder_create(encoder, writer);
  RunPacker packer;
  packer_create(packer, reader);
  for (int c = plain_packer_get(packer); c >= 0; c = plain_packer_get(packer)) {
    for (int k = 7; k >= 0; --k) {
      const int bit = (c >> k) & 1;
      plain_encode_bit(encoder, bit, coding.row->predict(coding.state));
      coding.row->update(coding.state, bit);
    }
    if (writer.failed) break;
  }
  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  encoder_finish(encoder);
  if (!writer_commit(writer)) return stream_status(reader, writer);
  return Status::ok;
}

Status decompress_streams_plainly(ByteReader& reader, ByteWriter& writer) {
  const int header = reader_get(reader);
  if (header < 0) return reader.failed ? stream_status(reader, writer) : Status::invalid_stream;
  int model = 0, order = 0;
  if (!parse_header(static_cast<std::uint8_t>(header), model, order)) return Status::invalid_stream;
  PlainModel coding(model, order);
  if (coding.state == nullptr) return Status::out_of_memory;
  ArithDecoder decoder;
  decoder_create(decoder, reader);
  RunUnpacker unpacker;
  unpacker_create(unpacker, writer);
  while (unpacker.end == 0 && decoder.end_of_input == 0 && !writer.failed) {
    int byte = 0;
    int k = 7;
    for (; k >= 0 && decoder.end_of_input == 0; --k) {
      const int bit = plain_decode_bit(decoder, coding.row->predict(coding.state));
      coding.row->update(coding.state, bit);
      byte |= bit << k;
    }
    if (k < 0) plain_unpacker_put(unpacker, byte);  // an incomplete byte is dropped
  }
  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  if (unpacker.end == 0) return Status::truncated_stream;
  if (!writer_commit(writer)) return stream_status(reader, writer);
  return Status::ok;
}

// Runs job(reader, writer) with the reader over `input` and the writer
// appending to `output`.
template <class Job>
Status run_in_memory(const std::vector<std::uint8_t>& input, std::vector<std::uint8_t>& output,
                     Job job) {
  output.clear();
  MemorySource source{input.data(), input.size()};
  VectorSink sink{&output};
  ByteReader reader;
  ByteWriter writer;
  if (reader_open_function(reader, &MemorySource::read, &source) != Status::ok ||
      writer_open_function(writer, &VectorSink::write, &sink) != Status::ok) {
    return Status::out_of_memory;
  }
  return job(reader, writer);
}

}  // namespace

moltavex::Status plain_compress(const std::vector<std::uint8_t>& input,
                                std::vector<std::uint8_t>& output, int model, int order) {
  return static_cast<moltavex::Status>(
      run_in_memory(input, output, [&](ByteReader& reader, ByteWriter& writer) {
        return compress_streams_plainly(reader, writer, model, order);
      }));
}

moltavex::Status plain_decompress(const std::vector<std::uint8_t>& input,
                                  std::vector<std::uint8_t>& output) {
  return static_cast<moltavex::Status>(run_in_memory(input, output, decompress_streams_plainly));
}

}  // namespace mx::bench
