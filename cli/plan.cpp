// The plan of a conventional run (see plan.h).
#include "cli/plan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/names.h"

namespace mx::cli {

namespace fs = std::filesystem;

bool writes_outputs(const Settings& settings) {
  return settings.operation == Operation::compress || settings.operation == Operation::decompress;
}

namespace {

// The table memory a job reserves: the setting's tables when compressing,
// the header's when decoding, and all of the limit when it cannot be told
// (the automatic choice, which may try settings up to the limit, and
// standard input, whose header cannot be read ahead).
std::uint64_t job_memory(const RunContext& context, const Job& job) {
  const Settings& s = *context.settings;
  const std::uint64_t unknown = context.memory_limit;
  if (s.operation == Operation::compress) {
    if (s.choice == Choice::automatic) return unknown;
    if (s.choice == Choice::exact) {
      return moltavex::model_memory(context.setting.model, context.setting.order);
    }
    // A level tries the rows up to its own, two at a time, within the
    // limit.
    std::uint64_t ceiling = 0;
    for (int level = moltavex::level_min; level <= context.level; ++level) {
      moltavex::Setting row;
      if (moltavex::level_setting_within(level, context.memory_limit, &row) ==
          moltavex::Status::ok) {
        ceiling = std::max(ceiling, moltavex::model_memory(row.model, row.order));
      }
    }
    return std::min(context.memory_limit, 2 * ceiling);
  }
  if (job.input.empty()) return unknown;
  // The job itself reports an input it cannot open or read.
  std::ifstream in(fs::u8path(job.input), std::ios::binary);
  char header = 0;
  int model = 0, order = 0;
  if (!in.get(header) ||
      !moltavex::read_header(static_cast<std::uint8_t>(header), &model, &order)) {
    return 0;
  }
  return moltavex::model_memory(model, order);
}

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
  bool writes_files() const { return writes_outputs(s_); }

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
      if (!s_.to_stdout) {
        job.output = s_.output.empty() ? compressed_name(job.input, s_.suffix) : s_.output;
      }
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
    job.output = restored_name(job.input, s_.suffix);
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
  const bool writes = writes_outputs(s);
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

}  // namespace mx::cli
