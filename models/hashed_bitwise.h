// Hashed Bitwise Model (model 4): maps a window of a running hash of all
// data coded so far to a bit counter.
//
// The hash (running_hash.h) takes the bits of each byte at positions 7..0,
// so a step is a byte. Bit k of a byte (7 first) is predicted by the
// BitCounter at (hash >> k) AND mask. Per byte: with H the hash at the
// start of the byte and c its value, bit k reads entry
// ((H XOR (c with bits k..0 cleared)) >> k) AND mask, and the hash becomes
// ((H XOR c) * 192) mod 2^61.
// Memory: 8 * 2^order bytes.
#pragma once

#include "models/bit_counter.h"
#include "models/model.h"
#include "models/running_hash.h"

namespace mx {

struct HashedBitwiseModel {
  static constexpr ModelInfo info{4, "Hashed Bitwise Model", sizeof(BitCounter), 0};

  BitCounter* table;              // 2^order counters
  std::uint64_t history = 0;      // the running hash
  std::uint64_t mask;             // 2^order - 1
  std::int32_t bit_position = 7;  // of the next bit in its byte, 7..0

  HashedBitwiseModel(unsigned char* tables, std::int32_t order)
      : table(reinterpret_cast<BitCounter*>(tables)), mask(order_mask(order)) {}

  std::uint64_t current_index() const { return RunningHash::window(history, bit_position, mask); }

  Prob32 predict() const { return counter_predict(table[current_index()]); }

  void update(int bit) {
    counter_update(table[current_index()], bit);
    RunningHash::take_bit(history, bit_position, bit);
  }

  // bit_position is 7 at every byte boundary. kPrefetch: two bits on,
  // within the byte, only index bits 1 and 2 are unknown: one aligned block
  // of eight counters, one line.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    BitCounter* const t = table;
    const std::uint64_t m = mask;
    const std::uint64_t h = history;
    if (kBitsKnown) {
      const auto c = static_cast<std::uint64_t>(known);
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        BitCounter& e = t[RunningHash::window(RunningHash::with_bits_above(h, c, k), k, m)];
        p[k] = counter_predict(e);
        counter_count_known<kBelowLimit>(&e, addends, k);
      }
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) code(k, p[k]);
      history = RunningHash::after_step(h ^ c);
      return known;
    }
    std::uint64_t hash = h;
    std::int32_t position = 7;
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      BitCounter* const e = &t[RunningHash::window(hash, k, m)];
      const int bit = code(k, counter_predict(*e));
      counter_update<kBelowLimit>(*e, bit);
      RunningHash::take_bit(hash, position, bit);
      if (kPrefetch && k >= 3)
        prefetch(&t[RunningHash::window(hash, k - 3, m) & ~std::uint64_t{7}]);
      if (kPrefetch && k == 0) prefetch(&t[RunningHash::window(hash, 5, m) & ~std::uint64_t{7}]);
      byte = (byte << 1) | bit;
    }
    history = hash;
    return byte;
  }

  struct Lookahead {
    std::uint64_t history = 0;
    template <class Ask = PrefetchLine>
    void touch(const HashedBitwiseModel& m, int byte, Ask&& ask = Ask{}) {
      const auto c = static_cast<std::uint64_t>(byte);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k)
        ask(&m.table[RunningHash::window(RunningHash::with_bits_above(history, c, k), k, m.mask)]);
      history = RunningHash::after_step(history ^ c);
    }
  };
};

}  // namespace mx
