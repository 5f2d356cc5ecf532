// Process entry and the choice of interface. The classic commands are a
// first word that begins with c or d, as the format's original interface
// reads it, and exactly a or t; the conventional command line (as gzip's)
// is a first word that begins with '-', a single word that names an
// existing file or directory, or a first word that is no classic command
// and names one; anything else is classic (its usage text). Run bare, the
// program compresses standard input to standard output when that is no
// terminal, as gzip does, and prints the classic usage at a terminal.
//
// On Windows the raw command line is split by the program's own tokenizer;
// on POSIX the shell has already split and unquoted the arguments, so argv
// fills the argument slots as it is and file names are used exactly as
// given.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/classic.h"
#include "cli/conventional.h"
#include "cli/system.h"
#include "cli/tokenizer.h"

namespace {

// Whether `word` names an existing file or directory (quotes of a raw
// Windows command line aside).
bool names_existing(const char* word, bool strip_name_quotes) {
  std::string name = word;
  if (strip_name_quotes) name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
  std::error_code ec;
  return !name.empty() && std::filesystem::exists(std::filesystem::u8path(name), ec);
}

bool is_classic(std::size_t count, char** slots, bool strip_name_quotes) {
  if (count < 2) return mx::cli::sys::is_terminal(mx::cli::sys::Stream::input);
  const char* first = slots[1];
  if (first[0] == '-') return false;
  if (count == 2 && names_existing(first, strip_name_quotes)) return false;
  if (first[0] == 'c' || first[0] == 'd') return true;
  if (std::strcmp(first, "a") == 0 || std::strcmp(first, "t") == 0) return true;
  return !names_existing(first, strip_name_quotes);
}

int run_program(std::size_t count, char** slots, bool strip_name_quotes) {
  if (is_classic(count, slots, strip_name_quotes)) {
    return mx::cli::run_classic(count, slots, strip_name_quotes);
  }
  return mx::cli::run_conventional(count, slots, strip_name_quotes);
}

}  // namespace

int main(int argc, char** argv) {
  mx::cli::sys::open_missing_standard_streams();
#if defined(_WIN32)
  (void)argc;
  (void)argv;
  char* slots[mx::cli::argument_slots] = {};
  // The process's own copy of its command line: splitting it in place is
  // safe, and the slots may point into it for the rest of the run.
  const std::size_t count =
      mx::cli::split_command_line(mx::cli::sys::command_line(), slots, mx::cli::argument_slots);
  mx::cli::sys::exit_process(run_program(count, slots, true));
#else
  // Every argument has a slot (the conventional command line takes any
  // number of files), and at least argument_slots are there, null past the
  // last argument.
  // The slots are freed before the process ends: exit_process does not
  // return, so nothing of this frame would be destroyed after it.
  int status = 0;
  {
    const std::size_t count = argc < 0 ? 0 : static_cast<std::size_t>(argc);
    std::vector<char*> slots(count + 1 > mx::cli::argument_slots ? count + 1
                                                                 : mx::cli::argument_slots);
    for (std::size_t i = 0; i < count; ++i) slots[i] = argv[i];
    status = run_program(count, slots.data(), false);
  }
  mx::cli::sys::exit_process(status);
#endif
}
