#if !defined(_WIN32)

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "cli/process.h"

namespace mx::cli {

static volatile std::sig_atomic_t* interrupt_flag = nullptr;

extern "C" void note_interrupt(int signal_number) {
  if (interrupt_flag != nullptr) *interrupt_flag = signal_number;
}

void open_missing_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) ::close(null);
  }
}

void catch_interrupts(volatile std::sig_atomic_t* flag) {
  interrupt_flag = flag;
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
}

bool is_terminal(platform::Handle h) { return ::isatty(static_cast<int>(h)) == 1; }

void exit_process(int status) { std::_Exit(status); }

}  // namespace mx::cli

#endif
