// Command-line tokenizer and string helpers.
//
// These fix how a raw command line (as Windows hands it to a program) is
// understood: only the blank separates arguments, a double quote toggles
// quoting wherever it stands and stays in the argument, and decimal numbers
// are digits only. On POSIX the shell has already split and unquoted the
// arguments, so the program takes argv as it is; these routines are still
// built and tested everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mx::cli {

// The slots of a raw command line that the program reads: more arguments
// are counted but not stored.
inline constexpr std::size_t argument_slots = 260;

// Splits `command_line` in place: separating blanks become terminators and
// slots[0], slots[1], ... point into the buffer. Returns the number of
// arguments found. Only the first `slot_count` are stored; the rest are
// still counted (and terminated) but never written to `slots`.
//
// Rules: arguments are separated by exactly one blank; every further blank
// starts an empty argument, except that one extra blank right after the
// program name is absorbed into it. A trailing blank makes no empty
// argument. An unbalanced quote makes the rest of the line one argument.
std::size_t split_command_line(char* command_line, char** slots, std::size_t slot_count);

// Removes every double quote from `text` in place.
void strip_quotes(char* text);

// `text` as an unsigned decimal number, in 32-bit two's-complement
// arithmetic without overflow checks; -1 if any character is not a digit.
// An empty text gives 0. A value that wraps to exactly -1 cannot be told
// from a failure.
int parse_decimal(const char* text);

// A new zero-terminated string holding `first` then `second`, allocated
// zero-filled with calloc (never freed by the program); null
// when memory is short.
char* concat_alloc(const char* first, const char* second);

}  // namespace mx::cli
