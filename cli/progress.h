// Live progress line for long jobs on a terminal.
//
// When standard error is a terminal and the input's size is known, a line
// such as "   42.0%    13.1 MB/s    0:07 left" is drawn after the progress
// line of the job, redrawn at most four times a second from the job's
// progress hook, and erased (carriage return, blanks, carriage return)
// before anything else is printed. It appears only after the first second,
// so short jobs print nothing extra. With standard error redirected nothing
// is drawn and the console bytes are exactly the job's lines.
#pragma once

#include <chrono>
#include <cstdint>

namespace mx::cli {

class ProgressLine {
 public:
  // `input_size` 0 means unknown: the line is never drawn.
  ProgressLine(bool enabled, std::uint64_t input_size);
  ~ProgressLine() { erase(); }

  // The job's progress hook (context: the ProgressLine).
  static void update(void* context, std::uint64_t bytes_in, std::uint64_t bytes_out);

  // Removes the line from the terminal if it is drawn.
  void erase();

  // The text drawn for `bytes_in` of the input after `seconds` (for tests).
  static void format(char* out, std::size_t size, std::uint64_t bytes_in, std::uint64_t input_size,
                     double seconds);

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  std::uint64_t input_size_;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  std::size_t drawn_ = 0;  // characters of the line on screen
};

}  // namespace mx::cli
