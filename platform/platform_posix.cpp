// POSIX implementation of the operating-system layer (Linux first).
//
// File descriptors stand in for handles. Reads and writes retry on EINTR;
// writes loop until every byte is accepted, since a pipe or a slow device
// may take less than asked. Memory comes from calloc: glibc serves large
// blocks from fresh anonymous mappings, whose pages read as zero until they
// are first written, so a model table of many megabytes costs only the pages
// its contexts actually touch.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

namespace mx::platform {

Handle std_input() { return STDIN_FILENO; }
Handle std_output() { return STDOUT_FILENO; }
Handle std_error() { return STDERR_FILENO; }

Handle open_input(const char* name) {
  int fd;
  do {
    fd = ::open(name, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return invalid_handle;
#if defined(POSIX_FADV_SEQUENTIAL)
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return fd;
}

Handle create_output(const char* name) {
  int fd;
  do {
    fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? invalid_handle : fd;
}

static bool stopped(StopFlag stop) { return stop != nullptr && *stop != 0; }

std::int64_t read(Handle h, void* buffer, std::size_t size, StopFlag stop) {
  for (;;) {
    ssize_t n = ::read(static_cast<int>(h), buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR || stopped(stop)) return -1;
  }
}

bool write_all(Handle h, const void* data, std::size_t size, StopFlag stop) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(h), p, size);
    if (n < 0) {
      if (errno == EINTR && !stopped(stop)) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// write() has already handed the bytes to the kernel; as with other
// compressors, durability on disk is left to the file system. Errors of
// delayed writes surface at close().
bool flush(Handle) { return true; }

bool close(Handle h) {
  // On Linux the descriptor is released even when close reports EINTR, so it
  // must not be retried.
  return ::close(static_cast<int>(h)) == 0;
}

static FileId from_stat(const struct stat& st) {
  FileId id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.inode = static_cast<std::uint64_t>(st.st_ino);
  id.regular = S_ISREG(st.st_mode);
  id.size = id.regular ? static_cast<std::uint64_t>(st.st_size) : 0;
  id.valid = true;
  return id;
}

FileId identify(Handle h) {
  struct stat st;
  if (::fstat(static_cast<int>(h), &st) != 0) return FileId{};
  return from_stat(st);
}

FileId identify(const char* name) {
  struct stat st;
  if (::stat(name, &st) != 0) return FileId{};
  return from_stat(st);
}

bool remove_file(const char* name) { return ::unlink(name) == 0; }

// Blocks from this size on are mapped directly, which also starts them on
// a page boundary, and those up to the upper bound are offered to the
// kernel as transparent huge pages: model tables are read at random, one
// entry per coded bit, and 2 MiB pages spare most of the TLB misses. Above
// the bound, sparse use on small inputs would cost too much memory at
// 2 MiB a touch, so pages stay small.
static constexpr std::uint64_t mapped_from = std::uint64_t{1} << 20;
static constexpr std::uint64_t huge_pages_up_to = std::uint64_t{256} << 20;

void* alloc_zeroed(std::uint64_t bytes) {
  if (bytes > SIZE_MAX) return nullptr;
  if (bytes >= mapped_from) {
    void* block = ::mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
    if (bytes <= huge_pages_up_to)
      (void)::madvise(block, static_cast<std::size_t>(bytes), MADV_HUGEPAGE);
#endif
    return block;
  }
  return std::calloc(1, bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
}

void free_memory(void* block, std::uint64_t bytes) {
  if (block == nullptr) return;
  if (bytes >= mapped_from) {
    ::munmap(block, static_cast<std::size_t>(bytes));
  } else {
    std::free(block);
  }
}

}  // namespace mx::platform

#endif
