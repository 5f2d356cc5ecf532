// Simple Bitwise Model (model 1): maps the last `order` coded bits to a
// bit counter.
//
// The context is a shift register of the last `order` coded bits (see
// next_context in model.h). It indexes a flat table of 2^order
// BitCounters directly: no hashing, no collisions. Each bit is predicted by
// the counter of its context, which then counts it.
// Memory: 8 * 2^order bytes (512 KiB at order 16, 32 MiB at order 22).
#pragma once

#include "models/bit_counter.h"
#include "models/model.h"

namespace mx {

struct SimpleBitwiseModel {
  static constexpr ModelInfo info{1, "Simple Bitwise Model", sizeof(BitCounter), 0};

  BitCounter* table;          // 2^order counters, indexed by context
  std::uint32_t context = 0;  // the last `order` bits; always <= mask
  std::uint32_t mask;

  SimpleBitwiseModel(unsigned char* tables, std::int32_t order)
      : table(reinterpret_cast<BitCounter*>(tables)), mask(order_mask(order)) {}

  Prob32 predict() const { return counter_predict(table[context]); }

  void update(int bit) {
    counter_update(table[context], bit);
    context = next_context(context, bit, mask);
  }

  // kPrefetch: three bits on, the context is one of the eight counters
  // ((context << 3) | xxx) & mask, one aligned 64-byte line.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    BitCounter* const t = table;
    const std::uint32_t m = mask;
    if (kBitsKnown) {
      const KnownByteContexts contexts(context, known, m);
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        BitCounter& e = t[contexts.of_bit(k)];
        p[k] = counter_predict(e);
        counter_count_known<kBelowLimit>(&e, addends, k);
      }
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) code(k, p[k]);
      context = contexts.after_byte();
      return known;
    }
    std::uint32_t ctx = context;
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      const int bit = code(k, counter_predict(t[ctx]));
      counter_update<kBelowLimit>(t[ctx], bit);
      ctx = next_context(ctx, bit, m);
      if (kPrefetch) prefetch(&t[(ctx << 3) & m]);
      byte = (byte << 1) | bit;
    }
    context = ctx;
    return byte;
  }

  struct Lookahead {
    std::uint32_t bits = 0;  // the context before the next byte
    template <class Ask = PrefetchLine>
    void touch(const SimpleBitwiseModel& m, int byte, Ask&& ask = Ask{}) {
      const KnownByteContexts contexts(bits, byte, m.mask);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) ask(&m.table[contexts.of_bit(k)]);
      bits = contexts.after_byte();
    }
  };
};

}  // namespace mx
