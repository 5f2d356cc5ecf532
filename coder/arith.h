// Binary arithmetic coder.
//
// The coder keeps an inclusive interval [low, high] in unsigned 64-bit
// bounds. For each bit it splits the interval by the probability p (in units
// of 2^-32) that the bit is 0: the lower part [low, mid] codes a 1, the upper
// part [mid + 1, high] a 0, the upper part holding about range * p / 2^32
// values. Whenever bits 24..31 of low and high agree, that byte is settled:
// the encoder emits it and both bounds shift left by 8 (high filling with
// 0xFF). Bytes are final once emitted; there is no carry propagation.
//
// Invariant at the start of every step: low <= high, the upper 32-bit words
// of the bounds are equal (they hold the last four bytes shifted out), and
// bits 24..31 of the bounds differ, so the range is between 1 and 2^32 - 1.
// The product range * p therefore never overflows 64 bits.
//
// Degenerate split. When the range is 1, or 2 with p below one half, the
// plain split leaves no value for a 0 bit. The shared split then moves mid
// one below high, giving the 0 bit the single value high. Streams that never
// meet this state are unaffected; those that do still decode exactly.
//
// The decoder repeats the encoder's arithmetic step for step and compares a
// code value, a 64-bit window of the coded bytes, with mid. It primes the
// window with four bytes on its first call and, after the last data bit, has
// read four bytes more than the encoder had emitted up to that bit; the
// encoder's finish (32 bits at one half) supplies at least those four.
#pragma once

#include <cstdint>

#include "common/compiler.h"
#include "common/prob32.h"
#include "io/streams.h"

namespace mx {

// Split point of [low, high] for a 0-probability p: bit 1 takes [low, mid],
// bit 0 takes [mid + 1, high].
//
// Since t = floor(range * p / 2^32) is below the range, a nonzero t always
// gives low < mid < high and no correction applies; only t = 0 (a tiny p or
// a tiny range) takes the corrections, off the common path.
inline std::uint64_t split_interval(std::uint64_t low, std::uint64_t high, Prob32 p) {
  const std::uint64_t range = high - low;
  const std::uint64_t t = (range * p) >> 32;
  if (t != 0) return high - t;
  std::uint64_t mid = high - 2;  // t = 0: leave the 0 bit the two top values
  if (mid <= low) mid += 2;
  if (mid >= high) mid = high - 1;  // degenerate interval: 0 bit keeps `high`
  return mid;
}

inline bool top_bytes_agree(std::uint64_t low, std::uint64_t high) {
  return ((low ^ high) & 0xFF000000u) == 0;
}

// The coder records. encode_bit and decode_bit keep every field current;
// the drivers' coding loops work on local copies of the bounds (and code
// value and counts) and store those back, leaving `mid`, `last_bit` and
// `last_byte`, which describe a single step, as they were.
struct ArithEncoder {
  ByteWriter* stream = nullptr;
  std::int32_t priming = 1;  // unused by the encoder
  std::uint64_t low = 0;
  std::uint64_t high = 0xFFFFFFFFu;
  std::uint64_t mid = 0;
  std::uint64_t bytes_out = 0;  // bytes emitted so far
};

struct ArithDecoder {
  ByteReader* stream = nullptr;
  std::int32_t priming = 1;  // 1 until the first call has loaded the code value
  std::uint64_t low = 0;
  std::uint64_t high = 0xFFFFFFFFu;
  std::uint64_t mid = 0;
  std::uint64_t code = 0;
  std::int32_t last_bit = 0;
  std::int32_t last_byte = 0;  // last value from reader_get in renormalisation
  std::uint64_t bytes_in = 0;  // bytes shifted into `code` after priming
  std::int32_t end_of_input = 0;
};

inline void encoder_create(ArithEncoder& encoder, ByteWriter& writer) {
  encoder = ArithEncoder{};
  encoder.stream = &writer;
}

inline void decoder_create(ArithDecoder& decoder, ByteReader& reader) {
  decoder = ArithDecoder{};
  decoder.stream = &reader;
}

// Shifts out the bytes a step has settled, handing each to emit(byte).
template <class Emit>
inline void encode_renormalise(std::uint64_t& low, std::uint64_t& high, Emit&& emit) {
  while (top_bytes_agree(low, high)) {
    emit(static_cast<std::uint8_t>(low >> 24));
    high = (high << 8) | 0xFF;
    low <<= 8;
  }
}

// One encoding step on bare bounds: codes `bit` (1 codes a 1, any other
// value a 0) under the 0-probability p, hands each settled byte to
// emit(byte) and returns the split point. encode_bit runs it on the record.
template <class Emit>
inline std::uint64_t encode_step(std::uint64_t& low, std::uint64_t& high, int bit, Prob32 p,
                                 Emit&& emit) {
  const std::uint64_t mid = split_interval(low, high, p);
  choose_part_if_one(low, high, bit, mid);  // without a branch (see "Speed")
  encode_renormalise(low, high, emit);
  return mid;
}

// The same step for bit k (0..7) of a byte known in advance, tested where
// it lies in the byte. The compression loop codes its bits this way,
// keeping the bounds in local variables for a whole stretch and emitting
// straight into the output buffer.
template <class Emit>
inline void encode_step_of_byte(std::uint64_t& low, std::uint64_t& high, std::uint32_t byte, int k,
                                Prob32 p, Emit&& emit) {
  choose_part_by_bit(low, high, byte, k, split_interval(low, high, p));
  encode_renormalise(low, high, emit);
}

// A step moves at most four bytes out (or in): after four shifts the low
// 32 bits of the bounds are all zeros and all ones, whose top bytes differ.
inline constexpr unsigned max_bytes_per_bit = 4;

inline void encode_bit(ArithEncoder& e, int bit, Prob32 p) {
  e.mid = encode_step(e.low, e.high, bit, p, [&e](std::uint8_t byte) {
    writer_put(*e.stream, byte);
    ++e.bytes_out;
  });
}

// Ends the coded body: 32 zero bits at one half flush the interval (four
// bytes of `high`, then up to three 0xFF), then the writer is drained.
void encoder_finish(ArithEncoder& encoder);

// The number of bytes (4 to 7) that encoder_finish puts out from bounds
// [low, high]. A decoder that has just decoded the last data bit holds the
// encoder's bounds and has read four body bytes more than the encoder had
// emitted: the body is therefore bytes_in + finish_bytes(low, high) long.
unsigned finish_bytes(std::uint64_t low, std::uint64_t high);

void decoder_prime(ArithDecoder& decoder);

// The state a decoding step changes, as plain values: the decompression
// loop holds one in local variables for a whole job, so that nothing of it
// lives in memory that a table store or a buffer refill might touch.
struct DecoderRegisters {
  std::uint64_t low;
  std::uint64_t high;
  std::uint64_t code;
  std::uint64_t bytes_in;
  std::int32_t end_of_input;
};

// The decision of a decoding step: the bit coded under the 0-probability
// p, with the interval narrowed to its part (before renormalisation).
inline int decide_bit(DecoderRegisters& r, Prob32 p, std::uint64_t& mid) {
  mid = split_interval(r.low, r.high, p);
  if (r.code <= mid) {  // by a branch, deliberately (see "Speed")
    r.high = mid;
    return 1;
  }
  r.low = mid + 1;
  return 0;
}

// One decoding step of a primed decoder: the bit coded under the
// 0-probability p. Renormalisation takes bytes from fetch(), which returns
// a byte or -1 when the input has run out; then `end_of_input` is set and
// the bit is still valid. `mid` receives the split point and `last_byte`
// the last value fetched, if any.
template <class Fetch>
inline int decode_step(DecoderRegisters& r, Prob32 p, std::uint64_t& mid, std::int32_t& last_byte,
                       Fetch&& fetch) {
  const int bit = decide_bit(r, p, mid);
  while (top_bytes_agree(r.low, r.high)) {
    const int v = fetch();
    last_byte = v;
    if (v < 0) {
      r.end_of_input = 1;
      break;
    }
    r.code = (r.code << 8) | static_cast<std::uint64_t>(v);
    r.high = (r.high << 8) | 0xFF;
    r.low <<= 8;
    ++r.bytes_in;
  }
  return bit;
}

inline DecoderRegisters decoder_registers(const ArithDecoder& d) {
  return DecoderRegisters{d.low, d.high, d.code, d.bytes_in, d.end_of_input};
}

inline void store_decoder_registers(ArithDecoder& d, const DecoderRegisters& r) {
  d.low = r.low;
  d.high = r.high;
  d.code = r.code;
  d.bytes_in = r.bytes_in;
  d.end_of_input = r.end_of_input;
}

// Decodes one bit coded under the 0-probability p, priming the decoder on
// the first call. When the input runs out during renormalisation,
// `end_of_input` is set and the bit is still valid.
inline int decode_bit(ArithDecoder& d, Prob32 p) {
  if (d.priming != 0) decoder_prime(d);
  DecoderRegisters r = decoder_registers(d);
  d.last_bit = decode_step(r, p, d.mid, d.last_byte, [&d] { return reader_get(*d.stream); });
  store_decoder_registers(d, r);
  return d.last_bit;
}

}  // namespace mx

// Speed
//
// - Encoding: data bits are unpredictable, so the interval is chosen with
//   conditional moves (choose_part_if_one, choose_part_by_bit in
//   common/compiler.h); a branch would mispredict on every surprise. For a
//   byte known in advance the bit is tested where it lies in the byte,
//   never extracted into a register of its own (three instructions per
//   bit).
// - Decoding takes a branch on the comparison, deliberately: the decoded
//   bit feeds the next context, and a predicted branch lets the processor
//   start the next bit's table load and division before the comparison is
//   done. When the model predicts well (most bits) that hides the whole
//   chain; a select would wait for it.
