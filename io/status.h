// Outcome of opening streams and of a whole compression or decompression
// job. The library never prints: it returns one of these, and the caller
// decides what to say. The values are those of the public mvx_status, so
// that the C API hands them on as they are.
#pragma once

#include "moltavex/moltavex.h"

namespace mx {

#define MX_STATUS_ENUMERATOR_(value, name, message) name = value,
enum class Status : int { MVX_STATUS_LIST(MX_STATUS_ENUMERATOR_) };
#undef MX_STATUS_ENUMERATOR_

inline mvx_status c_status(Status status) { return static_cast<mvx_status>(status); }

}  // namespace mx
