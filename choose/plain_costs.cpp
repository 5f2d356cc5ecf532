#include "choose/plain_costs.h"

#include <cstring>

#include "common/compiler.h"
#include "models/bit_counter.h"

namespace mx {

namespace {

// log2(n) for n >= 1, in units of 2^-cost_fraction_bits, rounded down to
// within a unit or two: the mantissa in 1.31 fixed point squared once per
// fraction bit.
constexpr std::uint64_t log2_fixed(std::uint64_t n) {
  int exponent = 0;
  while ((n >> exponent) > 1) ++exponent;
  std::uint64_t m = exponent <= 31 ? n << (31 - exponent) : n >> (exponent - 31);
  std::uint64_t result = static_cast<std::uint64_t>(exponent) << cost_fraction_bits;
  for (int bit = cost_fraction_bits - 1; bit >= 0; --bit) {
    m = (m * m) >> 31;
    if (m >= (std::uint64_t{1} << 32)) {
      m >>= 1;
      result |= std::uint64_t{1} << bit;
    }
  }
  return result;
}

// log2(n!) for n below `size`, summed term by term; and the cost of every
// context that saw fewer than `few` bits, by its word's (total << 4 |
// zeros), since most contexts of a high order see few. 34 KiB, made on
// first use: too many steps for a compiler's constant evaluation.
struct LogFactorials {
  static constexpr std::uint32_t size = 4096;
  static constexpr std::uint32_t few = 16;
  std::uint64_t of[size] = {};
  std::uint64_t of_few[few * few] = {};

  LogFactorials() {
    for (std::uint32_t n = 2; n < size; ++n) of[n] = of[n - 1] + log2_fixed(n);
    for (std::uint32_t total = 0; total < few; ++total) {
      for (std::uint32_t zeros = 0; zeros <= total; ++zeros) {
        of_few[total * few + zeros] = of[total + 1] - of[zeros] - of[total - zeros];
      }
    }
  }
};

constexpr std::uint64_t log2_e = 24204406;       // log2(e), in units
constexpr std::uint64_t log2_two_pi = 44484723;  // log2(2 pi), in units

// log2(n!): from the table, and beyond it by Stirling's series to its
// 1/(12 n) term (what it leaves out is below 2^-40 bit there).
std::uint64_t log2_factorial(const LogFactorials& table, std::uint64_t n) {
  if (n < LogFactorials::size) return table.of[n];
  const std::uint64_t log_n = log2_fixed(n);
  return n * log_n - n * log2_e + (log2_two_pi + log_n) / 2 + log2_e / (12 * n);
}

// The ideal code of one context's bits under a fresh counter: Z zeros and
// O ones cost log2((Z + O + 1)! / (Z! O!)). `word` holds Z in its low half
// and Z + O in its high half.
MX_NOINLINE std::uint64_t many_bits_cost(const LogFactorials& table, std::uint64_t word) {
  const std::uint64_t zeros = word & 0xFFFFFFFFu;
  const std::uint64_t total = word >> 32;
  return log2_factorial(table, total + 1) - log2_factorial(table, zeros) -
         log2_factorial(table, total - zeros);
}

inline std::uint64_t context_cost(const LogFactorials& table, std::uint64_t word) {
  const std::uint64_t total = word >> 32;
  if (total < LogFactorials::few) {
    return table.of_few[total * LogFactorials::few + (word & 0xFFFFFFFFu)];
  }
  return many_bits_cost(table, word);
}

}  // namespace

void plain_costs(unsigned char* tables, int order, const std::vector<int>& orders,
                 std::vector<std::uint64_t>& costs) {
  costs.assign(orders.size(), 0);
  static const LogFactorials table;
  // A counter word of the coded table is the count itself: zeros seen in
  // its low half, bits seen in its high half (models/bit_counter.h). No
  // half carries into the other, so words add as they are stored, in
  // either byte order.
  const auto word = [tables](std::size_t c) {
    std::uint64_t w;
    std::memcpy(&w, tables + 8 * c, 8);
    return w;
  };
  // From the job's order down to each order asked for in one pass: the
  // contexts with the same low `at` bits added into the first 2^at, which
  // stay in the cache while the rest of the table streams past once.
  int from = order;
  for (std::size_t next = orders.size(); next > 0; --next) {
    const int at = orders[next - 1];
    const std::size_t contexts = std::size_t{1} << at;
    for (std::size_t base = contexts; base < std::size_t{1} << from; base += contexts) {
      for (std::size_t c = 0; c < contexts; ++c) {
        const std::uint64_t sum = word(c) + word(base + c);
        std::memcpy(tables + 8 * c, &sum, 8);
      }
    }
    std::uint64_t cost = 0;
    for (std::size_t c = 0; c < contexts; ++c) {
      cost += context_cost(table, load_counter_word(tables + 8 * c));
    }
    costs[next - 1] = cost;
    from = at;
  }
}

}  // namespace mx
