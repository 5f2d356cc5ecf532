// Process entry. On Windows the raw command line is split by the program's
// own tokenizer; on POSIX the shell has already split and unquoted the
// arguments, so argv fills the argument slots as it is and file names are
// used exactly as given.
#include <cstddef>

#include "cli/entry.h"
#include "cli/process.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "cli/tokenizer.h"
#endif

int main(int argc, char** argv) {
  mx::cli::open_missing_standard_streams();
  char* slots[mx::cli::argument_slots] = {};
#if defined(_WIN32)
  (void)argc;
  (void)argv;
  // The process's own copy of its command line: splitting it in place is
  // safe, and the slots may point into it for the rest of the run.
  const std::size_t count =
      mx::cli::split_command_line(GetCommandLineA(), slots, mx::cli::argument_slots);
  const bool strip_name_quotes = true;
#else
  const std::size_t count = argc < 0 ? 0 : static_cast<std::size_t>(argc);
  for (std::size_t i = 0; i < count && i < mx::cli::argument_slots; ++i) slots[i] = argv[i];
  const bool strip_name_quotes = false;
#endif
  mx::cli::exit_process(mx::cli::program_main(count, slots, strip_name_quotes));
}
