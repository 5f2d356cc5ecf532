// The program's environment (see environment.h).
#include "cli/environment.h"

#include <cstdlib>
#include <cstring>

#include "cli/sizes.h"
#include "cli/system.h"
#include "moltavex/moltavex.h"

namespace mx::cli {

namespace {

bool parse_limit(const char* text, std::uint64_t physical_memory, std::uint64_t& limit) {
  if (std::strcmp(text, "max") == 0) {
    limit = MVX_NO_MEMORY_LIMIT;
    return true;
  }
  return parse_size(text, physical_memory, limit);
}

Environment read_environment() {
  Environment e;
  e.options = std::getenv("MOLTAVEX_OPT");
  e.physical_memory = sys::physical_memory();
  const char* limit = std::getenv("MOLTAVEX_MEMLIMIT");
  if (limit != nullptr) {
    e.memory_limit_valid = parse_limit(limit, e.physical_memory, e.memory_limit);
  }
  return e;
}

}  // namespace

const Environment& environment() {
  static const Environment e = read_environment();
  return e;
}

bool parse_memory_limit(const char* text, std::uint64_t& limit) {
  return parse_limit(text, environment().physical_memory, limit);
}

std::uint64_t memory_limit(std::uint64_t given, bool choosing) {
  const Environment& e = environment();
  if (given != 0) return given;
  if (e.memory_limit != 0) return e.memory_limit;
  if (choosing) return MVX_DEFAULT_MEMORY_LIMIT;
  // A machine that cannot tell its memory sets no limit of its own.
  return e.physical_memory != 0 ? e.physical_memory : MVX_NO_MEMORY_LIMIT;
}

}  // namespace mx::cli
