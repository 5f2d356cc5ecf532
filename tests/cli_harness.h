// The harness of the end-to-end tests of the moltavex program
// (tests/test_cli_*.cpp): each test starts the built executable as a child
// process and checks the exact bytes it writes to the console, its exit
// status and the files it leaves behind.
//
// Console conventions checked throughout: every line ends in "\r\n",
// standard error opens with the banner line and closes with an empty line,
// the usage text goes to standard output, and exit statuses are 0 (success),
// 1 (failure), 2 (usage) and 128 + n (stopped by signal n). The expected
// texts, the known streams and the generated data come from known_data.h.
//
// Every program these tests start inherits a cap of 1 GiB per written file
// (set once for the whole test program, in cli_harness.cpp): a decoder that
// has drifted from its encoder (a fault under test) may write without end,
// and the cap makes its writes fail, and the test fail, instead of filling
// the disk. No test writes anything near that size.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "corpus.h"
#include "known_data.h"

namespace mx::test {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Files and console bytes
// ---------------------------------------------------------------------------

Bytes read_bytes(const std::string& path);
std::string read_text(const std::string& path);
// Replaces the file; a failure to write fails the test.
void write_bytes(const std::string& path, const Bytes& data);
inline Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// True when `path` names anything, a dangling symbolic link included.
bool exists_no_follow(const std::string& path);

// ---------------------------------------------------------------------------
// Running the program
// ---------------------------------------------------------------------------

struct RunResult {
  int status = -1;  // exit status, or -signal when the child was killed
  std::string out;  // captured standard output (empty if redirected to a file)
  std::string err;  // captured standard error
};

struct RunOptions {
  std::string stdin_path = "/dev/null";
  std::string stdout_path;  // empty: capture into RunResult::out
  long vm_limit_kb = 0;     // non-zero: run under a shell with `ulimit -v`
  // Run under a shell that first runs `shell_setup` (each command after a
  // "; ": limits, umask, variables) and then execs the program with
  // `exec_redirections` (such as "<&-" to close a standard descriptor).
  std::string shell_setup;
  std::string exec_redirections;
  // A command the program runs under (such as "strace -o trace"), with a
  // shell as above.
  std::string exec_prefix;
};

// The command line that runs the program with `args` (its argv[0] not
// among them): the program's path, then `args`. In a cross build the
// emulator's words come first (MOLTAVEX_EMULATOR, set by
// tests/CMakeLists.txt), since a program under emulation cannot start
// another target program by itself.
std::vector<std::string> program_command(const std::vector<std::string>& args);
// The same command as one string for a shell (each word in single quotes)
// or, unquoted, for a program that splits a command at blanks (tar -I).
std::string program_words(bool quoted);

// In a child process: replaces it with the program, run with `argv`
// (argv[0] first, which the program sees as its own where it runs
// natively; under an emulator it sees its path); exits with status 127 if
// that fails.
[[noreturn]] void exec_program(const std::vector<std::string>& argv);

// Runs the program with `args` (argv[0] is the executable path and is added
// here), wiring the standard streams to files so that the bytes come back
// exactly as written, and waits for it. The capture files live in
// `capture_dir`.
RunResult run_program(const std::vector<std::string>& args, const RunOptions& opt,
                      const std::string& capture_dir);

// Runs the program with standard error, and the standard descriptors in
// `also` (0 and 1), on a pseudo-terminal and returns what the terminal
// received; the others read and write /dev/null. `args` starts with the
// program's name.
std::string run_on_terminal(const std::vector<std::string>& args, int* exit_status,
                            std::vector<int> also = {});

// The terminal turns "\n" into "\r\n" on output; the program's own CRLF
// lines therefore arrive as "\r\r\n".
std::string as_seen_on_terminal(const std::string& text);

// ---------------------------------------------------------------------------
// The fixture
// ---------------------------------------------------------------------------

// Each test gets a fresh temporary directory: the console captures live in
// its root, and the test's files in the working directory `dir_` below it,
// so that listing() sees only what the test and the program made.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Path of `name` inside the per-test working directory.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  RunResult run(const std::vector<std::string>& args, const RunOptions& opt = {}) {
    return run_program(args, opt, root_);
  }

  // Sorted names in the working directory (console captures live outside it).
  std::vector<std::string> listing() const;
  // The names in listing() that start with a dot: the temporary files a
  // job writes its output to before it replaces the output name.
  std::vector<std::string> temporary_files() const;
  // How many files with no name in the working directory the process `pid`
  // holds open: the outputs a job writes before they get their names
  // (Linux's O_TMPFILE), which /proc shows as "DIR/#INODE (deleted)".
  int unnamed_files(pid_t pid) const;
  // The outputs being written: temporary files and files with no name.
  int outputs_in_progress(pid_t pid) const {
    return static_cast<int>(temporary_files().size()) + unnamed_files(pid);
  }

  std::string root_;
  std::string dir_;
};

}  // namespace mx::test
