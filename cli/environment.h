// What the program takes from its environment, read once at start:
// MOLTAVEX_OPT, options read before the command line's (as XZ_OPT), and
// MOLTAVEX_MEMLIMIT, the table memory each job may take. Both interfaces
// use this one reading, and memory_limit() is the one rule for a job's
// limit.
#pragma once

#include <cstdint>

namespace mx::cli {

struct Environment {
  const char* options = nullptr;      // MOLTAVEX_OPT, null when unset
  std::uint64_t memory_limit = 0;     // MOLTAVEX_MEMLIMIT; 0 when unset (or 0, the default)
  bool memory_limit_valid = true;     // false: MOLTAVEX_MEMLIMIT holds no size
  std::uint64_t physical_memory = 0;  // the machine's; 0 when it cannot be told
};

const Environment& environment();

// A memory limit as written (sizes.h), or "max" for none
// (MVX_NO_MEMORY_LIMIT); 0 stands for the default. False for anything
// else.
bool parse_memory_limit(const char* text, std::uint64_t& limit);

// A job's table limit: `given` (-M) when not 0, else MOLTAVEX_MEMLIMIT when
// set, else the default: MVX_DEFAULT_MEMORY_LIMIT for the automatic
// choice (so that every chosen stream decompresses with every decoder's
// defaults), the machine's physical memory otherwise.
std::uint64_t memory_limit(std::uint64_t given, bool choosing);

}  // namespace mx::cli
