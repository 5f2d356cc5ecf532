// The file policy (see files.h): planning the jobs from the operands and
// running one job with its checks, messages and --rm.
#include "cli/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/job_files.h"
#include "cli/process.h"
#include "cli/progress.h"
#include "platform/platform.h"

namespace mx::cli {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------

namespace {

std::string message_line(const std::string& name, const std::string& message) {
  return "moltavex: " + name + ": " + message + "\n";
}

// The message of a failed job's status, the one place statuses meet this
// interface's words. Statuses this build does not know yet are named by
// the library's own text.
std::string job_message(moltavex::Status status) {
  switch (status) {
    case moltavex::Status::open_input_failed: return "cannot open the input";
    case moltavex::Status::create_output_failed:
      return "cannot create the output (is it the input itself?)";
    case moltavex::Status::read_failed: return "read error";
    case moltavex::Status::write_failed: return "write error";
    case moltavex::Status::out_of_memory: return "out of memory";
    case moltavex::Status::memory_limit: return "memory usage limit reached";
    case moltavex::Status::invalid_stream: return "not in moltavex format";
    case moltavex::Status::truncated_stream: return "unexpected end of input";
    case moltavex::Status::invalid_argument: return "invalid model or order";
    case moltavex::Status::interrupted: return "interrupted";
    default: {
      std::string text = moltavex::status_message(status);
      if (!text.empty() && text.back() == '.') text.pop_back();
      if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
      return text;
    }
  }
}

std::string mebibytes(std::uint64_t bytes) {
  return std::to_string((bytes + (std::uint64_t{1} << 20) - 1) >> 20) + " MiB";
}

}  // namespace

void Report::warn(int quiet, const std::string& name, const std::string& message) {
  warned_ = true;
  if (quiet < 1) text_ += message_line(name, message);
}

void Report::fail(int quiet, const std::string& name, const std::string& message) {
  failed_ = true;
  if (quiet < 2) text_ += message_line(name, message);
}

void Report::note(const std::string& name, const std::string& message) {
  text_ += message_line(name, message);
}

// ---------------------------------------------------------------------------
// The library's file jobs
// ---------------------------------------------------------------------------

namespace {

// The integrity record is written unless --no-check; every decoder here
// verifies one when it is there. Standard input is read to its end like a
// file, so that its end is checked too (and data after the stream seen).
void request_checksum(moltavex::Options& options, bool check) {
  options.checksum = check ? 1 : 0;
  options.whole_input = 1;
}

// -l on a regular file that ends in its stream's record: the header and
// the record describe the stream without decoding it (false: decode it).
bool listed_from_record(const std::string& name, std::uint64_t size, moltavex::StreamInfo& info) {
  constexpr std::size_t record_size = 32;
  if (size <= record_size) return false;
  std::ifstream in(fs::u8path(name), std::ios::binary);
  char header = 0;
  std::uint8_t tail[record_size];
  if (!in.get(header) || !in.seekg(static_cast<std::streamoff>(size - record_size)) ||
      !in.read(reinterpret_cast<char*>(tail), record_size)) {
    return false;
  }
  return moltavex::describe_from_record(static_cast<std::uint8_t>(header), tail, size, &info) ==
         moltavex::Status::ok;
}

enum class Kind { compress, compress_auto, decompress, test };

// The one place where this interface's names meet the jobs: an empty name
// is a standard stream (cli/job_files.h takes null for it).
moltavex::Status file_job(Kind kind, const std::string& input, const std::string& output,
                          const moltavex::Setting& setting, moltavex::Setting* chosen,
                          moltavex::StreamInfo* info, const moltavex::Observer* observer,
                          const moltavex::Options* options) {
  const char* in = input.empty() ? nullptr : input.c_str();
  const char* out = output.empty() ? nullptr : output.c_str();
  switch (kind) {
    case Kind::compress:
      return compress_job(in, out, setting.model, setting.order, observer, options);
    case Kind::compress_auto: return compress_auto_job(in, out, chosen, observer, options);
    case Kind::decompress: return decompress_job(in, out, observer, options, info);
    case Kind::test: return test_job(in, info, observer, options);
  }
  return moltavex::Status::invalid_argument;
}

// The observer's context: the bytes so far (for the -v summary) and, when
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

bool has_suffix(const std::string& name, const std::string& suffix) {
  return name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
         name[name.size() - suffix.size() - 1] != '/';
}

// The table memory a job reserves: the setting's tables when compressing,
// the header's when decoding, and all of the limit when it cannot be told
// (the automatic choice, which may try settings up to the limit, and
// standard input, whose header cannot be read ahead).
std::uint64_t job_memory(const RunContext& context, const Job& job) {
  const Settings& s = *context.settings;
  const std::uint64_t unknown = context.memory_limit;
  if (s.operation == Operation::compress) {
    if (s.choice == Choice::automatic) return unknown;
    return moltavex::model_memory(context.setting.model, context.setting.order);
  }
  if (job.input.empty()) return unknown;
  const platform::Handle h = platform::open_input(job.input.c_str());
  if (h == platform::invalid_handle) return 0;  // the job itself reports it
  std::uint8_t header = 0;
  const std::int64_t got = platform::read(h, &header, 1);
  platform::close(h);
  int model = 0, order = 0;
  if (got != 1 || !moltavex::read_header(header, &model, &order)) return 0;
  return moltavex::model_memory(model, order);
}

// -------------------------------------------------------------------------
// Planning
// -------------------------------------------------------------------------

class Planner {
 public:
  Planner(const RunContext& context, std::vector<Job>& jobs)
      : context_(context), s_(*context.settings), jobs_(jobs) {}

  void add_operand(const std::string& operand) {
    if (operand == "-") {
      Job job;
      job.name = "(stdin)";
      if (!s_.output.empty() && writes_files()) job.output = s_.output;
      finish(job);
      return;
    }
    add_file(operand, false);
  }

 private:
  bool writes_files() const {
    return s_.operation == Operation::compress || s_.operation == Operation::decompress;
  }

  void skip(Job& job) {
    job.skipped = true;
    jobs_.push_back(std::move(job));
  }

  void finish(Job& job) {
    job.memory = job_memory(context_, job);
    const bool automatic = s_.operation == Operation::compress && s_.choice == Choice::automatic;
    job.weight = automatic ? 2 : 1;
    jobs_.push_back(std::move(job));
  }

  void add_file(const std::string& name, bool found_in_directory) {
    Job job;
    job.input = name;
    job.name = name;
    std::error_code ec;
    const fs::file_status link = fs::symlink_status(name, ec);
    if (ec || !fs::exists(link)) {
      const std::string why = ec ? ec.message() : std::strerror(ENOENT);
      job.report.fail(s_.quiet, name, why);
      return skip(job);
    }
    const bool is_link = fs::is_symlink(link);
    if (is_link && writes_files() && !s_.force) {
      job.report.warn(s_.quiet, name, "is a symbolic link, skipping");
      return skip(job);
    }
    const fs::file_status target = is_link ? fs::status(name, ec) : link;
    if (fs::is_directory(target)) {
      if (s_.recursive && (!is_link || s_.force)) return add_directory(name);
      job.report.warn(s_.quiet, name, "is a directory, skipping");
      return skip(job);
    }
    if (!fs::is_regular_file(target) && writes_files() && !s_.force) {
      job.report.warn(s_.quiet, name, "is not a regular file, skipping");
      return skip(job);
    }
    if (writes_files() && !name_output(job, found_in_directory)) return skip(job);
    finish(job);
  }

  // Sets the output name by the suffix rules; false when the input is
  // skipped (with its warning, unless found in a directory).
  bool name_output(Job& job, bool found_in_directory) {
    const bool suffixed = has_suffix(job.input, s_.suffix);
    if (s_.operation == Operation::compress) {
      if (suffixed && !s_.force) {
        if (!found_in_directory) {
          job.report.warn(s_.quiet, job.name, "already has the " + s_.suffix + " suffix, skipping");
        }
        return false;
      }
      if (!s_.to_stdout) job.output = s_.output.empty() ? job.input + s_.suffix : s_.output;
      return true;
    }
    if (s_.to_stdout) return true;
    if (!s_.output.empty()) {
      job.output = s_.output;
      return true;
    }
    if (!suffixed) {
      if (!found_in_directory) job.report.warn(s_.quiet, job.name, "unknown suffix, skipping");
      return false;
    }
    job.output = job.input.substr(0, job.input.size() - s_.suffix.size());
    return true;
  }

  void add_directory(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ec;
    // A link that -f follows may lead back into a directory being walked:
    // that one is not walked again.
    const std::string real = fs::canonical(directory, ec).string();
    if (!ec && std::find(walking_.begin(), walking_.end(), real) != walking_.end()) {
      Job job;
      job.name = directory;
      job.report.warn(s_.quiet, directory, "is a directory loop, skipping");
      return skip(job);
    }
    walking_.push_back(ec ? directory : real);
    struct Leave {
      std::vector<std::string>& walking;
      ~Leave() { walking.pop_back(); }
    } leave{walking_};
    ec.clear();
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
      names.push_back(it->path().string());
    }
    if (ec) {
      Job job;
      job.name = directory;
      job.report.fail(s_.quiet, directory, ec.message());
      return skip(job);
    }
    // In name order, so that the messages and the work do not depend on
    // the directory's order.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) add_file(name, true);
  }

  const RunContext& context_;
  const Settings& s_;
  std::vector<Job>& jobs_;
  std::vector<std::string> walking_;  // the directories being walked, outermost first
};

}  // namespace

std::string plan_jobs(const RunContext& context, std::vector<Job>& jobs) {
  const Settings& s = *context.settings;
  const bool writes = s.operation == Operation::compress || s.operation == Operation::decompress;
  if (writes && !s.output.empty() && s.to_stdout) return "-c and -o exclude each other";
  Planner planner(context, jobs);
  if (s.files.empty()) {
    planner.add_operand("-");
  } else {
    for (const std::string& operand : s.files) planner.add_operand(operand);
  }
  std::size_t runnable = 0;
  for (const Job& job : jobs) runnable += job.skipped ? 0 : 1;
  if (writes && !s.output.empty() && runnable > 1) {
    jobs.clear();
    return "-o takes a single input";
  }
  if (s.operation == Operation::compress && s.to_stdout && runnable > 1) {
    // A reader stops at the first stream's end marker: the streams of
    // several inputs on one output could not be restored apart.
    jobs.clear();
    return "-c takes a single input when compressing";
  }
  return {};
}

// ---------------------------------------------------------------------------
// Running
// ---------------------------------------------------------------------------

namespace {

// Removes the input of a job that succeeded, once its output and the
// output's directory are on disk.
void remove_input(Job& job, const Settings& s) {
  if (!platform::sync_file(job.output.c_str()) ||
      !platform::sync_directory_of(job.output.c_str())) {
    job.report.fail(s.quiet, job.output, "cannot sync to disk; the input is kept");
    return;
  }
  std::error_code ec;
  if (!fs::remove(job.input, ec)) {
    job.report.fail(s.quiet, job.name, "cannot remove: " + ec.message());
  }
}

bool refused_at_terminal(Job& job, const Settings& s) {
  if (s.force) return false;
  if (s.operation == Operation::compress) {
    if (!job.output.empty() || !is_terminal(platform::std_output())) return false;
    job.report.fail(s.quiet, "(stdout)",
                    "compressed data not written to a terminal (-f forces it)");
    return true;
  }
  if (!job.input.empty() || !is_terminal(platform::std_input())) return false;
  job.report.fail(s.quiet, "(stdin)", "compressed data not read from a terminal (-f forces it)");
  return true;
}

}  // namespace

void run_job(Job& job, RunContext& context) {
  const Settings& s = *context.settings;
  if (job.skipped || platform::stopped(context.stop) || context.broken_pipe) return;
  if (refused_at_terminal(job, s)) return;
  const bool writes = s.operation == Operation::compress || s.operation == Operation::decompress;
  if (writes && !job.output.empty() && !s.force) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(job.output, ec))) {
      job.report.fail(s.quiet, job.output, "already exists (-f overwrites it)");
      return;
    }
  }

  moltavex::Options options;
  options.memory_limit = context.memory_limit;
  request_checksum(options, s.check);
  std::uint64_t size = 0;
  if (!job.input.empty()) {
    const platform::FileId id = platform::identify(job.input.c_str());
    if (id.regular) size = id.size;
  }
  JobConsole console(context.progress, size);
  moltavex::Observer observer;
  observer.started = &JobConsole::started;
  observer.progress = &JobConsole::progress;
  observer.context = &console;
  observer.stop = context.stop;

  const Kind kind = s.operation == Operation::decompress ? Kind::decompress
                    : s.operation != Operation::compress ? Kind::test
                    : s.choice == Choice::automatic      ? Kind::compress_auto
                                                         : Kind::compress;
  moltavex::Setting chosen = context.setting;
  const moltavex::Status status = s.operation == Operation::list && !job.input.empty() &&
                                          listed_from_record(job.input, size, job.info)
                                      ? moltavex::Status::ok
                                      : file_job(kind, job.input, job.output, context.setting,
                                                 &chosen, &job.info, &observer, &options);
  console.line.erase();
  if (status != moltavex::Status::ok) {
    if (status == moltavex::Status::interrupted && platform::stopped(context.stop)) return;
    if (status == moltavex::Status::write_failed && job.output.empty() &&
        platform::output_gone(platform::std_output())) {
      context.broken_pipe = true;  // the reader has all it wanted: end quietly
      return;
    }
    std::string message = job_message(status);
    if ((status == moltavex::Status::memory_limit || status == moltavex::Status::out_of_memory) &&
        job.memory > context.memory_limit && context.memory_limit != 0) {
      message = "needs " + mebibytes(job.memory) + " of tables, over the memory limit of " +
                mebibytes(context.memory_limit);
    }
    job.report.fail(s.quiet, job.name, message);
    return;
  }
  if (s.operation == Operation::list) job.listed = true;
  if ((kind == Kind::decompress || s.operation == Operation::test) && job.info.trailing_data != 0) {
    job.report.warn(s.quiet, job.name, "data after the compressed stream ignored");
  }
  if (s.verbose > 0 && s.operation != Operation::list) {
    char line[160];
    if (s.operation == Operation::test) {
      ProgressLine::format_summary(line, sizeof line, job.info.compressed_bytes,
                                   job.info.original_bytes, true, 0.0);
    } else {
      ProgressLine::format_summary(line, sizeof line, console.bytes_in, console.bytes_out,
                                   console.decompressing, 0.0);
    }
    // The summary without its leading blanks and its time (which would
    // make the console differ from run to run).
    std::string text = line;
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.rfind(", "));
    if (kind == Kind::compress || kind == Kind::compress_auto) {
      text += " (model " + std::to_string(chosen.model) + ", order " +
              std::to_string(chosen.order) + ")";
    } else if (kind == Kind::test) {
      text += " (model " + std::to_string(job.info.model) + ", order " +
              std::to_string(job.info.order) + ", " +
              (job.info.checksum != 0 ? "checksum verified" : "no checksum") + ")";
    }
    job.report.note(job.name, text);
  }
  if (s.remove && writes && !job.input.empty() && !job.output.empty()) remove_input(job, s);
}

}  // namespace mx::cli
