// What the Simple Bitwise Model would have coded a piece of data to at
// lower orders, read from its tables after a trial at a higher one: a
// level's choice among model 1's orders costs one trial and a pass over
// its table, not a trial per order.
//
// Contract: the cost of an order is the length, in bits, of the ideal code
// of the coded bits under that order's counters, in units of
// 2^-cost_fraction_bits bit. A counter that starts fresh at {1 zero, 2 in
// all} and counts Z zeros and O ones gives them probability
// Z! O! / (Z + O + 1)!, in whatever order they come, so the cost is the
// sum over the contexts of log2((Z + O + 1)! / (Z! O!)), from the final
// counts alone; and the contexts of a lower order are the low bits of a
// higher one's, so its counts are the higher table folded. A stream's body
// is its cost rounded up to bytes plus the coder's finish (4 to 7 bytes),
// alike for every order. Integer arithmetic throughout: the same tables
// give the same costs everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mx {

inline constexpr int cost_fraction_bits = 24;

// costs[i] = the cost at orders[i] (rising, none above `order`) of what a
// job of model 1 at `order` coded, from its `tables` after the job: below
// bits_before_any_halving bits, whose counters never halved. The tables
// are folded in place: the job's last use of them.
void plain_costs(unsigned char* tables, int order, const std::vector<int>& orders,
                 std::vector<std::uint64_t>& costs);

}  // namespace mx
