// The probability unit shared by the models and the coder.
#pragma once

#include <cstdint>

namespace mx {

// Probability that the next bit is 0, in units of 2^-32 (0x80000000 is one
// half). The models never return 0; the coder accepts every value anyway.
using Prob32 = std::uint32_t;

}  // namespace mx
