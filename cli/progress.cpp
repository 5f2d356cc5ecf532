#include "cli/progress.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/system.h"

namespace mx::cli {

namespace {
constexpr double first_draw_after = 1.0;  // seconds
constexpr double redraw_every = 0.25;
constexpr std::size_t line_room = 96;  // characters of the longest line, and more
}  // namespace

ProgressLine::ProgressLine(bool terminal, std::uint64_t input_size)
    : terminal_(terminal), input_size_(input_size), start_(Clock::now()), last_draw_(start_) {}

double ProgressLine::seconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count();
}

void ProgressLine::format(char* out, std::size_t size, std::uint64_t bytes_in,
                          std::uint64_t input_size, std::uint64_t data_bytes, double seconds) {
  const double done = input_size == 0 ? 0.0 : static_cast<double>(bytes_in) / input_size;
  const double fraction = done > 1.0 ? 1.0 : done;
  const double rate = seconds > 0 ? static_cast<double>(data_bytes) / seconds : 0.0;
  const double left = fraction > 0 ? seconds * (1.0 - fraction) / fraction : 0.0;
  const auto whole = static_cast<long long>(left + 0.5);
  std::snprintf(out, size, "  %5.1f%%  %7.1f MB/s  %3lld:%02lld left", fraction * 100.0, rate / 1e6,
                whole / 60, whole % 60);
}

std::string ProgressLine::sizes_text(std::uint64_t bytes_in, std::uint64_t bytes_out,
                                     bool decompressing) {
  const std::uint64_t stream = decompressing ? bytes_in : bytes_out;
  const std::uint64_t data = decompressing ? bytes_out : bytes_in;
  const double bits_per_byte = data == 0 ? 0.0 : 8.0 * static_cast<double>(stream) / data;
  char text[96];
  std::snprintf(text, sizeof text, "%llu -> %llu bytes, %.3f bits per byte",
                static_cast<unsigned long long>(bytes_in),
                static_cast<unsigned long long>(bytes_out), bits_per_byte);
  return text;
}

void ProgressLine::format_summary(char* out, std::size_t size, std::uint64_t bytes_in,
                                  std::uint64_t bytes_out, bool decompressing, double seconds) {
  std::snprintf(out, size, "  %s, %.2f s", sizes_text(bytes_in, bytes_out, decompressing).c_str(),
                seconds);
}

void ProgressLine::started(void* context, bool decompressing) {
  static_cast<ProgressLine*>(context)->decompressing_ = decompressing;
}

void ProgressLine::update(void* context, std::uint64_t bytes_in, std::uint64_t bytes_out) {
  auto* self = static_cast<ProgressLine*>(context);
  self->bytes_in_ = bytes_in;
  self->bytes_out_ = bytes_out;
  if (!self->terminal_ || self->input_size_ == 0) return;
  const Clock::time_point now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - self->start_).count();
  if (seconds < first_draw_after) return;
  if (self->drawn_ > 0 &&
      std::chrono::duration<double>(now - self->last_draw_).count() < redraw_every) {
    return;
  }
  self->last_draw_ = now;
  char text[line_room];
  format(text, sizeof text, bytes_in, self->input_size_,
         self->decompressing_ ? bytes_out : bytes_in, seconds);
  self->draw(text);
}

// Draws `text` over the line: carriage return, the text, and blanks over
// what is left of a longer line before it.
void ProgressLine::draw(const char* text) {
  char line[2 * line_room];
  const std::size_t length = std::strlen(text);
  const std::size_t cover = drawn_ > length ? drawn_ - length : 0;
  line[0] = '\r';
  std::memcpy(line + 1, text, length);
  std::memset(line + 1 + length, ' ', cover);
  (void)sys::write(sys::Stream::error, std::string(line, 1 + length + cover));
  drawn_ = length;
}

void ProgressLine::summarize() {
  if (!terminal_) return;
  char text[line_room];
  format_summary(text, sizeof text, bytes_in_, bytes_out_, decompressing_, seconds());
  draw(text);
  (void)sys::write(sys::Stream::error, "\r\n");
  drawn_ = 0;
}

void ProgressLine::erase() {
  if (drawn_ == 0) return;
  char blank[line_room + 2];
  const std::size_t n = drawn_ < line_room ? drawn_ : line_room;
  blank[0] = '\r';
  std::memset(blank + 1, ' ', n);
  blank[n + 1] = '\r';
  (void)sys::write(sys::Stream::error, std::string(blank, n + 2));
  drawn_ = 0;
}

}  // namespace mx::cli
