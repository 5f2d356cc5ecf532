// POSIX implementation of the operating-system layer (Linux first).
//
// File descriptors stand in for handles. Opens, reads and writes retry on
// EINTR unless the job's stop flag is raised; writes loop until every byte
// is accepted, since a pipe or a slow device may take less than asked. Memory comes from calloc:
// glibc serves large blocks from fresh anonymous mappings, whose pages read as zero until they are
// first written, so a model table of many megabytes costs only the pages its contexts actually
// touch.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace mx::platform {

Handle std_input() { return STDIN_FILENO; }
Handle std_output() { return STDOUT_FILENO; }
Handle std_error() { return STDERR_FILENO; }

// open() retried while a signal that does not stop the job interrupts it
// (opening a FIFO blocks until the other end is opened).
static int open_retrying(const char* name, int flags, StopFlag stop, mode_t mode = 0) {
  for (;;) {
    const int fd = ::open(name, flags, mode);
    if (fd >= 0 || errno != EINTR || stopped(stop)) return fd;
  }
}

Handle open_input(const char* name, StopFlag stop) {
  const int fd = open_retrying(name, O_RDONLY | O_CLOEXEC | O_NOCTTY, stop);
  if (fd < 0) return invalid_handle;
#if defined(POSIX_FADV_SEQUENTIAL)
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return fd;
}

OutputTarget classify_output(const char* name) {
  struct stat st;
  if (::lstat(name, &st) != 0) return OutputTarget::none;
  if (S_ISLNK(st.st_mode)) return OutputTarget::link;
  return S_ISREG(st.st_mode) ? OutputTarget::regular : OutputTarget::other;
}

Handle open_in_place(const char* name, StopFlag stop) {
  const int fd = open_retrying(name, O_WRONLY | O_CLOEXEC | O_NOCTTY, stop);
  if (fd < 0) return invalid_handle;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode)) {
    ::close(fd);
    return invalid_handle;
  }
  return fd;
}

// The temporary file is ".<name>.XXXXXX" beside the output, the name cut
// so that the whole stays within the usual limit of 255 bytes.
static constexpr std::size_t kept_name_bytes = 240;

std::size_t temporary_name_size(const char* beside) {
  return std::strlen(beside) + 9;  // "." before the name, ".XXXXXX" and NUL after
}

// The length of the directory part of `path`, its last slash included.
static std::size_t directory_length(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// Writes the pattern ".<name>.XXXXXX" beside `beside` to `name`; returns
// where the Xs begin.
static char* temporary_pattern(const char* beside, char* name) {
  const std::size_t directory = directory_length(beside);
  std::size_t base = std::strlen(beside + directory);
  if (base > kept_name_bytes) base = kept_name_bytes;
  char* p = name;
  std::memcpy(p, beside, directory);
  p += directory;
  *p++ = '.';
  std::memcpy(p, beside + directory, base);
  p += base;
  std::memcpy(p, ".XXXXXX", 8);
  return p + 1;
}

Handle create_temporary(const char* beside, char* name) {
  (void)temporary_pattern(beside, name);
  // mkostemp creates the file with O_EXCL and mode 0600.
  const int fd = ::mkostemp(name, O_CLOEXEC);
  return fd < 0 ? invalid_handle : fd;
}

#if defined(__linux__) && defined(O_TMPFILE)

Handle create_unnamed(const char* beside, bool& refused) {
  refused = true;
  const char* forced = std::getenv("MOLTAVEX_NO_TMPFILE");
  if (forced != nullptr && std::strcmp(forced, "1") == 0) return invalid_handle;
  // The file is named through /proc/self/fd (linkat with AT_EMPTY_PATH
  // needs a privilege): without it, the named temporary file.
  if (::access("/proc/self/fd", X_OK) != 0) return invalid_handle;
  const std::size_t length = directory_length(beside);
  std::string directory(beside, length);
  if (directory.empty()) directory = ".";
  const int fd = open_retrying(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, nullptr, 0600);
  if (fd >= 0) {
    refused = false;
    return fd;
  }
  // A file system without O_TMPFILE, or a kernel before 3.11 (which takes
  // the flag for O_DIRECTORY): the named temporary file. Another error
  // (no such directory, no permission, no space) is the output's failure.
  const int error = errno;
  refused = error == EOPNOTSUPP || error == ENOTSUP || error == EISDIR || error == EINVAL ||
            error == ENOSYS;
  errno = error;
  return invalid_handle;
}

// linkat through /proc/self/fd, which follows the descriptor to the file.
static bool link_descriptor(Handle h, const char* to) {
  char path[40];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", static_cast<int>(h));
  for (;;) {
    if (::linkat(AT_FDCWD, path, AT_FDCWD, to, AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool link_unnamed(Handle h, const char* to) { return link_descriptor(h, to); }

bool link_unnamed_beside(Handle h, const char* to, char* name) {
  char* const x = temporary_pattern(to, name);
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  timespec now{};
  (void)::clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t state =
      static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
      (static_cast<std::uint64_t>(::getpid()) << 40) ^ reinterpret_cast<std::uintptr_t>(name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (int i = 0; i < 6; ++i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      x[i] = letters[(state >> 33) % (sizeof letters - 1)];
    }
    if (link_descriptor(h, name)) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

#else

Handle create_unnamed(const char*, bool& refused) {
  refused = true;
  return invalid_handle;
}

bool link_unnamed(Handle, const char*) {
  errno = EOPNOTSUPP;
  return false;
}

bool link_unnamed_beside(Handle, const char*, char*) {
  errno = EOPNOTSUPP;
  return false;
}

#endif

int last_error() { return errno; }

bool replace_file(const char* from, const char* to) { return ::rename(from, to) == 0; }

FileAttributes attributes(Handle h) {
  FileAttributes a;
  struct stat st;
  if (::fstat(static_cast<int>(h), &st) != 0 || !S_ISREG(st.st_mode)) return a;
  a.valid = true;
  a.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
  a.group = static_cast<std::uint64_t>(st.st_gid);
  a.access_seconds = st.st_atim.tv_sec;
  a.access_nanoseconds = st.st_atim.tv_nsec;
  a.modify_seconds = st.st_mtim.tv_sec;
  a.modify_nanoseconds = st.st_mtim.tv_nsec;
  return a;
}

// The process's umask, read without changing it where the system can tell
// (Linux 4.7 and later); otherwise set and restored at once.
static mode_t current_umask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[128];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

bool apply_permissions(Handle h, const FileAttributes& from) {
  const int fd = static_cast<int>(h);
  if (!from.valid) return ::fchmod(fd, 0666 & ~current_umask()) == 0;
  mode_t mode = static_cast<mode_t>(from.mode & 0777);
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (st.st_gid != static_cast<gid_t>(from.group) &&
      ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(from.group)) != 0) {
    // The file stays in the owner's group: that group gets only what both
    // the input's group and the others could do.
    mode = (mode & 0707) | ((((mode >> 3) & mode) & 07) << 3);
  }
  return ::fchmod(fd, mode) == 0;
}

bool apply_times(Handle h, const FileAttributes& from) {
  if (!from.valid) return true;
  // tv_nsec is a long, 32 bits on some targets; nanoseconds always fit.
  const timespec times[2] = {
      {static_cast<time_t>(from.access_seconds), static_cast<long>(from.access_nanoseconds)},
      {static_cast<time_t>(from.modify_seconds), static_cast<long>(from.modify_nanoseconds)}};
  return ::futimens(static_cast<int>(h), times) == 0;
}

std::uint64_t physical_memory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

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
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// write() has already handed the bytes to the kernel; as with other
// compressors, durability on disk is left to the file system. Errors of
// delayed writes surface at close().
bool flush(Handle) { return true; }

bool sync(Handle h) {
  for (;;) {
    if (::fsync(static_cast<int>(h)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

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

// WebAssembly has its own zero-filled memory (memory_wasm.cpp).
#if !defined(__EMSCRIPTEN__)
// Blocks from this size on are mapped directly, which also starts them on
// a page boundary, with the system's small pages until advise_huge_pages.
static constexpr std::uint64_t mapped_from = std::uint64_t{1} << 20;

// One freed mapped block of at most kept_most bytes is kept, pages and
// all, for the next block that fits in it: zeroing a block in place costs
// a fraction of faulting fresh pages in, which is most of a job's time on
// a small file (many files at a level). The process holds at most this
// much between jobs.
static constexpr std::uint64_t kept_most = std::uint64_t{8} << 20;

namespace {

std::mutex kept_mutex;
void* kept_block = nullptr;
std::uint64_t kept_bytes = 0;  // a whole number of pages

std::uint64_t whole_pages(std::uint64_t bytes) {
  static const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

// The kept block cut down to `bytes`, or null when none is kept or the
// one kept is too small.
void* take_kept(std::uint64_t bytes) {
  const std::uint64_t pages = whole_pages(bytes);
  void* block = nullptr;
  std::uint64_t held = 0;
  {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept_block == nullptr || kept_bytes < pages) return nullptr;
    block = std::exchange(kept_block, nullptr);
    held = std::exchange(kept_bytes, 0);
  }
  if (held > pages) ::munmap(static_cast<char*>(block) + pages, held - pages);
  std::memset(block, 0, static_cast<std::size_t>(bytes));
  return block;
}

}  // namespace

void* alloc_zeroed(std::uint64_t bytes) {
  if (bytes > SIZE_MAX) return nullptr;
  if (bytes >= mapped_from) {
    if (bytes <= kept_most) {
      if (void* block = take_kept(bytes)) return block;
    }
    void* block = ::mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
  }
  return std::calloc(1, bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
}

// Linux's transparent huge pages, of the size the kernel reports. On other
// systems tables keep the pages they are given.
std::uint64_t large_page_bytes() {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  static const std::uint64_t bytes = [] {
    unsigned long long size = 0;
    if (std::FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", "r")) {
      if (std::fscanf(f, "%llu", &size) != 1) size = 0;
      std::fclose(f);
    }
    return static_cast<std::uint64_t>(size);
  }();
  return bytes;
#else
  return 0;
#endif
}

// MADV_HUGEPAGE makes later faults take large pages; MADV_COLLAPSE (Linux
// 6.1) turns the small pages already there into large ones now, where the
// kernel's background collapse would take minutes.
bool advise_huge_pages(void* block, std::uint64_t bytes, bool collapse) {
  if (block == nullptr || bytes < mapped_from) return true;
#if defined(MADV_HUGEPAGE)
  (void)::madvise(block, static_cast<std::size_t>(bytes), MADV_HUGEPAGE);
#endif
#if defined(__linux__)
  constexpr int madv_collapse = 25;  // MADV_COLLAPSE, absent from older headers
  if (collapse) return ::madvise(block, static_cast<std::size_t>(bytes), madv_collapse) == 0;
#else
  (void)collapse;
#endif
  return true;
}

void advise_small_pages(void* block, std::uint64_t bytes) {
  if (block == nullptr || bytes < mapped_from) return;
#if defined(MADV_NOHUGEPAGE)
  (void)::madvise(block, static_cast<std::size_t>(bytes), MADV_NOHUGEPAGE);
#endif
}

// mincore, a small page per byte of its map, a few MiB of range per call.
std::uint64_t resident_bytes(const void* block, std::uint64_t bytes) {
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (block == nullptr || page_size <= 0) return UINT64_MAX;
  const auto page = static_cast<std::uint64_t>(page_size);
  unsigned char map[1024];
  std::uint64_t resident = 0;
  auto* at = static_cast<unsigned char*>(const_cast<void*>(block));
  while (bytes > 0) {
    const std::uint64_t span = std::min<std::uint64_t>(bytes, sizeof map * page);
    if (::mincore(at, static_cast<std::size_t>(span), map) != 0) return UINT64_MAX;
    const std::uint64_t pages = (span + page - 1) / page;
    for (std::uint64_t i = 0; i < pages; ++i) resident += map[i] & 1u;
    at += span;
    bytes -= span;
  }
  return resident * page;
}

void free_memory(void* block, std::uint64_t bytes) {
  if (block == nullptr) return;
  if (bytes >= mapped_from) {
    // The larger of this block and the one kept stays.
    const std::uint64_t pages = whole_pages(bytes);
    if (pages <= kept_most) {
      std::lock_guard<std::mutex> lock(kept_mutex);
      if (pages > kept_bytes) {
        void* const freed = block;
        block = std::exchange(kept_block, freed);
        bytes = std::exchange(kept_bytes, pages);
      }
    }
    if (block != nullptr) ::munmap(block, static_cast<std::size_t>(bytes));
  } else {
    std::free(block);
  }
}
#endif

}  // namespace mx::platform

#endif
