// Outcome of opening streams and of a whole compression or decompression
// job. The library never prints: it returns one of these, and the program
// prints the matching fixed line with status_message(). The enumeration is
// the public one.
#pragma once

#include "moltavex/moltavex.hpp"

namespace mx {

using moltavex::Status;
using moltavex::status_message;

}  // namespace mx
