// Indexed Bitwise Model Array (model 3).
//
// Contexts as in the Simple Bitwise Model (the last `order` bits, a direct
// index), but each context owns a BitCounterPair: two counters, and the bit
// that followed this context the last time it occurred, which picks the
// counter. A bit is thus predicted from its bit history and, besides, from
// what happened the previous time that history was seen, however long ago.
// An entry that never served predicts from counter 0.
// Memory: 17 * 2^order bytes, entries packed (1.0625 MiB at order 16).
#pragma once

#include <new>

#include "models/model.h"
#include "platform/zeroed_block.h"

namespace mx {

struct IndexedBitwiseModelArray {
  std::int32_t order = 0;
  unsigned char* table = nullptr;  // 2^order packed 17-byte BitCounterPairs
  std::uint32_t context = 0;
  std::uint32_t mask = 0;
  ZeroedBlock storage;

  static constexpr const char* name = "Indexed Bitwise Model Array";

  // Every field but the storage, which stays with its owner (see
  // model.h: the coding loops run on such a copy).
  void copy_state_from(const IndexedBitwiseModelArray& other) {
    order = other.order;
    table = other.table;
    context = other.context;
    mask = other.mask;
  }

  static IndexedBitwiseModelArray* create(std::int32_t order) {
    if (!valid_order(order)) return nullptr;
    auto* m = new (std::nothrow) IndexedBitwiseModelArray;
    if (m == nullptr) return nullptr;
    m->order = order;
    m->mask = order_mask(order);
    if (!m->storage.allocate((std::uint64_t{m->mask} + 1) * BitCounterPair::size)) {
      delete m;
      return nullptr;
    }
    m->table = m->storage.data();
    return m;
  }

  unsigned char* entry(std::uint32_t index) const {
    return table + std::uint64_t{index} * BitCounterPair::size;
  }

  Prob32 predict() const { return BitCounterPair::predict(entry(context)); }

  void update(int bit) {
    BitCounterPair::update(entry(context), bit);
    context = ((context << 1) | static_cast<std::uint32_t>(bit)) & mask;
  }

  // Codes one whole byte, bit 7 first (see model.h). kPrefetch: three bits
  // on, the entry is one of eight packed pairs, 136 bytes over three lines.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    unsigned char* const t = table;
    const std::uint32_t m = mask;
    std::uint32_t ctx = context;
    if (kBitsKnown) {
      const KnownByteContexts contexts(ctx, known, m);
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      // The model runs through the whole byte first (see model.h).
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        unsigned char* const e = t + std::uint64_t{contexts.of_bit(k)} * BitCounterPair::size;
        const std::uint64_t last = BitCounterPair::last_bit(e);
        const std::uint64_t w = BitCounterPair::load_word(e, last);
        p[k] = counter_word_predict(w);
        BitCounterPair::store_word(e, last, counter_word_add<kBelowLimit>(w, addends[k]));
        // The addend's low byte is 1 for a 0 bit and 0 for a 1 bit.
        e[16] = static_cast<unsigned char>(addends[k] ^ 1);
      }
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) code(k, p[k]);
      context = contexts.after_byte();
      return known;
    }
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      unsigned char* const e = t + std::uint64_t{ctx} * BitCounterPair::size;
      const unsigned last = BitCounterPair::last_bit(e);
      const std::uint64_t w = load_counter_word(e + 8 * last);
      const int bit = code(k, counter_word_predict(w));
      store_counter_word(e + 8 * last, counter_word_update<kBelowLimit>(w, bit));
      e[16] = static_cast<unsigned char>(bit);
      ctx = ((ctx << 1) | static_cast<std::uint32_t>(bit)) & m;
      if (kPrefetch) {
        const unsigned char* ahead = t + std::uint64_t{(ctx << 3) & m} * BitCounterPair::size;
        prefetch(ahead);
        prefetch(ahead + 64);
        prefetch(ahead + 128);
      }
      byte = (byte << 1) | bit;
    }
    context = ctx;
    return byte;
  }

  // Encoding: the pairs of each byte's bits, some bytes ahead (a pair may
  // straddle two lines).
  struct Lookahead {
    std::uint32_t bits = 0;  // the context before the next byte
    template <class Ask = PrefetchLine>
    void touch(const IndexedBitwiseModelArray& m, int byte, Ask&& ask = Ask{}) {
      const KnownByteContexts contexts(bits, byte, m.mask);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        const unsigned char* e = m.entry(contexts.of_bit(k));
        ask(e);
        ask(e + BitCounterPair::size - 1);
      }
      bits = contexts.after_byte();
    }
  };
};

}  // namespace mx
