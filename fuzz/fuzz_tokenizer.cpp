// The command-line tokenizer and string helpers on arbitrary raw lines.
//
// The input up to its first zero byte is a command line. It is split into a
// table of 260 slots followed by guard slots, and again into a table of 0..8
// slots, each on its own copy. What any line must give:
//   - the line changes only where a blank became a terminator, and nothing
//     past its end is touched; guard slots and unused slots keep their
//     values;
//   - no terminator stands inside quotes (an odd number of double quotes
//     before it); every blank outside quotes is a terminator, except at
//     most one: the first blank outside quotes when the next character is
//     the first terminator (the extra blank after the program name);
//   - the arguments start at the line's start and right after every
//     terminator that is not the last character; their number is the count
//     returned, the stored slots point exactly there, in order, inside the
//     line;
//   - the table size changes neither the count nor the line, only how many
//     slots are stored.
// Then, on every stored argument: strip_quotes removes exactly the double
// quotes, parse_decimal gives the 32-bit wrapped value of a digits-only
// text and -1 for anything else, and concat_alloc joins two of them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/tokenizer.h"
#include "fuzz_support.h"

namespace {

constexpr std::size_t table_size = 260;
constexpr std::size_t guard_count = 8;

char guard_target = 0;
char unused_target = 0;

struct Split {
  std::vector<char> buffer;
  std::vector<char*> slots;
  std::size_t count = 0;
};

Split split(const std::string& line, std::size_t slot_count) {
  Split s;
  s.buffer.assign(line.begin(), line.end());
  s.buffer.push_back('\0');
  s.slots.assign(slot_count + guard_count, &unused_target);
  for (std::size_t i = slot_count; i < s.slots.size(); ++i) s.slots[i] = &guard_target;
  s.count = mx::cli::split_command_line(s.buffer.data(), s.slots.data(), slot_count);
  for (std::size_t i = slot_count; i < s.slots.size(); ++i) {
    MX_FUZZ_CHECK(s.slots[i] == &guard_target);
  }
  for (std::size_t i = std::min(s.count, slot_count); i < slot_count; ++i) {
    MX_FUZZ_CHECK(s.slots[i] == &unused_target);
  }
  return s;
}

int reference_decimal(const std::string& text) {
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  return static_cast<int>(value);
}

void check_helpers(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  mx::cli::strip_quotes(buffer.data());
  std::string unquoted;
  std::remove_copy(text.begin(), text.end(), std::back_inserter(unquoted), '"');
  MX_FUZZ_CHECK(std::strlen(buffer.data()) == unquoted.size());
  MX_FUZZ_CHECK(unquoted == buffer.data());
  MX_FUZZ_CHECK(mx::cli::parse_decimal(text.c_str()) == reference_decimal(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
  const std::string line(reinterpret_cast<const char*>(data), length);

  const Split full = split(line, table_size);
  MX_FUZZ_CHECK((full.count == 0) == line.empty());
  MX_FUZZ_CHECK(full.buffer[length] == '\0');

  // Where the terminators went, and the quote parity before each position.
  std::vector<std::size_t> terminators;
  std::vector<std::size_t> kept_unquoted_blanks;
  std::size_t first_unquoted_blank = SIZE_MAX;
  bool quoted = false;
  for (std::size_t i = 0; i < length; ++i) {
    const char before = line[i];
    const char after = full.buffer[i];
    if (after != before) {
      MX_FUZZ_CHECK(before == ' ' && after == '\0');
      MX_FUZZ_CHECK(!quoted);
      terminators.push_back(i);
    } else if (before == ' ' && !quoted) {
      kept_unquoted_blanks.push_back(i);
    }
    if (before == ' ' && !quoted && first_unquoted_blank == SIZE_MAX) first_unquoted_blank = i;
    if (before == '"') quoted = !quoted;
  }
  MX_FUZZ_CHECK(kept_unquoted_blanks.size() <= 1);
  if (!kept_unquoted_blanks.empty()) {
    const std::size_t absorbed = kept_unquoted_blanks[0];
    MX_FUZZ_CHECK(absorbed == first_unquoted_blank);
    MX_FUZZ_CHECK(!terminators.empty() && terminators[0] == absorbed + 1);
  }

  std::vector<std::size_t> starts;
  if (length > 0) starts.push_back(0);
  for (std::size_t t : terminators) {
    if (t + 1 < length) starts.push_back(t + 1);
  }
  MX_FUZZ_CHECK(full.count == starts.size());
  const char* const base = full.buffer.data();
  for (std::size_t k = 0; k < full.count && k < table_size; ++k) {
    MX_FUZZ_CHECK(full.slots[k] == base + starts[k]);
  }

  // A smaller table: same count, same line, the same first slots.
  const std::size_t small = length % 9;
  const Split part = split(line, small);
  MX_FUZZ_CHECK(part.count == full.count);
  MX_FUZZ_CHECK(part.buffer == full.buffer);
  for (std::size_t k = 0; k < part.count && k < small; ++k) {
    MX_FUZZ_CHECK(part.slots[k] - part.buffer.data() == full.slots[k] - base);
  }

  check_helpers(line);
  const std::size_t stored = std::min(full.count, table_size);
  for (std::size_t k = 0; k < stored; ++k) check_helpers(full.slots[k]);
  if (stored >= 1) {
    const char* first = full.slots[0];
    const char* last = full.slots[stored - 1];
    char* joined = mx::cli::concat_alloc(first, last);
    MX_FUZZ_CHECK(joined != nullptr);
    MX_FUZZ_CHECK(std::string(joined) == std::string(first) + last);
    std::free(joined);
  }
  return 0;
}
