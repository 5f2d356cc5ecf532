// End-to-end tests of moltavex.exe on Windows (or under wine).
//
//   cli_driver.exe PATH\TO\moltavex.exe [SCRATCH_DIR]
//
// Every case starts the program with CreateProcessA and an exact raw command
// line, so the string reaches the program's GetCommandLineA unchanged and the
// program's own tokenizer is what splits it. Standard input comes from a
// file, a pipe or NUL; standard output and standard error go to files, so the
// console bytes come back exactly as written. Each case checks the exit
// status, both console streams byte for byte and the files left behind.
//
// The scratch directory (default: cli-driver-scratch beside the current
// directory) is emptied first; every group of cases works in a fresh
// subdirectory of it, which is also the program's current directory. One
// line is printed per case, then "N passed, M failed"; the exit status is 0
// only when every case passed.
//
// The expected console texts, the known streams and the sample text are
// the ones the POSIX tests use (tests/known_data.h).
//
// Build (MinGW-w64): x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra
//                    -static -I include -o cli_driver.exe tests/windows/cli_driver.cpp
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../known_data.h"

namespace {

using Bytes = std::string;  // raw file and console contents

// ---------------------------------------------------------------------------
// Expected console text and known data
// ---------------------------------------------------------------------------

using mx::test::decode_ok_err;
using mx::test::decoding_progress;
using mx::test::encode_ok_err;
using mx::test::encoding_progress;
using mx::test::failure_err;
using mx::test::kCreateOut;
using mx::test::kEarlyEnd;
using mx::test::kNotValid;
using mx::test::kOpenIn;
using mx::test::kOutOfMemory;
using mx::test::kReadIn;
using mx::test::kUsage;
using mx::test::to_hex;
using mx::test::usage_err;
using mx::test::visible;

const Bytes kHello = "hello";
// kHello at order 8, per model.
Bytes hello_stream(int model) { return mx::test::known_stream<Bytes>(model, 8, kHello); }
// Empty input at order 0, models 0 and 1.
const Bytes kEmptyModel0Order0 = mx::test::known_stream<Bytes>(0, 0, "");
const Bytes kEmptyModel1Order0 = mx::test::known_stream<Bytes>(1, 0, "");

// ---------------------------------------------------------------------------
// Test data
// ---------------------------------------------------------------------------

// Bytes that a text-mode stream would alter: CR, LF in both orders, Ctrl-Z
// (end of file for text-mode reads), NUL, and runs of the escape byte.
Bytes console_hostile(std::size_t n) {
  static const char pattern[] =
      "line one\r\nline two\n\r\x1a"
      "after ctrl-z\0nul\r\r\n\n"
      "\xF0\xF0\xF0\xF0\xFF\xFE\x1a\x1a\r";
  const std::size_t len = sizeof pattern - 1;  // the pattern has an embedded NUL
  Bytes out;
  std::uint32_t x = 99;
  while (out.size() < n) {
    out.append(pattern, len);
    x = x * 1664525u + 1013904223u;
    out.push_back(static_cast<char>(x >> 24));
  }
  out.resize(n);
  return out;
}

// The POSIX tests' sample text, with CRLF line ends.
Bytes crlf_text(std::size_t n) { return mx::test::sample_text<Bytes>(n, "\r\n"); }

// ---------------------------------------------------------------------------
// Files and directories
// ---------------------------------------------------------------------------

std::string join(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + "\\" + name;
}

bool write_file(const std::string& path, const Bytes& data) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const bool ok =
      data.empty() || (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr) &&
                       done == data.size());
  return CloseHandle(h) && ok;
}

// The file's bytes; `exists` tells a missing file from an empty one.
Bytes read_file(const std::string& path, bool* exists = nullptr) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (exists) *exists = h != INVALID_HANDLE_VALUE;
  Bytes out;
  if (h == INVALID_HANDLE_VALUE) return out;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(h);
  return out;
}

bool file_exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Sorted names in `dir` (without "." and "..").
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(join(dir, "*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

void remove_tree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    for (const auto& name : listing(path)) remove_tree(join(path, name));
    RemoveDirectoryA(path.c_str());
  } else {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }
}

std::string full_path(const std::string& path) {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  return n == 0 || n >= sizeof buffer ? path : std::string(buffer, n);
}

std::string list_text(const std::vector<std::string>& names) {
  std::string out = "{";
  for (std::size_t i = 0; i < names.size(); ++i) out += (i ? ", \"" : "\"") + names[i] + "\"";
  return out + "}";
}

// ---------------------------------------------------------------------------
// Starting the program
// ---------------------------------------------------------------------------

struct Launch {
  std::string command_line;           // exactly what the program's GetCommandLineA returns
  std::string stdin_path;             // empty: NUL
  const Bytes* stdin_pipe = nullptr;  // set: standard input is a pipe fed these bytes
  std::string stdout_path;            // empty: captured into Result::out
  bool stdout_existing = false;       // open stdout_path as it is (no truncation)
};

struct Result {
  bool started = false;
  DWORD status = 0xFFFFFFFF;
  std::string out;
  std::string err;
  std::string trouble;  // why the run could not be made, if it could not
};

std::string g_program;      // full path of moltavex.exe
std::string g_capture_dir;  // console captures live here, outside group dirs

HANDLE inheritable_file(const std::string& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &sa, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs `program` with the raw command line in working directory `dir` and
// waits for it.
Result run_program(const std::string& program, const std::string& dir, const Launch& launch) {
  Result result;
  const std::string out_path =
      launch.stdout_path.empty() ? join(g_capture_dir, "stdout.capture") : launch.stdout_path;
  const std::string err_path = join(g_capture_dir, "stderr.capture");

  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE pipe_write = INVALID_HANDLE_VALUE;
  if (launch.stdin_pipe != nullptr) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(&in, &pipe_write, &sa, 0)) {
      result.trouble = "CreatePipe failed";
      return result;
    }
    // Only the read end goes to the child, or the pipe would never end.
    SetHandleInformation(pipe_write, HANDLE_FLAG_INHERIT, 0);
  } else {
    in = inheritable_file(launch.stdin_path.empty() ? "NUL" : launch.stdin_path, GENERIC_READ,
                          OPEN_EXISTING);
  }
  HANDLE out = inheritable_file(out_path, GENERIC_WRITE,
                                launch.stdout_existing ? OPEN_EXISTING : CREATE_ALWAYS);
  HANDLE err = inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS);
  auto close_all = [&] {
    for (HANDLE* h : {&in, &out, &err, &pipe_write}) {
      if (*h != INVALID_HANDLE_VALUE) CloseHandle(*h);
      *h = INVALID_HANDLE_VALUE;
    }
  };
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
    result.trouble = "cannot open the standard stream files";
    close_all();
    return result;
  }

  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi;
  std::memset(&pi, 0, sizeof pi);
  std::vector<char> line(launch.command_line.begin(), launch.command_line.end());
  line.push_back('\0');
  // Under a loaded Wine, starting a process now and then fails with an
  // internal error that has nothing to do with the program; try again
  // before calling it a failure. (The command line is copied afresh each
  // time, since CreateProcessA may write into it.)
  bool created = false;
  DWORD error = 0;
  for (int attempt = 0; attempt < 3 && !created; ++attempt) {
    if (attempt > 0) Sleep(200);
    std::vector<char> copy(line);
    created = CreateProcessA(program.c_str(), copy.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             dir.c_str(), &si, &pi) != 0;
    if (!created) error = GetLastError();
  }
  if (!created) {
    result.trouble = "CreateProcessA failed, error " + std::to_string(error);
    close_all();
    return result;
  }
  result.started = true;
  // The child holds its own copies now.
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  in = out = err = INVALID_HANDLE_VALUE;
  if (pipe_write != INVALID_HANDLE_VALUE) {
    const Bytes& data = *launch.stdin_pipe;
    std::size_t sent = 0;
    while (sent < data.size()) {
      DWORD done = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - sent, 4096));
      if (!WriteFile(pipe_write, data.data() + sent, chunk, &done, nullptr) || done == 0) {
        result.trouble = "writing to the program's standard input failed";
        break;
      }
      sent += done;
    }
    CloseHandle(pipe_write);
    pipe_write = INVALID_HANDLE_VALUE;
  }
  // A guard against a program that never ends, not a speed check.
  if (WaitForSingleObject(pi.hProcess, 10 * 60 * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 255);
    WaitForSingleObject(pi.hProcess, INFINITE);
    result.trouble = "the program did not finish";
  }
  GetExitCodeProcess(pi.hProcess, &result.status);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (launch.stdout_path.empty()) result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

// ---------------------------------------------------------------------------
// Cases and their report
// ---------------------------------------------------------------------------

int g_passed = 0;
int g_failed = 0;

class Case {
 public:
  Case(std::string group, std::string name) : group_(std::move(group)), name_(std::move(name)) {}
  ~Case() {
    if (problems_.empty()) {
      ++g_passed;
      std::printf("ok   %s: %s\n", group_.c_str(), name_.c_str());
    } else {
      ++g_failed;
      std::printf("FAIL %s: %s\n", group_.c_str(), name_.c_str());
      for (const auto& p : problems_) std::printf("       %s\n", p.c_str());
    }
    std::fflush(stdout);
  }

  void check(bool ok, const std::string& what) {
    if (!ok) problems_.push_back(what);
  }
  void same_text(const std::string& got, const std::string& want, const std::string& what) {
    if (got != want) {
      problems_.push_back(what + ": got \"" + visible(got) + "\", expected \"" + visible(want) +
                          "\"");
    }
  }
  void same_bytes(const Bytes& got, const Bytes& want, const std::string& what) {
    if (got == want) return;
    if (got.size() <= 64 && want.size() <= 64) {
      problems_.push_back(what + ": got [" + to_hex(got) + "], expected [" + to_hex(want) + "]");
    } else {
      std::size_t at = 0;
      while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
      problems_.push_back(what + ": " + std::to_string(got.size()) + " bytes, expected " +
                          std::to_string(want.size()) + ", first difference at offset " +
                          std::to_string(at));
    }
  }
  void same_listing(const std::string& dir, std::vector<std::string> want) {
    std::sort(want.begin(), want.end());
    const auto got = listing(dir);
    if (got != want) {
      problems_.push_back("directory holds " + list_text(got) + ", expected " + list_text(want));
    }
  }
  void file_is(const std::string& path, const Bytes& want, const std::string& what) {
    bool exists = false;
    const Bytes got = read_file(path, &exists);
    if (!exists) {
      problems_.push_back(what + ": file \"" + path + "\" does not exist");
      return;
    }
    same_bytes(got, want, what);
  }

  // Runs the program and checks the outcome that every run shares: it
  // started, exited with `status`, and wrote `out`/`err` exactly.
  Result run(const std::string& dir, const Launch& launch, DWORD status, const std::string& out,
             const std::string& err) {
    return run_with(g_program, dir, launch, status, out, err);
  }
  Result run_with(const std::string& program, const std::string& dir, const Launch& launch,
                  DWORD status, const std::string& out, const std::string& err) {
    Result r = run_program(program, dir, launch);
    const std::string at = "[" + launch.command_line + "] ";
    if (!r.trouble.empty()) problems_.push_back(at + r.trouble);
    if (!r.started) return r;
    check(r.status == status,
          at + "exit status " + std::to_string(r.status) + ", expected " + std::to_string(status));
    if (launch.stdout_path.empty()) same_text(r.out, out, at + "standard output");
    same_text(r.err, err, at + "standard error");
    return r;
  }

 private:
  std::string group_;
  std::string name_;
  std::vector<std::string> problems_;
};

std::string g_scratch;

// A fresh working directory for a group of cases.
std::string group_dir(const std::string& name) {
  const std::string dir = join(g_scratch, name);
  remove_tree(dir);
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

Launch cmd(std::string line) {
  Launch l;
  l.command_line = std::move(line);
  return l;
}
Launch with_stdin(Launch l, std::string path) {
  l.stdin_path = std::move(path);
  return l;
}
Launch with_stdout(Launch l, std::string path) {
  l.stdout_path = std::move(path);
  return l;
}

// ---------------------------------------------------------------------------
// Groups
// ---------------------------------------------------------------------------

// How the raw command line splits: usage errors, blanks, trailing blanks.
void command_line_cases() {
  const std::string g = "command line";
  const std::string dir = group_dir("command-line");
  const std::string in = join(dir, "in.txt");
  auto reset = [&] {
    for (const auto& name : listing(dir)) remove_tree(join(dir, name));
    write_file(in, kHello);
  };

  struct Usage {
    const char* name;
    const char* line;
  };
  const Usage usage_cases[] = {
      {"two arguments in all", "moltavex.exe c1"},
      {"no input name", "moltavex.exe c1 8"},
      {"order in quotes is not a number", "moltavex.exe c1 \"8\" in.txt out.mx"},
      {"quote inside the order", "moltavex.exe c1 8\"\" in.txt out.mx"},
      {"unbalanced quote takes the rest as the order", "moltavex.exe c1 \"8 in.txt out.mx"},
      {"command in quotes is not c", "moltavex.exe \"c1\" 8 in.txt out.mx"},
      {"unknown command", "moltavex.exe x 8 in.txt out.mx"},
      {"three blanks after the program name make an empty command",
       "moltavex.exe   c1 8 in.txt out.mx"},
      {"empty order after a double blank, nothing after it", "moltavex.exe c1  "},
      {"more arguments than c takes", "moltavex.exe c1 8 in.txt a.mx b.mx"},
      {"more arguments than d takes", "moltavex.exe d in.txt a b"},
  };
  {
    // Without a console on standard input, the bare program compresses it
    // to standard output, as gzip does (a console gets the usage).
    Case c(g, "program name alone compresses a piped standard input");
    reset();
    const Bytes data = console_hostile(5000);
    Launch there = cmd("moltavex.exe");
    there.stdin_pipe = &data;
    there.stdout_path = join(dir, "bare.mx");
    c.run(dir, there, 0, "", "");
    const Bytes packed = read_file(join(dir, "bare.mx"));
    Launch back = cmd("moltavex.exe -dc");
    back.stdin_pipe = &packed;
    back.stdout_path = join(dir, "bare-restored.bin");
    c.run(dir, back, 0, "", "");
    c.file_is(back.stdout_path, data, "restored");
  }
  for (const auto& u : usage_cases) {
    Case c(g, std::string(u.name) + " -> usage");
    reset();
    c.run(dir, cmd(u.line), 2, kUsage, usage_err());
    c.same_listing(dir, {"in.txt"});
    c.file_is(in, kHello, "input");
  }

  {
    Case c(g, "two blanks after the program name are one separator");
    reset();
    c.run(dir, cmd("moltavex.exe  c1 8 in.txt out.mx"), 0, "", encode_ok_err(1));
    c.file_is(join(dir, "out.mx"), hello_stream(1), "output");
    c.same_listing(dir, {"in.txt", "out.mx"});
  }
  {
    Case c(g, "a trailing blank makes no empty argument: output name derived");
    reset();
    c.run(dir, cmd("moltavex.exe c1 8 in.txt "), 0, "", encode_ok_err(1));
    c.file_is(join(dir, "in.txt.mx"), hello_stream(1), "output");
    c.same_listing(dir, {"in.txt", "in.txt.mx"});
  }
  {
    // c1, "", 8, in.txt: the empty order is 0, "8" is the input and
    // "in.txt" the output, which is replaced.
    Case c(g, "double blank before the order: empty order 0, input \"8\", output in.txt");
    reset();
    write_file(join(dir, "8"), "");
    c.run(dir, cmd("moltavex.exe c1  8 in.txt"), 0, "", encode_ok_err(1));
    c.file_is(in, kEmptyModel1Order0, "in.txt, now the output");
    c.same_listing(dir, {"8", "in.txt"});
  }
  {
    Case c(g, "double blank before the order, input \"8\" with data, read back");
    reset();
    const Bytes data = crlf_text(3000);
    write_file(join(dir, "8"), data);
    c.run(dir, cmd("moltavex.exe c  8 in.txt"), 0, "", encode_ok_err(0));
    const Bytes packed = read_file(in);
    c.check(!packed.empty() && packed[0] == 0x00, "header of in.txt is not 0x00");
    c.run(dir, cmd("moltavex.exe d in.txt back"), 0, "", decode_ok_err(0));
    c.file_is(join(dir, "back"), data, "restored");
    c.same_listing(dir, {"8", "back", "in.txt"});
  }
  {
    Case c(g, "two trailing blanks make an empty output name");
    reset();
    c.run(dir, cmd("moltavex.exe c1 8 in.txt  "), 1, "", failure_err("", kCreateOut));
    c.same_listing(dir, {"in.txt"});
    c.file_is(in, kHello, "input");
  }
  {
    // d, "", in.mx: the empty input name cannot be opened, and the file
    // named as output is not touched.
    Case c(g, "double blank after d: empty input name, output left alone");
    reset();
    write_file(join(dir, "in.mx"), hello_stream(2));
    c.run(dir, cmd("moltavex.exe d  in.mx"), 1, "", failure_err("", kOpenIn));
    c.file_is(join(dir, "in.mx"), hello_stream(2), "in.mx");
    c.same_listing(dir, {"in.mx", "in.txt"});
  }
  {
    Case c(g, "quoted digits after the model letter select the default model");
    reset();
    c.run(dir, cmd("moltavex.exe c\"5\" 8 in.txt out.mx"), 0, "", encode_ok_err(1));
    c.file_is(join(dir, "out.mx"), hello_stream(1), "output");
  }
  {
    Case c(g, "long command words count by their first letter");
    reset();
    c.run(dir, cmd("moltavex.exe c4x 8 in.txt out.mx"), 0, "", encode_ok_err(1));
    c.file_is(join(dir, "out.mx"), hello_stream(1), "output");
    c.run(dir, cmd("moltavex.exe decode out.mx back"), 0, "", decode_ok_err(1));
    c.file_is(join(dir, "back"), kHello, "restored");
  }
}

// File names with blanks in double quotes; the quotes are removed from the
// names after a missing output name has been derived.
void quoted_name_cases() {
  const std::string g = "quoted names";
  const std::string dir = group_dir("quoted-names");
  write_file(join(dir, "my file.txt"), kHello);

  {
    Case c(g, "input and output names in quotes");
    c.run(dir, cmd("moltavex.exe c1 8 \"my file.txt\" \"out file.mx\""), 0, "", encode_ok_err(1));
    c.file_is(join(dir, "out file.mx"), hello_stream(1), "output");
    c.same_listing(dir, {"my file.txt", "out file.mx"});
  }
  {
    Case c(g, "quoted input, output name derived: my file.txt.mx");
    c.run(dir, cmd("moltavex.exe c1 8 \"my file.txt\""), 0, "", encode_ok_err(1));
    c.file_is(join(dir, "my file.txt.mx"), hello_stream(1), "output");
    c.same_listing(dir, {"my file.txt", "my file.txt.mx", "out file.mx"});
  }
  {
    Case c(g, "d with a quoted input name, output name derived");
    c.run(dir, cmd("moltavex.exe d \"out file.mx\""), 0, "", decode_ok_err(1));
    c.file_is(join(dir, "out file.mx.dec"), kHello, "restored");
  }
  {
    Case c(g, "d with quoted input and output names");
    c.run(dir, cmd("moltavex.exe d \"my file.txt.mx\" \"back file.txt\""), 0, "", decode_ok_err(1));
    c.file_is(join(dir, "back file.txt"), kHello, "restored");
    c.same_listing(
        dir, {"back file.txt", "my file.txt", "my file.txt.mx", "out file.mx", "out file.mx.dec"});
  }
  {
    Case c(g, "quotes around the blank only, in the middle of names");
    c.run(dir, cmd("moltavex.exe c3 8 my\" \"file.txt mid\" \"quote.mx"), 0, "", encode_ok_err(3));
    c.file_is(join(dir, "mid quote.mx"), hello_stream(3), "output");
  }
  {
    Case c(g, "two blanks inside quotes stay in the name");
    write_file(join(dir, "two  blanks.txt"), kHello);
    c.run(dir, cmd("moltavex.exe c4 8 \"two  blanks.txt\""), 0, "", encode_ok_err(4));
    c.file_is(join(dir, "two  blanks.txt.mx"), hello_stream(4), "output");
    c.check(!file_exists(join(dir, "two blanks.txt.mx")), "a name lost a blank");
  }
  {
    Case c(g, "quoted program path with a blank");
    const std::string prog_dir = join(dir, "prog dir");
    CreateDirectoryA(prog_dir.c_str(), nullptr);
    const std::string copy = join(prog_dir, "moltavex.exe");
    c.check(CopyFileA(g_program.c_str(), copy.c_str(), FALSE) != 0, "cannot copy the program");
    c.run_with(copy, dir, cmd("\"" + copy + "\" c5 8 \"my file.txt\" m5.mx"), 0, "",
               encode_ok_err(5));
    c.file_is(join(dir, "m5.mx"), hello_stream(5), "output");
    c.run_with(copy, dir, cmd("\"" + copy + "\"  d m5.mx \"m5 back\""), 0, "", decode_ok_err(5));
    c.file_is(join(dir, "m5 back"), kHello, "restored");
  }
}

// A quote without its partner makes the rest of the line one argument.
void unbalanced_quote_cases() {
  const std::string g = "unbalanced quote";
  const std::string dir = group_dir("unbalanced-quote");
  write_file(join(dir, "in.mx"), hello_stream(0));
  {
    Case c(g, "d \"in.mx out is one input name: in.mx out, not found");
    c.run(dir, cmd("moltavex.exe d \"in.mx out"), 1, "", failure_err("", kOpenIn));
    c.same_listing(dir, {"in.mx"});
    c.file_is(join(dir, "in.mx"), hello_stream(0), "in.mx");
  }
  {
    Case c(g, "d \"in.mx out reads the file \"in.mx out\" when there is one");
    write_file(join(dir, "in.mx out"), hello_stream(2));
    c.run(dir, cmd("moltavex.exe d \"in.mx out"), 0, "", decode_ok_err(2));
    c.file_is(join(dir, "in.mx out.dec"), kHello, "restored");
    c.same_listing(dir, {"in.mx", "in.mx out", "in.mx out.dec"});
  }
  {
    Case c(g, "unbalanced quote in the output name");
    write_file(join(dir, "in.txt"), kHello);
    c.run(dir, cmd("moltavex.exe c1 8 in.txt \"out file.mx"), 0, "", encode_ok_err(1));
    c.file_is(join(dir, "out file.mx"), hello_stream(1), "output");
  }
}

// The known streams, through named files and through standard streams.
void known_stream_cases() {
  const std::string g = "known streams";
  const std::string dir = group_dir("known-streams");
  const std::string in = join(dir, "hello.txt");
  write_file(in, kHello);
  for (int model = 0; model < 6; ++model) {
    Case c(g, "\"hello\" at order 8, model " + std::to_string(model));
    const std::string command = model == 0 ? "c" : "c" + std::to_string(model);
    const Bytes want = hello_stream(model);
    // A longer stale output must be replaced, not partly overwritten.
    write_file(join(dir, "hello.mx"), Bytes(100, '\xAA'));
    c.run(dir, cmd("moltavex.exe " + command + " 8 hello.txt hello.mx"), 0, "",
          encode_ok_err(model));
    c.file_is(join(dir, "hello.mx"), want, "named output");

    c.run(dir, with_stdin(cmd("moltavex.exe " + command + " 8 : :"), in), 0, want,
          encode_ok_err(model));

    write_file(join(dir, "hello.back"), Bytes(100, 'U'));
    c.run(dir, cmd("moltavex.exe d hello.mx hello.back"), 0, "", decode_ok_err(model));
    c.file_is(join(dir, "hello.back"), kHello, "named restored");
    c.run(dir, with_stdin(cmd("moltavex.exe d : :"), join(dir, "hello.mx")), 0, kHello,
          decode_ok_err(model));
  }
  {
    Case c(g, "c0 names model 0 as c does");
    c.run(dir, cmd("moltavex.exe c0 8 hello.txt c0.mx"), 0, "", encode_ok_err(0));
    c.file_is(join(dir, "c0.mx"), hello_stream(0), "output");
  }
}

// Standard streams carry data in binary: no line-end translation, no end
// of file at Ctrl-Z, NUL bytes intact.
void binary_stream_cases() {
  const std::string g = "binary standard streams";
  const std::string dir = group_dir("binary-streams");
  struct Data {
    const char* name;
    Bytes bytes;
  };
  const Data inputs[] = {
      {"short.bin", console_hostile(200)},
      {"long.bin", console_hostile(300000)},  // several 64 KiB blocks
  };
  for (const auto& d : inputs) {
    Case c(g, std::string("c2 12 : : and d : : on ") + d.name + " (" +
                  std::to_string(d.bytes.size()) + " bytes with CR, LF, ^Z, NUL)");
    const std::string src = join(dir, d.name);
    write_file(src, d.bytes);
    c.run(dir, cmd(std::string("moltavex.exe c2 12 ") + d.name + " named.mx"), 0, "",
          encode_ok_err(2));
    const Bytes named = read_file(join(dir, "named.mx"));
    c.check(!named.empty() && static_cast<unsigned char>(named[0]) == 0x4C,
            "header of the named output is not 0x4C");

    const std::string piped_out = join(dir, "piped.mx");
    c.run(dir, with_stdout(with_stdin(cmd("moltavex.exe c2 12 : :"), src), piped_out), 0, "",
          encode_ok_err(2));
    c.file_is(piped_out, named, "compressed through standard streams vs named files");

    const std::string restored = join(dir, "restored.bin");
    c.run(dir, with_stdout(with_stdin(cmd("moltavex.exe d : :"), piped_out), restored), 0, "",
          decode_ok_err(2));
    c.file_is(restored, d.bytes, "restored through standard streams");
  }
  {
    Case c(g, "standard input through a pipe");
    const Bytes data = console_hostile(20000);
    write_file(join(dir, "pipe-src.bin"), data);
    c.run(dir, cmd("moltavex.exe c5 9 pipe-src.bin pipe-named.mx"), 0, "", encode_ok_err(5));
    Launch l = cmd("moltavex.exe c5 9 : pipe.mx");
    l.stdin_pipe = &data;
    c.run(dir, l, 0, "", encode_ok_err(5));
    c.file_is(join(dir, "pipe.mx"), read_file(join(dir, "pipe-named.mx")), "output");
    const Bytes packed = read_file(join(dir, "pipe.mx"));
    Launch back = cmd("moltavex.exe d : :");
    back.stdin_pipe = &packed;
    back.stdout_path = join(dir, "pipe-restored.bin");
    c.run(dir, back, 0, "", decode_ok_err(5));
    c.file_is(back.stdout_path, data, "restored");
  }
  {
    Case c(g, "empty standard input (NUL) compresses to the empty stream");
    c.run(dir, cmd("moltavex.exe c 0 : :"), 0, kEmptyModel0Order0, encode_ok_err(0));
  }
  {
    Case c(g, "d : : on empty standard input is not a valid stream");
    c.run(dir, cmd("moltavex.exe d : :"), 1, "", failure_err("", kNotValid));
  }
}

// The input can never be the output, under any name for it; the input is
// left as it was.
void input_as_output_cases() {
  const std::string g = "input named as output";
  const std::string dir = group_dir("input-as-output");
  const Bytes text = crlf_text(20000);
  const std::string in = join(dir, "in.txt");
  const std::string packed = join(dir, "in.mx");
  write_file(in, text);
  write_file(packed, hello_stream(3));
  const bool linked = CreateHardLinkA(join(dir, "link.txt").c_str(), in.c_str(), nullptr) != 0;
  const std::string link_error = linked ? "" : std::to_string(GetLastError());
  // Each case starts from intact files, so that one fault shows in one case.
  auto restore = [&] {
    write_file(in, text);
    write_file(packed, hello_stream(3));
  };
  const std::vector<std::string> all = {"in.mx", "in.txt", "link.txt"};

  struct Refusal {
    const char* name;
    const char* line;
  };
  const Refusal cases[] = {
      {"same name", "moltavex.exe c1 8 in.txt in.txt"},
      {"same name, other case", "moltavex.exe c1 8 in.txt IN.TXT"},
      {"same name, other spelling", "moltavex.exe c1 8 in.txt .\\in.txt"},
      {"same name, quoted", "moltavex.exe c1 8 in.txt \"in.txt\""},
      {"a hard link to the input", "moltavex.exe c2 8 in.txt link.txt"},
      {"input through a hard link, output the file", "moltavex.exe c2 8 link.txt In.Txt"},
      {"d onto itself, other case", "moltavex.exe d in.mx IN.MX"},
  };
  for (const auto& r : cases) {
    Case c(g, std::string(r.name) + " -> could not create output");
    c.check(linked, "CreateHardLinkA failed, error " + link_error);
    restore();
    c.run(dir, cmd(r.line), 1, "", failure_err("", kCreateOut));
    c.file_is(in, text, "input");
    c.file_is(packed, hello_stream(3), "in.mx");
    c.same_listing(dir, all);
  }
  {
    // Standard output already open for writing on the input: the input is
    // opened with read sharing only, so it cannot be opened at all.
    Case c(g, "standard output open on the input -> could not open input");
    restore();
    Launch l = with_stdout(cmd("moltavex.exe c1 8 in.txt :"), in);
    l.stdout_existing = true;
    c.run(dir, l, 1, "", failure_err("", kOpenIn));
    c.file_is(in, text, "input");
    c.same_listing(dir, all);
  }
}

// Failures: one message, exit status 1, no output left behind.
void failure_cases() {
  const std::string g = "failures";
  const std::string dir = group_dir("failures");
  const Bytes text = crlf_text(20000);
  write_file(join(dir, "in.txt"), text);
  CreateDirectoryA(join(dir, "sub").c_str(), nullptr);
  {
    Case c(g, "a directory as input to c -> could not read input");
    c.run(dir, cmd("moltavex.exe c1 8 sub out.mx"), 1, "",
          failure_err(encoding_progress(1), kReadIn));
    c.same_listing(dir, {"in.txt", "sub"});
  }
  {
    Case c(g, "a directory as input to d -> could not read input");
    c.run(dir, cmd("moltavex.exe d sub"), 1, "", failure_err("", kReadIn));
    c.same_listing(dir, {"in.txt", "sub"});
  }
  {
    Case c(g, "a directory as output -> could not create output");
    c.run(dir, cmd("moltavex.exe c1 8 in.txt sub"), 1, "", failure_err("", kCreateOut));
    c.same_listing(dir, {"in.txt", "sub"});
  }
  {
    Case c(g, "missing input -> could not open input, no output");
    c.run(dir, cmd("moltavex.exe c1 8 nope.txt"), 1, "", failure_err("", kOpenIn));
    c.run(dir, cmd("moltavex.exe d nope.mx out"), 1, "", failure_err("", kOpenIn));
    c.same_listing(dir, {"in.txt", "sub"});
  }
  {
    Case c(g, "output in a missing directory -> could not create output");
    c.run(dir, cmd("moltavex.exe c1 8 in.txt nodir\\out.mx"), 1, "", failure_err("", kCreateOut));
    c.same_listing(dir, {"in.txt", "sub"});
  }
  {
    Case c(g, "cut-short stream -> unexpected end, partial output removed");
    c.run(dir, cmd("moltavex.exe c3 8 in.txt full.mx"), 0, "", encode_ok_err(3));
    Bytes cut = read_file(join(dir, "full.mx"));
    cut.resize(cut.size() / 2);
    write_file(join(dir, "short.mx"), cut);
    c.run(dir, cmd("moltavex.exe d short.mx"), 1, "", failure_err(decoding_progress(3), kEarlyEnd));
    c.same_listing(dir, {"full.mx", "in.txt", "short.mx", "sub"});
  }
  {
    Case c(g, "header naming model 6 -> not a valid compressed file");
    write_file(join(dir, "bad.mx"), mx::test::from_hex<Bytes>("C0 12 34 56 78 FF FF"));
    c.run(dir, cmd("moltavex.exe d bad.mx"), 1, "", failure_err("", kNotValid));
    c.check(!file_exists(join(dir, "bad.mx.dec")), "bad.mx.dec left behind");
  }
}

// How outputs are written: through a temporary file that replaces the
// output name only when the job has succeeded, with the input's times, and
// within the memory limit. (Wine gives redirected handles no console, so
// the terminal refusals are not tried here.)
void file_care_cases() {
  const std::string g = "files";
  const std::string dir = group_dir("files");
  const std::string in = join(dir, "in.txt");
  write_file(in, kHello);
  {
    Case c(g, "an earlier output survives a cut-short stream, no temporary file left");
    c.run(dir, cmd("moltavex.exe c3 8 in.txt full.mx"), 0, "", encode_ok_err(3));
    Bytes cut = read_file(join(dir, "full.mx"));
    cut.resize(cut.size() / 2);
    write_file(join(dir, "short.mx"), cut);
    write_file(join(dir, "out"), "an earlier result");
    c.run(dir, cmd("moltavex.exe d short.mx out"), 1, "",
          failure_err(decoding_progress(3), kEarlyEnd));
    c.file_is(join(dir, "out"), "an earlier result", "out");
    c.same_listing(dir, {"full.mx", "in.txt", "out", "short.mx"});
  }
  {
    Case c(g, "the output takes the input's times");
    HANDLE h = CreateFileA(in.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    FILETIME access{0x12345678u, 0x01C00000u}, modify{0x9ABCDEF0u, 0x01D00000u};
    c.check(h != INVALID_HANDLE_VALUE && SetFileTime(h, nullptr, &access, &modify), "SetFileTime");
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    c.run(dir, cmd("moltavex.exe c1 8 in.txt timed.mx"), 0, "", encode_ok_err(1));
    h = CreateFileA(join(dir, "timed.mx").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILETIME got_modify{};
    c.check(h != INVALID_HANDLE_VALUE && GetFileTime(h, nullptr, nullptr, &got_modify),
            "GetFileTime");
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    // (Only the modification time: under Wine, merely looking at the file
    // moves an access time this old.)
    c.check(CompareFileTime(&got_modify, &modify) == 0, "modification time differs");
  }
  {
    Case c(g, "MOLTAVEX_MEMLIMIT caps the tables, for c and d");
    write_file(join(dir, "earlier"), "an earlier result");
    SetEnvironmentVariableA("MOLTAVEX_MEMLIMIT", "1M");
    c.run(dir, cmd("moltavex.exe c1 20 in.txt earlier"), 1, "", failure_err("", kOutOfMemory));
    c.run(dir, cmd("moltavex.exe c1 16 in.txt small.mx"), 0, "", encode_ok_err(1));
    SetEnvironmentVariableA("MOLTAVEX_MEMLIMIT", "512K");
    c.run(dir, cmd("moltavex.exe d small.mx"), 0, "", decode_ok_err(1));
    SetEnvironmentVariableA("MOLTAVEX_MEMLIMIT", "511K");
    c.run(dir, cmd("moltavex.exe d small.mx earlier"), 1, "", failure_err("", kOutOfMemory));
    SetEnvironmentVariableA("MOLTAVEX_MEMLIMIT", nullptr);
    c.file_is(join(dir, "earlier"), "an earlier result", "earlier");
  }
}

// The conventional command line (first argument beginning with '-'): the
// same options, messages and exit statuses as on POSIX, through the raw
// command line (quotes, doubled blanks) and the Windows file calls.
void conventional_cases() {
  const std::string g = "options";
  const std::string dir = group_dir("options");
  // What this interface writes: the stream and its integrity record.
  Bytes stream = hello_stream(1);
  const std::vector<std::uint8_t> record = mx::test::from_hex(mx::test::kHelloRecordHex);
  stream.insert(stream.end(), record.begin(), record.end());
  write_file(join(dir, "in.txt"), kHello);
  {
    Case c(g, "FILE to FILE.mx, the input kept");
    c.run(dir, cmd("moltavex.exe -k --model=1 --order=8 in.txt"), 0, "", "");
    c.file_is(join(dir, "in.txt.mx"), stream, "in.txt.mx");
    c.same_listing(dir, {"in.txt", "in.txt.mx"});
  }
  {
    Case c(g, "an existing output is refused without -f, replaced with it");
    c.run(dir, cmd("moltavex.exe -d in.txt.mx"), 1, "",
          "moltavex: in.txt: already exists (-f overwrites it)\n");
    write_file(join(dir, "in.txt"), "an earlier result");
    c.run(dir, cmd("moltavex.exe -df in.txt.mx"), 0, "", "");
    c.file_is(join(dir, "in.txt"), kHello, "in.txt");
  }
  {
    Case c(g, "a compressed input is skipped with a warning (status 2)");
    c.run(dir, cmd("moltavex.exe -k in.txt.mx"), 2, "",
          "moltavex: in.txt.mx: already has the .mx suffix, skipping\n");
  }
  {
    Case c(g, "-dc, and a doubled blank between the arguments");
    c.run(dir, cmd("moltavex.exe -dc  in.txt.mx"), 0, kHello, "");
  }
  {
    Case c(g, "standard input to standard output, through a pipe");
    Launch l = cmd("moltavex.exe -d");
    l.stdin_pipe = &stream;
    c.run(dir, l, 0, kHello, "");
  }
  {
    Case c(g, "a quoted name with a blank");
    write_file(join(dir, "my file.txt"), kHello);
    c.run(dir, cmd("moltavex.exe --model=1 --order=8 \"my file.txt\""), 0, "", "");
    c.file_is(join(dir, "my file.txt.mx"), stream, "my file.txt.mx");
  }
  {
    Case c(g, "--rm removes the input after its output is flushed");
    write_file(join(dir, "rm.txt"), kHello);
    c.run(dir, cmd("moltavex.exe --rm --model=1 --order=8 rm.txt"), 0, "", "");
    c.check(!file_exists(join(dir, "rm.txt")), "rm.txt was not removed");
    c.file_is(join(dir, "rm.txt.mx"), stream, "rm.txt.mx");
  }
  {
    Case c(g, "-T2 gives the streams of -T1, messages in file order");
    const Bytes text = crlf_text(300000), other = console_hostile(200000);
    write_file(join(dir, "t1.txt"), text);
    write_file(join(dir, "t2.bin"), other);
    c.run(dir, cmd("moltavex.exe -T2 -qq -4 t1.txt t2.bin missing"), 1, "", "");
    const Bytes first = read_file(join(dir, "t1.txt.mx")),
                second = read_file(join(dir, "t2.bin.mx"));
    c.run(dir, cmd("moltavex.exe -T1 -f -4 t1.txt missing t2.bin"), 1, "",
          "moltavex: missing: " + std::string("No such file or directory") + "\n");
    c.same_bytes(read_file(join(dir, "t1.txt.mx")), first, "t1.txt.mx");
    c.same_bytes(read_file(join(dir, "t2.bin.mx")), second, "t2.bin.mx");
    c.run(dir, cmd("moltavex.exe -T2 -dc t1.txt.mx"), 0, text, "");
  }
  {
    Case c(g, "-l, -V and a bad option");
    c.run(dir, cmd("moltavex.exe -l in.txt.mx"), 0,
          "Model  Order    Compressed      Original  Ratio  Check  Filename\n"
          "    1      8            44             5  8.800  XXH64  in.txt.mx\n",
          "");
    c.run(dir, cmd("moltavex.exe -V"), 0, "moltavex " MVX_VERSION_STRING "\n", "");
    c.run(dir, cmd("moltavex.exe -x"), 1, "",
          "moltavex: invalid option -- 'x'; see 'moltavex --help'\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The report's lines end in LF alone, as a log reader expects.
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: cli_driver PATH\\TO\\moltavex.exe [SCRATCH_DIR]\n");
    return 2;
  }
  g_program = full_path(argv[1]);
  if (GetFileAttributesA(g_program.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "cli_driver: no program at %s\n", g_program.c_str());
    return 2;
  }
  g_scratch = full_path(argc == 3 ? argv[2] : "cli-driver-scratch");
  remove_tree(g_scratch);
  if (!CreateDirectoryA(g_scratch.c_str(), nullptr)) {
    std::fprintf(stderr, "cli_driver: cannot create %s\n", g_scratch.c_str());
    return 2;
  }
  g_capture_dir = g_scratch;
  std::printf("program: %s\nscratch: %s\n", g_program.c_str(), g_scratch.c_str());

  command_line_cases();
  quoted_name_cases();
  unbalanced_quote_cases();
  known_stream_cases();
  binary_stream_cases();
  input_as_output_cases();
  failure_cases();
  file_care_cases();
  conventional_cases();

  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
