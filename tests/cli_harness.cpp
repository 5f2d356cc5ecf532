#include "cli_harness.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace mx::test {
namespace {

namespace fs = std::filesystem;

// The 1 GiB cap on written files, set for this process at start-up and so
// inherited by every program the tests start (see cli_harness.h).
const bool file_size_capped = [] {
  constexpr rlim_t cap = rlim_t{1} << 30;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= cap) return true;
  limit.rlim_cur = cap;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}();

}  // namespace

std::vector<std::string> program_command(const std::vector<std::string>& args) {
  std::vector<std::string> command;
#ifdef MOLTAVEX_EMULATOR
  const std::string emulator = MOLTAVEX_EMULATOR;
  for (std::size_t start = 0;;) {
    const std::size_t end = emulator.find('|', start);
    command.push_back(emulator.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
#endif
  command.push_back(MOLTAVEX_EXE);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::string program_words(bool quoted) {
  std::string words;
  for (const std::string& word : program_command({})) {
    if (!words.empty()) words += ' ';
    words += quoted ? "'" + word + "'" : word;
  }
  return words;
}

void exec_program(const std::vector<std::string>& argv) {
  std::vector<std::string> command = program_command({argv.begin() + 1, argv.end()});
  const std::string file = command[0];
#ifndef MOLTAVEX_EMULATOR
  command[0] = argv[0];
#endif
  std::vector<char*> pointers;
  for (std::string& a : command) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  ::execv(file.c_str(), pointers.data());
  ::_exit(127);
}

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

bool exists_no_follow(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

RunResult run_program(const std::vector<std::string>& args, const RunOptions& opt,
                      const std::string& capture_dir) {
  RunResult result;
  const std::string out_path =
      opt.stdout_path.empty() ? capture_dir + "/stdout.capture" : opt.stdout_path;
  const std::string err_path = capture_dir + "/stderr.capture";

  std::vector<std::string> argv_s = program_command(args);
  std::string setup = opt.shell_setup;
  if (opt.vm_limit_kb > 0) setup += "; ulimit -v " + std::to_string(opt.vm_limit_kb);
  if (!setup.empty() || !opt.exec_redirections.empty() || !opt.exec_prefix.empty()) {
    // The shell sets up and then replaces itself with the program, so the
    // exit status and streams are the program's own.
    argv_s.insert(argv_s.begin(), {"/bin/sh", "-c",
                                   ":" + setup + " && exec " + opt.exec_prefix + " \"$0\" \"$@\" " +
                                       opt.exec_redirections});
  }
  const std::string exe = argv_s[0];
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, opt.stdin_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "posix_spawn failed: " << std::strerror(rc);
    return result;
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "waitpid failed: " << std::strerror(errno);
      return result;
    }
  }
  if (WIFEXITED(wstatus))
    result.status = WEXITSTATUS(wstatus);
  else if (WIFSIGNALED(wstatus))
    result.status = -WTERMSIG(wstatus);

  if (opt.stdout_path.empty()) result.out = read_text(out_path);
  result.err = read_text(err_path);
  return result;
}

std::string run_on_terminal(const std::vector<std::string>& args, int* exit_status,
                            std::vector<int> also) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd : {0, 1}) {
      if (std::find(also.begin(), also.end(), fd) == also.end()) ::dup2(null, fd);
    }
    exec_program(args);
  }
  std::string seen;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return seen;
}

std::string as_seen_on_terminal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

void Cli::SetUp() {
  char tmpl[] = "/tmp/moltavex_cli_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr) << std::strerror(errno);
  root_ = tmpl;
  dir_ = root_ + "/w";
  ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0) << std::strerror(errno);
}

void Cli::TearDown() {
  if (!root_.empty()) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

std::vector<std::string> Cli::listing() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Cli::temporary_files() const {
  std::vector<std::string> names = listing();
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& name) { return name[0] != '.'; }),
              names.end());
  return names;
}

int Cli::unnamed_files(pid_t pid) const {
  int count = 0;
  const std::string deleted = " (deleted)";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    std::error_code unread;
    const std::string name = fs::read_symlink(entry.path(), unread).string();
    if (!unread && name.rfind(dir_ + "/#", 0) == 0 && name.size() > deleted.size() &&
        name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0) {
      ++count;
    }
  }
  return count;
}

}  // namespace mx::test
