// Bit counters: map the bits seen in one context to the probability of a 0.
//
// A BitCounter counts `zeros` (the 0 bits seen, plus one) and `total` (all
// bits seen, plus two), so a fresh counter holds {1, 2}. The fields store
// zeros - 1 and total - 2, which makes an all-zero counter fresh: tables
// are zeroed memory and never filled. The probability of a 0 is
// zeros * 0xFFFFFFFF / total, truncated (a fresh counter gives 0x7FFFFFFF).
//
// Limit: `total` never passes 0xFFFFFFFF. An update that finds it there
// first halves the history (the counts of zeros and of ones seen, each
// rounded down), then counts the bit as usual.
//
// The coding loops carry a counter as one 64-bit counter word:
// zeros - 1 in the low half, total - 2 in the high half. Counting a bit is
// then one addition of an addend, 2^32 (total + 1) plus 1 for a 0 bit
// (zeros + 1); the low half never carries, since zeros - 1 < total - 1 <=
// 0xFFFFFFFE. In memory a counter is the same 8 bytes either way.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/compiler.h"
#include "common/prob32.h"

namespace mx {

struct BitCounter {
  std::uint32_t zeros_less_one = 0;
  std::uint32_t total_less_two = 0;

  std::uint32_t zeros() const { return zeros_less_one + 1; }
  std::uint32_t total() const { return total_less_two + 2; }

  static BitCounter from_counts(std::uint32_t zeros, std::uint32_t total) {
    return BitCounter{zeros - 1, total - 2};
  }
};

inline constexpr std::uint32_t bit_counter_limit_less_two = 0xFFFFFFFFu - 2;

// No counter can be at the limit before this many bits have been coded in
// a job: every counter starts fresh with its job's tables, a coded bit
// counts into any one counter at most once, and halving only lowers a
// total. (That is 536 MB of transformed data.) A coding loop that stays
// below it may leave out the limit check (kBelowLimit below).
inline constexpr std::uint64_t bits_before_any_halving = bit_counter_limit_less_two;

inline Prob32 counter_predict(const BitCounter& c) {
  // zeros * (2^32 - 1) = (zeros - 1) * 2^32 + (2^32 - zeros): the upper
  // word of the dividend is the stored zeros - 1 and the lower word its
  // complement, with no 64-bit product to form. zeros < total, so the
  // quotient fits in 32 bits.
  return divide_to_32(c.zeros_less_one, ~c.zeros_less_one, c.total_less_two + 2);
}

// The counter after halving its history; taken and returned by value, so
// that a counter held in registers never needs an address for this rare
// call.
BitCounter counter_halve(BitCounter c);

// Counts a bit given as `zero`: 1 for a 0 bit, 0 for a 1 bit. kBelowLimit:
// the caller knows the counter is below the limit.
template <bool kBelowLimit = false>
inline void counter_update_zero(BitCounter& c, std::uint32_t zero) {
  if (!kBelowLimit && c.total_less_two == bit_counter_limit_less_two) c = counter_halve(c);
  c.total_less_two += 1;
  c.zeros_less_one += zero;
}

template <bool kBelowLimit = false>
inline void counter_update(BitCounter& c, int bit) {
  counter_update_zero<kBelowLimit>(c, static_cast<std::uint32_t>(bit ^ 1));
}

// Counter words (see above). The load and store put zeros - 1, stored
// first, in the low half on every byte order.
inline std::uint64_t counter_word_from_memory(std::uint64_t native) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return native << 32 | native >> 32;
#else
  return native;
#endif
}

inline std::uint64_t load_counter_word(const void* counter) {
  std::uint64_t word;
  std::memcpy(&word, counter, 8);
  return counter_word_from_memory(word);
}

inline void store_counter_word(void* counter, std::uint64_t word) {
  word = counter_word_from_memory(word);  // the swap is its own inverse
  std::memcpy(counter, &word, 8);
}

inline std::uint64_t counter_word_of(const BitCounter& c) {
  return c.zeros_less_one | std::uint64_t{c.total_less_two} << 32;
}

inline Prob32 counter_word_predict(std::uint64_t word) {
  const auto zeros_less_one = static_cast<std::uint32_t>(word);
  return divide_to_32(zeros_less_one, ~zeros_less_one, static_cast<std::uint32_t>(word >> 32) + 2);
}

// counter_halve on a word; taking and returning the word alone, the rare
// call needs nothing else of the caller's kept for it.
std::uint64_t counter_word_halve(std::uint64_t word);

// Counts a bit into a word, given as its addend. The total never passes
// the limit, so the word is at the limit exactly when it is at least
// limit * 2^32: one comparison of the whole word.
template <bool kBelowLimit = false>
inline std::uint64_t counter_word_add(std::uint64_t word, std::uint64_t addend) {
  if (!kBelowLimit && word >= std::uint64_t{bit_counter_limit_less_two} << 32)
    word = counter_word_halve(word);
  return word + addend;
}

// The addend of a bit (0 or 1).
inline constexpr std::uint64_t counter_addend(int bit) {
  return ((std::uint64_t{1} << 32) + 1) - static_cast<std::uint32_t>(bit);
}

template <bool kBelowLimit = false>
inline std::uint64_t counter_word_update(std::uint64_t word, int bit) {
  return counter_word_add<kBelowLimit>(word, counter_addend(bit));
}

// Maps a byte known in advance to the addends of its bits: rows[byte][k]
// counts bit k. Built at compile time (16 KiB, of which text touches a
// few rows).
struct KnownBitAddends {
  std::uint64_t rows[256][8];

  constexpr KnownBitAddends() : rows{} {
    for (int c = 0; c < 256; ++c) {
      for (int k = 0; k < 8; ++k) rows[c][k] = counter_addend((c >> k) & 1);
    }
  }

  const std::uint64_t* of_byte(int byte) const { return rows[byte & 0xFF]; }
};

inline constexpr KnownBitAddends known_bit_addends{};

// Counts bit k of a known byte, whose addends row is `addends`, into the
// counter at `counter`.
template <bool kBelowLimit = false>
inline void counter_count_known(void* counter, const std::uint64_t* addends, int k) {
  store_counter_word(counter,
                     counter_word_add<kBelowLimit>(load_counter_word(counter), addends[k]));
}

}  // namespace mx

// Speed
//
// Kept as two 32-bit fields, compilers tend to pack a counter into a vector
// register and take it apart again on every bit; one word is one load, one
// store and one addition. Taking a known byte's row of addends once and
// adding from it spares shifting each bit out of the byte and masking it,
// two instructions on every bit. Leaving out the limit check below
// bits_before_any_halving spares a comparison and a branch on every bit.
