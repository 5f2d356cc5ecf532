#include "cli/progress.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace mx::cli {

namespace {
constexpr double first_draw_after = 1.0;  // seconds
constexpr double redraw_every = 0.25;
}  // namespace

ProgressLine::ProgressLine(bool enabled, std::uint64_t input_size)
    : enabled_(enabled && input_size > 0),
      input_size_(input_size),
      start_(Clock::now()),
      last_draw_(start_) {}

void ProgressLine::format(char* out, std::size_t size, std::uint64_t bytes_in,
                          std::uint64_t input_size, double seconds) {
  const double done = input_size == 0 ? 0.0 : static_cast<double>(bytes_in) / input_size;
  const double fraction = done > 1.0 ? 1.0 : done;
  const double rate = seconds > 0 ? static_cast<double>(bytes_in) / seconds : 0.0;
  const double left = fraction > 0 ? seconds * (1.0 - fraction) / fraction : 0.0;
  const auto whole = static_cast<long long>(left + 0.5);
  std::snprintf(out, size, "  %5.1f%%  %7.1f MB/s  %3lld:%02lld left", fraction * 100.0, rate / 1e6,
                whole / 60, whole % 60);
}

void ProgressLine::update(void* context, std::uint64_t bytes_in, std::uint64_t) {
  auto* self = static_cast<ProgressLine*>(context);
  if (!self->enabled_) return;
  const Clock::time_point now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - self->start_).count();
  if (seconds < first_draw_after) return;
  if (self->drawn_ > 0 &&
      std::chrono::duration<double>(now - self->last_draw_).count() < redraw_every) {
    return;
  }
  self->last_draw_ = now;
  char text[96];
  text[0] = '\r';
  format(text + 1, sizeof text - 1, bytes_in, self->input_size_, seconds);
  const std::size_t length = std::strlen(text);
  (void)platform::write_all(platform::std_error(), text, length);
  self->drawn_ = length - 1;
}

void ProgressLine::erase() {
  if (drawn_ == 0) return;
  char blank[98];
  const std::size_t n = drawn_ < sizeof blank - 2 ? drawn_ : sizeof blank - 2;
  blank[0] = '\r';
  std::memset(blank + 1, ' ', n);
  blank[n + 1] = '\r';
  (void)platform::write_all(platform::std_error(), blank, n + 2);
  drawn_ = 0;
}

}  // namespace mx::cli
