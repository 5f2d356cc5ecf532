// Decompression driver: the header names the model and order; bits are then
// decoded (predict, decode, update), collected into bytes from bit 7 down
// and handed to the run-length unpacker, until it takes the end marker.
#include <memory>

#include "coder/arith.h"
#include "models/registry.h"
#include "pipeline/drivers.h"
#include "pipeline/page_policy.h"
#include "pipeline/run_length.h"

namespace mx {

namespace {

// Decodes the eight bits of one byte, most significant first, taking coded
// bytes from fetch() (see decode_step).
template <class Model, bool kPrefetch, bool kBelowLimit, class Fetch>
inline int decode_byte(Model& model, DecoderRegisters& coder, Fetch&& fetch) {
  return model.template code_byte<kPrefetch, false, kBelowLimit>([&](int, Prob32 p) {
    std::uint64_t mid;
    std::int32_t last_byte;
    return decode_step(coder, p, mid, last_byte, fetch);
  });
}

// Decodes bytes from `in` into `out` while they are literals, the input
// holds a whole byte's worth of coded bytes (in < in_last) and the output
// has room; returns the last byte decoded, written out unless it is an
// escape byte. It calls nothing, so that the compiler keeps the model, the
// coder and both positions in registers (see decode_all). kBelowLimit: the
// job will have decoded fewer than bits_before_any_halving bits by the end
// of the stretch.
template <class Model, bool kPrefetch, bool kBelowLimit>
MX_NOINLINE int decode_stretch(Model& shared_model, DecoderRegisters& shared_coder,
                               const std::uint8_t*& shared_in, const std::uint8_t* in_last,
                               std::uint8_t*& shared_out, std::uint8_t* out_end) {
  DecoderRegisters coder = shared_coder;
  const std::uint8_t* in = shared_in;
  std::uint8_t* out = shared_out;
  Model model = shared_model;  // the model's state in this frame (see model.h)
  int byte;
  do {
    byte =
        decode_byte<Model, kPrefetch, kBelowLimit>(model, coder, [&in]() -> int { return *in++; });
    if (byte == escape_byte) break;
    *out++ = static_cast<std::uint8_t>(byte);
  } while (in < in_last && out < out_end);
  shared_model = model;
  shared_coder = coder;
  shared_in = in;
  shared_out = out;
  return byte;
}

// The decoding loop, instantiated once per model class.
//
// Most of the time it runs decode_stretch: while the input buffer holds
// enough coded bytes for a whole output byte (8 steps of at most 4 bytes)
// and the output buffer has room, literal bytes are decoded straight from
// the one into the other. An escape byte, a buffer boundary, the end of the
// input and the end marker go through the general path: one byte at a time
// through the reader and the run-length unpacker.
template <class Model, bool kPrefetch>
MX_NOINLINE void decode_all(ArithDecoder& decoder, RunUnpacker& unpacker, Model& model,
                            TablePages& pages) {
  constexpr std::uint32_t stretch_input = 8 * max_bytes_per_bit;
  ByteWriter& writer = *unpacker.stream;
  ByteReader& reader = *decoder.stream;
  decoder_prime(decoder);
  DecoderRegisters coder = decoder_registers(decoder);
  std::uint64_t bytes_decoded = 0;  // in this job, whole bytes
  while (unpacker.end == 0) {
    pages.after(bytes_decoded);
    const StreamWindow<const std::uint8_t> input = reader_window(reader);
    const StreamWindow<std::uint8_t> output = writer_window(writer);
    if (input.size > stretch_input && output.size != 0 && unpacker.previous != escape_byte) {
      const std::uint8_t* in = input.data;
      std::uint8_t* out = output.data;
      std::uint8_t* const out_end = output.data + output.size;
      const std::uint8_t* const in_last = input.data + input.size - stretch_input;
      // A stretch decodes at most the literals that fit, and an escape.
      const std::uint64_t most = bytes_decoded + output.size + 1;
      const int byte =
          most < bits_before_any_halving / 8
              ? decode_stretch<Model, kPrefetch, true>(model, coder, in, in_last, out, out_end)
              : decode_stretch<Model, kPrefetch, false>(model, coder, in, in_last, out, out_end);
      bytes_decoded +=
          static_cast<std::uint64_t>(out - output.data) + (byte == escape_byte ? 1 : 0);
      reader_consume(reader, static_cast<std::size_t>(in - input.data));
      writer_produce(writer, static_cast<std::size_t>(out - output.data));
      if (byte != escape_byte) {
        // The stretch ended on a literal, which has in effect passed the
        // unpacker: no escape is open.
        unpacker.current = byte;
        unpacker.previous = byte;
        unpacker.run = 0;
        continue;
      }
      unpacker_put(unpacker, byte);
    } else {
      // The bit that ran into the end of the input is still used; decoding
      // stops before the next one (no further reads), and an incomplete
      // byte is dropped.
      int byte = 0;
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        if (coder.end_of_input != 0) goto done;
        std::uint64_t mid;
        std::int32_t last_read;
        const int bit = decode_step(coder, model.predict(), mid, last_read,
                                    [&reader] { return reader_get(reader); });
        model.update(bit);
        byte |= bit << k;
      }
      ++bytes_decoded;
      unpacker_put(unpacker, byte);
    }
    if (writer.failed) break;
  }
done:
  store_decoder_registers(decoder, coder);
}

}  // namespace

Status decompress_streams(ByteReader& reader, ByteWriter& writer, const Observer* observer,
                          std::uint64_t memory_limit, moltavex::StreamInfo* info) {
  JobWatch watch;
  watch_streams(watch, observer, reader, writer);
  const int header = reader_get(reader);
  if (header < 0) {
    return reader.failed ? stream_status(reader, writer) : Status::invalid_stream;
  }
  const int model = header >> 5;
  const int order = header & 0x1F;
  const ModelDescriptor* const descriptor = find_model(model);
  if (descriptor == nullptr) return Status::invalid_stream;
  const Status memory = check_memory(model, order, memory_limit);
  if (memory != Status::ok) return memory;

  if (observer != nullptr && observer->started != nullptr) {
    observer->started(observer->context, true, descriptor->info.name);
  }

  ArithDecoder decoder;
  decoder_create(decoder, reader);
  RunUnpacker unpacker;
  unpacker_create(unpacker, writer);

  const Status status = with_model(model, [&](auto tag) {
    using Model = typename decltype(tag)::type;
    const auto state = create_model<Model>(order);
    if (!state) return Status::out_of_memory;
    // The compressed size is all that is known in advance: the restored
    // data is at least about as long.
    TablePages pages(state->tables(), reader.expected_bytes);
    if (state->tables().size() >= decode_prefetch_from_bytes) {
      decode_all<Model, true>(decoder, unpacker, *state, pages);
    } else {
      decode_all<Model, false>(decoder, unpacker, *state, pages);
    }
    return Status::ok;
  });
  if (status != Status::ok) return status;

  reader_close(reader);
  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  if (unpacker.end == 0) return Status::truncated_stream;
  if (!writer_close(writer) || !writer_publish(writer)) return stream_status(reader, writer);
  report_progress(&watch);
  if (info != nullptr) {
    info->model = model;
    info->order = order;
    info->compressed_bytes = 1 + decoder.bytes_in + finish_bytes(decoder.low, decoder.high);
    info->original_bytes = writer.bytes_written;
  }
  return Status::ok;
}

}  // namespace mx
