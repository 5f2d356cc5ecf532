// Indexed Bitwise Model Array (model 3): maps the last `order` coded bits
// to a counter pair, and its last outcome to one of the pair's counters.
//
// Contexts as in the Simple Bitwise Model (next_context in model.h), but
// each context owns a BitCounterPair: two counters, and the bit that
// followed this context the last time it occurred, which picks the
// counter. A bit is thus predicted from its bit history and, besides, from
// what happened the previous time that history was seen, however long ago.
// An entry that never served predicts from counter 0.
// Memory: 17 * 2^order bytes, entries packed (1.0625 MiB at order 16).
#pragma once

#include "models/counter_pair.h"
#include "models/model.h"

namespace mx {

struct IndexedBitwiseModelArray {
  static constexpr ModelInfo info{3, "Indexed Bitwise Model Array", BitCounterPair::size, 0};

  unsigned char* table;  // 2^order packed BitCounterPairs
  std::uint32_t context = 0;
  std::uint32_t mask;

  IndexedBitwiseModelArray(unsigned char* tables, std::int32_t order)
      : table(tables), mask(order_mask(order)) {}

  unsigned char* entry(std::uint32_t index) const {
    return table + std::uint64_t{index} * BitCounterPair::size;
  }

  Prob32 predict() const { return BitCounterPair::predict(entry(context)); }

  void update(int bit) {
    BitCounterPair::update(entry(context), bit);
    context = next_context(context, bit, mask);
  }

  // kPrefetch: three bits on, the entry is one of eight packed pairs, 136
  // bytes over three lines.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    const std::uint32_t m = mask;
    if (kBitsKnown) {
      const KnownByteContexts contexts(context, known, m);
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        unsigned char* const e = entry(contexts.of_bit(k));
        const std::uint64_t last = BitCounterPair::last_bit(e);
        const std::uint64_t w = BitCounterPair::load_word(e, last);
        p[k] = counter_word_predict(w);
        BitCounterPair::store_word(e, last, counter_word_add<kBelowLimit>(w, addends[k]));
        // The addend's low byte is 1 for a 0 bit and 0 for a 1 bit.
        BitCounterPair::set_last_bit(e, addends[k] ^ 1);
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
      unsigned char* const e = entry(ctx);
      const unsigned last = BitCounterPair::last_bit(e);
      const std::uint64_t w = load_counter_word(e + 8 * last);
      const int bit = code(k, counter_word_predict(w));
      store_counter_word(e + 8 * last, counter_word_update<kBelowLimit>(w, bit));
      BitCounterPair::set_last_bit(e, bit);
      ctx = next_context(ctx, bit, m);
      if (kPrefetch) {
        const unsigned char* ahead = entry((ctx << 3) & m);
        prefetch(ahead);
        prefetch(ahead + 64);
        prefetch(ahead + 128);
      }
      byte = (byte << 1) | bit;
    }
    context = ctx;
    return byte;
  }

  // A pair may straddle two lines: both are asked for.
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
