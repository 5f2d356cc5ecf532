// The running hash of models 4 and 5: maps everything coded so far, and a
// bit position, to a table index.
//
// The hash is 64 bits wide and always below 2^61. Bits are XORed in at a
// position that runs 7, 6, ..., 0 within one hash step; the bit taken at
// position 0 ends the step, after which the hash is multiplied by 192 and
// cut to 61 bits, and the position returns to 7. Since 192 = 3 * 64, bits
// 0..5 are 0 at the start of every step. The entry for the next bit is the
// window of `order` bits at the position: (hash >> position) AND mask,
// which slides down by one as the step fills in.
//
// The Hashed Bitwise Model starts at position 7, so its steps are bytes;
// the Combined Model starts at position 0, one bit out of phase, so that
// its every step covers bits 6..0 of one byte and bit 7 of the next.
#pragma once

#include <cstdint>

namespace mx {

struct RunningHash {
  static constexpr std::uint64_t kept = 0x1FFFFFFFFFFFFFFFull;

  // The hash after a step ends.
  static std::uint64_t after_step(std::uint64_t hash) { return (hash * 192) & kept; }

  // Takes `bit` at `position` (7..0).
  static void take_bit(std::uint64_t& hash, std::int32_t& position, int bit) {
    hash ^= static_cast<std::uint64_t>(bit) << position;
    if (position == 0) {
      hash = after_step(hash);
      position = 7;
    } else {
      --position;
    }
  }

  static std::uint64_t window(std::uint64_t hash, int position, std::uint64_t mask) {
    return (hash >> position) & mask;
  }

  // The Hashed Bitwise Model's hash at bit k of a byte known in advance,
  // from the hash at the start of the byte: the byte's bits above k taken.
  static std::uint64_t with_bits_above(std::uint64_t hash, std::uint64_t byte, int k) {
    return hash ^ (byte & ~((std::uint64_t{2} << k) - 1));
  }
};

}  // namespace mx
