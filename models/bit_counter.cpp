#include "models/bit_counter.h"

namespace mx {

// Called when `total` is at 0xFFFFFFFF, before the update that would wrap
// it: keeps half of the zeros and half of the ones seen (rounded down), so
// the counter goes on adapting with its proportions about unchanged.
BitCounter counter_halve(BitCounter c) {
  const std::uint32_t zeros_seen = c.zeros_less_one;
  const std::uint32_t ones_seen = c.total_less_two - c.zeros_less_one;
  return BitCounter{zeros_seen >> 1, (zeros_seen >> 1) + (ones_seen >> 1)};
}

std::uint64_t counter_word_halve(std::uint64_t word) {
  const BitCounter c = counter_halve(
      BitCounter{static_cast<std::uint32_t>(word), static_cast<std::uint32_t>(word >> 32)});
  return counter_word_of(c);
}

}  // namespace mx
