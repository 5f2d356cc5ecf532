#include "coder/arith.h"

namespace mx {

// The finish: 32 zero bits at one half.
inline constexpr int finish_steps = 32;
inline constexpr Prob32 finish_probability = 0x80000000u;

void encoder_finish(ArithEncoder& encoder) {
  for (int i = 0; i < finish_steps; ++i) encode_bit(encoder, 0, finish_probability);
  writer_drain(*encoder.stream);
}

unsigned finish_bytes(std::uint64_t low, std::uint64_t high) {
  unsigned bytes = 0;
  for (int i = 0; i < finish_steps; ++i) {
    encode_step(low, high, 0, finish_probability, [&bytes](std::uint8_t) { ++bytes; });
  }
  return bytes;
}

void decoder_prime(ArithDecoder& decoder) {
  // A missing byte reads as -1, which sign-extends to all ones: the code
  // value then lies above every split and decodes zeros until the first
  // renormalisation finds the input exhausted.
  for (int i = 0; i < 4; ++i) {
    const std::int64_t v = reader_get(*decoder.stream);
    decoder.code = (decoder.code << 8) | static_cast<std::uint64_t>(v);
  }
  decoder.priming = 0;
}

}  // namespace mx
