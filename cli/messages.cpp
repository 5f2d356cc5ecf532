// The conventional interface's messages (see messages.h).
#include "cli/messages.h"

#include <cctype>
#include <cstdio>

#include "cli/exit_status.h"
#include "cli/system.h"

namespace mx::cli {

namespace {

std::string message_line(const std::string& name, const std::string& message) {
  return "moltavex: " + name + ": " + message + "\n";
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
      // Statuses without words of their own here take the library's line,
      // without its capital and full stop.
      std::string text = moltavex::status_message(status);
      if (!text.empty() && text.back() == '.') text.pop_back();
      if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
      }
      return text;
    }
  }
}

std::string memory_text(std::uint64_t bytes) {
  constexpr std::uint64_t mib = std::uint64_t{1} << 20;
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < mib) {
    std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
  } else if (bytes % mib == 0) {
    std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes / mib));
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / mib);
  }
  return text;
}

int command_line_error(const std::string& message) {
  (void)sys::write(sys::Stream::error, "moltavex: " + message + "; see 'moltavex --help'\n");
  return exit_failure;
}

}  // namespace mx::cli
