// Branch-free selection on data bits.
//
// The compression loops know every data bit in advance, but a branch on one
// still mispredicts whenever the data surprises, and on this kind of loop a
// flush costs far more than the two or three instructions of a conditional
// move. Compilers are free to turn a ?: back into a branch (and do, when
// they think one side rarely happens), so on x86-64 the move is written
// out; elsewhere a mask does the same.
#pragma once

#include <cstdint>

namespace mx {

// condition ? if_true : if_false.
inline std::uint64_t select_if(bool condition, std::uint64_t if_true, std::uint64_t if_false) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
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

// Bit k (0..31) of `bits` set ? if_one : if_zero. On x86-64 the bit is
// tested where it lies (BT), never extracted into a register of its own.
inline std::uint64_t select_bit(std::uint32_t bits, int k, std::uint64_t if_one,
                                std::uint64_t if_zero) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
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

}  // namespace mx
