// Decompression driver: the header names the model and order; bits are then
// decoded (predict, decode, update), collected into bytes from bit 7 down
// and handed to the run-length unpacker, until it takes the end marker.
#include <algorithm>
#include <memory>
#include <new>

#include "coder/arith.h"
#include "models/registry.h"
#include "pipeline/coding_jobs.h"
#include "pipeline/drivers.h"
#include "pipeline/header.h"
#include "pipeline/page_policy.h"
#include "pipeline/record.h"
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
// Most of the time it runs decode_stretch: while the input holds enough
// coded bytes for a whole output byte (8 steps of at most 4 bytes) and the
// output has room, literal bytes are decoded straight from the one into
// the other. An escape byte, the last bytes of the input and the end marker
// go the general way: bit by bit through predict and update, each byte
// handed to the unpacker. There a bit is decided from the code value at
// hand, and the bytes its renormalisation shifts in may arrive later (they
// are owed), so that the input can end anywhere and resume.
template <class Model, bool kPrefetch>
class DecodeJobOf final : public DecodeJob {
 public:
  DecodeJobOf(std::unique_ptr<OwnedModel<Model>> model, ByteWriter& writer,
              std::uint64_t expected_bytes)
      : model_(std::move(model)),
        pages_(model_->tables(), expected_bytes),
        expected_input_(expected_bytes) {
    unpacker_create(unpacker, writer);
  }

  MX_NOINLINE Stop decode(ByteReader& input, bool final) override {
    constexpr std::size_t stretch_input = 8 * max_bytes_per_bit;
    ByteWriter& writer = *unpacker.stream;
    for (;;) {
      if (unpacker.end != 0 || coder.end_of_input != 0) return Stop::ended;
      if (!prime(input, final) || !pay_owed(input, final)) return Stop::needs_input;
      // The bit that ran into the end of the input is used; decoding stops
      // before the next one, and an incomplete byte is dropped.
      if (coder.end_of_input != 0) return Stop::ended;
      if (pages_.checks_at(bytes_decoded)) pages_.after(bytes_decoded, expected_total());
      const StreamWindow<const std::uint8_t> in_window = reader_window(input);
      const StreamWindow<std::uint8_t> out_window = writer_window(writer);
      if (bits_done_ == 0 && in_window.size > stretch_input && out_window.size != 0 &&
          unpacker.previous != escape_byte) {
        const std::uint8_t* in = in_window.data;
        std::uint8_t* out = out_window.data;
        // A stretch ends at the tables' next page check, if that comes first.
        const std::size_t room = static_cast<std::size_t>(
            std::min<std::uint64_t>(out_window.size, pages_.bytes_to_check(bytes_decoded)));
        std::uint8_t* const out_end = out_window.data + room;
        const std::uint8_t* const in_last = in_window.data + in_window.size - stretch_input;
        // A stretch decodes at most the literals that fit, and an escape.
        const std::uint64_t most = bytes_decoded + room + 1;
        Model& model = *model_;
        const int byte =
            most < bits_before_any_halving / 8
                ? decode_stretch<Model, kPrefetch, true>(model, coder, in, in_last, out, out_end)
                : decode_stretch<Model, kPrefetch, false>(model, coder, in, in_last, out, out_end);
        bytes_decoded +=
            static_cast<std::uint64_t>(out - out_window.data) + (byte == escape_byte ? 1 : 0);
        reader_consume(input, static_cast<std::size_t>(in - in_window.data));
        writer_produce(writer, static_cast<std::size_t>(out - out_window.data));
        if (byte != escape_byte) {
          // The stretch ended on a literal, which has in effect passed the
          // unpacker: no escape is open.
          unpacker.current = byte;
          unpacker.previous = byte;
          unpacker.run = 0;
        } else {
          unpacker_put(unpacker, byte);
        }
        continue;
      }
      // (A writer whose whole buffer is smaller drains itself as it fills.)
      if (bits_done_ == 0 && out_window.size < max_unit_bytes && writer.length != 0) {
        return Stop::needs_room;
      }
      decode_bit(input, final);
    }
  }

 private:
  // Loads the code value's first four bytes; a missing byte at the end of
  // the input reads as -1, all ones. False while input is awaited.
  bool prime(ByteReader& input, bool final) {
    while (primed_ < 4) {
      const StreamWindow<const std::uint8_t> window = reader_window(input);
      std::int64_t v = -1;
      if (window.size != 0) {
        v = window.data[0];
        reader_consume(input, 1);
      } else if (!final) {
        return false;
      }
      coder.code = (coder.code << 8) | static_cast<std::uint64_t>(v);
      ++primed_;
    }
    return true;
  }

  // Shifts the owed bytes into the code value; at the end of the input,
  // marks it. False while input is awaited.
  bool pay_owed(ByteReader& input, bool final) {
    while (owed != 0) {
      const StreamWindow<const std::uint8_t> window = reader_window(input);
      if (window.size == 0) {
        if (!final) return false;
        coder.end_of_input = 1;
        owed = 0;
        return true;
      }
      coder.code = (coder.code << 8) | window.data[0];
      ++coder.bytes_in;
      reader_consume(input, 1);
      --owed;
    }
    return true;
  }

  // One bit through predict and update, as decode_step decodes it.
  void decode_bit(ByteReader& input, bool final) {
    OwnedModel<Model>& model = *model_;
    std::uint64_t mid;
    const int bit = decide_bit(coder, model.predict(), mid);
    model.update(bit);
    while (top_bytes_agree(coder.low, coder.high)) {
      coder.high = (coder.high << 8) | 0xFF;
      coder.low <<= 8;
      ++owed;
    }
    (void)pay_owed(input, final);
    byte_ = (byte_ << 1) | bit;
    if (++bits_done_ == 8) {
      ++bytes_decoded;
      unpacker_put(unpacker, byte_);
      byte_ = 0;
      bits_done_ = 0;
    }
  }

  // The data the whole input restores, at the ratio so far (0: unknown).
  std::uint64_t expected_total() const {
    if (expected_input_ == 0 || coder.bytes_in == 0) return 0;
    return static_cast<std::uint64_t>(static_cast<double>(expected_input_) *
                                      static_cast<double>(bytes_decoded) /
                                      static_cast<double>(coder.bytes_in));
  }

  std::unique_ptr<OwnedModel<Model>> model_;
  TablePages pages_;
  std::uint64_t expected_input_;  // the compressed input's size; 0: unknown
  unsigned primed_ = 0;           // bytes of the code value loaded, 0..4
  int bits_done_ = 0;             // bits of the current byte decoded, 0..7
  int byte_ = 0;                  // those bits
};

}  // namespace

std::unique_ptr<DecodeJob> make_decode_job(int model, int order, ByteWriter& writer,
                                           std::uint64_t expected_bytes) {
  return make_job_of<DecodeJob, DecodeJobOf>(model, order, decode_prefetch_from_bytes, writer,
                                             expected_bytes);
}

std::uint64_t stream_length(const DecodeJob& job) {
  // The bytes the last renormalisation owes are the body's too: a job can
  // reach the end marker with the input's window empty and them unpaid.
  return 1 + job.coder.bytes_in + job.owed + finish_bytes(job.coder.low, job.coder.high);
}

Status decompress_streams(ByteReader& reader, ByteWriter& writer, const Observer* observer,
                          std::uint64_t memory_limit, mvx_stream_info* info, bool whole_input) {
  JobWatch watch;
  watch_streams(watch, observer, reader, writer);
  const int header = reader_get(reader);
  if (header < 0) {
    return reader.failed ? stream_status(reader, writer) : Status::invalid_stream;
  }
  int model = 0, order = 0;
  if (!parse_header(static_cast<std::uint8_t>(header), model, order)) {
    return Status::invalid_stream;
  }
  const Status memory = check_memory(model, order, memory_limit);
  if (memory != Status::ok) return memory;
  announce_start(observer, true, model);

  // The compressed size is all that is known in advance: the restored data
  // is at least about as long.
  const std::unique_ptr<DecodeJob> job =
      make_decode_job(model, order, writer, reader.expected_bytes);
  if (!job) return Status::out_of_memory;
  // The restored data is hashed a buffer at a time, before each drain, in
  // case a record follows the body; a decoder that reads its whole input
  // also keeps the input's last bytes.
  DataHash data;
  InputTail tail;
  InputTail* const input_tail = whole_input ? &tail : nullptr;
  const std::uint8_t header_byte_read = static_cast<std::uint8_t>(header);
  if (input_tail != nullptr) input_tail->add(&header_byte_read, 1);
  bool final = false;
  for (;;) {
    // Keeping the window longer than a byte's worth keeps decoding on its
    // fast path across buffer boundaries.
    if (!final && reader_window(reader).size <= 8 * max_bytes_per_bit)
      final = !reader_top_up(reader);
    const std::uint32_t before = reader.position;
    const DecodeJob::Stop stop = job->decode(reader, final);
    if (input_tail != nullptr) input_tail->add(reader.buffer + before, reader.position - before);
    if (stop == DecodeJob::Stop::ended) break;
    if (stop == DecodeJob::Stop::needs_room) {
      data.update(writer.buffer, static_cast<std::size_t>(writer.length));
      writer_drain(writer);
      if (writer.failed) break;
    } else if (final) {
      break;
    } else {
      final = !reader_top_up(reader);
    }
  }

  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  if (job->unpacker.end == 0) {
    // Run out before the end marker. With the whole input, a valid record
    // that ends it, of a stream as long as the input, says the stream was
    // whole: damage made the body run on into its record.
    if (input_tail != nullptr) {
      read_to_end(reader, *input_tail);
      if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
      if (input_tail->ends_in_record()) return Status::corrupt;
    }
    return Status::truncated_stream;
  }
  data.update(writer.buffer, static_cast<std::size_t>(writer.length));
  const std::uint64_t body_length = stream_length(*job);
  const Trailer trailer = read_trailer(reader, body_length, data, input_tail);
  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  if (trailer == Trailer::corrupt) return Status::corrupt;
  if (trailer == Trailer::truncated) return Status::truncated_stream;
  const Status status = finish_job(reader, writer, watch);
  if (status == Status::ok && info != nullptr) {
    info->model = model;
    info->order = order;
    info->compressed_bytes = body_length + (trailer == Trailer::verified ? record_bytes : 0);
    info->original_bytes = writer.bytes_written;
    info->checksum = trailer == Trailer::verified ? 1 : 0;
    // Only a decoder that reads its whole input can tell what follows.
    const std::uint64_t length = info->compressed_bytes;
    info->trailing_data = whole_input && (trailer == Trailer::verified ? reader_peek(reader) >= 0
                                                                       : tail.seen() > length)
                              ? 1
                              : 0;
  }
  return status;
}

}  // namespace mx
