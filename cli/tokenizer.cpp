#include "cli/tokenizer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace mx::cli {

std::size_t split_command_line(char* command_line, char** slots, std::size_t slot_count) {
  char* pos = command_line;
  bool in_quotes = false;
  std::size_t count = 0;
  if (*pos == '\0') return 0;
  for (;;) {
    if (count < slot_count) slots[count] = pos;  // start an argument
    for (;;) {
      while (*pos != ' ' && *pos != '\0') {
        if (*pos == '"') in_quotes = !in_quotes;
        ++pos;
      }
      if (*pos == '\0') return count + 1;
      // At a blank. One extra blank after the program name is absorbed.
      if (count == 0 && pos[1] == ' ') ++pos;
      ++pos;
      if (!in_quotes) break;  // a quoted blank belongs to the argument
    }
    pos[-1] = '\0';
    ++count;
    if (*pos == '\0') return count;
  }
}

void strip_quotes(char* text) {
  char* out = text;
  for (const char* in = text;; ++in) {
    if (*in == '"') continue;
    *out++ = *in;
    if (*in == '\0') break;
  }
}

int parse_decimal(const char* text) {
  static const char digits[] = "0123456789";
  std::uint32_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    const char* found = std::strchr(digits, *p);
    if (found == nullptr) return -1;
    value = value * 10 + static_cast<std::uint32_t>(found - digits);
  }
  return static_cast<int>(value);
}

char* concat_alloc(const char* first, const char* second) {
  const std::size_t a = std::strlen(first);
  const std::size_t b = std::strlen(second);
  auto* text = static_cast<char*>(std::calloc(std::size_t{a} + b + 1, 1));
  if (text == nullptr) return nullptr;
  std::memcpy(text, first, a);
  std::memcpy(text + a, second, b);
  text[a + b] = '\0';
  return text;
}

}  // namespace mx::cli
