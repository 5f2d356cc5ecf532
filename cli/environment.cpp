#include "cli/environment.h"

#include <cstdlib>
#include <cstring>

#include "cli/sizes.h"
#include "cli/system.h"
#include "moltavex/moltavex.h"

namespace mx::cli {

namespace {

Environment read_environment() {
  Environment e;
  e.options = std::getenv("MOLTAVEX_OPT");
  const char* limit = std::getenv("MOLTAVEX_MEMLIMIT");
  std::uint64_t bytes = 0;
  const std::uint64_t physical = sys::physical_memory();
  if (limit != nullptr && std::strcmp(limit, "max") == 0) {
    bytes = MVX_NO_MEMORY_LIMIT;
  } else if (limit != nullptr && !parse_size(limit, physical, bytes)) {
    e.memory_limit_valid = false;
  }
  if (bytes == 0) bytes = physical;
  // A machine that cannot tell its memory sets no limit of its own.
  e.memory_limit = bytes != 0 ? bytes : MVX_NO_MEMORY_LIMIT;
  return e;
}

}  // namespace

const Environment& environment() {
  static const Environment e = read_environment();
  return e;
}

}  // namespace mx::cli
