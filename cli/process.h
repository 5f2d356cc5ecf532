// Process concerns of the program: signals, terminals and the end of the
// process. The library only reports and takes a stop flag; these decide
// what the process does around a job. cli/process_posix.cpp implements
// them for Linux and other POSIX systems, cli/process_win32.cpp for
// Windows.
#pragma once

#include <csignal>

#include "platform/platform.h"

namespace mx::cli {

// Opens /dev/null on every standard descriptor (0, 1, 2) that is closed
// when the process starts, so that no file the program opens can take its
// place (console text would then go into an output file). First thing in
// main, before anything else is opened.
void open_missing_standard_streams();

// Makes SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and the
// console closing) store their signal number in `*flag` instead of ending
// the process, without restarting interrupted calls; and makes a write to a
// closed pipe or past the file-size limit fail with an error instead of a
// signal.
void catch_interrupts(volatile std::sig_atomic_t* flag);

// True when the handle is an interactive terminal (a console on Windows).
bool is_terminal(platform::Handle h);

[[noreturn]] void exit_process(int status);

}  // namespace mx::cli
