// Compression driver: header byte, then every transformed byte coded bit by
// bit (predict, encode, update), then the coder's finish.
#include <memory>

#include "coder/arith.h"
#include "models/model_table.h"
#include "pipeline/drivers.h"
#include "pipeline/run_length.h"

namespace mx {

namespace {

// Transformed bytes are taken from the packer this many bytes before they
// are coded, so that the model's lookahead can ask for their table entries
// while earlier bytes are coded: at high orders nearly every bit's entry
// is a cache miss, and in compression all of them are known in advance.
inline constexpr unsigned lookahead_bytes = 8;

// The coding loop, instantiated once per model class. The model and the
// coder state are worked on as local copies whose addresses never escape,
// so the compiler keeps them in registers: stores into tables and output
// buffers cannot alias them.
template <class Model, bool kPrefetch>
Status encode_all(RunPacker& packer, ArithEncoder& encoder, Model& shared_model) {
  const ByteWriter& writer = *encoder.stream;
  Model model(std::move(shared_model));
  ArithEncoder coder = encoder;
  Status status = Status::ok;

  typename Model::Lookahead lookahead;
  int queue[lookahead_bytes];
  unsigned head = 0, queued = 0;
  bool more = true;
  auto pull = [&](unsigned slot) {
    const int c = packer_get(packer);
    if (c < 0) {
      more = false;
      return false;
    }
    if (kPrefetch) lookahead.touch(model, c);
    queue[slot] = c;
    return true;
  };
  while (queued < lookahead_bytes && pull(queued)) ++queued;

  while (queued > 0) {
    const int c = queue[head];
    if (!more || !pull(head)) --queued;
    head = (head + 1) % lookahead_bytes;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      const int bit = (c >> k) & 1;
      encode_bit(coder, bit, model.predict());
      model.update(bit);
    }
    // A failed write cannot recover: stop rather than code the rest.
    if (writer.failed) {
      status = Status::write_failed;
      break;
    }
  }
  encoder = coder;
  shared_model = std::move(model);
  if (status == Status::ok) encoder_finish(encoder);
  return status;
}

}  // namespace

Status stream_status(const ByteReader& reader, const ByteWriter& writer) {
  if (reader.interrupted || writer.interrupted) return Status::interrupted;
  if (reader.failed) return Status::read_failed;
  if (writer.failed) return Status::write_failed;
  return Status::ok;
}

Status compress_streams(ByteReader& reader, ByteWriter& writer, int model, int order,
                        const Observer* observer) {
  if (model < 0 || model >= model_count || !valid_order(order)) return Status::invalid_argument;
  JobWatch watch;
  watch_streams(watch, observer, reader, writer);
  if (observer != nullptr && observer->started != nullptr) {
    observer->started(observer->context, false, model_table[model].name);
  }

  writer_put(writer, header_byte(model, order));
  if (!writer_commit(writer)) return stream_status(reader, writer);

  ArithEncoder encoder;
  encoder_create(encoder, writer);
  RunPacker packer;
  packer_create(packer, reader);

  const Status status = with_model(model, [&](auto tag) {
    using Model = typename decltype(tag)::type;
    std::unique_ptr<Model> state(Model::create(order));
    if (!state) return Status::out_of_memory;
    return state->storage.size() >= prefetch_from_bytes
               ? encode_all<Model, true>(packer, encoder, *state)
               : encode_all<Model, false>(packer, encoder, *state);
  });
  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  if (status != Status::ok) return status;

  reader_close(reader);
  if (!writer_close(writer)) return stream_status(reader, writer);
  writer.complete = true;
  return Status::ok;
}

Status compress_file(const char* input_name, const char* output_name, int model, int order,
                     const Observer* observer) {
  StreamPair pair;
  const Status status = open_streams(input_name, output_name, pair);
  if (status != Status::ok) return status;
  return compress_streams(pair.reader, pair.writer, model, order, observer);
}

}  // namespace mx
