// The program's command line: malformed command lines print the usage text,
// and the command word and the order select the model and the header byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

namespace fs = std::filesystem;

// Which interface a command line reaches. The classic commands are a first
// word that begins with c or d, and exactly a or t; a first word that names
// an existing file (and is no classic command), or a single word that does,
// starts the conventional interface; bare, the program compresses a
// standard input that is no terminal and prints the usage at a terminal.
TEST_F(Cli, DispatchRule) {
  const Bytes data = to_bytes("the words of a file");
  for (const char* name : {"notes", "apple", "take", "config", "data"})
    write_bytes(path(name), data);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> made;  // files the run made, beside the inputs
    int status;
  };
  const Case cases[] = {
      {{"notes"}, {"notes.mx"}, 0},
      {{"config"}, {"config.mx"}, 0},  // a single word, whatever its letter
      {{"apple", "notes"}, {"apple.mx", "notes.mx"}, 0},
      {{"take", "notes"}, {"notes.mx", "take.mx"}, 0},
      {{"t", "notes"}, {}, 1},                  // classic t: not a stream
      {{"a", "notes"}, {"notes.mx"}, 0},        // classic a
      {{"data", "notes"}, {}, 1},               // classic d: not a stream
      {{"apple", "missing"}, {"apple.mx"}, 1},  // conventional: one input missing
  };
  RunOptions here;
  here.shell_setup = "; cd '" + dir_ + "'";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args[1] : std::string()));
    const RunResult r = run(c.args, here);
    EXPECT_EQ(r.status, c.status) << r.err;
    std::vector<std::string> expected = {"apple", "config", "data", "notes", "take"};
    expected.insert(expected.end(), c.made.begin(), c.made.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listing(), expected);
    for (const std::string& made : c.made) {
      RunOptions to_file;
      to_file.stdout_path = path("restored");
      ASSERT_EQ(run({"-dc", path(made)}, to_file).status, 0) << made;
      EXPECT_EQ(read_bytes(path("restored")), data) << made;
      fs::remove(path(made));
      fs::remove(path("restored"));
    }
  }
  // Bare: standard input (not a terminal) compressed to standard output...
  RunOptions pipe;
  pipe.stdin_path = path("notes");
  pipe.stdout_path = path("piped.mx");
  ASSERT_EQ(run({}, pipe).status, 0);
  RunOptions back;
  back.stdout_path = path("restored");
  ASSERT_EQ(run({"-dc", path("piped.mx")}, back).status, 0);
  EXPECT_EQ(read_bytes(path("restored")), data);
  // ... and the usage at a terminal.
  int status = 0;
  const std::string seen = run_on_terminal({"moltavex"}, &status, {0, 1});
  EXPECT_EQ(status, 2);
  EXPECT_NE(seen.find("usage: Moltavex c [order] [infile] <outfile>"), std::string::npos) << seen;
}

// Every malformed command line prints the usage text on standard output,
// only the banner and the closing empty line on standard error, exits with
// status 2, and touches no file.
TEST_F(Cli, MalformedCommandLinesPrintUsage) {
  const std::string in = path("in");
  const std::string out = path("out");
  write_bytes(in, to_bytes("some input"));

  const std::vector<std::vector<std::string>> cases = {
      {"c"},               // two arguments in total
      {"d"},               // two arguments in total
      {"tiny"},            // two arguments in total, and no such file
      {"apple", in, out},  // no classic command, and no such file
      {"test", in},        // a and t are whole words
      {"archive", in, out},
      {"c", "5"},            // no input file
      {"c1", "5"},           // no input file
      {"c", in},             // order missing: the file name is not digits
      {"x", in, out},        // unknown command letter
      {"e", "5", in, out},   // unknown command letter
      {"", in, out},         // empty command
      {"", "5", in, out},    // empty command
      {"c", "5a", in, out},  // order is not all digits
      {"c", "x", in, out},
      {"c", "-1", in, out},
      {"c", "+5", in, out},
      {"c1", " 5", in, out},
      {"c", "4294967295", in, out},  // wraps to -1
      {"c5", "4294967295", in, out},
      {"c", "5", in, out, in},        // more arguments than a command takes,
      {"c1", "16", in, out, "more"},  // as a glob that matched several files
      {"d", in, out, in},             // gives them
      {"t", in, out},
      {"a", in, out, "more"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += " [" + a + "]";
    SCOPED_TRACE("arguments:" + shown);
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(visible(r.out), visible(kUsage));
    EXPECT_EQ(visible(r.err), visible(usage_err()));
    EXPECT_EQ(listing(), std::vector<std::string>{"in"});
    EXPECT_EQ(read_bytes(in), to_bytes("some input"));
  }
}

// The text after "c" picks the model and the order keeps only its low five
// bits; both land in the header byte (model * 32 + order) and the model name
// is echoed in the progress line.
TEST_F(Cli, ModelAndOrderArgumentsSelectHeaderByte) {
  struct Case {
    std::string cmd;
    std::string order;
    int model;
    int header;
  };
  const std::vector<Case> cases = {
      {"c", "5", 0, 0x05},
      {"c0", "5", 0, 0x05},
      {"c1", "5", 1, 0x25},
      {"c2", "0", 2, 0x40},
      {"c3", "17", 3, 0x71},
      {"c4", "31", 4, 0x9F},
      {"c5", "3", 5, 0xA3},
      {"c05", "3", 5, 0xA3},  // digits with a leading zero still name model 5
      {"c6", "3", 1, 0x23},   // out of range falls back to the default model
      {"c9", "3", 1, 0x23},
      {"cx", "3", 1, 0x23},  // not digits: default model
      {"c-1", "3", 1, 0x23},
      {"c+2", "3", 1, 0x23},
      {"compress", "3", 1, 0x23},
      {"c99999999999", "3", 1, 0x23},
      {"c1", "37", 1, 0x25},  // 37 & 31 == 5
      {"c", "32", 0, 0x00},   // 32 & 31 == 0
      {"c2", "005", 2, 0x45},
      {"c1", "4294967296", 1, 0x20},  // wraps to 0 as a 32-bit value
  };
  const std::string in = path("empty");
  write_bytes(in, {});
  for (const auto& c : cases) {
    SCOPED_TRACE("command [" + c.cmd + "] order [" + c.order + "]");
    const std::string out = path("out.mx");
    const RunResult r = run({c.cmd, c.order, in, out});
    ASSERT_EQ(r.status, 0) << visible(r.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(visible(r.err), visible(encode_ok_err(c.model)));
    const Bytes packed = read_bytes(out);
    ASSERT_FALSE(packed.empty());
    EXPECT_EQ(packed[0], c.header);
    // The header alone tells the decoder which model to rebuild.
    const RunResult d = run({"d", out, path("out.dec")});
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(visible(d.err), visible(decode_ok_err(c.model)));
    EXPECT_TRUE(read_bytes(path("out.dec")).empty());
    fs::remove(out);
    fs::remove(path("out.dec"));
  }
}

// Only the first letter of the command matters for decompression too.
TEST_F(Cli, LongCommandWordsUseFirstLetter) {
  const Bytes data = sample_text(3000);
  write_bytes(path("in"), data);
  RunResult r = run({"compress", "6", path("in"), path("in.pack")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(read_bytes(path("in.pack")).at(0), 0x26);
  r = run({"decompress", path("in.pack"), path("in.back")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(visible(r.err), visible(decode_ok_err(1)));
  EXPECT_EQ(read_bytes(path("in.back")), data);
}

}  // namespace
}  // namespace mx::test
