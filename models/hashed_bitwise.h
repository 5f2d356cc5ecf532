// Hashed Bitwise Model (model 4).
//
// A 64-bit running hash of everything coded so far: the bits of the current
// byte are XORed in at their positions as they are coded, and after every
// byte the hash is multiplied by 192 and cut to 61 bits. Bit k of a byte
// (7 first) is predicted by the BitCounter at (history >> k) AND mask, a
// window of `order` hash bits that slides down by one as the byte fills in.
//
// Per byte: with H the hash at the start of the byte and c its value, bit k
// reads entry ((H XOR (c with bits k..0 cleared)) >> k) AND mask, and the
// hash becomes ((H XOR c) * 192) mod 2^61. Since 192 = 3 * 64, bits 0..5 of
// the hash are 0 at the start of every byte.
// Memory: 8 * 2^order bytes.
#pragma once

#include <new>

#include "models/model.h"
#include "platform/zeroed_block.h"

namespace mx {

struct HashedBitwiseModel {
  std::int32_t order = 0;
  BitCounter* table = nullptr;     // 2^order counters
  std::uint64_t history = 0;       // running hash, always below 2^61
  std::uint64_t mask = 0;          // 2^order - 1
  std::int32_t bit_position = 7;   // position of the next bit in its byte, 7..0
  ZeroedBlock storage;

  static constexpr const char* name = "Hashed Bitwise Model";

  // Every field but the storage, which stays with its owner (see
  // model.h: the coding loops run on such a copy).
  void copy_state_from(const HashedBitwiseModel& other) {
    order = other.order;
    table = other.table;
    history = other.history;
    mask = other.mask;
    bit_position = other.bit_position;
  }
  static constexpr std::uint64_t history_mask = 0x1FFFFFFFFFFFFFFFull;

  static HashedBitwiseModel* create(std::int32_t order) {
    if (!valid_order(order)) return nullptr;
    auto* m = new (std::nothrow) HashedBitwiseModel;
    if (m == nullptr) return nullptr;
    m->order = order;
    m->mask = order_mask(order);
    if (!m->storage.allocate((m->mask + 1) * sizeof(BitCounter))) {
      delete m;
      return nullptr;
    }
    m->table = reinterpret_cast<BitCounter*>(m->storage.data());
    return m;
  }

  std::uint32_t current_index() const {
    return static_cast<std::uint32_t>((history >> bit_position) & mask);
  }

  Prob32 predict() const { return counter_predict(table[current_index()]); }

  void update(int bit) {
    counter_update(table[current_index()], bit);
    history ^= static_cast<std::uint64_t>(bit) << bit_position;
    if (bit_position == 0) {
      history = (history * 192) & history_mask;
      bit_position = 7;
    } else {
      --bit_position;
    }
  }

  // Codes one whole byte, bit 7 first (see model.h); bit_position is 7 at
  // every byte boundary. kPrefetch: two bits on, within the byte, only index
  // bits 1 and 2 are unknown: one aligned block of eight counters, one line.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    BitCounter* const t = table;
    const std::uint64_t m = mask;
    std::uint64_t h = history;
    if (kBitsKnown) {
      // Every bit's index straight from the byte (see above): none waits
      // for the bit before it. The model runs through the whole byte
      // first (see model.h).
      const auto c = static_cast<std::uint64_t>(known);
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        const std::uint64_t above = c & ~((std::uint64_t{2} << k) - 1);
        BitCounter& e = t[((h ^ above) >> k) & m];
        p[k] = counter_predict(e);
        counter_count_known<kBelowLimit>(&e, addends, k);
      }
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) code(k, p[k]);
      history = ((h ^ c) * 192) & history_mask;
      return known;
    }
    int byte = 0;
    MX_UNROLL_BYTE
    for (int k = 7; k >= 0; --k) {
      BitCounter* const e = &t[(h >> k) & m];
      const int bit = code(k, counter_predict(*e));
      counter_update<kBelowLimit>(*e, bit);
      h ^= static_cast<std::uint64_t>(bit) << k;
      if (kPrefetch && k >= 3) prefetch(&t[((h >> (k - 3)) & m) & ~std::uint64_t{7}]);
      byte = (byte << 1) | bit;
    }
    history = (h * 192) & history_mask;
    if (kPrefetch) prefetch(&t[((history >> 5) & m) & ~std::uint64_t{7}]);
    return byte;
  }

  // Encoding: runs the hash some bytes ahead and asks for the counters of
  // each byte's bits.
  struct Lookahead {
    std::uint64_t history = 0;
    template <class Ask = PrefetchLine>
    void touch(const HashedBitwiseModel& m, int byte, Ask&& ask = Ask{}) {
      const auto c = static_cast<std::uint64_t>(byte);
      MX_UNROLL_BYTE
      for (int k = 7; k >= 0; --k) {
        const std::uint64_t known = c & ~((std::uint64_t{2} << k) - 1);  // bits above k
        ask(&m.table[((history ^ known) >> k) & m.mask]);
      }
      history = ((history ^ c) * 192) & history_mask;
    }
  };
};

}  // namespace mx
