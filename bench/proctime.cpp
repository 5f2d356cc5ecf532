// moltavex_proctime: whole-process timing of a command, for comparing the
// moltavex program with other compressors on equal terms.
//
//   moltavex_proctime [--runs N] [--warmup N] [--stdin FILE] [--stdout FILE] -- COMMAND ARGS...
//
// Runs the command --warmup times untimed (so its files sit in the page
// cache), then --runs times timed, each in a fresh process started with
// fork and exec, standard input and output redirected to the given files
// (standard error always goes to /dev/null, so progress lines cost what
// they cost but do not clutter the terminal). The wall time of a run spans
// fork to reaped exit: start-up, reading, coding and writing.
//
// Prints one tab-separated line: median seconds, best seconds, median CPU
// seconds (user + system of the child), and the largest peak resident set
// (ru_maxrss of the reaped child, KiB) over the timed runs.
// Exit status 1 when any run fails to start or exits nonzero.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

struct RunResult {
  bool ok = false;
  double seconds = 0;
  double cpu_seconds = 0;  // user + system time of the child
  long max_rss_kib = 0;
};

RunResult run_once(char** command, const char* input, const char* output) {
  RunResult result;
  const double start = mx::bench::now_seconds();
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    const int in = input != nullptr ? open(input, O_RDONLY) : -1;
    const int out = output != nullptr ? open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
    const int null = open("/dev/null", O_WRONLY);
    if ((input != nullptr && in < 0) || (output != nullptr && out < 0) || null < 0) _exit(126);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) dup2(out, 1);
    dup2(null, 2);
    execvp(command[0], command);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return result;
  result.seconds = mx::bench::now_seconds() - start;
  result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  result.max_rss_kib = usage.ru_maxrss;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  int warmup = 1;
  const char* input = nullptr;
  const char* output = nullptr;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) break;
    if (arg == "--runs") {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--warmup") {
      warmup = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--stdin") {
      input = argv[++i];
    } else if (arg == "--stdout") {
      output = argv[++i];
    } else {
      break;
    }
  }
  if (i >= argc) {
    std::fputs(
        "usage: moltavex_proctime [--runs N] [--warmup N] [--stdin FILE] "
        "[--stdout FILE] -- COMMAND ARGS...\n",
        stderr);
    return 2;
  }
  char** command = argv + i;

  for (int w = 0; w < warmup; ++w) {
    if (!run_once(command, input, output).ok) {
      std::fprintf(stderr, "moltavex_proctime: %s failed\n", command[0]);
      return 1;
    }
  }
  std::vector<double> seconds, cpu;
  long max_rss = 0;
  for (int r = 0; r < runs; ++r) {
    const RunResult result = run_once(command, input, output);
    if (!result.ok) {
      std::fprintf(stderr, "moltavex_proctime: %s failed\n", command[0]);
      return 1;
    }
    seconds.push_back(result.seconds);
    cpu.push_back(result.cpu_seconds);
    max_rss = std::max(max_rss, result.max_rss_kib);
  }
  std::printf("%.6f\t%.6f\t%.6f\t%ld\n", mx::bench::median(seconds),
              *std::min_element(seconds.begin(), seconds.end()), mx::bench::median(cpu), max_rss);
  return 0;
}
