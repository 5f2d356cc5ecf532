// End-to-end tests of the moltavex program: each test starts the built
// executable as a child process and checks the exact bytes it writes to the
// console, its exit status and the files it leaves behind.
//
// Console conventions checked throughout: every line ends in "\r\n",
// standard error opens with the banner line and closes with an empty line,
// the usage text goes to standard output, and exit statuses are 0 (success),
// 1 (failure) and 2 (usage).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "corpus.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

// Every program these tests start inherits a cap of 1 GiB per written file.
// A few coded bytes can stand for an enormous run of well-predicted bits,
// so a decoder that has drifted from its encoder (a fault under test) may
// write without end; the cap makes it die of SIGXFSZ, and the test fail,
// instead of filling the disk. No test writes anything near that size.
const bool file_size_capped = [] {
  constexpr rlim_t cap = rlim_t{1} << 30;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= cap) return true;
  limit.rlim_cur = cap;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}();

const std::string kBanner = "Moltavex   V1.9\r\n";

const std::string kUsage =
    "\r\n"
    "usage: Moltavex c [order] [infile] <outfile>\r\n"
    "       Moltavex c[model] [order] [infile] <outfile>\r\n"
    "       Moltavex d [infile] <outfile>\r\n"
    "\r\n"
    "The model number can be one of the following:\r\n"
    "      0 - Bytewise Hashed Model\r\n"
    "      1 - Simple Bitwise Model (default)\r\n"
    "      2 - Adaptive Bitwise Model\r\n"
    "      3 - Indexed Bitwise Model Array\r\n"
    "      4 - Hashed Bitwise Model\r\n"
    "      5 - Combined Model\r\n"
    "\r\n"
    "note:  To use stdin/stdout, enter : as the filename\r\n";

const char* const kModelNames[6] = {
    "Bytewise Hashed Model",      "Simple Bitwise Model",
    "Adaptive Bitwise Model",     "Indexed Bitwise Model Array",
    "Hashed Bitwise Model",       "Combined Model",
};

// Standard error of a run that coded to the end without trouble.
std::string encode_ok_err(int model) {
  return kBanner + "\r\nEncoding using " + kModelNames[model] + "...\r\n\r\n";
}
std::string decode_ok_err(int model) {
  return kBanner + "\r\nDecoding using " + kModelNames[model] + "...\r\n\r\n";
}

// Standard error of a run that failed.  `progress` is the "Encoding using"/
// "Decoding using" block when coding had started, empty otherwise.
std::string failure_err(const std::string& progress, const std::string& msg) {
  return kBanner + progress + msg + "\r\n\r\n";
}
std::string encoding_progress(int model) {
  return std::string("\r\nEncoding using ") + kModelNames[model] + "...\r\n";
}
std::string decoding_progress(int model) {
  return std::string("\r\nDecoding using ") + kModelNames[model] + "...\r\n";
}

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()),
            static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes from_hex(const std::string& hex) {
  Bytes out;
  std::istringstream in(hex);
  std::string tok;
  while (in >> tok) out.push_back(static_cast<std::uint8_t>(std::stoul(tok, nullptr, 16)));
  return out;
}

std::string to_hex(const Bytes& data) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i) out += ' ';
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

// Makes console bytes readable in failure messages (CR/LF are the point).
std::string visible(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

bool exists_no_follow(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

struct RunResult {
  int status = -1;  // exit status, or -signal when the child was killed
  std::string out;  // captured standard output (empty if redirected to a file)
  std::string err;  // captured standard error
};

struct RunOptions {
  std::string stdin_path = "/dev/null";
  std::string stdout_path;  // empty: capture into RunResult::out
  long vm_limit_kb = 0;     // non-zero: run under a shell with `ulimit -v`
};

// Runs the program with `args` (argv[0] is the executable path and is added
// here), wiring the standard streams to files so that the bytes come back
// exactly as written.  The capture files live in `capture_dir`.
RunResult run_program(const std::vector<std::string>& args, const RunOptions& opt,
                      const std::string& capture_dir) {
  RunResult result;
  const std::string out_path =
      opt.stdout_path.empty() ? capture_dir + "/stdout.capture" : opt.stdout_path;
  const std::string err_path = capture_dir + "/stderr.capture";

  std::vector<std::string> argv_s;
  std::string exe;
  if (opt.vm_limit_kb > 0) {
    // The shell applies the limit and then replaces itself with the program,
    // so the exit status and streams are the program's own.
    exe = "/bin/sh";
    argv_s = {"/bin/sh", "-c",
              "ulimit -v " + std::to_string(opt.vm_limit_kb) + " && exec \"$0\" \"$@\"",
              MOLTAVEX_EXE};
  } else {
    exe = MOLTAVEX_EXE;
    argv_s = {MOLTAVEX_EXE};
  }
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, opt.stdin_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "posix_spawn failed: " << std::strerror(rc);
    return result;
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "waitpid failed: " << std::strerror(errno);
      return result;
    }
  }
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  else if (WIFSIGNALED(wstatus)) result.status = -WTERMSIG(wstatus);

  if (opt.stdout_path.empty()) result.out = read_text(out_path);
  result.err = read_text(err_path);
  return result;
}

// Deterministic pseudo-random bytes for incompressible test data.
Bytes pseudo_random(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  std::uint32_t x = seed;
  for (auto& b : out) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

// Text-like data with repetition, so every model has something to learn.
Bytes sample_text(std::size_t n) {
  static const char* const words[] = {"the ", "quick ", "brown ", "fox ", "jumps ",
                                      "over ", "lazy ", "dog", ".\n", "and ",
                                      "then ", "runs ", "away ", "again, "};
  Bytes out;
  std::uint32_t x = 12345;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = words[(x >> 16) % (sizeof(words) / sizeof(words[0]))];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(n);
  return out;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/moltavex_cli_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr) << std::strerror(errno);
    root_ = tmpl;
    dir_ = root_ + "/w";
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0) << std::strerror(errno);
  }

  void TearDown() override {
    if (!root_.empty()) {
      std::error_code ec;
      fs::remove_all(root_, ec);
    }
  }

  // Path of `name` inside the per-test working directory.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  RunResult run(const std::vector<std::string>& args, const RunOptions& opt = {}) {
    return run_program(args, opt, root_);
  }

  // Sorted names in the working directory (console captures live outside it).
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
  std::string dir_;
};

// ---------------------------------------------------------------------------
// Command-line parsing
// ---------------------------------------------------------------------------

// Every malformed command line prints the usage text on standard output,
// only the banner and the closing empty line on standard error, exits with
// status 2, and touches no file.
TEST_F(Cli, MalformedCommandLinesPrintUsage) {
  const std::string in = path("in");
  const std::string out = path("out");
  write_bytes(in, to_bytes("some input"));

  const std::vector<std::vector<std::string>> cases = {
      {},                                // program name only
      {"c"},                             // two arguments in total
      {"d"},                             // two arguments in total
      {in},                              // two arguments in total
      {"c", "5"},                        // no input file
      {"c1", "5"},                       // no input file
      {"c", in},                         // order missing: the file name is not digits
      {"x", in, out},                    // unknown command letter
      {"e", "5", in, out},               // unknown command letter
      {"", in, out},                     // empty command
      {"", "5", in, out},                // empty command
      {"c", "5a", in, out},              // order is not all digits
      {"c", "x", in, out},
      {"c", "-1", in, out},
      {"c", "+5", in, out},
      {"c1", " 5", in, out},
      {"c", "4294967295", in, out},      // wraps to -1
      {"c5", "4294967295", in, out},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += " [" + a + "]";
    SCOPED_TRACE("arguments:" + shown);
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(visible(r.out), visible(kUsage));
    EXPECT_EQ(visible(r.err), visible(kBanner + "\r\n"));
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
      {"c05", "3", 5, 0xA3},        // digits with a leading zero still name model 5
      {"c6", "3", 1, 0x23},         // out of range falls back to the default model
      {"c9", "3", 1, 0x23},
      {"cx", "3", 1, 0x23},         // not digits: default model
      {"c-1", "3", 1, 0x23},
      {"c+2", "3", 1, 0x23},
      {"compress", "3", 1, 0x23},
      {"c99999999999", "3", 1, 0x23},
      {"c1", "37", 1, 0x25},        // 37 & 31 == 5
      {"c", "32", 0, 0x00},         // 32 & 31 == 0
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

// ---------------------------------------------------------------------------
// Exact compressed streams
// ---------------------------------------------------------------------------

struct StreamCase {
  int model;
  int order;
  std::string input;
  std::string hex;
};

const std::vector<StreamCase>& stream_cases() {
  static const std::vector<StreamCase> cases = {
      {0, 0, "", "00 32 D5 5B E5 BF FF FF"},
      {1, 0, "", "20 32 D5 5B E5 BF FF FF"},
      {2, 0, "", "40 0F 10 01 93 80 FF FF"},
      {3, 0, "", "60 1F 6F AA 33 4A FF"},
      {4, 0, "", "80 32 D5 5B E5 BF FF FF"},
      {5, 0, "", "A0 14 ED 09 81 00 FF FF"},
      {0, 8, "hello", "08 97 92 8A 91 34 76 70 42 3B 3F FF FF"},
      {1, 8, "hello", "28 8F BC 62 69 C7 43 19 22 EE FF FF"},
      {2, 8, "hello", "48 97 9A 87 CA 14 F9 CD A1 12 40 FF"},
      {3, 8, "hello", "68 8F BC 62 69 BF C9 84 3A 09 41 FF"},
      {4, 8, "hello", "88 8F BC 62 69 D9 DB 2B C8 17 81 FF"},
      {5, 8, "hello", "A8 8E 76 E9 80 CF 26 17 9A AA FB FF FF"},
  };
  return cases;
}

// Known streams come out byte for byte, through named files (overwriting a
// longer existing output) and through standard input/output; and they
// decode back to the original, through both routes as well.
TEST_F(Cli, ProducesAndDecodesKnownStreams) {
  for (const auto& c : stream_cases()) {
    SCOPED_TRACE("model " + std::to_string(c.model) + " order " +
                 std::to_string(c.order) + " input \"" + c.input + "\"");
    const std::string cmd = c.model == 0 ? "c" : "c" + std::to_string(c.model);
    const std::string order = std::to_string(c.order);
    const Bytes expected = from_hex(c.hex);
    const std::string in = path("in");
    const std::string packed = path("packed");
    write_bytes(in, to_bytes(c.input));
    // A stale, longer output must be replaced, not partly overwritten.
    write_bytes(packed, Bytes(100, 0xAA));

    RunResult r = run({cmd, order, in, packed});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(visible(r.err), visible(encode_ok_err(c.model)));
    EXPECT_EQ(to_hex(read_bytes(packed)), to_hex(expected)) << "named files";

    RunOptions piped;
    piped.stdin_path = in;
    r = run({cmd, order, ":", ":"}, piped);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(visible(r.err), visible(encode_ok_err(c.model)));
    EXPECT_EQ(to_hex(to_bytes(r.out)), to_hex(expected)) << "standard streams";

    write_bytes(packed, expected);
    const std::string back = path("back");
    write_bytes(back, Bytes(100, 0x55));
    r = run({"d", packed, back});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(visible(r.err), visible(decode_ok_err(c.model)));
    EXPECT_EQ(read_bytes(back), to_bytes(c.input)) << "named files";

    piped.stdin_path = packed;
    r = run({"d", ":", ":"}, piped);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(visible(r.err), visible(decode_ok_err(c.model)));
    EXPECT_EQ(r.out, c.input) << "standard streams";
  }
}

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

// Compresses `in_path` with the given model/order and decompresses it again,
// alternately through named files and through standard streams, checking the
// header byte and that the original bytes come back.
void round_trip(const std::string& in_path, int model, int order, bool piped,
                const std::string& compressed_path, const std::string& restored_path,
                const std::string& capture_dir, Bytes* compressed_out) {
  const std::string cmd = "c" + std::to_string(model);
  const std::string ord = std::to_string(order);
  RunResult r;
  if (piped) {
    RunOptions o;
    o.stdin_path = in_path;
    o.stdout_path = compressed_path;
    r = run_program({cmd, ord, ":", ":"}, o, capture_dir);
  } else {
    r = run_program({cmd, ord, in_path, compressed_path}, {}, capture_dir);
  }
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(encode_ok_err(model)));
  const Bytes packed = read_bytes(compressed_path);
  ASSERT_FALSE(packed.empty());
  EXPECT_EQ(packed[0], model * 32 + order);

  if (piped) {
    RunOptions o;
    o.stdin_path = compressed_path;
    o.stdout_path = restored_path;
    r = run_program({"d", ":", ":"}, o, capture_dir);
  } else {
    r = run_program({"d", compressed_path, restored_path}, {}, capture_dir);
  }
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(decode_ok_err(model)));
  EXPECT_TRUE(read_bytes(restored_path) == read_bytes(in_path))
      << "restored bytes differ from the input";
  if (compressed_out) *compressed_out = packed;
}

// Every corpus file through every model, at assorted orders, half of the
// runs through standard streams.
TEST_F(Cli, CorpusRoundTripsThroughEveryModel) {
  SKIP_OR_FAIL_WITHOUT_CORPUS();
  const std::string corpus = mx::test::corpus_dir();
  const std::vector<std::string> files = {
      "alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt", "html",
      "urls.10K",    "geo.protodata", "kppkn.gtb", "paper-100k.pdf", "fireworks.jpeg"};
  const int orders[] = {1, 4, 8, 12, 16, 22};
  for (std::size_t f = 0; f < files.size(); ++f) {
    const std::string src = corpus + "/" + files[f];
    ASSERT_TRUE(fs::is_regular_file(src)) << "missing corpus file " << src;
    const auto size = fs::file_size(src);
    for (int model = 0; model < 6; ++model) {
      const int order = orders[(f + model) % 6];
      const bool piped = (f + model) % 2 == 0;
      SCOPED_TRACE(files[f] + " model " + std::to_string(model) + " order " +
                   std::to_string(order) + (piped ? " via standard streams" : " via files"));
      Bytes packed;
      round_trip(src, model, order, piped, path("packed"), path("restored"), root_,
                 &packed);
      // Plain English text must actually shrink under any of the models.
      if (files[f].size() > 4 && files[f].substr(files[f].size() - 4) == ".txt") {
        EXPECT_LT(packed.size(), size);
      }
    }
  }
}

// Edge-shaped data that does not depend on the corpus: long runs of one
// byte, every byte value, incompressible noise, a single byte and text.
TEST_F(Cli, SyntheticDataRoundTripsThroughEveryModel) {
  Bytes all_values;
  for (int rep = 0; rep < 64; ++rep)
    for (int v = 0; v < 256; ++v) all_values.push_back(static_cast<std::uint8_t>(v));
  Bytes runs;
  for (int len = 1; len < 600; len += 37) {
    runs.insert(runs.end(), static_cast<std::size_t>(len), static_cast<std::uint8_t>(len));
    runs.insert(runs.end(), static_cast<std::size_t>(len * 3), 0xFF);
    runs.push_back(0);
  }
  struct Data {
    std::string name;
    Bytes bytes;
  };
  const std::vector<Data> inputs = {
      {"zeros", Bytes(200000, 0)},
      {"all-values", all_values},
      {"runs", runs},
      {"noise", pseudo_random(60000, 7)},
      {"one-byte", Bytes{0x80}},
      {"text", sample_text(50000)},
  };
  const int orders[] = {0, 2, 6, 11, 20, 24};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    write_bytes(path(inputs[i].name), inputs[i].bytes);
    for (int model = 0; model < 6; ++model) {
      const int order = orders[(i + model) % 6];
      const bool piped = (i + model) % 2 == 1;
      SCOPED_TRACE(inputs[i].name + " model " + std::to_string(model) + " order " +
                   std::to_string(order));
      round_trip(path(inputs[i].name), model, order, piped, path("packed"),
                 path("restored"), root_, nullptr);
    }
  }
}

// ---------------------------------------------------------------------------
// File names
// ---------------------------------------------------------------------------

// Without an output name, compression appends ".mx" and decompression
// appends ".dec" to the input name; nothing else is created.
TEST_F(Cli, MissingOutputNameIsDerivedFromInput) {
  const Bytes data = sample_text(5000);
  write_bytes(path("in"), data);
  RunResult r = run({"c", "5", path("in")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(encode_ok_err(0)));
  EXPECT_EQ(listing(), (std::vector<std::string>{"in", "in.mx"}));
  EXPECT_EQ(read_bytes(path("in.mx")).at(0), 0x05);

  r = run({"d", path("in.mx")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(decode_ok_err(0)));
  EXPECT_EQ(listing(), (std::vector<std::string>{"in", "in.mx", "in.mx.dec"}));
  EXPECT_EQ(read_bytes(path("in.mx.dec")), data);
  EXPECT_EQ(read_bytes(path("in")), data);
}

// File names are used exactly as given: a double quote is an ordinary
// character, and any name beginning with ':' means the standard stream.
TEST_F(Cli, FileNamesAreTakenLiterally) {
  const Bytes data = to_bytes("quoted \"name\" contents\n");
  write_bytes(path("a\"b"), data);
  RunResult r = run({"c3", "4", path("a\"b")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(listing(), (std::vector<std::string>{"a\"b", "a\"b.mx"}));
  r = run({"d", path("a\"b.mx"), path("x\"y\"")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(read_bytes(path("x\"y\"")), data);

  // ":anything" reads standard input / writes standard output.
  RunOptions o;
  o.stdin_path = path("a\"b");
  o.stdout_path = path("via-stdout");
  r = run({"c4", "7", ":input", ":output"}, o);
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(encode_ok_err(4)));
  EXPECT_EQ(read_bytes(path("via-stdout")).at(0), 0x87);
  r = run({"d", path("via-stdout"), path("restored")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(read_bytes(path("restored")), data);
  EXPECT_FALSE(exists_no_follow(path(":input")));
  EXPECT_FALSE(exists_no_follow(path(":output")));
}

// ---------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------

// Each failure prints one message (after the progress block if coding had
// begun), exits with status 1, removes any output file it had created and
// never alters the input.
TEST_F(Cli, FailuresReportAndCleanUp) {
  const Bytes text = sample_text(20000);
  write_bytes(path("in"), text);
  // A valid compressed file for each model, used for decoder-side failures.
  std::vector<Bytes> packed(6);
  for (int m = 0; m < 6; ++m) {
    const std::string p = path("in.m" + std::to_string(m));
    const RunResult r = run({"c" + std::to_string(m), "6", path("in"), p});
    ASSERT_EQ(r.status, 0) << visible(r.err);
    packed[m] = read_bytes(p);
    ASSERT_GT(packed[m].size(), 8u);
  }
  ASSERT_EQ(mkdir(path("subdir").c_str(), 0755), 0);
  // Links a failing run may legitimately remove are put back before each
  // case.  Write failures go to a link to /dev/full, so that removing the
  // failed output can never take the device node itself with it.
  auto restore_links = [&] {
    if (!exists_no_follow(path("hardlink"))) link(path("in").c_str(), path("hardlink").c_str());
    if (!exists_no_follow(path("symlink"))) symlink(path("in").c_str(), path("symlink").c_str());
    if (!exists_no_follow(path("m2link"))) link(path("in.m2").c_str(), path("m2link").c_str());
    if (!exists_no_follow(path("full"))) symlink("/dev/full", path("full").c_str());
  };

  auto truncated = [&](int m, std::size_t drop) {
    Bytes b = packed[m];
    b.resize(b.size() - drop);
    return b;
  };
  const std::string open_in = "Could not open input file.";
  const std::string create_out = "Could not create output file.";
  const std::string read_in = "Could not read input file.";
  const std::string write_out = "Could not write output file.";
  const std::string oom = "Out of memory.";
  const std::string not_valid = "Not a valid compressed file.";
  const std::string early_end = "Unexpected end of compressed data.";

  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string message;
    std::vector<std::string> progress = {""};  // accepted progress blocks
    std::string input_file;                    // if set: holds `input` before the run
    Bytes input;
    std::string stdout_path;                   // if set: standard output goes here
    long vm_limit_kb = 0;
    std::vector<std::string> must_not_exist;

    Case& after(std::vector<std::string> p) { progress = std::move(p); return *this; }
    Case& with_input(std::string file, Bytes data) {
      input_file = std::move(file);
      input = std::move(data);
      return *this;
    }
    Case& stdout_to(std::string p) { stdout_path = std::move(p); return *this; }
    Case& memory_limit(long kb) { vm_limit_kb = kb; return *this; }
    Case& leaves_no(std::string p) { must_not_exist.push_back(std::move(p)); return *this; }
  };
  auto fails = [](std::string name, std::vector<std::string> args, std::string message) {
    Case c;
    c.name = std::move(name);
    c.args = std::move(args);
    c.message = std::move(message);
    return c;
  };
  const std::string none;
  const std::string out = path("out");
  std::vector<Case> cases = {
      fails("compress missing input", {"c", "5", path("nope"), out}, open_in).leaves_no(out),
      fails("decompress missing input", {"d", path("nope"), out}, open_in).leaves_no(out),
      fails("compress missing input, derived output", {"c", "5", path("nope")}, open_in)
          .leaves_no(path("nope.mx")),
      fails("compress into missing directory", {"c", "5", path("in"), path("nodir/out")},
            create_out)
          .leaves_no(path("nodir")),
      fails("decompress into missing directory", {"d", path("in.m1"), path("nodir/out")},
            create_out)
          .leaves_no(path("nodir")),
      fails("compress onto a directory", {"c", "5", path("in"), path("subdir")}, create_out),
      fails("compress onto itself", {"c", "5", path("in"), path("in")}, create_out),
      fails("compress onto itself, other spelling", {"c", "5", path("in"), dir_ + "/./in"},
            create_out),
      fails("compress onto a hard link", {"c1", "5", path("in"), path("hardlink")},
            create_out),
      fails("compress onto a symbolic link", {"c2", "5", path("in"), path("symlink")},
            create_out),
      fails("compress through a symbolic link onto the file",
            {"c2", "5", path("symlink"), path("in")}, create_out),
      fails("decompress onto itself", {"d", path("in.m2"), path("in.m2")}, create_out),
      fails("decompress onto a hard link", {"d", path("in.m2"), path("m2link")}, create_out),
      // Whether the progress block precedes a read error depends on whether
      // the model was already known, so both shapes are accepted here.
      fails("compress a directory", {"c", "5", path("subdir"), out}, read_in)
          .after({none, encoding_progress(0)})
          .leaves_no(out),
      fails("decompress a directory", {"d", path("subdir"), out}, read_in)
          .after({none, decoding_progress(0)})
          .leaves_no(out),
      fails("compress to a full device", {"c3", "6", path("in"), path("full")}, write_out)
          .after({encoding_progress(3)}),
      fails("compress to a full standard output", {"c", "6", path("in"), ":"}, write_out)
          .after({encoding_progress(0)})
          .stdout_to("/dev/full"),
      fails("compress one byte to a full standard output", {"c5", "2", path("one"), ":"},
            write_out)
          .after({encoding_progress(5)})
          .with_input(path("one"), to_bytes("x"))
          .stdout_to("/dev/full"),
      fails("decompress to a full device", {"d", path("in.m4"), path("full")}, write_out)
          .after({decoding_progress(4)}),
      fails("decompress to a full standard output", {"d", path("in.m1"), ":"}, write_out)
          .after({decoding_progress(1)})
          .stdout_to("/dev/full"),
      fails("compress with model tables beyond the memory limit",
            {"c5", "30", path("in"), out}, oom)
          .after({encoding_progress(5)})
          .memory_limit(1000000)
          .leaves_no(out),
      fails("decompress with model tables beyond the memory limit",
            {"d", path("huge"), out}, oom)
          .after({decoding_progress(5)})
          .with_input(path("huge"), Bytes{0xBE})
          .memory_limit(1000000)
          .leaves_no(out),
      fails("decompress empty file", {"d", path("bad"), out}, not_valid)
          .with_input(path("bad"), {})
          .leaves_no(out),
      fails("decompress empty standard input", {"d", ":", out}, not_valid).leaves_no(out),
      fails("decompress header 0xC0", {"d", path("bad"), out}, not_valid)
          .with_input(path("bad"), Bytes{0xC0, 0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF})
          .leaves_no(out),
      fails("decompress header 0xDF", {"d", path("bad"), out}, not_valid)
          .with_input(path("bad"), Bytes{0xDF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF})
          .leaves_no(out),
      fails("decompress header 0xE5", {"d", path("bad"), out}, not_valid)
          .with_input(path("bad"), Bytes{0xE5, 0x97, 0x92, 0x8A, 0xFF})
          .leaves_no(out),
      fails("decompress header 0xFF", {"d", path("bad"), out}, not_valid)
          .with_input(path("bad"), Bytes{0xFF})
          .leaves_no(out),
      fails("decompress header plus two bytes", {"d", path("short"), out}, early_end)
          .after({decoding_progress(1)})
          .with_input(path("short"), Bytes(packed[1].begin(), packed[1].begin() + 3))
          .leaves_no(out),
      // A cut-short stream also fails through standard streams; standard
      // output is simply left as it is.
      fails("decompress cut-short standard input", {"d", ":", ":"}, early_end)
          .after({decoding_progress(3)})
          .with_input(path("short"), truncated(3, 5))
          .stdout_to(path("partial-stdout")),
  };
  for (int m = 0; m < 6; ++m) {
    const std::string model = "model " + std::to_string(m);
    cases.push_back(fails("decompress " + model + " data missing its tail",
                          {"d", path("short"), out}, early_end)
                        .after({decoding_progress(m)})
                        .with_input(path("short"), truncated(m, 4))
                        .leaves_no(out));
    cases.push_back(fails("decompress " + model + " data cut in half",
                          {"d", path("short"), out}, early_end)
                        .after({decoding_progress(m)})
                        .with_input(path("short"), truncated(m, packed[m].size() / 2))
                        .leaves_no(out));
  }

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
#if defined(MOLTAVEX_SANITIZED)
    // AddressSanitizer reserves terabytes of shadow address space at start,
    // so the program cannot run under an address-space limit at all.
    if (c.vm_limit_kb > 0) continue;
#endif
    restore_links();
    if (!c.input_file.empty()) write_bytes(c.input_file, c.input);
    RunOptions o;
    if (!c.stdout_path.empty()) o.stdout_path = c.stdout_path;
    o.vm_limit_kb = c.vm_limit_kb;
    // A ":" input name reads the case's input file from standard input.
    const std::size_t in_arg = c.args[0][0] == 'c' ? 2 : 1;
    if (c.args.size() > in_arg && c.args[in_arg][0] == ':' && !c.input_file.empty())
      o.stdin_path = c.input_file;
    const RunResult r = run(c.args, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    bool matched = false;
    for (const auto& p : c.progress) matched |= r.err == failure_err(p, c.message);
    EXPECT_TRUE(matched) << "stderr: " << visible(r.err) << "\nexpected: "
                         << visible(failure_err(c.progress.front(), c.message));
    for (const auto& p : c.must_not_exist) EXPECT_FALSE(exists_no_follow(p)) << p;

    // Inputs and bystanders are never harmed.
    EXPECT_EQ(read_bytes(path("in")), text);
    EXPECT_EQ(read_bytes(path("in.m2")), packed[2]);
    EXPECT_TRUE(fs::is_directory(path("subdir")));
    EXPECT_TRUE(fs::is_directory("/dev") && exists_no_follow("/dev/full"));
  }
}

}  // namespace
