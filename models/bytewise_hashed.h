// Bytewise Hashed Model (model 0, the model of a bare `c` command).
//
// Each bit is predicted by one BitCounter of a table of 2^order entries,
// indexed by the low bits of (hash XOR c):
//   - hash: a 32-bit hash of the last four complete bytes b3 b2 b1 b0
//     (b0 the most recent), recomputed after every byte with multiplier 773:
//       h = b3*773; h = h + b2 + 396288; h = h*773 + b1;
//       h = h*773 + b0 + 396288; hash = h*773          (all mod 2^32)
//   - c: a small code of the bits of the current byte already known.
//
// `partial` holds those bits: bit 0 the last bit of the previous byte, bit n
// (1..7) the n-th bit of the current byte in coding order. The code for the
// next bit is formed from `partial` before the bit just coded is added, so
// the bit coded last never takes part in the index of the bit right after:
//   n < 4:  c = (1 << n) | partial
//   n >= 4: c = (1 << (n-4)) | (partial >> 4) | 0x100 | ((partial & 0xF) << 4)
// and the first bit of a byte uses hash XOR 1 (entry 0 in the very first
// byte). 0x100 marks the second half of the byte; at order 8 or less the
// mask drops it and the two halves share entries.
// Memory: 8 * 2^order bytes (32 MiB at order 22).
#pragma once

#include <new>

#include "models/model.h"
#include "platform/zeroed_block.h"

namespace mx {

// The codes of the eight bits of byte c, in coding order, for the last bit
// q of the byte before. codes[0], the first bit's, is always 1 (the coding
// path keeps its index in `index`, which also covers the very first byte).
constexpr void bytewise_codes_of_byte(std::uint32_t c, std::uint32_t q, std::uint32_t codes[8]) {
  const std::uint32_t x7 = (c >> 7) & 1, x6 = (c >> 6) & 1, x5 = (c >> 5) & 1;
  const std::uint32_t x4 = (c >> 4) & 1, x3 = (c >> 3) & 1, x2 = (c >> 2) & 1;
  const std::uint32_t high = 0x100 | ((q | (x7 << 1) | (x6 << 2) | (x5 << 3)) << 4);
  codes[0] = 1;
  codes[1] = 2 | q;
  codes[2] = 4 | q | (x7 << 1);
  codes[3] = 8 | q | (x7 << 1) | (x6 << 2);
  codes[4] = high | 1;
  codes[5] = high | 2 | x4;
  codes[6] = high | 4 | x4 | (x3 << 1);
  codes[7] = high | 8 | x4 | (x3 << 1) | (x2 << 2);
}

// Those codes for every byte and last bit, built at compile time: one
// load per bit where the formulas take about thirty instructions per
// byte. Bits 1 and 0 of c take part in no code of their own byte, so a
// row serves four bytes.
struct BytewiseCodeTable {
  std::uint16_t rows[128][8];

  constexpr BytewiseCodeTable() : rows() {
    for (std::uint32_t row = 0; row < 128; ++row) {
      std::uint32_t codes[8] = {};
      bytewise_codes_of_byte((row >> 1) << 2, row & 1, codes);
      for (int n = 0; n < 8; ++n) rows[row][n] = static_cast<std::uint16_t>(codes[n]);
    }
  }

  constexpr const std::uint16_t* codes(std::uint32_t c, std::uint32_t q) const {
    return rows[(c >> 2) << 1 | q];
  }
};

inline constexpr BytewiseCodeTable bytewise_code_table{};

struct BytewiseHashedModel {
  std::int32_t order = 0;
  BitCounter* table = nullptr;  // 2^order counters
  std::uint32_t history = 0;    // the last 32 coded bits, most recent in bit 0
  std::uint32_t hash = 0;       // hash of the last four complete bytes
  std::uint32_t index = 0;      // entry for the next predict and update
  std::uint32_t mask = 0;
  std::int32_t bit_count = 0;   // bits of the current byte already coded, 0..7
  std::uint32_t partial = 0;    // known bits around the current byte (see above)
  ZeroedBlock storage;

  static constexpr const char* name = "Bytewise Hashed Model";

  // Every field but the storage, which stays with its owner (see
  // model.h: the coding loops run on such a copy).
  void copy_state_from(const BytewiseHashedModel& other) {
    order = other.order;
    table = other.table;
    history = other.history;
    hash = other.hash;
    index = other.index;
    mask = other.mask;
    bit_count = other.bit_count;
    partial = other.partial;
  }

  static BytewiseHashedModel* create(std::int32_t order) {
    if (!valid_order(order)) return nullptr;
    auto* m = new (std::nothrow) BytewiseHashedModel;
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

  static std::uint32_t hash_bytes(std::uint32_t four_bytes) {
    const std::uint32_t b0 = four_bytes & 0xFF, b1 = (four_bytes >> 8) & 0xFF;
    const std::uint32_t b2 = (four_bytes >> 16) & 0xFF, b3 = four_bytes >> 24;
    std::uint32_t h = b3 * 773u;
    h = h + b2 + 396288u;
    h = h * 773u + b1;
    h = h * 773u + b0 + 396288u;
    return h * 773u;
  }

  // The code c for the bit after n known bits of the byte (n = 1..7).
  static std::uint32_t bit_code(std::int32_t n, std::uint32_t partial) {
    if (n < 4) return (1u << n) | partial;
    return (1u << (n - 4)) | (partial >> 4) | 0x100u | ((partial & 0xFu) << 4);
  }

  Prob32 predict() const { return counter_predict(table[index]); }

  void update(int bit) {
    counter_update(table[index], bit);
    const auto b = static_cast<std::uint32_t>(bit);
    history = (history << 1) | b;
    if (bit_count == 7) {
      hash = hash_bytes(history);
      partial = b;
      index = (hash ^ 1u) & mask;
      bit_count = 0;
    } else {
      const std::int32_t n = bit_count + 1;
      bit_count = n;
      index = (hash ^ bit_code(n, partial)) & mask;
      partial |= b << n;
    }
  }

  // Codes one whole byte, bit 7 first (see model.h); bit_count is 0 at
  // every byte boundary. With the bit positions fixed, the codes fold to
  // constants. Nothing to prefetch: the entries of a byte lie in two blocks
  // of sixteen around the hash, the second known once the first three bits
  // are, and the first access brings them.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    BitCounter* const t = table;
    const std::uint32_t m = mask;
    const std::uint32_t h = hash;
    // With the byte known (compression), the next byte's hash, a chain of
    // four multiplications, is begun now rather than after the last bit:
    // the next byte's first entry, and all that waits on it, comes sooner.
    std::uint32_t next_hash = 0;
    if (kBitsKnown) next_hash = hash_bytes((history << 8) | static_cast<std::uint32_t>(known));
    std::uint32_t idx = index;
    std::uint32_t part = partial;
    if (kBitsKnown) {
      // Every bit's code straight from the byte (as the lookahead forms
      // them): no index waits for the bit before it. The model runs
      // through the whole byte first (see model.h).
      const auto c = static_cast<std::uint32_t>(known);
      const std::uint16_t* const codes = bytewise_code_table.codes(c, part);
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int n = 0; n < 8; ++n) {
        BitCounter& e = t[n == 0 ? idx : (h ^ codes[n]) & m];
        p[n] = counter_predict(e);
        counter_count_known<kBelowLimit>(&e, addends, 7 - n);
      }
      MX_UNROLL_BYTE
      for (int n = 0; n < 8; ++n) code(7 - n, p[n]);
      history = (history << 8) | c;
      hash = next_hash;
      partial = c & 1;
      index = (hash ^ 1u) & m;
      return known;
    }
    int byte = 0;
    MX_UNROLL_BYTE
    for (int n = 0; n < 8; ++n) {
      const int bit = code(7 - n, counter_predict(t[idx]));
      counter_update<kBelowLimit>(t[idx], bit);
      byte = (byte << 1) | bit;
      if (n < 7) {
        const int n1 = n + 1;
        idx = (h ^ bit_code(n1, part)) & m;
        part |= static_cast<std::uint32_t>(bit) << n1;
      }
    }
    history = (history << 8) | static_cast<std::uint32_t>(byte);
    hash = kBitsKnown ? next_hash : hash_bytes(history);
    partial = static_cast<std::uint32_t>(byte & 1);
    index = (hash ^ 1u) & m;
    return byte;
  }

  // Encoding: follows the data some bytes ahead, hashing as the model
  // does, and asks for the lines that hold each byte's entries.
  struct Lookahead {
    std::uint32_t history = 0;
    std::uint32_t hash = 0;
    std::uint32_t last_bit = 0;  // last bit of the previous byte
    template <class Ask = PrefetchLine>
    void touch(const BytewiseHashedModel& m, int byte, Ask&& ask = Ask{}) {
      const auto c = static_cast<std::uint32_t>(byte);
      // The byte's entries lie in two blocks of sixteen: around hash for
      // its first four bits (codes 1..15), around hash ^ high for the
      // other four (codes high | 1..15, high as in bytewise_codes_of_byte).
      // Tables large enough to prefetch from start on a page, so each
      // block fills two whole lines.
      const std::uint32_t high = bytewise_code_table.codes(c, last_bit)[4] & ~15u;
      const BitCounter* const first_four = &m.table[hash & ~15u & m.mask];
      const BitCounter* const last_four = &m.table[(hash ^ high) & ~15u & m.mask];
      ask(first_four);
      ask(first_four + 8);
      ask(last_four);
      ask(last_four + 8);
      history = (history << 8) | c;
      hash = hash_bytes(history);
      last_bit = c & 1;
    }
  };
};

}  // namespace mx
