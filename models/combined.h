// Combined Model (model 5).
//
// Two stages. The first is a table of 2^order BitCounterPairs addressed by a
// running 64-bit hash of the coded bits, as in the Hashed Bitwise Model but
// one bit out of phase: the hash starts with bit_position 0, so the first
// update already completes a hash step, and every later step covers bits
// 6..0 of one byte and bit 7 of the next. The chosen pair's counter gives a
// first-stage probability p1.
//
// The second stage is a fixed SecondaryCounterTable of 16384 BitCounters:
// the top 14 bits of p1 pick one, and that counter's probability is what
// the model returns. p1 only selects; it is not mixed into the result. Both
// stages learn every bit.
// Memory: 17 * 2^order bytes plus 128 KiB.
#pragma once

#include <new>

#include "models/model.h"
#include "platform/zeroed_block.h"

namespace mx {

// Second stage: maps the top 14 bits of a probability to a BitCounter.
struct SecondaryCounterTable {
  std::int32_t order = 14;
  BitCounter* table = nullptr;  // 16384 counters
  std::uint32_t mask = 0x3FFF;
  std::uint64_t index = 0;      // counter chosen by the latest predict
  ZeroedBlock storage;
};

// Builds the second stage in place; false when its table cannot be had.
inline bool create_secondary_table(SecondaryCounterTable& secondary) {
  if (!secondary.storage.allocate((std::uint64_t{secondary.mask} + 1) * sizeof(BitCounter))) {
    return false;
  }
  secondary.table = reinterpret_cast<BitCounter*>(secondary.storage.data());
  return true;
}

struct CombinedModel {
  std::int32_t order = 0;
  unsigned char* table = nullptr;  // 2^order packed 17-byte BitCounterPairs
  std::uint64_t history = 0;       // running hash, always below 2^61
  std::uint64_t index = 0;         // pair for the next predict and update, <= mask
  std::uint32_t mask = 0;
  std::int32_t bit_position = 0;   // position in the current hash step, 7..0
  SecondaryCounterTable secondary;
  ZeroedBlock storage;

  static constexpr const char* name = "Combined Model";

  // Every field but the storage, which stays with its owner (see
  // model.h: the coding loops run on such a copy).
  void copy_state_from(const CombinedModel& other) {
    order = other.order;
    table = other.table;
    history = other.history;
    index = other.index;
    mask = other.mask;
    bit_position = other.bit_position;
    secondary.order = other.secondary.order;
    secondary.table = other.secondary.table;
    secondary.mask = other.secondary.mask;
    secondary.index = other.secondary.index;
  }
  static constexpr std::uint64_t history_mask = 0x1FFFFFFFFFFFFFFFull;

  static CombinedModel* create(std::int32_t order) {
    if (!valid_order(order)) return nullptr;
    auto* m = new (std::nothrow) CombinedModel;
    if (m == nullptr) return nullptr;
    m->order = order;
    m->mask = order_mask(order);
    if (!m->storage.allocate((std::uint64_t{m->mask} + 1) * BitCounterPair::size) ||
        !create_secondary_table(m->secondary)) {
      delete m;
      return nullptr;
    }
    m->table = m->storage.data();
    return m;
  }

  unsigned char* entry() const { return table + index * BitCounterPair::size; }

  Prob32 predict() {
    const Prob32 p1 = BitCounterPair::predict(entry());
    secondary.index = (p1 >> (32 - secondary.order)) & secondary.mask;
    return counter_predict(secondary.table[secondary.index]);
  }

  void update(int bit) {
    BitCounterPair::update(entry(), bit);
    history ^= static_cast<std::uint64_t>(bit) << bit_position;
    counter_update(secondary.table[secondary.index], bit);
    if (bit_position == 0) {
      history = (history * 192) & history_mask;
      bit_position = 7;
    } else {
      --bit_position;
    }
    index = (history >> bit_position) & mask;
  }

  // Codes one whole byte, bit 7 first (see model.h); bit_position is 0 at
  // every byte boundary. Bit 7 closes a hash step; bit k < 7 then goes in at
  // position k + 1, and the next pair is read at shift k. kPrefetch: two
  // bits on, within the hash step, index bits 1 and 2 are unknown: eight
  // packed pairs, 136 bytes over three lines.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    unsigned char* const t = table;
    BitCounter* const second = secondary.table;
    const std::uint64_t m = mask;
    std::uint64_t h = history;
    std::uint64_t idx = index;
    // After bit k: the hash takes it in and the next pair is found.
    auto advance = [&](int k, int bit) {
      const int position = k == 7 ? 0 : k + 1;
      h ^= static_cast<std::uint64_t>(bit) << position;
      if (k == 7) h = (h * 192) & history_mask;
      idx = (h >> k) & m;
      const int next_position = k == 7 ? 7 : k;
      if (kPrefetch && next_position >= 2) {
        const unsigned char* ahead =
            t + (((h >> (next_position - 2)) & m) & ~std::uint64_t{7}) * BitCounterPair::size;
        prefetch(ahead);
        prefetch(ahead + 64);
        prefetch(ahead + 128);
      }
    };
    // The first stage's p1 chooses a secondary counter by its top 14 bits.
    auto chosen_by = [](std::uint64_t w1) { return counter_word_predict(w1) >> (32 - 14); };
    if constexpr (kBitsKnown) {
      // The bits are known (compression): the first stage runs through the
      // whole byte, then the second, and only then does the coder take the
      // eight probabilities. The two stages' chain (pair, counter, division,
      // secondary counter, division) then overlaps the coder's work instead
      // of preceding it bit by bit. The stages share no memory, and each
      // keeps its own order of reads and updates, so the result is the same.
      std::uint32_t chosen[8];
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        const int bit = (known >> k) & 1;
        unsigned char* const e = t + idx * BitCounterPair::size;
        const std::uint64_t last = BitCounterPair::last_bit(e);
        const std::uint64_t w1 = BitCounterPair::load_word(e, last);
        chosen[k] = chosen_by(w1);
        BitCounterPair::store_word(e, last, counter_word_add<kBelowLimit>(w1, addends[k]));
        e[16] = static_cast<unsigned char>(bit);
        advance(k, bit);
      }
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        BitCounter* const s = &second[chosen[k]];
        const std::uint64_t w2 = load_counter_word(s);
        p[k] = counter_word_predict(w2);
        store_counter_word(s, counter_word_add<kBelowLimit>(w2, addends[k]));
      }
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) code(k, p[k]);
      history = h;
      index = idx;
      return known;
    }
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      unsigned char* const e = t + idx * BitCounterPair::size;
      const unsigned last = BitCounterPair::last_bit(e);
      const std::uint64_t w1 = load_counter_word(e + 8 * last);
      BitCounter* const s = &second[chosen_by(w1)];
      const std::uint64_t w2 = load_counter_word(s);
      const int bit = code(k, counter_word_predict(w2));
      store_counter_word(e + 8 * last, counter_word_update<kBelowLimit>(w1, bit));
      e[16] = static_cast<unsigned char>(bit);
      store_counter_word(s, counter_word_update<kBelowLimit>(w2, bit));
      advance(k, bit);
      byte = (byte << 1) | bit;
    }
    history = h;
    index = idx;
    return byte;
  }

  // Encoding: runs the hash some bytes ahead and asks for the pairs each
  // byte's bits will use.
  struct Lookahead {
    std::uint64_t history = 0;
    std::int32_t bit_position = 0;
    std::uint64_t index = 0;
    template <class Ask = PrefetchLine>
    void touch(const CombinedModel& m, int byte, Ask&& ask = Ask{}) {
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        const unsigned char* e = m.table + index * BitCounterPair::size;
        ask(e);
        ask(e + BitCounterPair::size - 1);
        history ^= static_cast<std::uint64_t>((byte >> k) & 1) << bit_position;
        if (bit_position == 0) {
          history = (history * 192) & history_mask;
          bit_position = 7;
        } else {
          --bit_position;
        }
        index = (history >> bit_position) & m.mask;
      }
    }
  };
};

}  // namespace mx
