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

// The decoding loop, instantiated once per model class. As in compression,
// the model and the coder state are local copies the compiler can keep in
// registers.
template <class Model, bool kPrefetch>
void decode_all(ArithDecoder& decoder, RunUnpacker& unpacker, Model& shared_model) {
  const ByteWriter& writer = *unpacker.stream;
  Model model(std::move(shared_model));
  ArithDecoder coder = decoder;
  decoder_prime(coder);
  while (unpacker.end == 0) {
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      // The bit that ran into the end of the input is still used; the loop
      // stops before the next one (no further reads), and an incomplete
      // byte is dropped.
      if (coder.end_of_input != 0) goto done;
      const int bit = decode_primed_bit(coder, model.predict());
      model.update(bit);
      if (kPrefetch) model.prefetch_ahead();
      byte |= bit << k;
    }
    unpacker_put(unpacker, byte);
    if (writer.failed) break;
  }
done:
  decoder = coder;
  shared_model = std::move(model);
}

}  // namespace

Status decompress_file(ByteReader& reader, ByteWriter& writer, const Observer* observer) {
  JobWatch watch;
  watch_streams(watch, observer, reader, writer);
  const int header = reader_get(reader);
  if (header < 0) {
    return reader.failed ? stream_status(reader, writer) : Status::invalid_stream;
  }
  const int model = header >> 5;
  const int order = header & 0x1F;
  if (model >= model_count) return Status::invalid_stream;

  if (observer != nullptr && observer->started != nullptr) {
    observer->started(observer->context, true, model_table[model].name);
  }

  ArithDecoder decoder;
  decoder_create(decoder, reader);
  RunUnpacker unpacker;
  unpacker_create(unpacker, writer);

  const bool created = with_model(model, [&](auto tag) {
    using Model = typename decltype(tag)::type;
    std::unique_ptr<Model> state(Model::create(order));
    if (!state) return false;
    if (state->storage.size() >= prefetch_from_bytes) {
      decode_all<Model, true>(decoder, unpacker, *state);
    } else {
      decode_all<Model, false>(decoder, unpacker, *state);
    }
    return true;
  });
  if (!created) return Status::out_of_memory;

  reader_close(reader);
  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  if (unpacker.end == 0) return Status::truncated_stream;
  if (!writer_close(writer)) return stream_status(reader, writer);
  writer.complete = true;
  return Status::ok;
}

}  // namespace mx
