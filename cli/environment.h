// What the program takes from its environment, read once at start:
// MOLTAVEX_OPT, options read before the command line's (as XZ_OPT), and
// MOLTAVEX_MEMLIMIT, the table memory each job may take. Both interfaces
// use this one reading.
#pragma once

#include <cstdint>

namespace mx::cli {

struct Environment {
  const char* options = nullptr;  // MOLTAVEX_OPT, null when unset
  // MOLTAVEX_MEMLIMIT as a byte count; without it (or with 0, the default)
  // the machine's physical memory; "max": MVX_NO_MEMORY_LIMIT.
  std::uint64_t memory_limit = 0;
  bool memory_limit_valid = true;  // false: MOLTAVEX_MEMLIMIT holds no byte count
};

const Environment& environment();

}  // namespace mx::cli
