// The program under interruption and on a terminal: a signal during a job
// leaves the output name as it was, with no temporary file, and ends with
// status 128 + signal; compressed data never meets a terminal;
// on a terminal a live progress line is drawn and ends as a summary, while with
// standard error redirected the console bytes stay exactly the job's lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

// The jobs run in the Cli fixture's fresh directory. The waits poll, so
// their bounds cost nothing when the program is quick; they are generous
// because under an emulator (cross builds) it starts and runs many times
// slower than natively.
class Signals : public Cli {
 protected:
  // Waits up to ten seconds for the job's temporary output file: a named
  // one in the directory, or (on Linux) a file with no name there that the
  // process `pid` holds open, which /proc shows as "DIR/#INODE (deleted)".
  bool wait_for_temporary(pid_t pid) const {
    return wait_until([this, pid] { return outputs_in_progress(pid) > 0; });
  }
  // Waits up to ten seconds for the banner in the file `err`, the job's
  // standard error. The program catches the signals before it writes the
  // banner: from then on a signal is the job's to handle.
  static bool wait_for_banner(const std::string& err) {
    return wait_until([&err] { return read_text(err).rfind(kBanner, 0) == 0; });
  }

  template <class Condition>
  static bool wait_until(Condition done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
  }
};
class Progress : public Cli {};

// Pseudo-random data, which the program codes slowly (nothing to learn)
// and cannot shrink.
void write_random_file(const std::string& path, std::size_t size) {
  write_bytes(path, random_bytes(size, 1));
}

// Starts the program with stdin from `input` (a path, opened without
// blocking the test for FIFOs) and stdout/stderr into files, and returns at
// once. (run_program() cannot serve here: it waits for the program, and
// posix_spawn would block the test on opening a FIFO.)
pid_t start(const std::vector<std::string>& args, const std::string& input,
            const std::string& err_path) {
  // The job's standard error is a new file, so that waiting for its banner
  // never finds an earlier job's.
  ::unlink(err_path.c_str());
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open(input.c_str(), O_RDONLY);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int out = ::open("/dev/null", O_WRONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    exec_program(args);
  }
  return pid;
}

// Waits for the child up to `seconds`; its exit status, or -1 if it is
// still running (then it is killed).
int wait_exit(pid_t pid, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST_F(Signals, RemoveTheIncompleteOutputAndExitWith128PlusSignal) {
  write_random_file(path("big"), 48u << 20);
  const std::string out = path("big.mx");
  write_bytes(out, to_bytes("an earlier result"));
  // With a file with no name (Linux), and with the named temporary file
  // that serves where there is none (forced through the environment, which
  // the program inherits).
  for (const bool named : {false, true}) {
    if (named) ::setenv("MOLTAVEX_NO_TMPFILE", "1", 1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(named ? "named temporary file" : "default");
      // Model 0 at order 22 codes random data slowly: the job is still
      // running when the signal comes, and its temporary file exists by
      // then.
      const pid_t pid = start({"moltavex", "c0", "22", path("big"), out}, "/dev/null", path("err"));
      ASSERT_TRUE(wait_for_temporary(pid)) << "the job should have started";
      if (named) {
        EXPECT_EQ(temporary_files().size(), 1u);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::kill(pid, sig);
      EXPECT_EQ(wait_exit(pid, 20), 128 + sig) << "signal " << sig;
      EXPECT_EQ(read_text(out), "an earlier result") << "signal " << sig;
      EXPECT_EQ(temporary_files(), std::vector<std::string>{}) << "signal " << sig;
      EXPECT_EQ(read_text(path("err")), failure_err(encoding_progress(0), kInterrupted));
    }
  }
  ::unsetenv("MOLTAVEX_NO_TMPFILE");
}

// SIGKILL, which no program can catch (the OOM killer's signal), in the
// middle of a job leaves nothing in the directory: the output has no name
// until it is whole (Linux). Compression, decompression, and several jobs
// at once.
TEST_F(Signals, AKillLeavesNothingBehind) {
#if defined(__linux__)
  write_random_file(path("big"), 48u << 20);
  const std::string out = path("big.mx");
  write_bytes(out, to_bytes("an earlier result"));
  pid_t pid = start({"moltavex", "c0", "22", path("big"), out}, "/dev/null", path("err"));
  ASSERT_TRUE(wait_for_temporary(pid)) << "the job should have started";
  if (!temporary_files().empty()) {
    ::kill(pid, SIGKILL);
    (void)wait_exit(pid, 20);
    GTEST_SKIP() << "the file system makes no file without a name";
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGKILL);
  EXPECT_EQ(wait_exit(pid, 20), 1000 + SIGKILL);
  EXPECT_EQ(read_text(out), "an earlier result");
  EXPECT_EQ(listing(), (std::vector<std::string>{"big", "big.mx", "err"}));
  ::unlink(path("big").c_str());
  ::unlink(out.c_str());

  // Decompression, held up by its input (a FIFO fed half a stream).
  write_random_file(path("data"), 1u << 20);
  ASSERT_EQ(run({"c1", "12", path("data"), path("data.mx")}).status, 0);
  const Bytes stream = read_bytes(path("data.mx"));
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const bool named_input : {true, false}) {
    // The FIFO by name, or as standard input.
    pid = start({"moltavex", "d", named_input ? fifo : ":", path("restored")},
                named_input ? "/dev/null" : fifo, path("err"));
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, stream.data(), stream.size() / 2),
              static_cast<ssize_t>(stream.size() / 2));
    ASSERT_TRUE(wait_for_temporary(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(wait_exit(pid, 20), 1000 + SIGKILL);
    ::close(writer);
    EXPECT_EQ(listing(), (std::vector<std::string>{"data", "data.mx", "err", "fifo"}));
  }

  // Several jobs at once.
  for (const char* name : {"f1", "f2", "f3"}) write_random_file(path(name), 16u << 20);
  pid = start({"moltavex", "-T2", "--model=0", "--order=22", path("f1"), path("f2"), path("f3")},
              "/dev/null", path("err"));
  ASSERT_TRUE(wait_until([&] { return unnamed_files(pid) == 2; })) << "two jobs should run";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGKILL);
  EXPECT_EQ(wait_exit(pid, 20), 1000 + SIGKILL);
  EXPECT_EQ(listing(),
            (std::vector<std::string>{"data", "data.mx", "err", "f1", "f2", "f3", "fifo"}));
#else
  GTEST_SKIP() << "a file with no name is Linux's";
#endif
}

// The trials of `a` stop too, before any output exists.
TEST_F(Signals, InterruptTheChoiceOfASetting) {
  write_random_file(path("big"), 8u << 20);
  const pid_t pid = start({"moltavex", "a", path("big")}, "/dev/null", path("err"));
  ASSERT_TRUE(wait_for_banner(path("err")));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(pid, SIGINT);
  EXPECT_EQ(wait_exit(pid, 10), 128 + SIGINT);
  EXPECT_EQ(read_text(path("err")), failure_err("", kInterrupted));
  EXPECT_EQ(listing(), (std::vector<std::string>{"big", "err"}));
}

TEST_F(Signals, InterruptABlockedReadFromAPipe) {
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string out = path("out.mx");
  const pid_t pid = start({"moltavex", "c1", "8", ":", out}, fifo, path("err"));
  // Hold the writing end open without writing: the job blocks in read().
  const int writer = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  ASSERT_TRUE(wait_for_temporary(pid));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(pid, SIGINT);
  EXPECT_EQ(wait_exit(pid, 10), 128 + SIGINT);
  ::close(writer);
  EXPECT_FALSE(exists_no_follow(out));
  EXPECT_EQ(temporary_files(), std::vector<std::string>{});
}

// Waiting to open a FIFO that has no other end, the job still stops on a
// signal.
TEST_F(Signals, InterruptAnOpenThatWaitsForAFifo) {
  write_bytes(path("in"), sample_text(1000));
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> jobs = {
      {"moltavex", "c1", "8", path("in"), fifo},  // no reader
      {"moltavex", "d", fifo, path("out")},       // no writer
  };
  for (const auto& job : jobs) {
    const pid_t pid = start(job, "/dev/null", path("err"));
    ASSERT_TRUE(wait_for_banner(path("err"))) << job[1];
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGINT);
    EXPECT_EQ(wait_exit(pid, 10), 128 + SIGINT) << job[1];
    EXPECT_EQ(read_text(path("err")), failure_err("", kInterrupted)) << job[1];
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"err", "fifo", "in"}));
}

// Opens a FIFO for reading only after `delay` and drains it, so that a job
// writing its output there is held up for that long whatever its speed.
std::thread drain_later(const std::string& fifo, std::chrono::milliseconds delay) {
  return std::thread([fifo, delay] {
    std::this_thread::sleep_for(delay);
    const int fd = ::open(fifo.c_str(), O_RDONLY);
    char buffer[65536];
    while (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) {
    }
    if (fd >= 0) ::close(fd);
  });
}

// Compressed data is never written to or read from a terminal; the job
// does not start.
TEST_F(Progress, CompressedDataNeverMeetsATerminal) {
  write_bytes(path("in"), sample_text(1000));
  int status = -1;
  std::string seen = run_on_terminal({"moltavex", "c1", "8", path("in"), ":"}, &status, {1});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(seen, as_seen_on_terminal(failure_err("", kNotToTerminal)));
  seen = run_on_terminal({"moltavex", "a", path("in"), ":"}, &status, {1});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(seen, as_seen_on_terminal(failure_err("", kNotToTerminal)));
  seen = run_on_terminal({"moltavex", "d", ":", path("out")}, &status, {0});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(seen, as_seen_on_terminal(failure_err("", kNotFromTerminal)));
  EXPECT_EQ(listing(), std::vector<std::string>{"in"});
}

TEST_F(Progress, DrawnOnATerminalAndEndedWithASummary) {
  // Random data does not shrink, so the output is as long as the input and
  // the job keeps writing after the held-up second: the line must appear.
  write_random_file(path("big"), 4u << 20);
  const std::string fifo = path("out.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread reader = drain_later(fifo, std::chrono::milliseconds(1500));
  int status = -1;
  std::string seen = run_on_terminal({"moltavex", "c1", "16", path("big"), fifo}, &status);
  reader.join();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(seen.rfind(as_seen_on_terminal(kBanner + encoding_progress(1)), 0), 0u) << seen;
  const std::size_t first = seen.find("% ");
  ASSERT_NE(first, std::string::npos) << "no progress line in: " << seen;
  EXPECT_NE(seen.find("MB/s", first), std::string::npos);
  EXPECT_NE(seen.find("left", first), std::string::npos);
  // The line ends as the job's summary, in its place, then the final empty
  // line: the data's size first when compressing, the stream's first when
  // decompressing (a short job too).
  ASSERT_EQ(run({"c1", "16", path("big"), path("big.mx")}).status, 0);
  const std::string packed = std::to_string(read_bytes(path("big.mx")).size());
  const std::size_t summary = seen.rfind("\r  4194304 -> " + packed + " bytes, ");
  ASSERT_NE(summary, std::string::npos) << seen;
  EXPECT_GT(summary, first);
  EXPECT_NE(seen.find(" bits per byte, ", summary), std::string::npos);
  EXPECT_EQ(seen.substr(seen.size() - 6), "\r\r\n\r\r\n");
  seen = run_on_terminal({"moltavex", "d", path("big.mx"), path("back")}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(seen.find("\r  " + packed + " -> 4194304 bytes, "), std::string::npos) << seen;

  // The same held-up job with standard error in a file: exactly the job's
  // lines.
  std::thread reader2 = drain_later(fifo, std::chrono::milliseconds(1500));
  const pid_t pid = start({"moltavex", "c1", "16", path("big"), fifo}, "/dev/null", path("err"));
  EXPECT_EQ(wait_exit(pid, 120), 0);
  reader2.join();
  EXPECT_EQ(read_text(path("err")), encode_ok_err(1));
}

}  // namespace
}  // namespace mx::test
