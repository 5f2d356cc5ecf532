// Parsing of the conventional command line (see options.h). Messages name
// the option as it was written, in the words getopt gives (xz, gzip).
#include "cli/options.h"

#include <cstdint>
#include <cstring>

#include "cli/environment.h"
#include "moltavex/moltavex.hpp"

namespace mx::cli {

namespace {

// A whole decimal number within [low, high]; false for anything else.
bool parse_number(const std::string& text, long low, long high, long& value) {
  if (text.empty() || text.size() > 9) return false;
  long n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < low || n > high) return false;
  value = n;
  return true;
}

class Parser {
 public:
  explicit Parser(Settings& settings) : s_(settings) {}

  // Parses `args`; operands are refused when `operands` is false.
  std::string parse(const std::vector<std::string>& args, bool operands) {
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (options_ended || arg == "-" || arg.size() < 2 || arg[0] != '-') {
        if (!operands) return "file operand '" + arg + "' not allowed";
        s_.files.push_back(arg);
        continue;
      }
      std::string error;
      if (arg == "--") {
        options_ended = true;
      } else if (arg[1] == '-') {
        error = parse_long(args, i);
      } else {
        error = parse_short(args, i);
      }
      if (!error.empty()) return error;
    }
    return {};
  }

  // Checks what no single option can: --model without --order, say.
  std::string finish() const {
    if (s_.choice == Choice::exact && (s_.model < 0 || s_.order < 0)) {
      return "--model and --order go together";
    }
    return {};
  }

 private:
  // The value of an option that takes one: the rest of the argument
  // (`inline_value`, when present) or the next argument.
  bool take_value(const std::vector<std::string>& args, std::size_t& i, const char* inline_value,
                  std::string& value) {
    if (inline_value != nullptr) {
      value = inline_value;
      return true;
    }
    if (i + 1 >= args.size()) return false;
    value = args[++i];
    return true;
  }

  std::string set_threads(const std::string& value) {
    long n = 0;
    if (!parse_number(value, 0, 4096, n)) return "invalid number of threads '" + value + "'";
    s_.threads = static_cast<unsigned>(n);
    return {};
  }

  std::string set_suffix(const std::string& value) {
    if (value.empty() || value.find('/') != std::string::npos ||
        value.find('\\') != std::string::npos) {
      return "invalid suffix '" + value + "'";
    }
    s_.suffix = value;
    return {};
  }

  std::string set_memory_limit(const std::string& value) {
    if (!parse_memory_limit(value.c_str(), s_.memory_limit)) {
      return "invalid memory limit '" + value + "'";
    }
    return {};
  }

  void set_level(int level) {
    s_.choice = Choice::level;
    s_.level = level;
  }

  std::string parse_short(const std::vector<std::string>& args, std::size_t& i) {
    const std::string& arg = args[i];
    for (std::size_t k = 1; k < arg.size(); ++k) {
      const char c = arg[k];
      if (c >= '1' && c <= '9') {
        set_level(c - '0');
        continue;
      }
      switch (c) {
        case 'z': s_.operation = Operation::compress; break;
        case 'd': s_.operation = Operation::decompress; break;
        case 't': s_.operation = Operation::test; break;
        case 'l': s_.operation = Operation::list; break;
        case 'c': s_.to_stdout = true; break;
        case 'k': s_.remove = false; break;
        case 'f': s_.force = true; break;
        case 'r': s_.recursive = true; break;
        case 'q': ++s_.quiet; break;
        case 'v': ++s_.verbose; break;
        case 'h': s_.help = true; break;
        case 'V': s_.version = true; break;
        case 'o':
        case 'S':
        case 'M':
        case 'T': {
          std::string value;
          const char* rest = k + 1 < arg.size() ? arg.c_str() + k + 1 : nullptr;
          if (!take_value(args, i, rest, value)) {
            return std::string("option requires an argument -- '") + c + "'";
          }
          if (c == 'o') {
            if (value.empty()) return "empty output name";
            s_.output = value;
            return {};
          }
          if (c == 'M') return set_memory_limit(value);
          return c == 'S' ? set_suffix(value) : set_threads(value);
        }
        default: return std::string("invalid option -- '") + c + "'";
      }
    }
    return {};
  }

  std::string parse_long(const std::vector<std::string>& args, std::size_t& i) {
    const std::string& arg = args[i];
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const char* inline_value = equals == std::string::npos ? nullptr : arg.c_str() + equals + 1;
    struct Flag {
      const char* name;
      void (*apply)(Settings&);
    };
    static const Flag flags[] = {
        {"--compress", [](Settings& s) { s.operation = Operation::compress; }},
        {"--decompress", [](Settings& s) { s.operation = Operation::decompress; }},
        {"--uncompress", [](Settings& s) { s.operation = Operation::decompress; }},
        {"--test", [](Settings& s) { s.operation = Operation::test; }},
        {"--list", [](Settings& s) { s.operation = Operation::list; }},
        {"--stdout", [](Settings& s) { s.to_stdout = true; }},
        {"--to-stdout", [](Settings& s) { s.to_stdout = true; }},
        {"--keep", [](Settings& s) { s.remove = false; }},
        {"--rm", [](Settings& s) { s.remove = true; }},
        {"--force", [](Settings& s) { s.force = true; }},
        {"--recursive", [](Settings& s) { s.recursive = true; }},
        {"--quiet", [](Settings& s) { ++s.quiet; }},
        {"--verbose", [](Settings& s) { ++s.verbose; }},
        {"--help", [](Settings& s) { s.help = true; }},
        {"--version", [](Settings& s) { s.version = true; }},
        {"--no-check", [](Settings& s) { s.check = false; }},
        {"--auto", [](Settings& s) { s.choice = Choice::automatic; }},
        {"--fast",
         [](Settings& s) {
           s.choice = Choice::level;
           s.level = moltavex::level_min;
         }},
        {"--best",
         [](Settings& s) {
           s.choice = Choice::level;
           s.level = moltavex::level_max;
         }},
    };
    for (const Flag& flag : flags) {
      if (name != flag.name) continue;
      if (inline_value != nullptr) return "option '" + name + "' doesn't allow an argument";
      flag.apply(s_);
      return {};
    }
    static const char* const valued[] = {"--suffix", "--threads", "--model",
                                         "--order",  "--output",  "--memlimit"};
    for (const char* option : valued) {
      if (name != option) continue;
      std::string value;
      if (!take_value(args, i, inline_value, value)) {
        return "option '" + name + "' requires an argument";
      }
      if (name == "--suffix") return set_suffix(value);
      if (name == "--threads") return set_threads(value);
      if (name == "--memlimit") return set_memory_limit(value);
      if (name == "--output") {
        if (value.empty()) return "empty output name";
        s_.output = value;
        return {};
      }
      long n = 0;
      const bool model = name == "--model";
      if (!parse_number(value, 0, model ? moltavex::model_count - 1 : moltavex::max_order, n)) {
        return std::string("invalid ") + (model ? "model" : "order") + " '" + value + "'";
      }
      s_.choice = Choice::exact;
      (model ? s_.model : s_.order) = static_cast<int>(n);
      return {};
    }
    return "unrecognized option '" + arg + "'";
  }

  Settings& s_;
};

// MOLTAVEX_OPT split at blanks (spaces, tabs, line ends).
std::vector<std::string> split_blanks(const char* text) {
  std::vector<std::string> words;
  std::string word;
  for (const char* p = text;; ++p) {
    if (*p == '\0' || std::strchr(" \t\r\n", *p) != nullptr) {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*p == '\0') break;
    } else {
      word += *p;
    }
  }
  return words;
}

}  // namespace

std::string parse_command_line(const char* environment_options,
                               const std::vector<std::string>& args, Settings& settings) {
  Parser parser(settings);
  if (environment_options != nullptr) {
    const std::string error = parser.parse(split_blanks(environment_options), false);
    if (!error.empty()) return "MOLTAVEX_OPT: " + error;
  }
  std::string error = parser.parse(args, true);
  if (error.empty()) error = parser.finish();
  return error;
}

}  // namespace mx::cli
