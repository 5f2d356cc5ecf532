// The level tables that the documents print, against the library's
// (mvx_level_setting, mvx_model_memory, mvx_model_name): the README's, the
// manual page's and `moltavex --help`'s. Each must hold one row per level,
// in order, with the level's model, order and table memory (for an input
// of unknown size), and the model's name where it gives one; a row edited
// by hand, or a level added to the library alone, fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli_harness.h"
#include "moltavex/moltavex.h"

namespace mx::test {
namespace {

struct Row {
  int level = 0;
  int model = -1;
  int order = -1;
  std::string memory;  // as printed: "32 KiB", "17 MiB + 128 KiB", "17.1 MiB"
  std::string name;    // the model's name, where the row gives it
};

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> split(const std::string& s, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(s);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(trim(part));
  return parts;
}

std::vector<std::string> lines_of(const std::string& text) { return split(text, '\n'); }

// "17 MiB + 128 KiB" or "17.1 MiB": true when it names `bytes`, to the
// precision printed (a figure with decimals is rounded to its last one).
bool memory_matches(const std::string& text, std::uint64_t bytes) {
  double total = 0;
  double tolerance = 0;
  for (const std::string& term : split(text, '+')) {
    std::istringstream in(term);
    std::string number, unit, rest;
    in >> number >> unit >> rest;
    double scale = 0;
    if (unit == "KiB") scale = 1024.0;
    if (unit == "MiB") scale = 1024.0 * 1024;
    if (unit == "GiB") scale = 1024.0 * 1024 * 1024;
    if (scale == 0 || number.empty() || !rest.empty()) return false;
    total += std::stod(number) * scale;
    const auto point = number.find('.');
    if (point != std::string::npos) {
      tolerance += 0.5 * std::pow(10.0, -static_cast<double>(number.size() - point - 1)) * scale;
    }
  }
  return std::fabs(total - static_cast<double>(bytes)) <= tolerance;
}

// README.md: the Markdown table whose header starts "| level | row: model |":
// "| `-1` (`--fast`) | 1 Simple Bitwise Model | 12 | 32 KiB |".
std::vector<Row> readme_rows(const std::string& text) {
  std::vector<Row> rows;
  bool in_table = false;
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("| level | row: model |", 0) == 0) {
      in_table = true;
      continue;
    }
    if (!in_table) continue;
    if (line.rfind("|---", 0) == 0) continue;
    if (line.rfind("|", 0) != 0) break;
    const std::vector<std::string> cells = split(line, '|');  // cells[0] is before the first '|'
    if (cells.size() != 5) break;
    Row row;
    const auto dash = cells[1].find("`-");
    row.level = dash == std::string::npos ? 0 : std::atoi(cells[1].c_str() + dash + 2);
    std::istringstream model(cells[2]);
    model >> row.model;
    std::getline(model, row.name);
    row.name = trim(row.name);
    row.order = std::atoi(cells[3].c_str());
    row.memory = cells[4];
    rows.push_back(row);
  }
  return rows;
}

// docs/moltavex.1.in: the tbl table after the header "level model order
// memory", its cells separated by tabs.
std::vector<Row> manual_rows(const std::string& text) {
  std::vector<Row> rows;
  bool in_table = false;
  for (const std::string& line : lines_of(text)) {
    if (line == "level\tmodel\torder\tmemory") {
      in_table = true;
      continue;
    }
    if (!in_table) continue;
    if (line == ".TE") break;
    const std::vector<std::string> cells = split(line, '\t');
    if (cells.size() != 4) break;
    rows.push_back({std::atoi(cells[0].c_str()), std::atoi(cells[1].c_str()),
                    std::atoi(cells[2].c_str()), cells[3], ""});
  }
  return rows;
}

// `moltavex --help`: the rows after the header "level  model  order
// memory": "      1      1     12  32 KiB      Simple Bitwise Model".
std::vector<Row> help_rows(const std::string& text) {
  std::vector<Row> rows;
  bool in_table = false;
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("level  model  order  memory", 0) == 0) {
      in_table = true;
      continue;
    }
    if (!in_table) continue;
    std::istringstream in(line);
    Row row;
    std::string number, unit;
    if (!(in >> row.level >> row.model >> row.order >> number >> unit)) break;
    row.memory = number + " " + unit;
    std::getline(in, row.name);
    row.name = trim(row.name);
    rows.push_back(row);
  }
  return rows;
}

class LevelTables : public Cli {};

TEST_F(LevelTables, EveryDocumentPrintsTheLibrarysTable) {
  const RunResult help = run({"--help"});
  ASSERT_EQ(help.status, 0) << help.err;
  const std::string source = MOLTAVEX_SOURCE_DIR;
  struct Document {
    const char* name;
    std::vector<Row> rows;
    bool names_every_model;  // every row gives the model's name
  };
  const Document documents[] = {
      {"README.md", readme_rows(read_text(source + "/README.md")), false},
      {"docs/moltavex.1.in", manual_rows(read_text(source + "/docs/moltavex.1.in")), false},
      {"moltavex --help", help_rows(help.out), true},
  };
  for (const Document& document : documents) {
    SCOPED_TRACE(document.name);
    ASSERT_EQ(document.rows.size(), static_cast<std::size_t>(MVX_LEVEL_MAX - MVX_LEVEL_MIN + 1));
    for (std::size_t i = 0; i < document.rows.size(); ++i) {
      const Row& row = document.rows[i];
      const int level = MVX_LEVEL_MIN + static_cast<int>(i);
      SCOPED_TRACE("level " + std::to_string(level));
      mvx_setting setting{};
      ASSERT_EQ(mvx_level_setting(level, &setting), MVX_OK);
      EXPECT_EQ(row.level, level);
      EXPECT_EQ(row.model, setting.model);
      EXPECT_EQ(row.order, setting.order);
      // The memory is the level's ceiling: the largest row up to it.
      std::uint64_t memory = 0;
      for (int lower = MVX_LEVEL_MIN; lower <= level; ++lower) {
        mvx_setting row_setting{};
        ASSERT_EQ(mvx_level_setting(lower, &row_setting), MVX_OK);
        memory = std::max(memory, mvx_model_memory(row_setting.model, row_setting.order));
      }
      EXPECT_TRUE(memory_matches(row.memory, memory))
          << row.memory << " for " << memory << " bytes";
      if (document.names_every_model || !row.name.empty()) {
        EXPECT_EQ(row.name, mvx_model_name(setting.model));
      }
    }
  }
}

}  // namespace
}  // namespace mx::test
