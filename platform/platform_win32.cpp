// Windows implementation of the operating-system layer.
//
// The input is opened for sequential reading with read sharing only: while
// it is open nobody, this process included, can open it for writing or
// rename over it. A temporary output is created with CREATE_NEW (never an
// existing file) and replaces its name with MoveFileEx. Standard handles are
// used as they are, in binary (WriteFile and ReadFile never translate line
// ends).
//
// Handles are the HANDLE values themselves, carried in the pointer-sized
// integer Handle; INVALID_HANDLE_VALUE is (HANDLE)-1, so it maps onto
// invalid_handle, and a null handle (a missing standard handle) does too.
#if defined(_WIN32)

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace mx::platform {

static Handle from_native(HANDLE h) {
  return h == INVALID_HANDLE_VALUE || h == nullptr ? invalid_handle : reinterpret_cast<Handle>(h);
}
static HANDLE native(Handle h) { return reinterpret_cast<HANDLE>(h); }

Handle std_input() { return from_native(GetStdHandle(STD_INPUT_HANDLE)); }
Handle std_output() { return from_native(GetStdHandle(STD_OUTPUT_HANDLE)); }
Handle std_error() { return from_native(GetStdHandle(STD_ERROR_HANDLE)); }

// Both handles carry FILE_READ_ATTRIBUTES (GENERIC_READ includes it, the
// output asks for it), which identify() needs for GetFileInformationByHandle
// on them. GENERIC_WRITE carries the attribute and extended-attribute write
// rights that truncating an existing file with CREATE_ALWAYS requires.
//
// FILE_FLAG_BACKUP_SEMANTICS lets a directory named as input be opened, as
// open() does on POSIX; reading it then fails, so a directory is reported as
// a read error on every system rather than as a failed open here only.
Handle open_input(const char* name, StopFlag) {
  return from_native(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Devices (NUL, CON) and pipes are written in place; disk files, and names
// that a reparse point (a symbolic link) stands under, are replaced.
OutputTarget classify_output(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return OutputTarget::link;
  }
  const FileId id = identify(name);
  if (!id.valid) return OutputTarget::none;
  return id.regular ? OutputTarget::regular : OutputTarget::other;
}

Handle open_in_place(const char* name, StopFlag) {
  const Handle h = from_native(CreateFileA(name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h != invalid_handle && identify(h).regular) {
    CloseHandle(native(h));
    return invalid_handle;
  }
  return h;
}

// The temporary file is "<name>.<number>.tmp" beside the output.
std::size_t temporary_name_size(const char* beside) { return std::strlen(beside) + 24; }

Handle create_temporary(const char* beside, char* name) {
  const std::size_t size = temporary_name_size(beside);
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    std::snprintf(name, size, "%s.%08lx.tmp", beside, static_cast<unsigned long>(seed));
    // GENERIC_WRITE carries FILE_WRITE_ATTRIBUTES, which apply_times needs.
    HANDLE h = CreateFileA(name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return from_native(h);
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return invalid_handle;
}

// No unnamed file here: the named temporary file is the way.
Handle create_unnamed(const char*, bool& refused) {
  refused = true;
  return invalid_handle;
}

bool link_unnamed(Handle, const char*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

bool link_unnamed_beside(Handle, const char*, char*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

int last_error() {
  switch (GetLastError()) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_NOT_SUPPORTED: return ENOTSUP;
    default: return EIO;
  }
}

bool replace_file(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

// FILETIME counts 100 ns since 1601; the seconds field carries the high
// and low words as they are, the nanoseconds field is unused.
FileAttributes attributes(Handle h) {
  FileAttributes a;
  FILETIME access, modify;
  if (!identify(h).regular || !GetFileTime(native(h), nullptr, &access, &modify)) return a;
  a.valid = true;
  a.access_seconds =
      (static_cast<std::int64_t>(access.dwHighDateTime) << 32) | access.dwLowDateTime;
  a.modify_seconds =
      (static_cast<std::int64_t>(modify.dwHighDateTime) << 32) | modify.dwLowDateTime;
  return a;
}

// Windows files carry no POSIX permission bits; the new file keeps the
// access its directory gives it.
bool apply_permissions(Handle, const FileAttributes&) { return true; }

bool apply_times(Handle h, const FileAttributes& from) {
  if (!from.valid) return true;
  FILETIME access, modify;
  access.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(from.access_seconds) >> 32);
  access.dwLowDateTime = static_cast<DWORD>(from.access_seconds);
  modify.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(from.modify_seconds) >> 32);
  modify.dwLowDateTime = static_cast<DWORD>(from.modify_seconds);
  return SetFileTime(native(h), nullptr, &access, &modify) != 0;
}

std::uint64_t physical_memory() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

std::int64_t read(Handle h, void* buffer, std::size_t size, StopFlag) {
  // ReadFile takes a DWORD count; a larger request is served in part, which
  // the contract allows ("up to `size` bytes").
  DWORD got = 0;
  const DWORD want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
  if (!ReadFile(native(h), buffer, want, &got, nullptr)) {
    // A pipe whose writer has gone away is the normal end of standard input.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<std::int64_t>(got);
}

bool write_all(Handle h, const void* data, std::size_t size, StopFlag) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(native(h), p, chunk, &done, nullptr) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

// Disk files are flushed to the device, as the program always did on this
// platform. Consoles and pipes cannot be flushed and report an error that
// means nothing here.
bool flush(Handle h) {
  if (GetFileType(native(h)) != FILE_TYPE_DISK) return true;
  return FlushFileBuffers(native(h)) != 0;
}

bool sync(Handle h) { return FlushFileBuffers(native(h)) != 0; }

bool close(Handle h) { return CloseHandle(native(h)) != 0; }

FileId identify(Handle h) {
  FileId id;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(native(h), &info)) return id;
  id.device = info.dwVolumeSerialNumber;
  id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.regular = GetFileType(native(h)) == FILE_TYPE_DISK &&
               !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (id.regular) {
    id.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }
  id.valid = true;
  return id;
}

FileId identify(const char* name) {
  HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FileId{};
  FileId id = identify(from_native(h));
  CloseHandle(h);
  return id;
}

bool remove_file(const char* name) { return DeleteFileA(name) != 0; }

// Blocks of at least this size come from VirtualAlloc, smaller ones from the
// process heap. free_memory makes the same choice from the size it is given,
// which is why a block must go back with the size it was allocated with.
static constexpr std::uint64_t large_block = std::uint64_t{1} << 20;

void* alloc_zeroed(std::uint64_t bytes) {
  // On 32-bit Windows SIZE_T is 32 bits: a larger request cannot be expressed
  // and must fail rather than be truncated.
  if (bytes > SIZE_MAX) return nullptr;
  // Committed virtual memory reads as zero and is backed only where touched.
  if (bytes >= large_block) {
    return VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE | MEM_COMMIT,
                        PAGE_READWRITE);
  }
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes == 0 ? 1 : static_cast<SIZE_T>(bytes));
}

// Large pages on Windows need a privilege that programs rarely hold; the
// advice is not taken.
std::uint64_t large_page_bytes() { return 0; }
bool advise_huge_pages(void*, std::uint64_t, bool) { return true; }
void advise_small_pages(void*, std::uint64_t) {}
std::uint64_t resident_bytes(const void*, std::uint64_t) { return UINT64_MAX; }

void free_memory(void* block, std::uint64_t bytes) {
  if (block == nullptr) return;
  if (bytes >= large_block) {
    VirtualFree(block, 0, MEM_RELEASE);
  } else {
    HeapFree(GetProcessHeap(), 0, block);
  }
}

}  // namespace mx::platform

#endif
