#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "cli/system.h"

namespace mx::cli::sys {

namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void note_interrupt(int signal_number) { stop_signal = signal_number; }

int descriptor(Stream stream) {
  return stream == Stream::input ? 0 : stream == Stream::output ? 1 : 2;
}

}  // namespace

void open_missing_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) ::close(null);
  }
}

const volatile std::sig_atomic_t* catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = &note_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns EINTR
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGXFSZ, &ignore, nullptr);
  return &stop_signal;
}

bool is_terminal(Stream stream) { return ::isatty(descriptor(stream)) == 1; }

bool write(Stream stream, const std::string& text) {
  const char* p = text.data();
  std::size_t size = text.size();
  while (size > 0) {
    const ssize_t n = ::write(descriptor(stream), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::uint64_t standard_input_size() {
  struct stat st;
  if (::fstat(0, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

bool output_gone() {
  struct stat st;
  // A pipe whose reader has gone, or a socket whose peer has, polls as an
  // error for writing.
  if (::fstat(1, &st) != 0) return false;
  if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) return false;
  struct pollfd p = {1, POLLOUT, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

std::uint64_t physical_memory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

void exit_process(int status) { std::_Exit(status); }

}  // namespace mx::cli::sys

#endif
