// Sizes as xz reads them (see sizes.h).
#include "cli/sizes.h"

#include <cstring>

namespace mx::cli {

namespace {

struct Unit {
  const char* text;
  int shift;
};

constexpr Unit units[] = {
    {"", 0},     {"K", 10}, {"k", 10},  {"KB", 10}, {"kB", 10},  {"Ki", 10},
    {"KiB", 10}, {"M", 20}, {"m", 20},  {"MB", 20}, {"Mi", 20},  {"MiB", 20},
    {"G", 30},   {"g", 30}, {"GB", 30}, {"Gi", 30}, {"GiB", 30},
};

}  // namespace

bool parse_size(const char* text, std::uint64_t physical_memory, std::uint64_t& bytes) {
  std::uint64_t whole = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const auto digit = static_cast<std::uint64_t>(*p - '0');
    if (whole > (UINT64_MAX - digit) / 10) return false;
    whole = whole * 10 + digit;
  }
  if (p == text) return false;
  // The fraction, kept as a numerator over a power of ten up to 10^9.
  std::uint64_t fraction = 0, scale = 1;
  if (*p == '.') {
    const char* digits = ++p;
    for (; *p >= '0' && *p <= '9'; ++p) {
      if (scale < 1000000000) {
        fraction = fraction * 10 + static_cast<std::uint64_t>(*p - '0');
        scale *= 10;
      }
    }
    if (p == digits) return false;
  }
  if (std::strcmp(p, "%") == 0) {
    if (physical_memory == 0 || whole == 0 || whole > 100 || (whole == 100 && fraction != 0)) {
      return false;
    }
    // whole.fraction percent of the memory, without overflow: its
    // hundredths and what they leave over, each taken that many times.
    const std::uint64_t hundredth = physical_memory / 100, rest = physical_memory % 100;
    bytes = hundredth * whole + rest * whole / 100 + hundredth * fraction / scale +
            rest * fraction / (100 * scale);
    return bytes != 0;
  }
  for (const Unit& unit : units) {
    if (std::strcmp(p, unit.text) != 0) continue;
    if (unit.shift == 0 && scale != 1) return false;  // a fraction of a byte
    if (whole > (UINT64_MAX >> unit.shift)) return false;
    const std::uint64_t part = (fraction << unit.shift) / scale;
    const std::uint64_t base = whole << unit.shift;
    if (base > UINT64_MAX - part) return false;
    bytes = base + part;
    return true;
  }
  return false;
}

}  // namespace mx::cli
