// The conventional command line (see conventional.h): the settings,
// --help and --version, the memory limit, the jobs and the -l table, and
// the exit status.
#include "cli/conventional.h"

#include <csignal>
#include <string>
#include <vector>

#include "cli/environment.h"
#include "cli/exit_status.h"
#include "cli/help.h"
#include "cli/list.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/plan.h"
#include "cli/scheduler.h"
#include "cli/system.h"
#include "cli/tokenizer.h"
#include "moltavex/moltavex.hpp"

namespace mx::cli {

namespace {

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

int run_conventional(std::size_t count, char** slots, bool strip_name_quotes) {
  if (count > argument_slots && strip_name_quotes) return command_line_error("too many arguments");
  std::vector<std::string> args;
  for (std::size_t i = 1; i < count; ++i) {
    if (strip_name_quotes) {
      strip_quotes(slots[i]);
      if (slots[i][0] == '\0') continue;  // a blank more between arguments
    }
    args.emplace_back(slots[i]);
  }
  const Environment& env = environment();
  Settings settings;
  const std::string error = parse_command_line(env.options, args, settings);
  if (!error.empty()) return command_line_error(error);
  if (settings.help) {
    (void)sys::write(sys::Stream::output, help_text());
    return exit_success;
  }
  if (settings.version) {
    (void)sys::write(sys::Stream::output, std::string("moltavex ") + moltavex::version() + "\n");
    return exit_success;
  }

  RunContext context;
  context.settings = &settings;
  if (!env.memory_limit_valid && settings.memory_limit == 0) {
    (void)sys::write(sys::Stream::error, "moltavex: MOLTAVEX_MEMLIMIT: invalid byte count\n");
    return exit_failure;
  }
  context.memory_limit =
      memory_limit(settings.memory_limit, settings.operation == Operation::compress &&
                                              settings.choice == Choice::automatic);
  if (settings.choice == Choice::exact) {
    context.setting = moltavex::Setting(settings.model, settings.order);
  } else if (settings.choice == Choice::level && settings.operation == Operation::compress) {
    // A level fits the memory limit by lowering its order, and says so
    // once, as xz does; only an exact setting is refused.
    context.level = settings.level != 0 ? settings.level : moltavex::level_default;
    moltavex::Setting row;
    (void)moltavex::level_setting(context.level, &row);
    if (moltavex::level_setting_within(context.level, context.memory_limit, &context.setting) ==
            moltavex::Status::ok &&
        (row.model != context.setting.model || row.order != context.setting.order) &&
        settings.quiet == 0) {
      (void)sys::write(sys::Stream::error,
                       "moltavex: level " + std::to_string(context.level) + " lowered to model " +
                           std::to_string(context.setting.model) + " at order " +
                           std::to_string(context.setting.order) + " to fit the memory limit of " +
                           memory_text(context.memory_limit) + "\n");
    }
  }
  context.stop = sys::catch_interrupts();

  std::vector<Job> jobs;
  const std::string plan_error = plan_jobs(context, jobs);
  if (!plan_error.empty()) return command_line_error(plan_error);
  // Jobs that write to standard output take turns; so do all when one
  // progress line is drawn.
  bool to_stdout = settings.to_stdout;
  for (const Job& job : jobs) to_stdout = to_stdout || (job.output.empty() && !job.skipped);
  const unsigned threads = writes_outputs(settings) && to_stdout ? 1 : settings.threads;
  if (settings.verbose > 0 && sys::is_terminal(sys::Stream::error)) {
    context.progress = threads == 1 || jobs.size() == 1;
  }
  run_jobs(jobs, context, threads);

  if (context.broken_pipe) return end_as_broken_pipe();
  if (*context.stop != 0) return 128 + *context.stop;
  if (settings.operation == Operation::list) print_list(jobs, settings.verbose > 0);
  bool failed = false, warned = false;
  for (const Job& job : jobs) {
    failed = failed || job.report.failed();
    warned = warned || job.report.warned();
  }
  return failed ? exit_failure : warned ? exit_warning : exit_success;
}

}  // namespace mx::cli
