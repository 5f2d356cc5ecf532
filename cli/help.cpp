// The conventional interface's --help text (see help.h).
#include "cli/help.h"

#include <algorithm>
#include <cstdio>

#include "cli/messages.h"
#include "moltavex/moltavex.hpp"

namespace mx::cli {

std::string help_text() {
  std::string text =
      "Usage: moltavex [OPTION]... [FILE]...\n"
      "Compress FILEs to FILE.mx, or decompress FILE.mx to FILE; the inputs are kept.\n"
      "With no FILE, or when FILE is -, read standard input, write standard output.\n"
      "\n"
      "  -z, --compress      compress (the default)\n"
      "  -d, --decompress    decompress (also --uncompress)\n"
      "  -t, --test          test the integrity of compressed files\n"
      "  -l, --list          list the model, order and sizes of compressed files\n"
      "\n"
      "  -c, --stdout        write to standard output\n"
      "  -o FILE             write the output to FILE (a single input)\n"
      "  -k, --keep          keep the inputs (the default)\n"
      "      --rm            remove each input once its output is synced to disk\n"
      "  -f, --force         overwrite outputs; take links and special files;\n"
      "                      write or read compressed data at a terminal\n"
      "  -S, --suffix=.SUF   use the suffix .SUF instead of .mx\n"
      "  -r, --recursive     handle the files in directories\n"
      "  -T, --threads=N     handle N files at once (0: one per core; default 1)\n"
      "  -M, --memlimit=SIZE cap each job's table memory (as MOLTAVEX_MEMLIMIT)\n"
      "\n"
      "  -1 .. -9            compression level (default " +
      std::to_string(moltavex::level_default) +
      "); --fast is -1, --best is -9\n"
      "      --auto          choose the model and order for each file's data\n"
      "      --model=M --order=N\n"
      "                      an exact setting: model 0-5, order 0-31\n"
      "      --no-check      write no checksum record\n"
      "\n"
      "  -q, --quiet         no warnings (-qq: no errors either)\n"
      "  -v, --verbose       a summary line per file; progress on a terminal\n"
      "  -h, --help          print this help\n"
      "  -V, --version       print the version\n"
      "\n"
      "  A level's row is its setting for a pipe; for a file it chooses among the\n"
      "  rows up to its own, capped by the file's size; memory: its ceiling, the\n"
      "  same when decompressing.\n"
      "  level  model  order  memory      (row)\n";
  std::uint64_t ceiling = 0;
  for (int level = moltavex::level_min; level <= moltavex::level_max; ++level) {
    moltavex::Setting setting;
    (void)moltavex::level_setting(level, &setting);
    ceiling = std::max(ceiling, moltavex::model_memory(setting.model, setting.order));
    char row[96];
    std::snprintf(row, sizeof row, "  %5d  %5d  %5d  %-10s  %s\n", level, setting.model,
                  setting.order, memory_text(ceiling).c_str(), moltavex::model_name(setting.model));
    text += row;
  }
  text +=
      "\n"
      "MOLTAVEX_OPT holds options read before the command line; MOLTAVEX_MEMLIMIT\n"
      "caps each job's table memory: a size (64M, 1.5GiB, 50%), or max for none.\n"
      "Exit status: 0 success, 1 an error, 2 warnings only.\n";
  return text;
}

}  // namespace mx::cli
