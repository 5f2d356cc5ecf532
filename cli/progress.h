// Live progress line and closing summary of a job on a terminal.
//
// When standard error is a terminal and the input's size is known, a line
// such as "   42.0%    13.1 MB/s    0:07 left" is drawn after the progress
// line of the job, redrawn at most four times a second from the job's
// progress hook. It appears only after the first second, so short jobs
// print nothing extra meanwhile. The speed counts the data: input bytes
// when compressing, restored bytes when decompressing. When a job succeeds
// on a terminal, the line ends as a one-line summary instead, such as
// "  152089 -> 43202 bytes, 2.272 bits per byte, 0.05 s" (the data's size
// first when compressing, the stream's first when decompressing); when it
// fails, the line is erased (carriage return, blanks, carriage return)
// before anything else is printed. With standard error redirected nothing
// is drawn and the console bytes are exactly the job's lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace mx::cli {

class ProgressLine {
 public:
  // `input_size` 0 means unknown: the line is never drawn, but the summary
  // is.
  ProgressLine(bool terminal, std::uint64_t input_size);
  ~ProgressLine() { erase(); }

  // The job's hooks (context: the ProgressLine).
  static void started(void* context, bool decompressing);
  static void update(void* context, std::uint64_t bytes_in, std::uint64_t bytes_out);

  // Removes the line from the terminal if it is drawn.
  void erase();
  // On a terminal, puts the summary of the finished job in the line's place
  // and ends the line.
  void summarize();

  // The texts drawn (for tests).
  static void format(char* out, std::size_t size, std::uint64_t bytes_in, std::uint64_t input_size,
                     std::uint64_t data_bytes, double seconds);
  static void format_summary(char* out, std::size_t size, std::uint64_t bytes_in,
                             std::uint64_t bytes_out, bool decompressing, double seconds);
  // The summary's sizes: "152089 -> 43202 bytes, 2.272 bits per byte".
  static std::string sizes_text(std::uint64_t bytes_in, std::uint64_t bytes_out,
                                bool decompressing);

 private:
  using Clock = std::chrono::steady_clock;
  void draw(const char* text);
  double seconds() const;

  bool terminal_;
  std::uint64_t input_size_;
  bool decompressing_ = false;
  std::uint64_t bytes_in_ = 0;
  std::uint64_t bytes_out_ = 0;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  std::size_t drawn_ = 0;  // characters of the line on screen
};

}  // namespace mx::cli
