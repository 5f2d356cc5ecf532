// Combined Model (model 5): maps a window of a running hash to a counter
// pair, and the pair's probability to a second-stage counter.
//
// The first stage is a table of 2^order BitCounterPairs addressed by the
// running hash (running_hash.h) one bit out of phase: the hash starts at
// position 0, so the first bit already ends a step, and every later step
// covers bits 6..0 of one byte and bit 7 of the next. The chosen pair's
// counter gives a first-stage probability p1.
//
// The second stage is a fixed table of 16384 BitCounters: the top 14 bits
// of p1 pick one, and that counter's probability is what the model
// returns. p1 only selects; it is not mixed into the result. Both stages
// learn every bit.
// Memory: 17 * 2^order bytes plus 128 KiB. The second stage comes first in
// the model's block, the pairs after it.
#pragma once

#include "models/bit_counter.h"
#include "models/counter_pair.h"
#include "models/model.h"
#include "models/running_hash.h"

namespace mx {

struct CombinedModel {
  static constexpr std::uint32_t secondary_count = 16384;
  static constexpr ModelInfo info{5, "Combined Model", BitCounterPair::size,
                                  secondary_count * sizeof(BitCounter)};

  BitCounter* secondary;      // the second stage
  unsigned char* table;       // 2^order packed BitCounterPairs
  std::uint64_t history = 0;  // the running hash
  std::uint64_t index = 0;    // pair for the next predict and update, <= mask
  std::uint32_t mask;
  std::int32_t bit_position = 0;      // in the current hash step, 7..0
  std::uint32_t secondary_index = 0;  // counter chosen by the latest predict

  CombinedModel(unsigned char* tables, std::int32_t order)
      : secondary(reinterpret_cast<BitCounter*>(tables)),
        table(tables + std::uint64_t{secondary_count} * sizeof(BitCounter)),
        mask(order_mask(order)) {}

  unsigned char* entry() const { return table + index * BitCounterPair::size; }

  // The second-stage counter that first-stage probability p1 selects.
  static std::uint32_t chosen_by(Prob32 p1) { return p1 >> (32 - 14); }

  Prob32 predict() {
    secondary_index = chosen_by(BitCounterPair::predict(entry()));
    return counter_predict(secondary[secondary_index]);
  }

  void update(int bit) {
    BitCounterPair::update(entry(), bit);
    counter_update(secondary[secondary_index], bit);
    RunningHash::take_bit(history, bit_position, bit);
    index = RunningHash::window(history, bit_position, mask);
  }

  // bit_position is 0 at every byte boundary: bit 7 ends a hash step, bit
  // k < 7 then goes in at position k + 1, and the next pair is read at k.
  // kPrefetch: two bits on, within the hash step, index bits 1 and 2 are
  // unknown: eight packed pairs, 136 bytes over three lines.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    unsigned char* const t = table;
    BitCounter* const second = secondary;
    const std::uint64_t m = mask;
    std::uint64_t h = history;
    std::int32_t position = 0;
    std::uint64_t idx = index;
    // After bit k: the hash takes it in and the next pair is found.
    auto advance = [&](int bit) {
      RunningHash::take_bit(h, position, bit);
      idx = RunningHash::window(h, position, m);
      if (kPrefetch && position >= 2) {
        const unsigned char* ahead =
            t +
            (RunningHash::window(h, position - 2, m) & ~std::uint64_t{7}) * BitCounterPair::size;
        prefetch(ahead);
        prefetch(ahead + 64);
        prefetch(ahead + 128);
      }
    };
    if constexpr (kBitsKnown) {
      // The first stage runs through the whole byte, then the second, and
      // only then does the coder take the eight probabilities. The stages
      // share no memory and each keeps its own order of reads and updates,
      // so the result is the same as bit by bit.
      std::uint32_t chosen[8];
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        const int bit = (known >> k) & 1;
        unsigned char* const e = t + idx * BitCounterPair::size;
        const std::uint64_t last = BitCounterPair::last_bit(e);
        const std::uint64_t w1 = BitCounterPair::load_word(e, last);
        chosen[k] = chosen_by(counter_word_predict(w1));
        BitCounterPair::store_word(e, last, counter_word_add<kBelowLimit>(w1, addends[k]));
        BitCounterPair::set_last_bit(e, static_cast<std::uint64_t>(bit));
        advance(bit);
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
      BitCounter* const s = &second[chosen_by(counter_word_predict(w1))];
      const std::uint64_t w2 = load_counter_word(s);
      const int bit = code(k, counter_word_predict(w2));
      store_counter_word(e + 8 * last, counter_word_update<kBelowLimit>(w1, bit));
      BitCounterPair::set_last_bit(e, static_cast<std::uint64_t>(bit));
      store_counter_word(s, counter_word_update<kBelowLimit>(w2, bit));
      advance(bit);
      byte = (byte << 1) | bit;
    }
    history = h;
    index = idx;
    return byte;
  }

  // Runs the hash some bytes ahead and asks for the pairs each byte's bits
  // will use; a pair may straddle two lines.
  // The position is 0 at every byte boundary here too.
  struct Lookahead {
    std::uint64_t history = 0;
    std::uint64_t index = 0;
    template <class Ask = PrefetchLine>
    void touch(const CombinedModel& m, int byte, Ask&& ask = Ask{}) {
      std::int32_t position = 0;
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        const unsigned char* e = m.table + index * BitCounterPair::size;
        ask(e);
        ask(e + BitCounterPair::size - 1);
        RunningHash::take_bit(history, position, (byte >> k) & 1);
        index = RunningHash::window(history, position, m.mask);
      }
    }
  };
};

}  // namespace mx
