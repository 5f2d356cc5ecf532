// The program's own contact with the system: the standard streams, signals,
// terminals, the machine's memory and the end of
// the process. The library reports and takes a stop flag; these decide
// what the process does around its jobs. system_posix.cpp implements them
// for Linux and other POSIX systems, system_win32.cpp for Windows.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

namespace mx::cli::sys {

enum class Stream { input, output, error };

// Opens /dev/null on every standard descriptor (0, 1, 2) that is closed
// when the process starts, so that no file the program opens can take its
// place (console text would then go into an output file). First thing in
// main, before anything else is opened.
void open_missing_standard_streams();

// Makes SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and the
// console closing) store their signal number in the process's stop flag
// instead of ending the process, without restarting interrupted calls; and
// makes a write to a closed pipe or past the file-size limit fail with an
// error instead of a signal. Returns the flag (0 until a signal came),
// which the jobs' observers watch.
const volatile std::sig_atomic_t* catch_interrupts();

// True when the stream is an interactive terminal (a console on Windows).
bool is_terminal(Stream stream);

// Writes all of `text` to standard output or error; false on failure.
bool write(Stream stream, const std::string& text);

// The size of standard input when it is a regular file, else 0.
std::uint64_t standard_input_size();

// True when standard output is a pipe or socket whose reader has gone.
bool output_gone();

// The machine's physical memory in bytes; 0 when it cannot be told.
std::uint64_t physical_memory();

#if defined(_WIN32)
// The process's own copy of its raw command line, which the tokenizer
// splits in place.
char* command_line();
#endif

[[noreturn]] void exit_process(int status);

}  // namespace mx::cli::sys
