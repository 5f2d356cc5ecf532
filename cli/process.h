// Process concerns of the program: signals, terminals and the end of the
// process. The library only reports and takes a stop flag; these decide
// what the process does around a job. cli/process_posix.cpp implements
// them for Linux and other POSIX systems, cli/process_win32.cpp for
// Windows.
#pragma once

#include <csignal>

#include "platform/platform.h"

namespace mx::cli {

// Makes SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and the
// console closing) store their signal number in `*flag` instead of ending
// the process, without restarting interrupted calls; and makes a write to a
// closed pipe fail with an error instead of a signal.
void catch_interrupts(volatile std::sig_atomic_t* flag);

// True when the handle is an interactive terminal (a console on Windows).
bool is_terminal(platform::Handle h);

[[noreturn]] void exit_process(int status);

}  // namespace mx::cli
