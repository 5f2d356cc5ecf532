// Simple Bitwise Model (model 1, the default).
//
// The context is a shift register of the last `order` coded bits, the most
// recent in the lowest position, running straight across byte boundaries
// and starting at 0 as if `order` zero bits preceded the data. It indexes a
// flat table of 2^order BitCounters directly: no hashing, no collisions.
// Each bit is predicted by the counter of its context, which then counts it.
// Memory: 8 * 2^order bytes (512 KiB at order 16, 32 MiB at order 22).
#pragma once

#include <new>

#include "models/model.h"
#include "platform/zeroed_block.h"

namespace mx {

struct SimpleBitwiseModel {
  std::int32_t order = 0;
  BitCounter* table = nullptr;  // 2^order counters, indexed by context
  std::uint32_t context = 0;    // the last `order` bits; always <= mask
  std::uint32_t mask = 0;
  ZeroedBlock storage;

  static constexpr const char* name = "Simple Bitwise Model";

  // Every field but the storage, which stays with its owner (see
  // model.h: the coding loops run on such a copy).
  void copy_state_from(const SimpleBitwiseModel& other) {
    order = other.order;
    table = other.table;
    context = other.context;
    mask = other.mask;
  }

  static SimpleBitwiseModel* create(std::int32_t order) {
    if (!valid_order(order)) return nullptr;
    auto* m = new (std::nothrow) SimpleBitwiseModel;
    if (m == nullptr) return nullptr;
    m->order = order;
    m->mask = order_mask(order);
    if (!m->storage.allocate((std::uint64_t{m->mask} + 1) * sizeof(BitCounter))) {
      delete m;
      return nullptr;
    }
    m->table = reinterpret_cast<BitCounter*>(m->storage.data());
    return m;
  }

  Prob32 predict() const { return counter_predict(table[context]); }

  void update(int bit) {
    counter_update(table[context], bit);
    context = ((context << 1) | static_cast<std::uint32_t>(bit)) & mask;
  }

  // Codes one whole byte, bit 7 first (see model.h). kPrefetch: three bits
  // on, the context is one of the eight counters ((context << 3) | xxx) &
  // mask, one aligned 64-byte line, which is asked for now.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    BitCounter* const t = table;
    const std::uint32_t m = mask;
    std::uint32_t ctx = context;
    if (kBitsKnown) {
      // The model runs through the whole byte first (see model.h).
      const KnownByteContexts contexts(ctx, known, m);
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
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      const int bit = code(k, counter_predict(t[ctx]));
      counter_update<kBelowLimit>(t[ctx], bit);
      ctx = ((ctx << 1) | static_cast<std::uint32_t>(bit)) & m;
      if (kPrefetch) prefetch(&t[(ctx << 3) & m]);
      byte = (byte << 1) | bit;
    }
    context = ctx;
    return byte;
  }

  // Encoding: follows the data some bytes ahead of the coder and asks for
  // the counters each byte's bits will use.
  struct Lookahead {
    std::uint32_t bits = 0;  // the context before the next byte, as `context` holds it
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
