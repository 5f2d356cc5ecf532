// POSIX forms of the durability calls of platform.h.
#if !defined(_WIN32)

#include <fcntl.h>
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

bool sync_directory_of(const char* name) {
  const std::string path(name);
  const std::size_t slash = path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : path.substr(0, slash);
  return sync_path(directory.c_str(), O_DIRECTORY);
}

}  // namespace mx::platform

#endif
