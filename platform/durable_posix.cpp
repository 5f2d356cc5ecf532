// POSIX forms of the durability and pipe calls of platform.h.
#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace mx::platform {

namespace {

// Opens `name` (a file or a directory) read-only and fsyncs it.
bool sync_path(const char* name, int flags) {
  int fd;
  do {
    fd = ::open(name, O_RDONLY | O_CLOEXEC | flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  // Some file systems refuse fsync on a directory: nothing more can be done
  // for it there.
  const bool ok = rc == 0 || ((flags & O_DIRECTORY) != 0 && (errno == EINVAL || errno == ENOTSUP));
  ::close(fd);
  return ok;
}

}  // namespace

bool sync_file(const char* name) { return sync_path(name, 0); }

bool sync_directory_of(const char* name) {
  const std::string path(name);
  const std::size_t slash = path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : path.substr(0, slash);
  return sync_path(directory.c_str(), O_DIRECTORY);
}

bool output_gone(Handle h) {
  struct stat st;
  // A pipe whose reader has gone, or a socket whose peer has, polls as an
  // error for writing.
  if (::fstat(static_cast<int>(h), &st) != 0) return false;
  if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) return false;
  struct pollfd p = {static_cast<int>(h), POLLOUT, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

}  // namespace mx::platform

#endif
