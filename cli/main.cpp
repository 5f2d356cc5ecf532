// Process entry and the choice of interface: a first argument that begins
// with '-' starts the conventional command line (conventional.h), anything
// else the classic commands (classic.h). On Windows the raw command line is
// split by the program's own tokenizer; on POSIX the shell has already
// split and unquoted the arguments, so argv fills the argument slots as it
// is and file names are used exactly as given.
#include <cstddef>
#include <vector>

#include "cli/classic.h"
#include "cli/conventional.h"
#include "cli/system.h"
#include "cli/tokenizer.h"

namespace {

int run_program(std::size_t count, char** slots, bool strip_name_quotes) {
  if (count >= 2 && slots[1] != nullptr && slots[1][0] == '-') {
    return mx::cli::run_conventional(count, slots, strip_name_quotes);
  }
  return mx::cli::run_classic(count, slots, strip_name_quotes);
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
