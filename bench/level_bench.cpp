// moltavex_levels: the sizes of the levels by input size, and whether they
// fall as the level rises (bench/README.md, "Levels").
//
//   moltavex_levels [--sizes LIST] [--memlimit BYTES] [--rows] [--time] FILE...
//   moltavex_levels --each LEVEL FILE...
//
// For each FILE (one kind of data) and each size of LIST (default
// 1K,4K,16K,64K,512K,4M; a size above the file's length is skipped) it
// compresses the file's prefix of that size in memory with
// mvx_compress_auto at every level (options.level, the memory limit
// BYTES, default the library's), and prints a Markdown table of the
// stream sizes and settings. With --rows a second line per input gives the
// sizes of the levels' rows (their settings for an unknown length, as
// mvx_level_setting names them); with --time, the CPU seconds of each
// level's job (best of 3, both threads of its trials, page faults
// included) and their ratio to the row's. The rule
// holds when no level's stream is more than 0.2% larger than a lower
// level's. Exit status 0 when it holds everywhere, 1 when not, 2 on a
// usage or file error.
//
// --each: the many-small-files case. Compresses every FILE on its own at
// LEVEL, then all of them concatenated (as one tar), and prints the total
// sizes and CPU seconds of both (best of 3 runs each).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "moltavex/moltavex.h"

namespace {

using mx::bench::Bytes;

std::uint64_t parse_size(const std::string& text) {
  char* end = nullptr;
  std::uint64_t value = std::strtoull(text.c_str(), &end, 10);
  if (*end == 'K') value <<= 10;
  if (*end == 'M') value <<= 20;
  return value;
}

std::string size_name(std::uint64_t size) {
  if (size % (1 << 20) == 0) return std::to_string(size >> 20) + "M";
  if (size % (1 << 10) == 0) return std::to_string(size >> 10) + "K";
  return std::to_string(size);
}

struct Result {
  std::size_t bytes = 0;
  mvx_setting setting{-1, -1};
  double seconds = 0;
};

Result at_level(const std::uint8_t* data, std::size_t size, int level, std::uint64_t limit) {
  mvx_options options = MVX_OPTIONS_INIT;
  options.level = level;
  options.memory_limit = limit;
  Bytes out(mvx_compress_bound(size));
  Result result;
  const double start = mx::bench::cpu_seconds();
  if (mvx_compress_auto(data, size, out.data(), out.size(), &result.bytes, &result.setting, nullptr,
                        &options) != MVX_OK) {
    result.bytes = 0;
  }
  result.seconds = mx::bench::cpu_seconds() - start;
  return result;
}

Result at_row(const std::uint8_t* data, std::size_t size, int level) {
  Result result;
  mvx_level_setting(level, &result.setting);
  Bytes out(mvx_compress_bound(size));
  const double start = mx::bench::cpu_seconds();
  if (mvx_compress(data, size, result.setting.model, result.setting.order, out.data(), out.size(),
                   &result.bytes) != MVX_OK) {
    result.bytes = 0;
  }
  result.seconds = mx::bench::cpu_seconds() - start;
  return result;
}

// Best of 3: every file on its own, then the files concatenated.
int each(int level, const std::vector<std::string>& files) {
  std::vector<Bytes> inputs(files.size());
  Bytes all;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!mx::bench::read_file(files[i], inputs[i])) {
      std::fprintf(stderr, "moltavex_levels: cannot read %s\n", files[i].c_str());
      return 2;
    }
    all.insert(all.end(), inputs[i].begin(), inputs[i].end());
  }
  double apart = 1e9, together = 1e9, apart_wall = 1e9, together_wall = 1e9;
  std::size_t apart_bytes = 0, together_bytes = 0;
  for (int run = 0; run < 3; ++run) {
    double seconds = 0;
    apart_bytes = 0;
    double start = mx::bench::now_seconds();
    for (const Bytes& input : inputs) {
      const Result r = at_level(input.data(), input.size(), level, 0);
      seconds += r.seconds;
      apart_bytes += r.bytes;
    }
    apart_wall = std::min(apart_wall, mx::bench::now_seconds() - start);
    apart = std::min(apart, seconds);
    start = mx::bench::now_seconds();
    const Result r = at_level(all.data(), all.size(), level, 0);
    together_wall = std::min(together_wall, mx::bench::now_seconds() - start);
    together = std::min(together, r.seconds);
    together_bytes = r.bytes;
  }
  std::printf(
      "level %d, %zu files, %zu bytes: apart %zu bytes in %.3f s CPU, %.3f s wall; "
      "together %zu bytes in %.3f s CPU, %.3f s wall (%.2fx CPU, %.2fx wall)\n",
      level, files.size(), all.size(), apart_bytes, apart, apart_wall, together_bytes, together,
      together_wall, apart / together, apart_wall / together_wall);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "--each") {
    return each(std::atoi(argv[2]), std::vector<std::string>(argv + 3, argv + argc));
  }
  std::vector<std::uint64_t> sizes = {1 << 10, 4 << 10, 16 << 10, 64 << 10, 512 << 10, 4 << 20};
  std::uint64_t limit = 0;
  bool rows = false, timed = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--sizes" && i + 1 < argc) {
      sizes.clear();
      std::string list = argv[++i];
      for (std::size_t at = 0; at <= list.size();) {
        std::size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        sizes.push_back(parse_size(list.substr(at, comma - at)));
        at = comma + 1;
      }
    } else if (arg == "--memlimit" && i + 1 < argc) {
      limit = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--rows") {
      rows = true;
    } else if (arg == "--time") {
      timed = true;
    } else if (!arg.empty() && arg[0] != '-') {
      files.push_back(arg);
    } else {
      std::fprintf(stderr,
                   "usage: moltavex_levels [--sizes LIST] [--memlimit BYTES] [--rows] [--time] "
                   "FILE...\n");
      return 2;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "moltavex_levels: no input\n");
    return 2;
  }
  std::printf("| input | size |");
  for (int level = MVX_LEVEL_MIN; level <= MVX_LEVEL_MAX; ++level) std::printf(" -%d |", level);
  std::printf("\n|---|--:|");
  for (int level = MVX_LEVEL_MIN; level <= MVX_LEVEL_MAX; ++level) std::printf("--:|");
  std::printf("\n");
  int broken = 0;
  for (const std::string& file : files) {
    Bytes data;
    if (!mx::bench::read_file(file, data)) {
      std::fprintf(stderr, "moltavex_levels: cannot read %s\n", file.c_str());
      return 2;
    }
    const std::string name = file.substr(file.find_last_of('/') + 1);
    for (const std::uint64_t size : sizes) {
      if (size > data.size()) continue;
      std::string sizes_line = "| " + name + " | " + size_name(size) + " |";
      std::string settings_line = "| | |", rows_line = "| (rows) | |", time_line = "| (s) | |";
      std::size_t lowest = SIZE_MAX;
      for (int level = MVX_LEVEL_MIN; level <= MVX_LEVEL_MAX; ++level) {
        Result r = at_level(data.data(), size, level, limit);
        for (int run = 1; timed && run < 3; ++run) {
          r.seconds = std::min(r.seconds, at_level(data.data(), size, level, limit).seconds);
        }
        const bool over = r.bytes == 0 || r.bytes * 1000 > lowest * 1002;
        broken += over;
        sizes_line += " " + std::to_string(r.bytes) + (over ? " **over**" : "") + " |";
        settings_line +=
            " " + std::to_string(r.setting.model) + ":" + std::to_string(r.setting.order) + " |";
        Result row = rows || timed ? at_row(data.data(), size, level) : Result{};
        for (int run = 1; timed && run < 3; ++run) {
          row.seconds = std::min(row.seconds, at_row(data.data(), size, level).seconds);
        }
        if (rows) rows_line += " " + std::to_string(row.bytes) + " |";
        char seconds[64];
        std::snprintf(seconds, sizeof seconds, " %.3f (%.1fx) |", r.seconds,
                      r.seconds / row.seconds);
        time_line += seconds;
        if (r.bytes != 0 && r.bytes < lowest) lowest = r.bytes;
      }
      std::printf("%s\n%s\n", sizes_line.c_str(), settings_line.c_str());
      if (rows) std::printf("%s\n", rows_line.c_str());
      if (timed) std::printf("%s\n", time_line.c_str());
      std::fflush(stdout);
    }
  }
  std::printf("\n%s: %d level(s) more than 0.2%% above a lower level\n",
              broken == 0 ? "rule holds" : "rule broken", broken);
  return broken == 0 ? 0 : 1;
}
