#include "coder/arith.h"

namespace mx {

void encoder_finish(ArithEncoder& encoder) {
  for (int i = 0; i < 32; ++i) encode_bit(encoder, 0, 0x80000000u);
  writer_drain(*encoder.stream);
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
