// Dispatch of the conventional command line (see modern_main.h): the
// settings, --help and --version, the memory limit, the jobs and the -l
// table, and the exit status.
#include "cli/modern_main.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/entry.h"
#include "cli/files.h"
#include "cli/options.h"
#include "cli/process.h"
#include "cli/runner.h"
#include "cli/tokenizer.h"
#include "moltavex/moltavex.hpp"
#include "platform/platform.h"

namespace mx::cli {

namespace {

inline constexpr int exit_warning = 2;

// Number of the signal that asked the run to stop, 0 while none has.
volatile std::sig_atomic_t stop_signal = 0;

void print_to(platform::Handle h, const std::string& text) {
  (void)platform::write_all(h, text.data(), text.size());
}

int command_line_error(const std::string& message) {
  print_to(platform::std_error(), "moltavex: " + message + "; see 'moltavex --help'\n");
  return exit_failure;
}

std::string memory_text(std::uint64_t bytes) {
  constexpr std::uint64_t mib = std::uint64_t{1} << 20;
  char text[32];
  if (bytes < mib) {
    std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
  } else if (bytes % mib == 0) {
    std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes / mib));
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / mib);
  }
  return text;
}

// The help text: every line within 80 columns; the level table comes from
// the library's.
std::string help_text() {
  std::string text =
      "Usage: moltavex [OPTION]... [FILE]...\n"
      "Compress FILEs to FILE.mx, or decompress FILE.mx to FILE; the inputs are kept.\n"
      "With no FILE, or when FILE is -, read standard input, write standard output.\n"
      "\n"
      "  -z, --compress      compress (the default)\n"
      "  -d, --decompress    decompress (also --uncompress)\n"
      "  -t, --test          test the integrity of compressed files\n"
      "  -l, --list          list the model, order and sizes of compressed files\n"
      "\n"
      "  -c, --stdout        write to standard output\n"
      "  -o FILE             write the output to FILE (a single input)\n"
      "  -k, --keep          keep the inputs (the default)\n"
      "      --rm            remove each input once its output is synced to disk\n"
      "  -f, --force         overwrite outputs; take links and special files;\n"
      "                      write or read compressed data at a terminal\n"
      "  -S, --suffix=.SUF   use the suffix .SUF instead of .mx\n"
      "  -r, --recursive     handle the files in directories\n"
      "  -T, --threads=N     handle N files at once (0: one per core; default 1)\n"
      "\n"
      "  -1 .. -9            compression level (default " +
      std::to_string(moltavex::level_default) +
      "); --fast is -1, --best is -9\n"
      "      --auto          choose the model and order for each file's data\n"
      "      --model=M --order=N\n"
      "                      an exact setting: model 0-5, order 0-31\n"
      "      --no-check      write no checksum record\n"
      "\n"
      "  -q, --quiet         no warnings (-qq: no errors either)\n"
      "  -v, --verbose       a summary line per file; progress on a terminal\n"
      "  -h, --help          print this help\n"
      "  -V, --version       print the version\n"
      "\n"
      "  level  model  order  memory      (the same memory when decompressing)\n";
  for (int level = moltavex::level_min; level <= moltavex::level_max; ++level) {
    moltavex::Setting setting;
    (void)moltavex::level_setting(level, &setting);
    char row[96];
    std::snprintf(row, sizeof row, "  %5d  %5d  %5d  %-10s  %s\n", level, setting.model,
                  setting.order,
                  memory_text(moltavex::model_memory(setting.model, setting.order)).c_str(),
                  moltavex::model_name(setting.model));
    text += row;
  }
  text +=
      "\n"
      "MOLTAVEX_OPT holds options read before the command line; MOLTAVEX_MEMLIMIT\n"
      "caps each job's table memory (bytes, with K, M or G; 0: none).\n"
      "Exit status: 0 success, 1 an error, 2 warnings only.\n";
  return text;
}

// The -l table: one row per stream, and a totals line for several. The
// check is the record's XXH64, or none for a stream without one.
const char* check_name(const moltavex::StreamInfo& info) {
  return info.checksum != 0 ? "XXH64" : "none";
}

std::string ratio_text(std::uint64_t compressed, std::uint64_t original) {
  if (original == 0) return "---";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(compressed) / original);
  return text;
}

void print_list(const std::vector<Job>& jobs) {
  std::string text = "Model  Order    Compressed      Original  Ratio  Check  Filename\n";
  std::uint64_t compressed = 0, original = 0;
  std::size_t files = 0;
  char row[64];
  for (const Job& job : jobs) {
    if (!job.listed) continue;
    std::snprintf(row, sizeof row, "%5d  %5d  %12llu  %12llu  %5s  %-5s  ", job.info.model,
                  job.info.order, static_cast<unsigned long long>(job.info.compressed_bytes),
                  static_cast<unsigned long long>(job.info.original_bytes),
                  ratio_text(job.info.compressed_bytes, job.info.original_bytes).c_str(),
                  check_name(job.info));
    text += row + job.name + "\n";
    compressed += job.info.compressed_bytes;
    original += job.info.original_bytes;
    ++files;
  }
  if (files == 0) return;
  if (files > 1) {
    std::snprintf(row, sizeof row, "%-12s  %12llu  %12llu  %5s         ", "totals",
                  static_cast<unsigned long long>(compressed),
                  static_cast<unsigned long long>(original),
                  ratio_text(compressed, original).c_str());
    text += row + std::to_string(files) + " files\n";
  }
  print_to(platform::std_output(), text);
}

// MOLTAVEX_MEMLIMIT when set (0: no limit), otherwise the physical memory.
bool memory_limit(std::uint64_t& limit) {
  const char* text = std::getenv("MOLTAVEX_MEMLIMIT");
  if (text == nullptr) {
    limit = platform::physical_memory();
    return true;
  }
  return parse_byte_count(text, limit);
}

// Ends the process as a write to a closed pipe would have, had SIGPIPE not
// been caught: quietly, and seen as that signal by the caller's shell.
int end_as_broken_pipe() {
#if defined(SIGPIPE)
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
  return 128 + SIGPIPE;
#else
  return exit_failure;
#endif
}

}  // namespace

int modern_main(std::size_t count, char** slots, bool strip_name_quotes) {
  if (count > argument_slots && strip_name_quotes) return command_line_error("too many arguments");
  std::vector<std::string> args;
  for (std::size_t i = 1; i < count; ++i) {
    if (strip_name_quotes) {
      strip_quotes(slots[i]);
      if (slots[i][0] == '\0') continue;  // a blank more between arguments
    }
    args.emplace_back(slots[i]);
  }
  Settings settings;
  const std::string error = parse_command_line(std::getenv("MOLTAVEX_OPT"), args, settings);
  if (!error.empty()) return command_line_error(error);
  if (settings.help) {
    print_to(platform::std_output(), help_text());
    return exit_success;
  }
  if (settings.version) {
    print_to(platform::std_output(), std::string("moltavex ") + moltavex::version() + "\n");
    return exit_success;
  }

  RunContext context;
  context.settings = &settings;
  if (!memory_limit(context.memory_limit)) {
    print_to(platform::std_error(), "moltavex: MOLTAVEX_MEMLIMIT: invalid byte count\n");
    return exit_failure;
  }
  if (settings.choice == Choice::exact) {
    context.setting = moltavex::Setting(settings.model, settings.order);
  } else {
    const int level = settings.level != 0 ? settings.level : moltavex::level_default;
    (void)moltavex::level_setting(level, &context.setting);
  }
  catch_interrupts(&stop_signal);
  context.stop = &stop_signal;

  std::vector<Job> jobs;
  const std::string plan_error = plan_jobs(context, jobs);
  if (!plan_error.empty()) return command_line_error(plan_error);
  // Jobs that write to standard output take turns; so do all when one
  // progress line is drawn.
  bool to_stdout = settings.to_stdout;
  for (const Job& job : jobs) to_stdout = to_stdout || (job.output.empty() && !job.skipped);
  const bool writes =
      settings.operation == Operation::compress || settings.operation == Operation::decompress;
  unsigned threads = writes && to_stdout ? 1 : settings.threads;
  if (settings.verbose > 0 && is_terminal(platform::std_error())) {
    context.progress = threads == 1 || jobs.size() == 1;
  }
  run_jobs(jobs, context, threads);

  if (context.broken_pipe) return end_as_broken_pipe();
  if (stop_signal != 0) return 128 + stop_signal;
  if (settings.operation == Operation::list) print_list(jobs);
  bool failed = false, warned = false;
  for (const Job& job : jobs) {
    failed = failed || job.report.failed();
    warned = warned || job.report.warned();
  }
  return failed ? exit_failure : warned ? exit_warning : exit_success;
}

}  // namespace mx::cli
