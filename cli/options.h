// The conventional command line: options spelled as gzip, xz and zstd spell
// them, read from MOLTAVEX_OPT first and then from the arguments.
//
//   moltavex [OPTION]... [FILE]...
//
// Short options combine (-dc, -9kv); an option's value follows it directly
// or as the next argument (-T2, -T 2, -o out); long ones take theirs after
// '=' or as the next argument (--threads=2, --suffix .x). "--" ends the
// options, "-" names standard input. Later settings override earlier ones:
// a level, --auto, or --model with --order. MOLTAVEX_OPT holds options only,
// split at blanks, so that a program that runs `moltavex -d` (tar -I) can
// still be given settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mx::cli {

enum class Operation { compress, decompress, test, list };

// How compression chooses its model and order.
enum class Choice { level, automatic, exact };

struct Settings {
  Operation operation = Operation::compress;
  Choice choice = Choice::level;
  int level = 0;  // 0 until given: the library's default level
  int model = -1;
  int order = -1;
  bool to_stdout = false;          // -c
  bool remove = false;             // --rm (-k, the default, clears it)
  bool force = false;              // -f
  bool recursive = false;          // -r
  bool check = true;               // --no-check clears it
  bool help = false;               // -h
  bool version = false;            // -V
  int quiet = 0;                   // -q, -qq
  int verbose = 0;                 // -v
  unsigned threads = 1;            // -T; 0: one per core
  std::uint64_t memory_limit = 0;  // -M (environment.h); 0: not given, the default
  std::string output;              // -o, empty when not given
  std::string suffix = ".mx";
  std::vector<std::string> files;  // operands; "-" is standard input
};

// Parses MOLTAVEX_OPT's text (null when unset) and then `args` (the
// arguments after the program name) into `settings`. Returns an empty text
// on success, otherwise the message for the command line's fault.
std::string parse_command_line(const char* environment_options,
                               const std::vector<std::string>& args, Settings& settings);

}  // namespace mx::cli
