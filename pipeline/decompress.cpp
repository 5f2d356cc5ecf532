// Decompression driver: the header names the model and order; bits are then
// decoded (predict, decode, update), collected into bytes from bit 7 down
// and handed to the run-length unpacker, until it takes the end marker.
#include <memory>

#include "coder/arith.h"
#include "models/model_table.h"
#include "pipeline/drivers.h"
#include "pipeline/run_length.h"

namespace mx {

namespace {

template <class Model>
void decode_all(ArithDecoder& decoder, RunUnpacker& unpacker, Model& model) {
  const ByteWriter& writer = *unpacker.stream;
  while (unpacker.end == 0) {
    int byte = 0;
    for (int k = 7; k >= 0; --k) {
      // The bit that ran into the end of the input is still used; the loop
      // stops before the next one, and an incomplete byte is dropped.
      if (decoder.end_of_input != 0) return;
      const int bit = decode_bit(decoder, model.predict());
      model.update(bit);
      byte |= bit << k;
    }
    unpacker_put(unpacker, byte);
    if (writer.failed) return;
  }
}

}  // namespace

Status decompress_file(ByteReader& reader, ByteWriter& writer, const JobObserver* observer) {
  const int header = reader_get(reader);
  if (header < 0) return reader.failed ? Status::read_failed : Status::invalid_stream;
  const int model = header >> 5;
  const int order = header & 0x1F;
  if (model >= model_count) return Status::invalid_stream;

  if (observer != nullptr && observer->started != nullptr) {
    observer->started(observer->context, JobKind::decoding, model_table[model].name);
  }

  ArithDecoder decoder;
  decoder_create(decoder, reader);
  RunUnpacker unpacker;
  unpacker_create(unpacker, writer);

  const bool created = with_model(model, [&](auto tag) {
    using Model = typename decltype(tag)::type;
    std::unique_ptr<Model> state(Model::create(order));
    if (!state) return false;
    decode_all(decoder, unpacker, *state);
    return true;
  });
  if (!created) return Status::out_of_memory;

  reader_close(reader);
  if (reader.failed) return Status::read_failed;
  if (writer.failed) return Status::write_failed;
  if (unpacker.end == 0) return Status::truncated_stream;
  if (!writer_close(writer)) return Status::write_failed;
  writer.complete = true;
  return Status::ok;
}

}  // namespace mx
