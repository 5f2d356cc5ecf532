// Model interface and the building blocks the models share.
//
// A context model turns the bits coded so far into the probability of the
// next bit. The drivers call, for every coded bit in order, predict (the
// Prob32 that the bit is 0), then the coder, then update with the actual
// bit. Calls strictly alternate, starting with predict: a model may keep
// what predict found (a table position, a chosen counter) for the update.
// Compression and decompression make the identical sequence of calls, so
// both sides see identical probabilities; the stream carries no model data.
//
// Every model is a class with
//   static M* create(std::int32_t order);  // null when memory is short
//   Prob32 predict();                      // changes nothing later calls see
//   void update(int bit);                  // bit is exactly 0 or 1
//   template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit = false, class Code>
//   int code_byte(Code&& code, int known = 0);  // a whole byte, see below
// and its destructor frees what it owns.
//
// code_byte does for the eight bits of one byte, from a byte boundary, what
// predict, the coder and update do bit by bit: for k = 7 down to 0 it calls
// code(k, p) with the prediction p, which codes bit k (compression) or
// decodes it (decompression) and returns it; the model learns the bit and
// goes on. It returns the byte. The model's state lives in local variables
// for the byte, so that stores to the tables (which might alias it) do not
// force it through memory, and the bit positions are constants. kPrefetch
// asks for the entries of the next bits while the current one is coded
// (decoding from large tables, where they are not known earlier);
// kBitsKnown says the bits are data known in advance (compression): the
// byte is then given as `known`, and code(k, p) must return its bit k. A
// model may use that to avoid branches on bit values (which mispredict
// whenever the data surprises) and to start work for later bits early.
// It may also run through the whole byte, each bit predicted and then
// learned in turn exactly as before, and only then hand the eight
// probabilities to code: the result is the same, since code never feeds
// the model. The model's reads, divisions and stores then all come before
// the coder's branches on settled bytes, rather than between them, where
// a mispredicted settle flushes whatever model work was issued after it.
// The counter models do (models 0, 1, 3, 4 and 5: +3 to 8% at order 16);
// the Adaptive Bitwise Model, whose prediction is one load, measured
// slower so and codes bit by bit.
// kBelowLimit says fewer than bits_before_any_halving bits will have been
// coded in the job by the end of the byte, so that counter updates may
// leave out the halving check.
// The drivers instantiate their coding loops once per model class, so
// code_byte and code inline into them; predict and update serve the paths
// that code single bits.
//
// The coding loops run each stretch of bytes on a copy of the model in
// their own frame, made with copy_state_from (every field but the
// storage) and copied back after. code_byte has to store its state at the
// end of every byte, since its table stores might alias it; kept in the
// model object on the heap, those stores and the loop's own stack accesses
// made whole runs up to a third slower on this processor, or not at all,
// depending on where the process's stack happened to start. (A store and
// a later load whose addresses agree in their low 12 bits are probably
// taken as dependent.) A copy whose address never escapes lives in
// registers instead.
//
// Tables come from one zeroed allocation each and are never filled: every
// field of an entry is stored as its offset from its start value, so that
// all-zero bytes are a fresh entry. Memory grows only with the contexts
// actually touched, and create takes constant time at any order.
#pragma once

#include <cstdint>
#include <cstring>

#include "coder/prob32.h"

namespace mx {

// Counts of the bits seen in one context. `zeros` is the number of 0 bits
// plus one and `total` the number of all bits plus two, so a fresh counter
// holds {1, 2}; the fields store zeros - 1 and total - 2, and a zeroed
// counter is fresh. The probability of a 0 is zeros * 0xFFFFFFFF / total,
// truncated (a fresh counter gives 0x7FFFFFFF).
//
// Limit: `total` never passes 0xFFFFFFFF. An update that finds it there first
// halves the history (the counts of zeros and of ones seen, each rounded
// down), then counts the bit as usual.
struct BitCounter {
  std::uint32_t zeros_less_one = 0;
  std::uint32_t total_less_two = 0;

  std::uint32_t zeros() const { return zeros_less_one + 1; }
  std::uint32_t total() const { return total_less_two + 2; }

  static BitCounter from_counts(std::uint32_t zeros, std::uint32_t total) {
    return BitCounter{zeros - 1, total - 2};
  }
};

inline constexpr std::uint32_t bit_counter_limit_less_two = 0xFFFFFFFFu - 2;

// floor((high * 2^32 + low) / d) for a quotient known to fit in 32 bits
// (high < d). On x86-64 the 64-by-32-bit form of DIV does exactly this and
// is quicker than the full 64-bit division the compiler would emit;
// elsewhere the plain division.
inline std::uint32_t divide_to_32(std::uint32_t high, std::uint32_t low, std::uint32_t d) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  // DIVL writes EAX, which clears the upper half of RAX: taking the
  // quotient as 64 bits, and saying so, spares the coder's 64-bit multiply
  // a zero extension.
  std::uint64_t quotient;
  std::uint32_t remainder;
  __asm__("divl %4" : "=a"(quotient), "=d"(remainder) : "a"(low), "d"(high), "rm"(d) : "cc");
  if (quotient > 0xFFFFFFFFu) __builtin_unreachable();
  return static_cast<std::uint32_t>(quotient);
#else
  return static_cast<std::uint32_t>(((std::uint64_t{high} << 32) | low) / d);
#endif
}

inline Prob32 counter_predict(const BitCounter& c) {
  // The dividend zeros * (2^32 - 1) = (zeros - 1) * 2^32 + (2^32 - zeros):
  // its upper word is the stored zeros - 1 and its lower word that value's
  // complement, with no 64-bit product to form. zeros < total <= 0xFFFFFFFF,
  // so the quotient fits in 32 bits.
  return divide_to_32(c.zeros_less_one, ~c.zeros_less_one, c.total_less_two + 2);
}

// Taken and returned by value, so that a counter held in registers never
// needs an address for this rare call.
BitCounter counter_halve(BitCounter c);

// Counts a bit given as `zero`: 1 for a 0 bit, 0 for a 1 bit.
// kBelowLimit: the caller knows the counter is below the limit (see
// bits_before_any_halving).
template <bool kBelowLimit = false>
inline void counter_update_zero(BitCounter& c, std::uint32_t zero) {
  if (!kBelowLimit && c.total_less_two == bit_counter_limit_less_two) c = counter_halve(c);
  c.total_less_two += 1;
  c.zeros_less_one += zero;
}

template <bool kBelowLimit = false>
inline void counter_update(BitCounter& c, int bit) {
  counter_update_zero<kBelowLimit>(c, static_cast<std::uint32_t>(bit ^ 1));
}

// The coding loops carry a counter as one 64-bit word, zeros_less_one in
// the low half and total_less_two in the high half: one load, one store,
// and an update that is a single addition (the low half never carries,
// since zeros_less_one < total_less_two + 1 <= 0xFFFFFFFE). Kept as two
// 32-bit fields, compilers tend to pack them into a vector register and
// take them apart again on every bit.
inline std::uint64_t load_counter_word(const void* counter) {
  std::uint64_t word;
  std::memcpy(&word, counter, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = word << 32 | word >> 32;  // zeros_less_one, stored first, to the low half
#endif
  return word;
}

inline void store_counter_word(void* counter, std::uint64_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = word << 32 | word >> 32;
#endif
  std::memcpy(counter, &word, 8);
}

inline Prob32 counter_word_predict(std::uint64_t word) {
  const auto zeros_less_one = static_cast<std::uint32_t>(word);
  return divide_to_32(zeros_less_one, ~zeros_less_one, static_cast<std::uint32_t>(word >> 32) + 2);
}

// counter_halve on a word. Taking and returning the word alone, the rare
// call needs nothing else of the caller's kept for it.
std::uint64_t counter_word_halve(std::uint64_t word);

// No counter can be at the limit before this many bits have been coded in
// a job: every counter starts fresh with its job's tables, a coded bit
// counts into any one counter at most once, and halving only lowers a
// total. That is 536 MB of transformed data, and a coding loop that stays
// below it (code_byte's kBelowLimit) leaves out the check, a comparison and
// a branch on every bit.
inline constexpr std::uint64_t bits_before_any_halving = bit_counter_limit_less_two;

// Counts a bit into a word, given as its addend: 2^32 (total + 1) plus 1
// for a 0 bit (zeros + 1). Since total_less_two never passes the limit,
// the word is at the limit exactly when it is at least limit * 2^32: one
// comparison of the whole word, with no shift to take the half out.
// kBelowLimit: the caller knows the word is below the limit.
template <bool kBelowLimit = false>
inline std::uint64_t counter_word_add(std::uint64_t word, std::uint64_t addend) {
  if (!kBelowLimit && word >= std::uint64_t{bit_counter_limit_less_two} << 32)
    word = counter_word_halve(word);
  return word + addend;
}

template <bool kBelowLimit = false>
inline std::uint64_t counter_word_update(std::uint64_t word, int bit) {
  return counter_word_add<kBelowLimit>(
      word, ((std::uint64_t{1} << 32) + 1) - static_cast<std::uint32_t>(bit));
}

// The addends (see counter_word_add) that count the bits of a byte known
// in advance: rows[byte][k] counts its bit k. Compression takes a byte's
// row once and counts each bit with one addition from it, rather than
// shifting the bit out of the byte and masking it, two instructions more on
// every bit. 16 KiB, of which text touches a few rows.
struct KnownBitAddends {
  std::uint64_t rows[256][8];

  constexpr KnownBitAddends() : rows{} {
    for (int c = 0; c < 256; ++c) {
      for (int k = 0; k < 8; ++k)
        rows[c][k] = (std::uint64_t{1} << 32) + static_cast<std::uint64_t>(((c >> k) & 1) ^ 1);
    }
  }

  const std::uint64_t* of_byte(int byte) const { return rows[byte & 0xFF]; }
};

inline constexpr KnownBitAddends known_bit_addends{};

// Counts bit k of a known byte, whose addends row is `addends`, into the
// counter at `counter`.
template <bool kBelowLimit = false>
inline void counter_count_known(void* counter, const std::uint64_t* addends, int k) {
  store_counter_word(counter,
                     counter_word_add<kBelowLimit>(load_counter_word(counter), addends[k]));
}

// BitCounterPair: two counters and the bit that followed the last time this
// entry served, which selects the counter for the next prediction. Packed at
// 17 bytes: counter 0 (zeros, total), counter 1 (zeros, total), last bit;
// entries are therefore unaligned and are read and written through memcpy.
// A zeroed entry is fresh: both counters {1, 2}, last bit 0.
struct BitCounterPair {
  static constexpr std::uint64_t size = 17;

  // Counters travel as words (see load_counter_word), the same layout the
  // whole-byte paths use.
  static BitCounter counter(const unsigned char* entry, unsigned which) {
    const std::uint64_t word = load_counter_word(entry + 8 * which);
    return BitCounter{static_cast<std::uint32_t>(word), static_cast<std::uint32_t>(word >> 32)};
  }

  static void store_counter(unsigned char* entry, unsigned which, const BitCounter& c) {
    store_counter_word(entry + 8 * which, c.zeros_less_one | std::uint64_t{c.total_less_two} << 32);
  }

  static unsigned last_bit(const unsigned char* entry) { return entry[16]; }

  // The counter word that `which` (0 or 1) selects, read and written with
  // the selection inside the address (entry + 8 * which). Left to itself,
  // the compiler forms that address in a register of its own, to share it
  // between the load and the store: two more instructions on every bit.
  static std::uint64_t load_word(const unsigned char* entry, std::uint64_t which) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    std::uint64_t word;
    __asm__("movq (%[e],%[w],8), %[r]"
            : [r] "=r"(word)
            : [e] "r"(entry), [w] "r"(which), "m"(*reinterpret_cast<const char(*)[size]>(entry)));
    return word;
#else
    return load_counter_word(entry + 8 * which);
#endif
  }

  static void store_word(unsigned char* entry, std::uint64_t which, std::uint64_t word) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __asm__("movq %[r], (%[e],%[w],8)"
            : "+m"(*reinterpret_cast<char(*)[size]>(entry))
            : [e] "r"(entry), [w] "r"(which), [r] "r"(word));
#else
    store_counter_word(entry + 8 * which, word);
#endif
  }

  static Prob32 predict(const unsigned char* entry) {
    return counter_predict(counter(entry, last_bit(entry)));
  }

  // The counter that predicted learns the bit; then the bit becomes the
  // entry's last bit. The other counter is left as it is.
  static void update(unsigned char* entry, int bit) {
    const unsigned last = last_bit(entry);
    BitCounter c = counter(entry, last);
    counter_update(c, bit);
    store_counter(entry, last, c);
    entry[16] = static_cast<unsigned char>(bit);
  }
};

// The contexts of a known byte's bits in the models whose context is the
// last `order` coded bits (models 1 to 3): bit k's context is a window of
// the bits before the byte and the byte's bits above k. Taken this way in
// compression, no bit needs extracting and no context waits for the bit
// before it.
struct KnownByteContexts {
  std::uint64_t bits;  // the context before the byte, then the byte
  std::uint32_t mask;

  KnownByteContexts(std::uint32_t context, int byte, std::uint32_t context_mask)
      : bits(std::uint64_t{context} << 8 | static_cast<std::uint32_t>(byte)), mask(context_mask) {}

  std::uint32_t of_bit(int k) const { return static_cast<std::uint32_t>(bits >> (k + 1)) & mask; }
  std::uint32_t after_byte() const { return static_cast<std::uint32_t>(bits) & mask; }
};

// Asks for the cache line holding `address` ahead of its use. Tables are
// far larger than the caches at high orders, and the next bits' entries
// are known a few bits early (see each model's code_byte), so the
// line can be on its way while the current bit is coded.
inline void prefetch(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

// What a compression lookahead does with each line it asks for: its
// touch(model, byte, ask) calls ask(address) per line, and the drivers
// leave ask at this default.
struct PrefetchLine {
  void operator()(const void* address) const { prefetch(address); }
};

// Unrolls a loop over the eight bits of a byte, so that its exit is no
// branch to predict and the bit positions become constants. (Clang unrolls
// such loops by itself where it can, and warns where a forced unroll fails.)
#if defined(__GNUC__) && !defined(__clang__)
#define MX_UNROLL_BYTE _Pragma("GCC unroll 8")
#else
#define MX_UNROLL_BYTE
#endif

// Keeps a function out of line. The coding loops' fast stretches are
// their own functions, which call nothing: inlined into a caller that does
// make calls, their state would compete for the few registers that a call
// preserves and spill to the stack.
#if defined(__GNUC__) || defined(__clang__)
#define MX_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define MX_NOINLINE __declspec(noinline)
#else
#define MX_NOINLINE
#endif

// Tables up to this size stay in the cache of one core, where asking for
// entries ahead only costs instructions; the coding loops prefetch only for
// larger ones. Decoding waits on every entry it reads, bit after bit, so
// it starts lower: from 1 MiB (about a core's second-level cache), where
// models 3 and 5 at order 16 decode some 3-4% faster for it; compression
// keeps its throughput for tables that still fit the shared cache.
inline constexpr std::uint64_t prefetch_from_bytes = std::uint64_t{2} << 20;
inline constexpr std::uint64_t decode_prefetch_from_bytes = std::uint64_t{1} << 20;

// Mask of the low `order` bits, for orders 0..31.
inline std::uint32_t order_mask(std::int32_t order) {
  return static_cast<std::uint32_t>((std::uint64_t{1} << order) - 1);
}

inline bool valid_order(std::int32_t order) { return order >= 0 && order <= 31; }

}  // namespace mx
