// Windows forms of the durability and pipe calls of platform.h.
#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/platform.h"

namespace mx::platform {

bool sync_file(const char* name) {
  const HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = FlushFileBuffers(h) != 0;
  CloseHandle(h);
  return ok;
}

// NTFS journals its directory entries itself, and a directory cannot be
// flushed without administrator rights: a rename is durable once the file
// is.
bool sync_directory_of(const char*) { return true; }

bool output_gone(Handle h) {
  // A pipe whose reader has closed fails writes with ERROR_NO_DATA (or
  // ERROR_BROKEN_PIPE); a zero-byte write asks again.
  DWORD written = 0;
  if (GetFileType(reinterpret_cast<HANDLE>(h)) != FILE_TYPE_PIPE) return false;
  if (WriteFile(reinterpret_cast<HANDLE>(h), "", 0, &written, nullptr)) return false;
  const DWORD error = GetLastError();
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
}

}  // namespace mx::platform

#endif
