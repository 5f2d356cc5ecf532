// The conventional interface's messages: one line each, "moltavex: NAME:
// message" and LF, as gzip and xz write them. A job's lines gather in its
// Report, which the scheduler prints in file order; -q drops warnings, -qq
// errors too.
#pragma once

#include <cstdint>
#include <string>

#include "moltavex/moltavex.hpp"

namespace mx::cli {

class Report {
 public:
  void warn(int quiet, const std::string& name, const std::string& message);
  void fail(int quiet, const std::string& name, const std::string& message);
  void note(const std::string& name, const std::string& message);  // -v lines

  const std::string& text() const { return text_; }
  bool failed() const { return failed_; }
  bool warned() const { return warned_; }

 private:
  std::string text_;
  bool failed_ = false;
  bool warned_ = false;
};

// The words for a failed job's status, the one place statuses meet this
// interface's messages.
std::string job_message(moltavex::Status status);

// Table memory as help and -lv show it: "32 KiB", "17 MiB", "1.5 MiB".
std::string memory_text(std::uint64_t bytes);

// A command line that cannot be used: its message, with the hint to --help,
// on standard error. Returns the exit status.
int command_line_error(const std::string& message);

}  // namespace mx::cli
