// The level table: the fixed model and order behind each of the levels
// MVX_LEVEL_MIN..MVX_LEVEL_MAX, the one home of the table that the program's
// -1 .. -9, its help text and the bindings read (moltavex.h lists it with
// the memory of each level; bench/README.md has the measurements).
//
// Levels 1 to 5 are the Simple Bitwise Model at rising orders: one table
// lookup per bit, so its speed hardly changes while its table fits the
// caches, and the size falls with every two orders. From level 6 on, the
// Combined Model, slower by half or more, gives the smaller streams, above
// all on binary data; its order rises one by one up to 23, past which the
// corpus texts grow again. No level goes above order 26, so that every
// level's stream decodes within the library's default table limit.
#include "moltavex/moltavex.h"

namespace {

struct Level {
  int model;
  int order;
};

constexpr Level levels[MVX_LEVEL_MAX - MVX_LEVEL_MIN + 1] = {
    {1, 12}, {1, 16}, {1, 18}, {1, 20}, {1, 22}, {5, 20}, {5, 21}, {5, 22}, {5, 23},
};

static_assert(MVX_LEVEL_DEFAULT >= MVX_LEVEL_MIN && MVX_LEVEL_DEFAULT <= MVX_LEVEL_MAX,
              "the default level is a level");

}  // namespace

extern "C" MVX_API mvx_status mvx_level_setting(int level, mvx_setting* setting) {
  if (setting == nullptr || level < MVX_LEVEL_MIN || level > MVX_LEVEL_MAX) {
    return setting == nullptr ? MVX_INVALID_CALL : MVX_INVALID_ARGUMENT;
  }
  setting->model = levels[level - MVX_LEVEL_MIN].model;
  setting->order = levels[level - MVX_LEVEL_MIN].order;
  return MVX_OK;
}
