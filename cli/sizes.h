// Sizes as xz reads them, in MOLTAVEX_MEMLIMIT and in every option that
// takes one: a decimal number (digits, optionally with a fraction, "1.5"),
// then optionally a unit: K, k, KB, kB, Ki or KiB for 2^10; M, m, MB, Mi or
// MiB for 2^20; G, g, GB, Gi or GiB for 2^30 (binary multiples all, as
// xz's); or "N%", that share of the machine's physical memory (1 to 100).
// A fraction needs a unit; the bytes are rounded down.
#pragma once

#include <cstdint>

namespace mx::cli {

// False for anything else, an empty text or a value beyond 64 bits (and
// a percentage when `physical_memory` is 0, unknown).
bool parse_size(const char* text, std::uint64_t physical_memory, std::uint64_t& bytes);

}  // namespace mx::cli
