// Operating-system layer.
//
// Everything Moltavex needs from the operating system goes through this small
// set of calls, so that the rest of the code is the same on every system:
// the standard handles, opening an input file, creating an output file,
// reading, writing, flushing, syncing and closing, file identity (to refuse
// writing over the input), removing an incomplete output and zero-filled
// memory. platform/files.h builds a job's input and output files on them.
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

// A flag raised from a signal handler to abandon the job. Calls that a
// signal interrupts are retried unless the flag is set, so that a job
// blocked on a terminal, a pipe or the open of a FIFO still notices Ctrl-C.
using StopFlag = const volatile std::sig_atomic_t*;

inline bool stopped(StopFlag stop) { return stop != nullptr && *stop != 0; }

// Opens an existing file for sequential reading.
Handle open_input(const char* name, StopFlag stop = nullptr);

// What stands under an output name; a final symbolic link is not followed.
enum class OutputTarget {
  none,     // nothing (or nothing that can be examined)
  regular,  // a regular file
  link,     // a symbolic link, whatever it points to
  other,    // a device, a FIFO, a socket or a directory
};
OutputTarget classify_output(const char* name);

// Opens an existing output that is not a regular file (a device, a FIFO)
// for writing in place. Fails on a regular file, which is never written in
// place.
Handle open_in_place(const char* name, StopFlag stop = nullptr);

// Creates a new, empty file in the directory of `beside` (a path),
// exclusively and readable and writable by its owner only, and writes its
// path, zero-terminated, to `name`, which has room for
// temporary_name_size(beside) bytes.
std::size_t temporary_name_size(const char* beside);
Handle create_temporary(const char* beside, char* name);

// A new, empty file with no name in the directory of `beside`, readable
// and writable by its owner only, which link_unnamed names once it is
// complete: a process killed before then leaves nothing (Linux's
// O_TMPFILE). invalid_handle with `refused` set where the system or the
// file system makes no such file, or where the environment variable
// MOLTAVEX_NO_TMPFILE is 1 (a named temporary file is then the way);
// with `refused` clear on another failure (last_error() tells which).
Handle create_unnamed(const char* beside, bool& refused);
// Names the unnamed file `h` as `to`, which must not exist (else false,
// last_error() EEXIST). False on failure.
bool link_unnamed(Handle h, const char* to);
// Names the unnamed file `h` with a new private name beside `to` (as
// create_temporary does), written to `name`: what then renames onto an
// existing `to` in one step. False on failure.
bool link_unnamed_beside(Handle h, const char* to, char* name);

// The system's error number of the last call here that failed: errno on
// POSIX; on Windows the nearest errno value to GetLastError() (ENOENT,
// EACCES, ENOSPC, EBUSY, EEXIST...), else EIO.
int last_error();

// Renames `from` onto `to` in one step, replacing whatever `to` named (a
// symbolic link itself, never what it points to). False on failure.
bool replace_file(const char* from, const char* to);

// What an output takes over from a regular input file: its permission
// bits, group and access and modification times.
struct FileAttributes {
  bool valid = false;
  std::uint32_t mode = 0;  // permission bits
  std::uint64_t group = 0;
  std::int64_t access_seconds = 0, access_nanoseconds = 0;
  std::int64_t modify_seconds = 0, modify_nanoseconds = 0;
};
FileAttributes attributes(Handle h);

// Gives a new output file, before any data is written to it, the
// permission bits of `from` without setuid, setgid and sticky, and its
// group where the owner may (failing that, the group gets no more access
// than others); with `from` not valid, 0666 less the process's umask.
// False when the permissions could not be set.
bool apply_permissions(Handle h, const FileAttributes& from);
// Gives an output file the access and modification times of `from`; after
// its last write. False on failure.
bool apply_times(Handle h, const FileAttributes& from);

// Bytes of physical memory in the machine; 0 when unknown.
std::uint64_t physical_memory();

// Reads up to `size` bytes. Returns the number read, 0 at end of input, or -1
// on a read error (a directory given as input, an I/O error...) or when
// `stop` was raised while waiting.
std::int64_t read(Handle h, void* buffer, std::size_t size, StopFlag stop = nullptr);
// Writes all `size` bytes, retrying short writes. False on any failure or
// when `stop` was raised while waiting.
bool write_all(Handle h, const void* data, std::size_t size, StopFlag stop = nullptr);
// Hands data written so far to the system. False on failure.
bool flush(Handle h);
// Waits until the file's data has reached its device (fsync). False on
// failure.
bool sync(Handle h);

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

// Durability (platform/durable_posix.cpp, durable_win32.cpp).
//
// Syncs the directory that holds `name` (its entry, after a rename into
// it), so that the name survives a crash. False on failure; true where the
// system keeps directory entries durable by itself (Windows).
bool sync_directory_of(const char* name);

// Zero-filled memory. Large blocks come straight from the system as pages
// that are zero until first written, so untouched parts cost nothing;
// blocks of 1 MiB and more start on a page boundary (the lookahead of the
// Bytewise Hashed Model counts on its blocks of entries filling whole
// cache lines) and have small pages. Returns null when the size cannot be
// allocated (or does not fit size_t). A block goes back with the size it
// was allocated with. On POSIX systems the largest freed block of up to
// 8 MiB is kept, resident, and zeroed for the next that fits in it
// (which may then have large pages already).
void* alloc_zeroed(std::uint64_t bytes);
void free_memory(void* block, std::uint64_t bytes);

// Large pages (Linux's transparent huge pages) for a block of 1 MiB or
// more from alloc_zeroed, or for a part of one that starts on a small page
// boundary. Only the speed and the memory held change.
//
// large_page_bytes: their size (2 MiB on x86-64), or 0 where a table never
// gets them. advise_huge_pages: later faults in the range take large pages;
// with `collapse`, the small pages already there are gathered into large
// ones now, and false tells that some could not be (they may be
// gathered later, once written). advise_small_pages: the range keeps small pages, even where the
// system gives every mapping large pages. resident_bytes: the bytes of the
// range in memory now; UINT64_MAX where the system cannot tell.
std::uint64_t large_page_bytes();
bool advise_huge_pages(void* block, std::uint64_t bytes, bool collapse);
void advise_small_pages(void* block, std::uint64_t bytes);
std::uint64_t resident_bytes(const void* block, std::uint64_t bytes);

}  // namespace mx::platform
