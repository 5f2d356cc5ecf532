// Adaptive Bitwise Model (model 2).
//
// Contexts as in the Simple Bitwise Model (the last `order` bits, a direct
// index), but each entry is a probability itself, moved a fixed fraction
// 2^-S of the way toward the bit just seen. The rate depends on the order:
// A = 10 + (2 * order) / 3, S = 32 - A and K = 2^A, so S runs from 22
// (very slow) at orders 0 and 1 down to 2 (a quarter per step) at 30 and 31.
//
//   after a 0, if p < 0xFFFFFFF0:  p = p + K - (p >> S)   (up by (2^32-p)/2^S, rounded up)
//   after a 1, if p > 15:          p = p - (p >> S) - 1   (down by p/2^S, plus one)
//
// The guards keep every entry within 11 .. 0xFFFFFFF4: it never reaches 0
// and never wraps. Entries start at one half and are stored XOR 0x80000000,
// so a zeroed table is fresh. Memory: 4 * 2^order bytes.
#pragma once

#include <new>

#include "coder/select.h"
#include "models/model.h"
#include "platform/zeroed_block.h"

namespace mx {

struct AdaptiveBitwiseModel {
  std::int32_t order = 0;
  std::uint32_t* table = nullptr;  // 2^order probabilities, each XOR 0x80000000
  std::uint32_t context = 0;
  std::uint32_t mask = 0;
  std::uint32_t shift = 22;        // S
  std::uint32_t step = 0x400;      // K
  ZeroedBlock storage;

  static constexpr const char* name = "Adaptive Bitwise Model";

  // Every field but the storage, which stays with its owner (see
  // model.h: the coding loops run on such a copy).
  void copy_state_from(const AdaptiveBitwiseModel& other) {
    order = other.order;
    table = other.table;
    context = other.context;
    mask = other.mask;
    shift = other.shift;
    step = other.step;
  }
  static constexpr std::uint32_t stored_offset = 0x80000000u;

  static AdaptiveBitwiseModel* create(std::int32_t order) {
    if (!valid_order(order)) return nullptr;
    auto* m = new (std::nothrow) AdaptiveBitwiseModel;
    if (m == nullptr) return nullptr;
    m->order = order;
    m->mask = order_mask(order);
    if (!m->storage.allocate((std::uint64_t{m->mask} + 1) * 4)) {
      delete m;
      return nullptr;
    }
    m->table = reinterpret_cast<std::uint32_t*>(m->storage.data());
    const std::uint32_t a = 10 + static_cast<std::uint32_t>(2 * order) / 3;
    m->shift = 32 - a;
    m->step = std::uint32_t{1} << a;
    return m;
  }

  Prob32 predict() const { return table[context] ^ stored_offset; }

  void update(int bit) {
    table[context] = adapted(table[context] ^ stored_offset, bit) ^ stored_offset;
    context = ((context << 1) | static_cast<std::uint32_t>(bit)) & mask;
  }

  // The entry after bit `bit`. Decoding branches on each bit anyway, and a
  // branch here follows the coder's for free.
  std::uint32_t adapted(std::uint32_t p, int bit) const {
    if (bit == 0) return p < 0xFFFFFFF0u ? p + step - (p >> shift) : p;
    return p > 15 ? p - (p >> shift) - 1 : p;
  }

  // The entry after bit k of a byte known in advance (compression), where
  // the bits are data and a branch on them would mispredict as often as
  // the data surprises. Between the guards, both moves start from
  // q = p - (p >> S): a 0 gives q + K and a 1 gives q - 1, one selection
  // apart. Only entries within 16 of either end (rare, and then predictably
  // so) take the guarded form.
  std::uint32_t adapted_known(std::uint32_t p, std::uint32_t byte, int k) const {
    if (p - 16u > 0xFFFFFFEFu - 16u) return adapted(p, static_cast<int>((byte >> k) & 1));
    const std::uint32_t q = p - (p >> shift);
    return static_cast<std::uint32_t>(select_bit(byte, k, q - 1, q + step));
  }

  // Codes one whole byte, bit 7 first (see model.h). kPrefetch: four bits
  // on, the entry is one of sixteen, one line. kBitsKnown: see
  // adapted_known(). kBelowLimit: no counters here, nothing to leave out.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    std::uint32_t* const t = table;
    const std::uint32_t m = mask;
    std::uint32_t ctx = context;
    if (kBitsKnown) {
      const KnownByteContexts contexts(ctx, known, m);
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
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      const std::uint32_t p = t[ctx] ^ stored_offset;
      const int bit = code(k, p);
      t[ctx] = adapted(p, bit) ^ stored_offset;
      ctx = ((ctx << 1) | static_cast<std::uint32_t>(bit)) & m;
      if (kPrefetch) prefetch(&t[(ctx << 4) & m]);
      byte = (byte << 1) | bit;
    }
    context = ctx;
    return byte;
  }

  // Encoding: the entries of each byte's bits, some bytes ahead.
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
