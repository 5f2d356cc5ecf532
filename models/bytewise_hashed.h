// Bytewise Hashed Model (model 0, the model of a bare `c` command): maps a
// hash of the last four bytes and the known bits of the current byte to a
// bit counter.
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
// and the first bit of a byte uses c = 1 (entry hash XOR 1; entry 0 in the
// very first byte). 0x100 marks the second half of the byte; at order 8 or
// less the mask drops it and the two halves share entries.
// Memory: 8 * 2^order bytes (32 MiB at order 22).
#pragma once

#include "models/bit_counter.h"
#include "models/model.h"

namespace mx {

// The hash of the last four bytes, the most recent in the low byte.
constexpr std::uint32_t bytewise_hash(std::uint32_t four_bytes) {
  const std::uint32_t b0 = four_bytes & 0xFF, b1 = (four_bytes >> 8) & 0xFF;
  const std::uint32_t b2 = (four_bytes >> 16) & 0xFF, b3 = four_bytes >> 24;
  std::uint32_t h = b3 * 773u;
  h = h + b2 + 396288u;
  h = h * 773u + b1;
  h = h * 773u + b0 + 396288u;
  return h * 773u;
}

// The code c for the bit after n known bits of the byte (n = 0..7).
constexpr std::uint32_t bytewise_bit_code(std::int32_t n, std::uint32_t partial) {
  if (n == 0) return 1;
  if (n < 4) return (1u << n) | partial;
  return (1u << (n - 4)) | (partial >> 4) | 0x100u | ((partial & 0xFu) << 4);
}

// Maps a byte known in advance, and the last bit of the byte before, to
// the codes of the byte's eight bits in coding order, built at compile
// time from bytewise_bit_code. Bits 1 and 0 of the byte take part in no code of
// their own byte, so a row serves four bytes.
struct BytewiseCodeTable {
  std::uint16_t rows[128][8];

  constexpr BytewiseCodeTable() : rows() {
    for (std::uint32_t row = 0; row < 128; ++row) {
      const std::uint32_t byte = (row >> 1) << 2;
      std::uint32_t partial = row & 1;
      for (std::int32_t n = 0; n < 8; ++n) {
        rows[row][n] = static_cast<std::uint16_t>(bytewise_bit_code(n, partial));
        if (n > 0) partial |= ((byte >> (8 - n)) & 1) << n;
      }
    }
  }

  constexpr const std::uint16_t* codes(std::uint32_t byte, std::uint32_t last_bit) const {
    return rows[(byte >> 2) << 1 | last_bit];
  }
};

inline constexpr BytewiseCodeTable bytewise_code_table{};

struct BytewiseHashedModel {
  static constexpr ModelInfo info{0, "Bytewise Hashed Model", sizeof(BitCounter), 0};

  BitCounter* table;          // 2^order counters
  std::uint32_t history = 0;  // the last 32 coded bits, most recent in bit 0
  std::uint32_t hash = 0;     // hash of the last four complete bytes
  std::uint32_t index = 0;    // entry for the next predict and update
  std::uint32_t mask;
  std::int32_t bit_count = 0;  // bits of the current byte already coded, 0..7
  std::uint32_t partial = 0;   // known bits around the current byte (see above)

  BytewiseHashedModel(unsigned char* tables, std::int32_t order)
      : table(reinterpret_cast<BitCounter*>(tables)), mask(order_mask(order)) {}

  static std::uint32_t entry_index(std::uint32_t hash, std::uint32_t code, std::uint32_t mask) {
    return (hash ^ code) & mask;
  }

  Prob32 predict() const { return counter_predict(table[index]); }

  void update(int bit) {
    counter_update(table[index], bit);
    const auto b = static_cast<std::uint32_t>(bit);
    history = (history << 1) | b;
    if (bit_count == 7) {
      hash = bytewise_hash(history);
      partial = b;
      index = entry_index(hash, bytewise_bit_code(0, 0), mask);
      bit_count = 0;
    } else {
      const std::int32_t n = bit_count + 1;
      bit_count = n;
      index = entry_index(hash, bytewise_bit_code(n, partial), mask);
      partial |= b << n;
    }
  }

  // bit_count is 0 at every byte boundary. With the bit positions fixed,
  // the codes fold to constants. Nothing to prefetch: the entries of a byte
  // lie in two blocks of sixteen around the hash, the second known once the
  // first three bits are, and the first access brings them.
  template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
  int code_byte(Code&& code, int known = 0) {
    BitCounter* const t = table;
    const std::uint32_t m = mask;
    const std::uint32_t h = hash;
    if (kBitsKnown) {
      // The next byte's hash, a chain of four multiplications, is begun
      // before the bits rather than after them.
      const auto c = static_cast<std::uint32_t>(known);
      const std::uint32_t next_hash = bytewise_hash((history << 8) | c);
      const std::uint16_t* const codes = bytewise_code_table.codes(c, partial);
      const std::uint64_t* const addends = known_bit_addends.of_byte(known);
      Prob32 p[8];
      MX_UNROLL_BYTE
      for (int n = 0; n < 8; ++n) {
        // index already holds the first bit's entry (also in the very first byte).
        BitCounter& e = t[n == 0 ? index : entry_index(h, codes[n], m)];
        p[n] = counter_predict(e);
        counter_count_known<kBelowLimit>(&e, addends, 7 - n);
      }
      MX_UNROLL_BYTE
      for (int n = 0; n < 8; ++n) code(7 - n, p[n]);
      end_byte(c, next_hash);
      return known;
    }
    std::uint32_t idx = index;
    std::uint32_t part = partial;
    int byte = 0;
    MX_UNROLL_BYTE
    for (int n = 0; n < 8; ++n) {
      const int bit = code(7 - n, counter_predict(t[idx]));
      counter_update<kBelowLimit>(t[idx], bit);
      byte = (byte << 1) | bit;
      if (n < 7) {
        const int n1 = n + 1;
        idx = entry_index(h, bytewise_bit_code(n1, part), m);
        part |= static_cast<std::uint32_t>(bit) << n1;
      }
    }
    const auto c = static_cast<std::uint32_t>(byte);
    end_byte(c, bytewise_hash((history << 8) | c));
    return byte;
  }

  // Follows the data some bytes ahead, hashing as the model does, and asks
  // for the lines that hold each byte's entries: two blocks of sixteen,
  // around hash for its first four bits (codes 1..15) and around
  // hash ^ high for the other four (codes high | 1..15). Tables large
  // enough to prefetch from start on a page, so each block fills two whole
  // lines.
  struct Lookahead {
    std::uint32_t history = 0;
    std::uint32_t hash = 0;
    std::uint32_t last_bit = 0;  // of the previous byte
    template <class Ask = PrefetchLine>
    void touch(const BytewiseHashedModel& m, int byte, Ask&& ask = Ask{}) {
      const auto c = static_cast<std::uint32_t>(byte);
      const std::uint32_t high = bytewise_code_table.codes(c, last_bit)[4] & ~15u;
      const BitCounter* const first_four = &m.table[hash & ~15u & m.mask];
      const BitCounter* const last_four = &m.table[(hash ^ high) & ~15u & m.mask];
      ask(first_four);
      ask(first_four + 8);
      ask(last_four);
      ask(last_four + 8);
      history = (history << 8) | c;
      hash = bytewise_hash(history);
      last_bit = c & 1;
    }
  };

 private:
  // After byte c, whose following hash is next_hash.
  void end_byte(std::uint32_t c, std::uint32_t next_hash) {
    history = (history << 8) | c;
    hash = next_hash;
    partial = c & 1;
    index = entry_index(hash, bytewise_bit_code(0, 0), mask);
  }
};

}  // namespace mx
