// Adaptive Bitwise Model (model 2): maps the last `order` coded bits to a
// probability that moves a fixed fraction toward each bit seen.
//
// Contexts as in the Simple Bitwise Model (next_context in model.h), but
// each entry is a probability itself, moved 2^-S of the way toward the bit
// just seen. The rate depends on the order: A = 10 + (2 * order) / 3,
// S = 32 - A and K = 2^A, so S runs from 22 (very slow) at orders 0 and 1
// down to 2 (a quarter per step) at 30 and 31.
//
//   after a 0, if p < 0xFFFFFFF0:  p = p + K - (p >> S)   (up by (2^32-p)/2^S, rounded up)
//   after a 1, if p > 15:          p = p - (p >> S) - 1   (down by p/2^S, plus one)
//
// The guards keep every entry within 11 .. 0xFFFFFFF4: it never reaches 0
// and never wraps. Entries start at one half and are stored XOR 0x80000000,
// so a zeroed table is fresh. Memory: 4 * 2^order bytes.
#pragma once

#include "models/model.h"

namespace mx {

struct AdaptiveBitwiseModel {
  static constexpr ModelInfo info{2, "Adaptive Bitwise Model", 4, 0};
  static constexpr std::uint32_t stored_offset = 0x80000000u;

  std::uint32_t* table;  // 2^order probabilities, each XOR stored_offset
  std::uint32_t context = 0;
  std::uint32_t mask;
  std::uint32_t shift;  // S
  std::uint32_t step;   // K

  AdaptiveBitwiseModel(unsigned char* tables, std::int32_t order)
      : table(reinterpret_cast<std::uint32_t*>(tables)),
        mask(order_mask(order)),
        shift(32 - rate(order)),
        step(std::uint32_t{1} << rate(order)) {}

  static std::uint32_t rate(std::int32_t order) {  // A
    return 10 + static_cast<std::uint32_t>(2 * order) / 3;
  }

  Prob32 predict() const { return table[context] ^ stored_offset; }

  void update(int bit) {
    table[context] = adapted(table[context] ^ stored_offset, bit) ^ stored_offset;
    context = next_context(context, bit, mask);
  }

  // The entry after bit `bit`: the rule above. Decoding branches on each
  // bit anyway, and a branch here follows the coder's for free.
  std::uint32_t adapted(std::uint32_t p, int bit) const {
    if (bit == 0) return p < 0xFFFFFFF0u ? p + step - (p >> shift) : p;
    return p > 15 ? p - (p >> shift) - 1 : p;
  }

  // The same rule for bit k of a byte known in advance, without a branch
  // on the bit: between the guards both moves start from q = p - (p >> S),
  // a 0 giving q + K and a 1 giving q - 1, one selection apart. Only
  // entries within 16 of either end (rare, and then predictably so) take
  // the guarded form.
  std::uint32_t adapted_known(std::uint32_t p, std::uint32_t byte, int k) const {
    if (p - 16u > 0xFFFFFFEFu - 16u) return adapted(p, static_cast<int>((byte >> k) & 1));
    const std::uint32_t q = p - (p >> shift);
    return static_cast<std::uint32_t>(select_bit(byte, k, q - 1, q + step));
  }

  // kPrefetch: four bits on, the entry is one of sixteen, one line.
  // kBelowLimit: no counters here, nothing to leave out.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    std::uint32_t* const t = table;
    const std::uint32_t m = mask;
    if (kBitsKnown) {
      const KnownByteContexts contexts(context, known, m);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        std::uint32_t& e = t[contexts.of_bit(k)];
        const std::uint32_t p = e ^ stored_offset;
        code(k, p);
        e = adapted_known(p, static_cast<std::uint32_t>(known), k) ^ stored_offset;
      }
      context = contexts.after_byte();
      return known;
    }
    std::uint32_t ctx = context;
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      const std::uint32_t p = t[ctx] ^ stored_offset;
      const int bit = code(k, p);
      t[ctx] = adapted(p, bit) ^ stored_offset;
      ctx = next_context(ctx, bit, m);
      if (kPrefetch) prefetch(&t[(ctx << 4) & m]);
      byte = (byte << 1) | bit;
    }
    context = ctx;
    return byte;
  }

  struct Lookahead {
    std::uint32_t bits = 0;  // the context before the next byte
    template <class Ask = PrefetchLine>
    void touch(const AdaptiveBitwiseModel& m, int byte, Ask&& ask = Ask{}) {
      const KnownByteContexts contexts(bits, byte, m.mask);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) ask(&m.table[contexts.of_bit(k)]);
      bits = contexts.after_byte();
    }
  };
};

}  // namespace mx

// Speed
//
// Compression codes bit by bit here, unlike the counter models: the
// prediction is one load, and running through the byte first ran slower
// (2:16 by 6%, 2:22 by 10%).
