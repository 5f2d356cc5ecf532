// Compiler and portability helpers: the one place that knows about compiler
// attributes, pragmas and instruction sets. Every layer may include it.
//
// Each helper states what it computes in plain C++ and has a portable
// implementation. On x86-64 with GCC or Clang some are written in inline
// assembly, because the compilers do not reliably emit the instruction
// that makes them cheap (see "Speed" at the end). Building with
// MOLTAVEX_PORTABLE defined (CMake option MOLTAVEX_PORTABLE=ON) keeps the
// plain implementations only, so that they are tested on this machine too;
// both give the same results bit for bit.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(MOLTAVEX_PORTABLE)
#define MX_ASM_X86_64 1
#else
#define MX_ASM_X86_64 0
#endif

// Keeps a function out of line.
#if defined(__GNUC__) || defined(__clang__)
#define MX_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define MX_NOINLINE __declspec(noinline)
#else
#define MX_NOINLINE
#endif

// Unrolls the loop that follows over the eight bits of a byte. (Clang
// unrolls such loops by itself where it can, and warns where a forced
// unroll fails.)
#if defined(__GNUC__) && !defined(__clang__)
#define MX_UNROLL_BYTE _Pragma("GCC unroll 8")
#else
#define MX_UNROLL_BYTE
#endif

namespace mx {

// Asks for the cache line holding `address` ahead of its use; no effect on
// results.
inline void prefetch(const void* address) {
#if defined(__EMSCRIPTEN__)
  // WebAssembly has no prefetch; a load whose value is dropped starts the
  // line's fetch all the same (volatile, so that it stays). Callers pass
  // addresses inside their tables only.
  (void)*static_cast<const volatile unsigned char*>(address);
#elif defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

// The leading zero bits of `x` (32 for 0).
inline int leading_zeros32(std::uint32_t x) {
#if defined(__GNUC__) || defined(__clang__)
  return x == 0 ? 32 : __builtin_clz(x);
#else
  int zeros = 32;
  for (; x != 0; x >>= 1) --zeros;
  return zeros;
#endif
}

// condition ? if_true : if_false, without a branch.
inline std::uint64_t select_if(bool condition, std::uint64_t if_true, std::uint64_t if_false) {
#if MX_ASM_X86_64
  std::uint64_t result = if_false;
  __asm__("testb %b[c], %b[c]\n\tcmovnzq %[t], %[r]"
          : [r] "+r"(result)
          : [c] "q"(condition), [t] "r"(if_true)
          : "cc");
  return result;
#else
  const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(condition);
  return (if_true & mask) | (if_false & ~mask);
#endif
}

// Bit k (0..31) of `bits` set ? if_one : if_zero, without a branch.
inline std::uint64_t select_bit(std::uint32_t bits, int k, std::uint64_t if_one,
                                std::uint64_t if_zero) {
#if MX_ASM_X86_64
  std::uint64_t result = if_zero;
  __asm__("btl %[k], %k[bits]\n\tcmovcq %[t], %[r]"
          : [r] "+r"(result)
          : [bits] "r"(bits), [k] "Ir"(k), [t] "r"(if_one)
          : "cc");
  return result;
#else
  return select_if(((bits >> k) & 1) != 0, if_one, if_zero);
#endif
}

// The choice between the two parts of an interval [low, high] split at
// mid, without a branch: when `one` holds, [low, mid] remains, otherwise
// [mid + 1, high]. choose_part_if_one takes `one` as bit == 1;
// choose_part_by_bit as bit k (0..31) of `bits`.
inline void choose_part_if_one(std::uint64_t& low, std::uint64_t& high, int bit,
                               std::uint64_t mid) {
  const std::uint64_t above = mid + 1;
#if MX_ASM_X86_64
  __asm__("cmpl $1, %k[bit]\n\tcmoveq %[mid], %[high]\n\tcmovneq %[above], %[low]"
          : [high] "+r"(high), [low] "+r"(low)
          : [bit] "r"(bit), [mid] "r"(mid), [above] "r"(above)
          : "cc");
#else
  high = select_if(bit == 1, mid, high);
  low = select_if(bit == 1, low, above);
#endif
}

inline void choose_part_by_bit(std::uint64_t& low, std::uint64_t& high, std::uint32_t bits, int k,
                               std::uint64_t mid) {
  const std::uint64_t above = mid + 1;
#if MX_ASM_X86_64
  __asm__("btl %[k], %k[bits]\n\tcmovcq %[mid], %[high]\n\tcmovncq %[above], %[low]"
          : [high] "+r"(high), [low] "+r"(low)
          : [bits] "r"(bits), [k] "Ir"(k), [mid] "r"(mid), [above] "r"(above)
          : "cc");
#else
  const bool one = ((bits >> k) & 1) != 0;
  high = select_if(one, mid, high);
  low = select_if(one, low, above);
#endif
}

// floor((high * 2^32 + low) / d) for a quotient known to fit in 32 bits
// (high < d).
inline std::uint32_t divide_to_32(std::uint32_t high, std::uint32_t low, std::uint32_t d) {
#if MX_ASM_X86_64
  // DIVL writes EAX, which clears the upper half of RAX: taking the
  // quotient as 64 bits, and saying so, spares a caller's 64-bit multiply
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

// The 8 bytes at base + 8 * index, in the machine's byte order, of an
// object whose kExtent bytes start at `base` (index 0 or 1 for the 17-byte
// counter pairs). The object may be unaligned.
template <unsigned kExtent>
inline std::uint64_t load_u64_at(const unsigned char* base, std::uint64_t index) {
#if MX_ASM_X86_64
  std::uint64_t word;
  __asm__("movq (%[e],%[w],8), %[r]"
          : [r] "=r"(word)
          : [e] "r"(base), [w] "r"(index), "m"(*reinterpret_cast<const char(*)[kExtent]>(base)));
  return word;
#else
  std::uint64_t word;
  std::memcpy(&word, base + 8 * index, 8);
  return word;
#endif
}

template <unsigned kExtent>
inline void store_u64_at(unsigned char* base, std::uint64_t index, std::uint64_t word) {
#if MX_ASM_X86_64
  __asm__("movq %[r], (%[e],%[w],8)"
          : "+m"(*reinterpret_cast<char(*)[kExtent]>(base))
          : [e] "r"(base), [w] "r"(index), [r] "r"(word));
#else
  std::memcpy(base + 8 * index, &word, 8);
#endif
}

}  // namespace mx

// Speed
//
// - Branch-free selects: the compression loops know every data bit in
//   advance, but a branch on one still mispredicts whenever the data
//   surprises, and a pipeline flush costs far more than the two or three
//   instructions of a conditional move. Compilers are free to turn a ?:
//   back into a branch (and do, when they think one side rarely happens),
//   so on x86-64 the move is written out. BT tests a bit where it lies in
//   its word, never extracting it into a register of its own.
// - divide_to_32: the 64-by-32-bit form of DIV is quicker than the full
//   64-bit division the compiler would emit for the same quotient.
// - load_u64_at / store_u64_at: with the index inside the instruction's
//   address, a load and a later store to the same counter need no address
//   register of their own, where the compiler would form one to share it:
//   two instructions on every coded bit of models 3 and 5.
// - MX_NOINLINE: the coding loops' stretches are their own functions, which
//   call nothing; inlined into a caller that does make calls, their state
//   would compete for the few registers a call preserves and spill.
// - MX_UNROLL_BYTE: an unrolled bit loop has no exit branch to predict, and
//   its bit positions become constants.
