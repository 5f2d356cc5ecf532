// Windows forms of the durability calls of platform.h.
#if defined(_WIN32)

#include <windows.h>

#include "platform/platform.h"

namespace mx::platform {

// NTFS journals its directory entries itself, and a directory cannot be
// flushed without administrator rights: a rename is durable once the file
// is.
bool sync_directory_of(const char*) { return true; }

}  // namespace mx::platform

#endif
