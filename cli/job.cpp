// One job of the conventional interface (see job.h).
#include "cli/job.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/file_jobs.h"
#include "cli/list.h"
#include "cli/progress.h"
#include "cli/system.h"

namespace mx::cli {

namespace fs = std::filesystem;

namespace {

// The observer's context: the bytes so far (for the -v line) and, when
// drawn, the progress line.
struct JobConsole {
  ProgressLine line;
  bool decompressing = false;
  std::uint64_t bytes_in = 0, bytes_out = 0;

  JobConsole(bool drawn, std::uint64_t size) : line(drawn, size) {}

  static void started(void* context, bool decompressing, const char*) {
    auto* self = static_cast<JobConsole*>(context);
    self->decompressing = decompressing;
    ProgressLine::started(&self->line, decompressing);
  }
  static void progress(void* context, std::uint64_t bytes_in, std::uint64_t bytes_out) {
    auto* self = static_cast<JobConsole*>(context);
    self->bytes_in = bytes_in;
    self->bytes_out = bytes_out;
    ProgressLine::update(&self->line, bytes_in, bytes_out);
  }
};

JobKind kind_of(const Settings& s) {
  if (s.operation == Operation::decompress) return JobKind::decompress;
  if (s.operation != Operation::compress) return JobKind::test;
  if (s.choice == Choice::automatic) return JobKind::compress_auto;
  return s.choice == Choice::level ? JobKind::compress_level : JobKind::compress;
}

bool refused_at_terminal(Job& job, const Settings& s) {
  if (s.force) return false;
  if (s.operation == Operation::compress) {
    if (!job.output.empty() || !sys::is_terminal(sys::Stream::output)) return false;
    job.report.fail(s.quiet, "(stdout)",
                    "compressed data not written to a terminal (-f forces it)");
    return true;
  }
  if (!job.input.empty() || !sys::is_terminal(sys::Stream::input)) return false;
  job.report.fail(s.quiet, "(stdin)", "compressed data not read from a terminal (-f forces it)");
  return true;
}

// The -v line: the sizes, and the setting (compression) or the stream
// (test).
std::string verbose_line(const Job& job, const JobResult& result, const JobConsole& console,
                         JobKind kind) {
  if (kind == JobKind::test) {
    return ProgressLine::sizes_text(job.info.compressed_bytes, job.info.original_bytes, true) +
           " (model " + std::to_string(job.info.model) + ", order " +
           std::to_string(job.info.order) + ", " +
           (job.info.checksum != 0 ? "checksum verified" : "no checksum") + ")";
  }
  std::string text =
      ProgressLine::sizes_text(console.bytes_in, console.bytes_out, console.decompressing);
  if (kind != JobKind::decompress) {
    text += " (model " + std::to_string(result.chosen.model) + ", order " +
            std::to_string(result.chosen.order) + ")";
  }
  return text;
}

}  // namespace

void run_job(Job& job, RunContext& context) {
  const Settings& s = *context.settings;
  if (job.skipped || (context.stop != nullptr && *context.stop != 0) || context.broken_pipe) {
    return;
  }
  if (refused_at_terminal(job, s)) return;
  const bool writes = writes_outputs(s);
  if (writes && !job.output.empty() && !s.force) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(fs::u8path(job.output), ec))) {
      job.report.fail(s.quiet, job.output, "already exists (-f overwrites it)");
      return;
    }
  }

  moltavex::Options options;
  options.memory_limit = context.memory_limit;
  // The integrity record is written unless --no-check; every decoder here
  // verifies one when it is there. Standard input is read to its end like
  // a file, so that its end is checked too (and data after the stream
  // seen).
  options.checksum = s.check ? 1 : 0;
  options.whole_input = 1;
  const bool removes = s.remove && writes && !job.input.empty() && !job.output.empty();
  options.durable = removes ? 1 : 0;
  const std::uint64_t size = input_size(job.input, job.input.empty());
  JobConsole console(context.progress, size);
  moltavex::Observer observer;
  observer.started = &JobConsole::started;
  observer.progress = &JobConsole::progress;
  observer.context = &console;
  observer.stop = context.stop;

  JobRequest request;
  request.kind = kind_of(s);
  // This interface names the standard streams with empty names.
  request.input = job.input;
  request.standard_input = job.input.empty();
  request.output = job.output;
  request.standard_output = job.output.empty();
  request.setting = context.setting;
  request.level = context.level;
  JobResult result;
  moltavex::Status status = moltavex::Status::ok;
  if (s.operation == Operation::list && !job.input.empty() &&
      describe_from_record(job.input, size, job.info)) {
    status = moltavex::Status::ok;
  } else {
    status = run_file_job(request, result, &observer, &options);
    job.info = result.info;
  }
  console.line.erase();
  if (status != moltavex::Status::ok) {
    if (status == moltavex::Status::interrupted && context.stop != nullptr && *context.stop != 0) {
      return;
    }
    if (status == moltavex::Status::write_failed && job.output.empty() && sys::output_gone()) {
      context.broken_pipe = true;  // the reader has all it wanted: end quietly
      return;
    }
    if ((status == moltavex::Status::memory_limit || status == moltavex::Status::out_of_memory) &&
        job.memory > context.memory_limit) {
      job.report.fail(s.quiet, job.name,
                      moltavex::memory_limit_message(job.memory, context.memory_limit));
      return;
    }
    // A file the system refused: named, with the system's reason, as gzip
    // and xz say it. The output's failures name the output.
    if (result.system_error != 0) {
      const bool output_failed = status == moltavex::Status::create_output_failed ||
                                 status == moltavex::Status::write_failed;
      const std::string& name = !output_failed       ? job.name
                                : job.output.empty() ? std::string("(stdout)")
                                                     : job.output;
      job.report.fail(s.quiet, name, std::strerror(result.system_error));
      return;
    }
    job.report.fail(s.quiet, job.name, job_message(status));
    return;
  }
  if (s.operation == Operation::list) job.listed = true;
  if ((request.kind == JobKind::decompress || s.operation == Operation::test) &&
      job.info.trailing_data != 0) {
    job.report.warn(s.quiet, job.name, "data after the compressed stream ignored");
  }
  if (s.verbose > 0 && s.operation != Operation::list) {
    job.report.note(job.name, verbose_line(job, result, console, request.kind));
  }
  if (removes) {
    std::error_code ec;
    if (!fs::remove(fs::u8path(job.input), ec)) {
      job.report.fail(s.quiet, job.name, "cannot remove: " + ec.message());
    }
  }
}

}  // namespace mx::cli
