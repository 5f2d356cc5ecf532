// The conventional command line (moltavex [OPTION]... [FILE]...): one table
// of cases, each run in a fresh directory holding "a" ("hello") and "h.mx"
// (its known stream at model 1, order 8), checked for exit status, both
// console streams and every file left; then the cases a table cannot hold:
// levels against the classic commands, -T, --rm's syncs, Ctrl-C, a closed
// pipe, a terminal, and GNU tar's -I.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

namespace fs = std::filesystem;

const std::string kHelloStream = known_stream<std::string>(1, 8, "hello");
// What this interface writes for "hello" at model 1, order 8: the stream
// and its integrity record.
const std::string kHelloChecked = [] {
  const Bytes record = from_hex(kHelloRecordHex);
  return kHelloStream + std::string(record.begin(), record.end());
}();

// A shell command that writes `bytes` to `name`.
std::string write_command(const std::string& bytes, const std::string& name) {
  std::string command = "printf '";
  char octal[8];
  for (const char c : bytes) {
    std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
    command += octal;
  }
  return command + "' >" + name;
}

// kHelloChecked with one byte changed.
std::string hello_checked_but(std::size_t at) {
  std::string bytes = kHelloChecked;
  bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
  return bytes;
}
const std::string kSee = "; see 'moltavex --help'\n";

std::string msg(const std::string& name, const std::string& text) {
  return "moltavex: " + name + ": " + text + "\n";
}

// Every path under `dir`, relative, sorted; directories end in '/'.
std::vector<std::string> tree(const std::string& dir) {
  std::vector<std::string> names;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
       ++it) {
    std::string name = it->path().lexically_relative(dir).string();
    if (it->symlink_status().type() == fs::file_type::directory) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Case {
  const char* what;
  const char* setup;  // shell commands run in the case's directory first
  std::vector<std::string> args;
  int status;
  std::string err;                                                 // standard error, exactly
  std::vector<std::string> tree;                                   // the directory afterwards
  std::vector<std::pair<std::string, std::string>> contents = {};  // files' bytes
  std::string out = "";                                            // standard output, exactly
  std::string in = "";   // standard input: a file of the directory
  std::string env = "";  // shell assignments exported first
};

const std::vector<std::string> kStart = {"a", "h.mx"};

std::vector<Case> cases() {
  const std::string& H = kHelloChecked;
  static const std::string record_file = write_command(kHelloChecked, "r.mx");
  static const std::string damaged_body = write_command(hello_checked_but(3), "r.mx");
  static const std::string damaged_record = write_command(hello_checked_but(43), "r.mx");
  return {
      // Compressing and decompressing named files; inputs are kept.
      {"compress",
       "",
       {"--model=1", "--order=8", "a"},
       0,
       "",
       {"a", "a.mx", "h.mx"},
       {{"a.mx", H}}},
      {"-z",
       "",
       {"-z", "--model=1", "--order=8", "a"},
       0,
       "",
       {"a", "a.mx", "h.mx"},
       {{"a.mx", H}}},
      {"decompress", "", {"-d", "h.mx"}, 0, "", {"a", "h", "h.mx"}, {{"h", "hello"}}},
      {"--decompress", "", {"--decompress", "h.mx"}, 0, "", {"a", "h", "h.mx"}, {{"h", "hello"}}},
      {"--uncompress", "", {"--uncompress", "h.mx"}, 0, "", {"a", "h", "h.mx"}, {{"h", "hello"}}},
      {"a name with a colon is a file",
       "cp a ./:c",
       {"--model=1", "--order=8", ":c"},
       0,
       "",
       {":c", ":c.mx", "a", "h.mx"},
       {{":c.mx", H}}},
      {"-- ends the options",
       "cp a ./-x",
       {"--model=1", "--order=8", "--", "-x"},
       0,
       "",
       {"-x", "-x.mx", "a", "h.mx"},
       {{"-x.mx", H}}},
      // Standard streams, -c and -o.
      {"-dc", "", {"-dc", "h.mx"}, 0, "", kStart, {}, "hello"},
      {"-cd", "", {"-cd", "h.mx"}, 0, "", kStart, {}, "hello"},
      {"-dkc", "", {"-dkc", "h.mx"}, 0, "", kStart, {}, "hello"},
      {"--stdout", "", {"--decompress", "--stdout", "h.mx"}, 0, "", kStart, {}, "hello"},
      {"-c", "", {"-c", "--model=1", "--order=8", "a"}, 0, "", kStart, {}, H},
      {"no operand", "", {"--model=1", "--order=8"}, 0, "", kStart, {}, H, "a"},
      {"- is standard input", "", {"-d", "-"}, 0, "", kStart, {}, "hello", "h.mx"},
      {"-dc concatenates",
       "cp h.mx g.mx",
       {"-dc", "h.mx", "g.mx"},
       0,
       "",
       {"a", "g.mx", "h.mx"},
       {},
       "hellohello"},
      {"-o", "", {"-d", "-o", "x", "h.mx"}, 0, "", {"a", "h.mx", "x"}, {{"x", "hello"}}},
      {"-o from standard input",
       "",
       {"-d", "-ox"},
       0,
       "",
       {"a", "h.mx", "x"},
       {{"x", "hello"}},
       "",
       "h.mx"},
      {"-o with two inputs",
       "cp a b",
       {"-o", "x", "a", "b"},
       1,
       "moltavex: -o takes a single input" + kSee,
       {"a", "b", "h.mx"}},
      {"-c and -o",
       "",
       {"-c", "-o", "x", "a"},
       1,
       "moltavex: -c and -o exclude each other" + kSee,
       kStart},
      {"-c compressing two inputs",
       "cp a b",
       {"-c", "a", "b"},
       1,
       "moltavex: -c takes a single input when compressing" + kSee,
       {"a", "b", "h.mx"}},
      // Suffixes.
      {"compressed input skipped",
       "",
       {"-k", "h.mx"},
       2,
       msg("h.mx", "already has the .mx suffix, skipping"),
       kStart},
      {"-f compresses it again",
       "",
       {"-f", "--model=1", "--order=8", "h.mx"},
       0,
       "",
       {"a", "h.mx", "h.mx.mx"}},
      {"unknown suffix", "", {"-d", "a"}, 2, msg("a", "unknown suffix, skipping"), kStart},
      {"-o takes any suffix",
       "cp h.mx hz",
       {"-d", "-o", "x", "hz"},
       0,
       "",
       {"a", "h.mx", "hz", "x"},
       {{"x", "hello"}}},
      {"-c takes any suffix", "cp h.mx hz", {"-dc", "hz"}, 0, "", {"a", "h.mx", "hz"}, {}, "hello"},
      {"-S",
       "",
       {"-S", ".q", "--model=1", "--order=8", "a"},
       0,
       "",
       {"a", "a.q", "h.mx"},
       {{"a.q", H}}},
      {"--suffix=",
       "cp h.mx z.q",
       {"-d", "--suffix=.q", "z.q"},
       0,
       "",
       {"a", "h.mx", "z", "z.q"},
       {{"z", "hello"}}},
      {"empty suffix", "", {"-S", "", "a"}, 1, "moltavex: invalid suffix ''" + kSee, kStart},
      // Existing outputs.
      {"existing output",
       "echo old >a.mx",
       {"-k", "a"},
       1,
       msg("a.mx", "already exists (-f overwrites it)"),
       {"a", "a.mx", "h.mx"},
       {{"a.mx", "old\n"}}},
      {"-f replaces it",
       "echo old >a.mx",
       {"-f", "--model=1", "--order=8", "a"},
       0,
       "",
       {"a", "a.mx", "h.mx"},
       {{"a.mx", H}}},
      {"existing output of -d",
       "echo old >h",
       {"-d", "h.mx"},
       1,
       msg("h", "already exists (-f overwrites it)"),
       {"a", "h", "h.mx"},
       {{"h", "old\n"}}},
      // Links and other files.
      {"link skipped",
       "ln -s a l",
       {"-k", "l"},
       2,
       msg("l", "is a symbolic link, skipping"),
       {"a", "h.mx", "l"}},
      {"-f follows it",
       "ln -s a l",
       {"-f", "--model=1", "--order=8", "l"},
       0,
       "",
       {"a", "h.mx", "l", "l.mx"},
       {{"l.mx", H}}},
      {"FIFO skipped",
       "mkfifo p",
       {"-k", "p"},
       2,
       msg("p", "is not a regular file, skipping"),
       {"a", "h.mx", "p"}},
      {"directory skipped",
       "mkdir d",
       {"-k", "d"},
       2,
       msg("d", "is a directory, skipping"),
       {"a", "d/", "h.mx"}},
      // -r: what the suffix rule leaves out inside a directory is passed over.
      {"-r",
       "mkdir -p d/e && cp a d/ && cp a d/e/x && cp h.mx d/",
       {"-r", "--model=1", "--order=8", "d"},
       0,
       "",
       {"a", "d/", "d/a", "d/a.mx", "d/e/", "d/e/x", "d/e/x.mx", "d/h.mx", "h.mx"},
       {{"d/e/x.mx", H}}},
      {"-dr",
       "mkdir d && cp a d/ && cp h.mx d/",
       {"-dr", "d"},
       0,
       "",
       {"a", "d/", "d/a", "d/h", "d/h.mx", "h.mx"},
       {{"d/h", "hello"}}},
      {"-r meets a link",
       "mkdir d && ln -s ../a d/l",
       {"-r", "d"},
       2,
       msg("d/l", "is a symbolic link, skipping"),
       {"a", "d/", "d/l", "h.mx"}},
      {"-rf stops at a loop",
       "mkdir -p d/e && cp a d/e/ && ln -s .. d/e/up",
       {"-rf", "--model=1", "--order=8", "d"},
       2,
       msg("d/e/up", "is a directory loop, skipping"),
       {"a", "d/", "d/e/", "d/e/a", "d/e/a.mx", "d/e/up", "h.mx"}},
      // --rm and -k.
      {"--rm", "", {"--rm", "--model=1", "--order=8", "a"}, 0, "", {"a.mx", "h.mx"}, {{"a.mx", H}}},
      {"-k after --rm", "", {"--rm", "-k", "a"}, 0, "", {"a", "a.mx", "h.mx"}},
      {"--rm -d", "", {"-d", "--rm", "h.mx"}, 0, "", {"a", "h"}, {{"h", "hello"}}},
      {"--rm -c keeps the input", "", {"--rm", "-dc", "h.mx"}, 0, "", kStart, {}, "hello"},
      {"--rm after a failure",
       "echo old >a.mx",
       {"--rm", "a"},
       1,
       msg("a.mx", "already exists (-f overwrites it)"),
       {"a", "a.mx", "h.mx"}},
      // Exit statuses: errors, warnings, and both; one failure stops nothing.
      {"missing input", "", {"-k", "nope"}, 1, msg("nope", "No such file or directory"), kStart},
      {"the rest goes on",
       "",
       {"--model=1", "--order=8", "nope", "a"},
       1,
       msg("nope", "No such file or directory"),
       {"a", "a.mx", "h.mx"},
       {{"a.mx", H}}},
      {"warnings only",
       "",
       {"--model=1", "--order=8", "h.mx", "a"},
       2,
       msg("h.mx", "already has the .mx suffix, skipping"),
       {"a", "a.mx", "h.mx"}},
      {"error and warning",
       "",
       {"-k", "nope", "h.mx"},
       1,
       msg("nope", "No such file or directory") +
           msg("h.mx", "already has the .mx suffix, skipping"),
       kStart},
      {"-q", "", {"-q", "h.mx"}, 2, "", kStart},
      {"-q keeps errors", "", {"-q", "nope"}, 1, msg("nope", "No such file or directory"), kStart},
      {"-qq", "", {"-qq", "nope"}, 1, "", kStart},
      // Test, list, verbose.
      {"-t", "", {"-t", "h.mx"}, 0, "", kStart},
      {"-t cut",
       "head -c 1 h.mx >cut.mx",
       {"-t", "cut.mx"},
       1,
       msg("cut.mx", "unexpected end of input"),
       {"a", "cut.mx", "h.mx"}},
      {"-t invalid",
       "printf '\\377' >bad.mx",
       {"-t", "bad.mx"},
       1,
       msg("bad.mx", "not in moltavex format"),
       {"a", "bad.mx", "h.mx"}},
      {"-d from standard input, invalid",
       "printf '\\377' >bad.mx; exec <bad.mx",
       {"-d"},
       1,
       msg("(stdin)", "not in moltavex format"),
       {"a", "bad.mx", "h.mx"}},
      {"-tv",
       "",
       {"-tv", "h.mx"},
       0,
       msg("h.mx", "12 -> 5 bytes, 19.200 bits per byte (model 1, order 8, no checksum)"),
       kStart},
      {"-tv verifies the record",
       record_file.c_str(),
       {"-tv", "r.mx"},
       0,
       msg("r.mx", "44 -> 5 bytes, 70.400 bits per byte (model 1, order 8, checksum verified)"),
       {"a", "h.mx", "r.mx"}},
      {"-t damaged record",
       damaged_record.c_str(),
       {"-t", "r.mx"},
       1,
       msg("r.mx", "compressed data is corrupt"),
       {"a", "h.mx", "r.mx"}},
      {"-d damaged record",
       damaged_record.c_str(),
       {"-d", "r.mx"},
       1,
       msg("r.mx", "compressed data is corrupt"),
       {"a", "h.mx", "r.mx"}},
      {"-d data after the stream",
       "cp h.mx g.mx; printf x >>g.mx",
       {"-dc", "g.mx"},
       2,
       msg("g.mx", "data after the compressed stream ignored"),
       {"a", "g.mx", "h.mx"},
       {},
       "hello"},
      {"-d data after the stream, from standard input",
       "cp h.mx g.mx; printf x >>g.mx; exec <g.mx",
       {"-d"},
       2,
       msg("(stdin)", "data after the compressed stream ignored"),
       {"a", "g.mx", "h.mx"},
       {},
       "hello"},
      // A stream without the record followed by a beginning of the record's
      // magic, or by another magic: padding, as for every reader of the
      // format. After the whole magic, a cut record.
      {"-d a beginning of the magic after the stream",
       "cp h.mx g.mx; printf '\\305\\115\\126' >>g.mx",
       {"-dc", "g.mx"},
       2,
       msg("g.mx", "data after the compressed stream ignored"),
       {"a", "g.mx", "h.mx"},
       {},
       "hello"},
      {"-t another magic after the stream",
       "cp h.mx g.mx; printf '\\305\\115\\126\\131' >>g.mx",
       {"-t", "g.mx"},
       2,
       msg("g.mx", "data after the compressed stream ignored"),
       {"a", "g.mx", "h.mx"}},
      {"-t the whole magic after the stream",
       "cp h.mx g.mx; printf '\\305\\115\\126\\130\\001' >>g.mx",
       {"-t", "g.mx"},
       1,
       msg("g.mx", "unexpected end of input"),
       {"a", "g.mx", "h.mx"}},
      {"--no-check",
       "",
       {"--no-check", "--model=1", "--order=8", "a"},
       0,
       "",
       {"a", "a.mx", "h.mx"},
       {{"a.mx", kHelloStream}}},
      {"-v",
       "",
       {"-v", "--model=1", "--order=8", "a"},
       0,
       msg("a", "5 -> 44 bytes, 70.400 bits per byte (model 1, order 8)"),
       {"a", "a.mx", "h.mx"}},
      {"-l",
       "",
       {"-l", "h.mx"},
       0,
       "",
       kStart,
       {},
       "Model  Order    Compressed      Original  Ratio  Check  Filename\n"
       "    1      8            12             5  2.400  none   h.mx\n"},
      // From the record alone: the damaged body is not decoded.
      {"-l from the record",
       damaged_body.c_str(),
       {"-l", "r.mx"},
       0,
       "",
       {"a", "h.mx", "r.mx"},
       {},
       "Model  Order    Compressed      Original  Ratio  Check  Filename\n"
       "    1      8            44             5  8.800  XXH64  r.mx\n"},
      {"-l totals",
       "cp h.mx g.mx",
       {"-l", "g.mx", "nope", "h.mx"},
       1,
       msg("nope", "No such file or directory"),
       {"a", "g.mx", "h.mx"},
       {},
       "Model  Order    Compressed      Original  Ratio  Check  Filename\n"
       "    1      8            12             5  2.400  none   g.mx\n"
       "    1      8            12             5  2.400  none   h.mx\n"
       "totals                  24            10  2.400         2 files\n"},
      // The command line and MOLTAVEX_OPT.
      {"-T2",
       "cp a b",
       {"-T2", "-v", "--model=1", "--order=8", "a", "b"},
       0,
       msg("a", "5 -> 44 bytes, 70.400 bits per byte (model 1, order 8)") +
           msg("b", "5 -> 44 bytes, 70.400 bits per byte (model 1, order 8)"),
       {"a", "a.mx", "b", "b.mx", "h.mx"},
       {{"b.mx", H}}},
      {"-T without a value",
       "",
       {"-T"},
       1,
       "moltavex: option requires an argument -- 'T'" + kSee,
       kStart},
      {"--threads=x",
       "",
       {"--threads=x", "a"},
       1,
       "moltavex: invalid number of threads 'x'" + kSee,
       kStart},
      {"--model alone",
       "",
       {"--model=1", "a"},
       1,
       "moltavex: --model and --order go together" + kSee,
       kStart},
      {"--model=6",
       "",
       {"--model=6", "--order=8", "a"},
       1,
       "moltavex: invalid model '6'" + kSee,
       kStart},
      {"--order 32",
       "",
       {"--model=1", "--order", "32", "a"},
       1,
       "moltavex: invalid order '32'" + kSee,
       kStart},
      {"--rm=1",
       "",
       {"--rm=1", "a"},
       1,
       "moltavex: option '--rm' doesn't allow an argument" + kSee,
       kStart},
      {"unknown long option",
       "",
       {"--frobnicate"},
       1,
       "moltavex: unrecognized option '--frobnicate'" + kSee,
       kStart},
      {"unknown short option",
       "",
       {"-kx", "a"},
       1,
       "moltavex: invalid option -- 'x'" + kSee,
       kStart},
      {"MOLTAVEX_OPT", "", {"-k", "h.mx"}, 0, "", kStart, {}, "hello", "", "MOLTAVEX_OPT='-d -c'"},
      {"arguments after MOLTAVEX_OPT",
       "",
       {"-z", "--model=1", "--order=8", "a"},
       0,
       "",
       {"a", "a.mx", "h.mx"},
       {{"a.mx", H}},
       "",
       "",
       "MOLTAVEX_OPT=-d"},
      {"MOLTAVEX_OPT without operands",
       "",
       {"-k", "a"},
       1,
       "moltavex: MOLTAVEX_OPT: file operand 'a' not allowed" + kSee,
       kStart,
       {},
       "",
       "",
       "MOLTAVEX_OPT=a"},
      // Under a limit a level lowers its order, and says so once; an exact
      // setting is refused.
      {"a level under a memory limit",
       "",
       {"-9", "a"},
       0,
       "moltavex: level 9 lowered to model 5 at order 15 to fit the memory limit of 1 MiB\n",
       {"a", "a.mx", "h.mx"},
       {},
       "",
       "",
       "MOLTAVEX_MEMLIMIT=1M"},
      {"a setting over the memory limit",
       "",
       {"--model=5", "--order=23", "a"},
       1,
       msg("a", "needs 137 MiB of tables, over the memory limit of 1 MiB"),
       kStart,
       {},
       "",
       "",
       "MOLTAVEX_MEMLIMIT=1M"},
      {"MOLTAVEX_MEMLIMIT unreadable",
       "",
       {"-k", "a"},
       1,
       "moltavex: MOLTAVEX_MEMLIMIT: invalid byte count\n",
       kStart,
       {},
       "",
       "",
       "MOLTAVEX_MEMLIMIT=lots"},
      // -M sets every job's limit, over MOLTAVEX_MEMLIMIT, in xz's sizes.
      {"-M narrows",
       "",
       {"-M", "1M", "--model=5", "--order=23", "a"},
       1,
       msg("a", "needs 137 MiB of tables, over the memory limit of 1 MiB"),
       kStart},
      {"-M widens",
       "",
       {"--memlimit=0.5GiB", "-9", "a"},
       0,
       "",
       {"a", "a.mx", "h.mx"},
       {},
       "",
       "",
       "MOLTAVEX_MEMLIMIT=1M"},
      {"-M as a share of the memory",
       "",
       {"-M", "50%", "-dc", "h.mx"},
       0,
       "",
       kStart,
       {},
       "hello",
       "",
       "MOLTAVEX_MEMLIMIT=1K"},
      {"-M unreadable",
       "",
       {"-M", "lots", "a"},
       1,
       "moltavex: invalid memory limit 'lots'" + kSee,
       kStart},
      // A file the system refuses: named, with the system's reason.
      {"a full disk",
       "",
       {"-f", "-o", "/dev/full", "a"},
       1,
       msg("/dev/full", "No space left on device"),
       kStart},
      {"a directory that refuses files",
       "",
       {"-o", "/sys/a.mx", "a"},
       1,
       msg("/sys/a.mx", "Permission denied"),
       kStart},
      {"a missing directory",
       "",
       {"-o", "no/such/a.mx", "a"},
       1,
       msg("no/such/a.mx", "No such file or directory"),
       kStart},
      {"-lv: the memory decompression needs",
       "",
       {"-lv", "h.mx"},
       0,
       "",
       kStart,
       {},
       "Model  Order    Compressed      Original  Ratio  Check     Memory  Filename\n"
       "    1      8            12             5  2.400  none       2 KiB  h.mx\n"},
      {"-V", "", {"-V"}, 0, "", kStart, {}, "moltavex " MVX_VERSION_STRING "\n"},
  };
}

TEST_F(Cli, ConventionalCommandLine) {
  int n = 0;
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.what);
    const std::string dir = path("case" + std::to_string(n++));
    fs::create_directory(dir);
    write_bytes(dir + "/a", to_bytes("hello"));
    write_bytes(dir + "/h.mx", to_bytes(kHelloStream));
    RunOptions opt;
    opt.shell_setup = "; cd '" + dir + "'";
    if (*c.setup != '\0') opt.shell_setup += "; " + std::string(c.setup);
    if (!c.env.empty()) opt.shell_setup += "; export " + c.env;
    if (!c.in.empty()) opt.stdin_path = dir + "/" + c.in;
    const RunResult r = run(c.args, opt);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(visible(r.out), visible(c.out));
    EXPECT_EQ(tree(dir), c.tree);
    for (const auto& [name, bytes] : c.contents) {
      EXPECT_EQ(visible(read_text(dir + "/" + name)), visible(bytes)) << name;
    }
  }
}

// Padding after a stream without the record, every byte value first (alone,
// and followed by the rest of a magic that differs in its last byte):
// classic `d` restores the data as the format's readers do, `-d` and `-t`
// restore it and warn.
TEST_F(Cli, EveryByteAfterAnOldStreamIsTrailingData) {
  const std::string g = path("g.mx");
  const std::string warning = msg(g, "data after the compressed stream ignored");
  for (int value = 0; value < 256; ++value) {
    for (const bool longer : {false, true}) {
      SCOPED_TRACE("byte " + std::to_string(value) + (longer ? " and 4D 56 59" : ""));
      Bytes padded = to_bytes(kHelloStream);
      padded.push_back(static_cast<std::uint8_t>(value));
      if (longer) padded.insert(padded.end(), {0x4D, 0x56, 0x59});
      write_bytes(g, padded);
      RunResult r = run({"d", g, path("out")});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, decode_ok_err(1));
      EXPECT_EQ(read_text(path("out")), "hello");
      // The conventional command line needs only what differs: the byte
      // values alone, the longer tails at a few.
      if (longer && value % 51 != 0 && value != 0xC5) continue;
      r = run({"-dc", g});
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, warning);
      EXPECT_EQ(r.out, "hello");
      r = run({"-t", g});
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, warning);
    }
  }
}

// A stream of this interface without its record (which it must end with).
Bytes without_record(Bytes stream) {
  constexpr std::size_t record_size = 32;
  EXPECT_GT(stream.size(), record_size);
  if (stream.size() <= record_size) return stream;
  EXPECT_EQ(stream[stream.size() - record_size], 0xC5);
  stream.resize(stream.size() - record_size);
  return stream;
}

// Each level, --fast, --best and no level give, from a pipe, the classic
// commands' stream of their row, and from a file that of the setting they
// chose for it (and its record); --auto gives what the classic a gives;
// --help names each level's row within 80 columns.
TEST_F(Cli, LevelsAreTheirSettings) {
  write_bytes(path("in"), sample_text(20000));
  struct Level {
    std::string option;
    int model, order;
  };
  const std::vector<Level> levels = {{"-1", 1, 12},     {"-2", 1, 16},     {"-3", 1, 18},
                                     {"-4", 1, 20},     {"-5", 1, 22},     {"-6", 5, 20},
                                     {"-7", 5, 21},     {"-8", 5, 22},     {"-9", 5, 23},
                                     {"--fast", 1, 12}, {"--best", 5, 23}, {"-k", 1, 22}};
  const RunResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  std::istringstream lines(help.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  const std::string in_dir = "cd '" + dir_ + "' && ";
  for (const Level& level : levels) {
    SCOPED_TRACE(level.option);
    // From a pipe, whose length is unknown, a level is its row.
    ASSERT_EQ(
        std::system((in_dir + "cat in | " + program_words(true) + " " + level.option + " -c >piped")
                        .c_str()),
        0);
    EXPECT_EQ(run({"c" + std::to_string(level.model), std::to_string(level.order), path("in"),
                   path("classic")})
                  .status,
              0);
    EXPECT_EQ(without_record(read_bytes(path("piped"))), read_bytes(path("classic")));
    // From a file, the setting the level chose for it (-v names it).
    RunOptions to_file;
    to_file.stdout_path = path("modern");
    const RunResult r = run({level.option, "-v", "-c", path("in")}, to_file);
    EXPECT_EQ(r.status, 0);
    int model = -1, order = -1;
    const std::size_t at = r.err.find("(model ");
    ASSERT_NE(at, std::string::npos) << r.err;
    ASSERT_EQ(std::sscanf(r.err.c_str() + at, "(model %d, order %d)", &model, &order), 2);
    EXPECT_EQ(run({"c" + std::to_string(model), std::to_string(order), path("in"), path("classic")})
                  .status,
              0);
    EXPECT_EQ(without_record(read_bytes(path("modern"))), read_bytes(path("classic")));
    // The help's row of the level: "LEVEL MODEL ORDER MEMORY NAME".
    if (level.option.size() == 2 && level.option[1] != 'k') {
      bool found = false;
      std::istringstream rows(help.out);
      for (std::string line; std::getline(rows, line);) {
        std::istringstream fields(line);
        std::string l, m, o;
        fields >> l >> m >> o;
        found = found || (l == level.option.substr(1) && m == std::to_string(level.model) &&
                          o == std::to_string(level.order));
      }
      EXPECT_TRUE(found) << help.out;
    }
  }
  RunOptions to_file;
  to_file.stdout_path = path("modern");
  EXPECT_EQ(run({"--auto", "-c", path("in")}, to_file).status, 0);
  EXPECT_EQ(run({"a", path("in"), path("classic")}).status, 0);
  EXPECT_EQ(without_record(read_bytes(path("modern"))), read_bytes(path("classic")));
}

// Inputs of different kinds and sizes, compressed by -T1 and -T3 (and -T0,
// one per core) in directories of their own: the same streams and the
// same messages, in file order; and -T2 restores them.
TEST_F(Cli, ThreadsChangeNothingButTheTime) {
  std::vector<std::string> names;
  for (int i = 0; i < 6; ++i) names.push_back("f" + std::to_string(i));
  std::vector<Bytes> data;
  for (int i = 0; i < 6; ++i) {
    data.push_back(i % 2 == 0 ? sample_text(40000 + 30000 * i) : random_bytes(9000 * i + 1, i));
  }
  std::string first_err;
  for (const char* threads : {"-T1", "-T3", "-T0"}) {
    SCOPED_TRACE(threads);
    const std::string dir = path(std::string("d") + threads);
    fs::create_directory(dir);
    std::vector<std::string> args = {threads, "-v", "-4"};
    for (int i = 0; i < 6; ++i) {
      write_bytes(dir + "/" + names[i], data[i]);
      args.push_back(names[i]);
    }
    RunOptions opt;
    opt.shell_setup = "; cd '" + dir + "'";
    const RunResult r = run(args, opt);
    EXPECT_EQ(r.status, 0) << r.err;
    if (first_err.empty()) {
      first_err = r.err;
      // One line per file, in file order.
      std::size_t at = 0;
      for (const std::string& name : names) {
        at = r.err.find("moltavex: " + name + ": ", at);
        EXPECT_NE(at, std::string::npos) << name;
      }
    } else {
      EXPECT_EQ(r.err, first_err);
      for (const std::string& name : names) {
        EXPECT_EQ(read_bytes(dir + "/" + name + ".mx"), read_bytes(path("d-T1/" + name + ".mx")));
      }
    }
  }
  const std::string dir = path("d-T3");
  std::vector<std::string> args = {"-d", "-f", "-T2"};
  for (const std::string& name : names) args.push_back(dir + "/" + name + ".mx");
  EXPECT_EQ(run(args).status, 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(read_bytes(dir + "/" + names[i]), data[i]);
}

// --rm removes the input only after the output and its directory were
// synced: the system calls, traced, come in that order.
TEST_F(Cli, RemovalComesAfterTheSyncs) {
#ifdef MOLTAVEX_SANITIZED
  GTEST_SKIP() << "strace and the sanitizers' runtime do not mix";
#endif
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace is not installed or may not trace here";
  }
  write_bytes(path("in"), sample_text(5000));
  RunOptions opt;
  opt.exec_prefix =
      "strace -f -y -qq -e trace=fsync,fdatasync,rename,renameat,renameat2,linkat,unlink,"
      "unlinkat -o '" +
      path("trace") + "'";
  ASSERT_EQ(run({"--rm", "-1", path("in")}, opt).status, 0);
  EXPECT_FALSE(exists_no_follow(path("in")));
  const std::string trace = read_text(path("trace"));
  // The new file's data is synced before the output's name takes it.
  const std::size_t renamed = trace.find(path("in.mx") + "\"");
  const std::size_t file_synced = trace.rfind("fsync(", renamed);
  const std::size_t dir_synced = trace.find("fsync(", renamed);
  const std::size_t dir_path = trace.find("<" + dir_ + ">", dir_synced);
  const std::size_t removed = trace.find("unlink", dir_path);
  EXPECT_NE(renamed, std::string::npos) << trace;
  EXPECT_NE(file_synced, std::string::npos) << trace;
  EXPECT_NE(dir_path, std::string::npos) << trace;
  EXPECT_NE(removed, std::string::npos) << trace;
  EXPECT_NE(trace.find(path("in") + "\"", removed), std::string::npos) << trace;
}

// --auto opens its output only once the choice is made: the input is read
// to its end (it fits the read-ahead) before any output file is created.
TEST_F(Cli, TheAutomaticChoiceOpensItsOutputAfterTheChoice) {
#if defined(MOLTAVEX_SANITIZED)
  GTEST_SKIP() << "strace and the sanitizers' runtime do not mix";
#endif
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace is not installed or may not trace here";
  }
  write_bytes(path("in"), sample_text(20000));
  RunOptions opt;
  opt.exec_prefix = "strace -f -y -qq -e trace=openat,read -o '" + path("trace") + "'";
  ASSERT_EQ(run({"--auto", path("in")}, opt).status, 0);
  const std::string trace = read_text(path("trace"));
  const std::size_t input_ended = trace.find(path("in") + ">, \"\", ");
  std::size_t created = trace.find("O_CREAT");
  created = std::min(created, trace.find("O_TMPFILE"));
  ASSERT_NE(input_ended, std::string::npos) << trace;
  ASSERT_NE(created, std::string::npos) << trace;
  EXPECT_LT(input_ended, created) << trace;
}

// -T2 starts a job only when its tables fit in the memory limit beside the
// running job's: under a limit of 40 MiB, two jobs of 32 MiB run one after
// the other, the second opening its input only after the first has
// renamed its output into place.
TEST_F(Cli, JobsWaitForMemory) {
#ifdef MOLTAVEX_SANITIZED
  GTEST_SKIP() << "strace and the sanitizers' runtime do not mix";
#endif
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace is not installed or may not trace here";
  }
  write_bytes(path("f0"), sample_text(1 << 20));
  write_bytes(path("f1"), sample_text(1 << 20));
  RunOptions opt;
  opt.shell_setup = "; export MOLTAVEX_MEMLIMIT=40M";
  opt.exec_prefix =
      "strace -f -qq -e trace=openat,rename,renameat,renameat2,linkat -o '" + path("trace") + "'";
  ASSERT_EQ(run({"-T2", "-5", path("f0"), path("f1")}, opt).status, 0);
  const std::string trace = read_text(path("trace"));
  const std::size_t renamed = trace.find(path("f0.mx") + "\"");
  const std::size_t opened = trace.find("\"" + path("f1") + "\"");
  ASSERT_NE(renamed, std::string::npos) << trace;
  ASSERT_NE(opened, std::string::npos) << trace;
  EXPECT_LT(renamed, opened) << trace;
}

// Ctrl-C during -T2 stops every job: status 130, no message, no output and
// no temporary file left.
TEST_F(Cli, InterruptStopsEveryJob) {
  // An exact setting: its jobs open their outputs at once (a level's would
  // first try settings, slowly under emulation).
  std::vector<std::string> args = {"-T2", "--model=5", "--order=23"};
  for (int i = 0; i < 4; ++i) {
    write_bytes(path("f" + std::to_string(i)), random_bytes(3 << 20, 7 + i));
    args.push_back(path("f" + std::to_string(i)));
  }
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    const int err = ::open((root_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(err, 2);
    std::vector<std::string> argv = {MOLTAVEX_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    exec_program(argv);
  }
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 300 && outputs_in_progress(pid) < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(outputs_in_progress(pid), 2) << "two jobs at once";
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT) << status;
  EXPECT_EQ(read_text(root_ + "/err"), "");
  EXPECT_EQ(listing(), (std::vector<std::string>{"f0", "f1", "f2", "f3"}));
}

// A reader that closes the pipe early ends the program quietly, as
// SIGPIPE would.
TEST_F(Cli, ClosedPipeEndsQuietly) {
  write_bytes(path("in"), sample_text(3 << 20));
  ASSERT_EQ(run({"-1", path("in")}).status, 0);
  // The program's output goes to `head`, which leaves after one byte.
  write_bytes(
      path("script"),
      to_bytes(program_words(true) + " -dc '" + path("in.mx") + "' 2>'" + path("err") +
               "' | head -c 1 >/dev/null\necho ${PIPESTATUS[0]} >'" + path("status") + "'\n"));
  ASSERT_EQ(std::system(("bash '" + path("script") + "'").c_str()), 0);
  EXPECT_EQ(read_text(path("err")), "");
  EXPECT_EQ(read_text(path("status")), std::to_string(128 + SIGPIPE) + "\n");
}

// Compressed data meets no terminal without -f.
TEST_F(Cli, TerminalsAreRefused) {
  write_bytes(path("in"), to_bytes("hello"));
  int status = 0;
  std::string seen = run_on_terminal({"moltavex", "-c", path("in")}, &status, {1});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(seen, as_seen_on_terminal(
                      msg("(stdout)", "compressed data not written to a terminal (-f forces it)")));
  seen = run_on_terminal({"moltavex", "-d"}, &status, {0});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(seen, as_seen_on_terminal(
                      msg("(stdin)", "compressed data not read from a terminal (-f forces it)")));
  seen = run_on_terminal({"moltavex", "-cf", "--model=1", "--order=8", path("in")}, &status, {1});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(seen, as_seen_on_terminal(kHelloChecked));
}

// GNU tar drives the program with -I both ways (it adds -d to extract),
// and the archive is an ordinary stream.
TEST_F(Cli, GnuTarRoundTrip) {
  if (std::system("tar --version 2>/dev/null | grep -q 'GNU tar'") != 0) {
    GTEST_SKIP() << "GNU tar is not installed";
  }
  fs::create_directories(path("tree/sub"));
  write_bytes(path("tree/text"), sample_text(200000));
  write_bytes(path("tree/sub/noise"), random_bytes(50000, 3));
  write_bytes(path("tree/sub/empty"), {});
  const std::string in_dir = "cd '" + dir_ + "' && ";
  // With a level, and bare: run bare in a pipe the program compresses, as
  // gzip does (tar adds -d to extract).
  for (const std::string& options : {std::string(" -6"), std::string()}) {
    SCOPED_TRACE(options);
    const std::string program = "'" + program_words(false) + options + "'";
    fs::remove_all(path("x"));
    ASSERT_EQ(std::system((in_dir + "tar -I " + program + " -cf a.tar.mx tree").c_str()), 0);
    ASSERT_EQ(std::system((in_dir + "mkdir x && tar -I " + program + " -xf a.tar.mx -C x").c_str()),
              0);
    for (const char* name : {"text", "sub/noise", "sub/empty"}) {
      EXPECT_EQ(read_bytes(path(std::string("x/tree/") + name)),
                read_bytes(path(std::string("tree/") + name)))
          << name;
    }
  }
  // The other way: tar's own output compressed by a pipe (with a level,
  // and bare), extracted by -I; and the archive names its files when
  // decompressed by -dc.
  const std::string program = "'" + program_words(false) + "'";
  ASSERT_EQ(
      std::system((in_dir + "tar -cf - tree | " + program_words(true) + " -3 >b.tar.mx").c_str()),
      0);
  ASSERT_EQ(
      std::system((in_dir + "tar -cf - tree | " + program_words(true) + " >c.tar.mx").c_str()), 0);
  for (const char* archive : {"b.tar.mx", "c.tar.mx"}) {
    fs::remove_all(path("y"));
    ASSERT_EQ(std::system(
                  (in_dir + "mkdir y && tar -I " + program + " -xf " + archive + " -C y").c_str()),
              0)
        << archive;
    EXPECT_EQ(read_bytes(path("y/tree/text")), read_bytes(path("tree/text"))) << archive;
  }
  ASSERT_EQ(
      std::system((in_dir + program_words(true) + " -dc a.tar.mx | tar -tf - >names").c_str()), 0);
  EXPECT_NE(read_text(path("names")).find("tree/sub/noise"), std::string::npos);
}

// The manual's tar examples, as man renders them, run as they are copied:
// an archive made and extracted by the program found on the PATH.
TEST_F(Cli, TheManualsTarExamplesRunAsPrinted) {
#if defined(MOLTAVEX_EMULATOR)
  GTEST_SKIP() << "tar cannot start a program that runs under emulation";
#endif
  if (std::system("man -l /dev/null >/dev/null 2>&1; command -v man >/dev/null") != 0 ||
      std::system("tar --version 2>/dev/null | grep -q 'GNU tar'") != 0) {
    GTEST_SKIP() << "man or GNU tar is not installed";
  }
  ASSERT_EQ(std::system(("LC_ALL=C.UTF-8 MANWIDTH=100 man -l '" MOLTAVEX_MANUAL "' >'" +
                         path("manual.txt") + "' 2>/dev/null")
                            .c_str()),
            0);
  std::istringstream manual(read_text(path("manual.txt")));
  std::vector<std::string> examples;
  for (std::string line; std::getline(manual, line);) {
    const std::size_t at = line.find_first_not_of(' ');
    if (at != std::string::npos && line.compare(at, 7, "tar -I ") == 0) {
      examples.push_back(line.substr(at));
    }
  }
  ASSERT_EQ(examples.size(), 2u) << read_text(path("manual.txt"));
  fs::create_directories(path("dir/sub"));
  write_bytes(path("dir/sub/text"), sample_text(30000));
  const std::string program_dir = fs::path(MOLTAVEX_EXE).parent_path().string();
  const std::string shell = "cd '" + dir_ + "' && PATH='" + program_dir + "':\"$PATH\" ";
  ASSERT_EQ(std::system((shell + examples[0]).c_str()), 0) << examples[0];  // -cf
  fs::rename(path("dir"), path("original"));
  ASSERT_EQ(std::system((shell + examples[1]).c_str()), 0) << examples[1];  // -xf
  EXPECT_EQ(read_bytes(path("dir/sub/text")), read_bytes(path("original/sub/text")));
}

}  // namespace
}  // namespace mx::test
