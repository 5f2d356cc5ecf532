// The classic console text (see console.h).
#include "cli/console.h"

#include <cstring>
#include <string>

#include "cli/system.h"
#include "moltavex/moltavex.hpp"

namespace mx::cli {

void print_line(const char* text) {
  std::string line(text);
  line += "\r\n";
  // Nothing sensible can be done when standard error itself fails.
  (void)sys::write(sys::Stream::error, line);
}

void print_usage() {
  static const char digits[] = "0123456789";
  std::string text;
  auto line = [&text](const std::string& s) { text += s + "\r\n"; };
  line("");
  line("usage: Moltavex c [order] [infile] <outfile>");
  line("       Moltavex c[model] [order] [infile] <outfile>");
  line("       Moltavex d [infile] <outfile>");
  line("");
  line("The model number can be one of the following:");
  for (int i = 0; i < moltavex::model_count; ++i) {
    std::string row = "      ";
    row += digits[i];
    row += " - ";
    row += moltavex::model_name(i);
    if (i == moltavex::default_model) row += " (default)";
    line(row);
  }
  line("");
  line("note:  To use stdin/stdout, enter : as the filename");
  (void)sys::write(sys::Stream::output, text);
}

}  // namespace mx::cli
