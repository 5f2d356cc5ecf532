// Operating-system layer.
//
// Everything Moltavex needs from the operating system goes through this small
// set of calls, so that the rest of the code is the same on every system:
// the standard handles, opening an input file, creating an output file,
// reading, writing, flushing and closing, file identity (to refuse writing
// over the input), removing an incomplete output and zero-filled memory.
// Process concerns (signals, terminals, the end of the process) belong to
// the program, in cli/process.h. platform_posix.cpp implements this layer
// for Linux and other POSIX systems, platform_win32.cpp for Windows.
//
// Conventions: no call prints anything and none throws. Handles are opaque
// integers; `invalid_handle` marks a failed open.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>

namespace mx::platform {

using Handle = std::intptr_t;
inline constexpr Handle invalid_handle = -1;

Handle std_input();
Handle std_output();
Handle std_error();

// Opens an existing file for sequential reading.
Handle open_input(const char* name);
// Creates a file for writing, truncating an existing one.
Handle create_output(const char* name);

// A flag raised from a signal handler to abandon the job. Calls that a
// signal interrupts are retried unless the flag is set, so that a job
// blocked on a terminal or a pipe still notices Ctrl-C.
using StopFlag = const volatile std::sig_atomic_t*;

// Reads up to `size` bytes. Returns the number read, 0 at end of input, or -1
// on a read error (a directory given as input, an I/O error...) or when
// `stop` was raised while waiting.
std::int64_t read(Handle h, void* buffer, std::size_t size, StopFlag stop = nullptr);
// Writes all `size` bytes, retrying short writes. False on any failure or
// when `stop` was raised while waiting.
bool write_all(Handle h, const void* data, std::size_t size, StopFlag stop = nullptr);
// Hands data written so far to the system. False on failure.
bool flush(Handle h);
// Closes the handle. False when the system reports an error on close.
bool close(Handle h);

// Identity of a file on its device, used to tell whether two names or
// handles denote the same file (hard links and symbolic links included).
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;  // bytes, for a regular file
  bool regular = false;    // a plain file (not a device, pipe or terminal)
  bool valid = false;
};
FileId identify(Handle h);
FileId identify(const char* name);  // valid == false when the name does not exist

// Removes a file by name. False on failure.
bool remove_file(const char* name);

// Zero-filled memory. Large blocks come straight from the system as pages
// that are zero until first written, so untouched parts cost nothing;
// blocks of 1 MiB and more start on a page boundary (the lookahead of the
// Bytewise Hashed Model counts on its blocks of entries filling whole
// cache lines). Returns null when the size cannot be allocated (or does
// not fit size_t). A block goes back with the size it was allocated with.
void* alloc_zeroed(std::uint64_t bytes);
void free_memory(void* block, std::uint64_t bytes);

}  // namespace mx::platform
