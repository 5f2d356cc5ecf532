// BitCounterPair: maps a context's last outcome to one of two bit counters.
//
// An entry holds two counters and the bit that followed the last time the
// entry served, which selects the counter for the next prediction. Packed
// at 17 bytes: counter 0 (zeros, total), counter 1 (zeros, total), last
// bit. Entries are therefore unaligned and are read and written through
// memcpy or the byte-addressed helpers. A zeroed entry is fresh: both
// counters {1, 2}, last bit 0. Used by models 3 and 5.
#pragma once

#include <cstdint>

#include "models/bit_counter.h"

namespace mx {

struct BitCounterPair {
  static constexpr unsigned size = 17;

  static unsigned last_bit(const unsigned char* entry) { return entry[16]; }
  // Only the low byte of `bit` is stored: it must be 0 or 1.
  static void set_last_bit(unsigned char* entry, std::uint64_t bit) {
    entry[16] = static_cast<unsigned char>(bit);
  }

  // The counter word (see bit_counter.h) that `which` (0 or 1) selects.
  static std::uint64_t load_word(const unsigned char* entry, std::uint64_t which) {
    return counter_word_from_memory(load_u64_at<size>(entry, which));
  }
  static void store_word(unsigned char* entry, std::uint64_t which, std::uint64_t word) {
    store_u64_at<size>(entry, which, counter_word_from_memory(word));
  }

  static BitCounter counter(const unsigned char* entry, unsigned which) {
    const std::uint64_t word = load_word(entry, which);
    return BitCounter{static_cast<std::uint32_t>(word), static_cast<std::uint32_t>(word >> 32)};
  }

  static Prob32 predict(const unsigned char* entry) {
    return counter_word_predict(load_word(entry, last_bit(entry)));
  }

  // The counter that predicted learns the bit; then the bit becomes the
  // entry's last bit. The other counter is left as it is.
  static void update(unsigned char* entry, int bit) {
    const unsigned last = last_bit(entry);
    store_word(entry, last, counter_word_update(load_word(entry, last), bit));
    set_last_bit(entry, bit);
  }
};

}  // namespace mx
