// moltavex_bench: in-process size and speed of every model/order pair.
//
// For each data set and each model:order pair it compresses and restores
// the data entirely in memory through the library's own stream records,
// and reports the compressed size, bits per byte, compression and
// decompression speed and the peak memory of one compression job. The
// round trip is checked on every pair; a mismatch fails the program.
//
// Timing. One or more warm-up jobs first (they also fault in the code and
// the input, and decide how many jobs one timed sample holds: short jobs
// are repeated until a sample lasts at least --min-time, so that the clock
// resolution and scheduler noise of a shared machine stay small against
// it). Then --runs samples; the reported speed is the median sample, the
// best sample is reported beside it. Speeds are in MB/s of original data
// (10^6 bytes per second) in both directions.
//
// Peak memory. Each pair runs one compression job in a forked child that
// first resets its resident-set high-water mark (writing 5 to
// /proc/self/clear_refs), then reads VmRSS, runs the job and reads VmHWM.
// The difference is the memory the job itself made resident: the model
// tables the data touched plus the stream buffers. The output vector is
// reserved before the first reading, so it does not count.
//
// Output: one line per pair in TSV (default), CSV or a Markdown table.
// Columns: build kind program file bytes model order compressed
// bits_per_byte c_mbps d_mbps c_best_mbps d_best_mbps c_cpu_mbps d_cpu_mbps
// peak_kib runs. c_ is compression, d_ decompression; _mbps the median
// wall-clock sample, _best the fastest, _cpu the median in CPU time (user
// and system), which a busy shared machine disturbs less.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "bench_support.h"
// The C++ API: <moltavex/moltavex.hpp> in trees that have it, the older
// <moltavex/moltavex.h> otherwise (the benchmark builds against both).
#if __has_include("moltavex/moltavex.hpp")
#include "moltavex/moltavex.hpp"
#else
#include "moltavex/moltavex.h"
#endif
#if defined(MOLTAVEX_BENCH_PLAIN_PATH)
#include "plain_path.h"
#endif

namespace {

using mx::bench::Bytes;

struct DataSet {
  std::string name;
  Bytes data;
};

struct Pair {
  int model = 0;
  int order = 0;
};

struct Options {
  std::vector<std::string> files;
  std::vector<Pair> pairs;
  int runs = 5;
  int warmup = 1;
  double min_time = 0.03;
  std::string format = "tsv";
  std::string build = "current";
  std::string corpus;
  bool memory = true;
  bool header = true;
  bool plain = false;  // --path plain: the plain reference path instead of the drivers
  bool push = false;   // --path push: the push contexts, in large pieces
};

// Which coding path the jobs take; set once from the options.
bool use_plain_path = false;
bool use_push_path = false;

// Trees with the C API have push contexts.
#if __has_include("moltavex/moltavex.hpp")
#define MOLTAVEX_BENCH_PUSH_PATH 1

// The push contexts fed pieces of this size, their output taken in
// buffers of the other: the large pieces of a file or a network copy.
constexpr std::size_t push_piece = std::size_t{1} << 20;
constexpr std::size_t push_room = std::size_t{64} << 10;

moltavex::Status push_compress(const Bytes& input, Bytes& output, int model, int order) {
  moltavex::Options options;
  options.size_hint = input.size();  // as a caller that knows it would
  mvx_compressor* c = nullptr;
  mvx_status s = mvx_compressor_create(&c, model, order, &options);
  std::size_t at = 0;
  while (s == MVX_OK) {
    const std::size_t old = output.size();
    output.resize(old + push_room);
    std::size_t consumed = 0, written = 0;
    bool done = false;
    if (at < input.size()) {
      s = mvx_compressor_compress(c, input.data() + at, std::min(push_piece, input.size() - at),
                                  &consumed, output.data() + old, push_room, &written);
    } else {
      s = mvx_compressor_finish(c, output.data() + old, push_room, &written, &done);
    }
    output.resize(old + written);
    at += consumed;
    if (done) break;
  }
  mvx_compressor_free(c);
  return static_cast<moltavex::Status>(s);
}

moltavex::Status push_decompress(const Bytes& input, Bytes& output) {
  moltavex::Options options;
  options.size_hint = input.size();
#ifdef MVX_NO_MEMORY_LIMIT
  options.memory_limit = MVX_NO_MEMORY_LIMIT;  // the benchmark's own streams, up to order 31
#endif
  mvx_decompressor* d = nullptr;
  mvx_status s = mvx_decompressor_create(&d, &options);
  std::size_t at = 0;
  bool ended = false;
  while (s == MVX_OK && !ended) {
    const std::size_t old = output.size();
    output.resize(old + push_room);
    std::size_t consumed = 0, written = 0;
    bool done = false;
    if (at < input.size()) {
      s = mvx_decompressor_decompress(d, input.data() + at, std::min(push_piece, input.size() - at),
                                      &consumed, output.data() + old, push_room, &written, &ended);
    } else {
      s = mvx_decompressor_finish(d, output.data() + old, push_room, &written, &done);
      ended = done;
    }
    output.resize(old + written);
    at += consumed;
  }
  mvx_decompressor_free(d);
  return static_cast<moltavex::Status>(s);
}
#endif

struct Row {
  std::string file;
  std::size_t bytes = 0;
  Pair pair;
  std::size_t compressed = 0;
  double bits_per_byte = 0;
  double c_mbps = 0, d_mbps = 0, c_best = 0, d_best = 0, c_cpu = 0, d_cpu = 0;
  long peak_kib = -1;
};

const char* const usage_text =
    "usage: moltavex_bench [options] [FILE...]\n"
    "  FILE or --files LIST  data sets, comma-separated: a corpus file name, a path,\n"
    "                        'corpus' (every corpus file), 'corpus.cat' (all corpus\n"
    "                        files concatenated), 'text.cat' (alice29.txt asyoulik.txt\n"
    "                        lcet10.txt plrabn12.txt concatenated), 'synthetic'\n"
    "                        (1 MiB of generated English-like text).\n"
    "                        Default: corpus,corpus.cat,text.cat\n"
    "  --pairs LIST          model:order pairs, comma-separated. Default: every model\n"
    "                        at orders 8, 16, 22, and 0:24 4:24 5:24\n"
    "  --runs N              timed samples per direction, median reported (default 5)\n"
    "  --warmup N            untimed jobs before the samples (default 1, at least 1)\n"
    "  --min-time S          shortest sample in seconds; short jobs repeat (default 0.03)\n"
    "  --format F            tsv (default), csv or md\n"
    "  --build NAME          value of the 'build' column (default current)\n"
    "  --path P              library (default): the library's drivers; plain: the\n"
    "                        plain reference path (calls through the model table\n"
    "                        per bit, tables filled at creation; see plain_path.h);\n"
    "                        push: the push contexts fed 1 MiB pieces\n"
    "  --corpus DIR          corpus directory (default $MOLTAVEX_CORPUS or the\n"
    "                        checkout's ../shared/corpus)\n"
    "  --no-memory           skip the peak-memory child\n"
    "  --no-header           omit the TSV/CSV header line\n";

std::vector<std::string> split_list(const std::string& text) {
  std::vector<std::string> out;
  std::string item;
  for (char c : text) {
    if (c == ',' || c == ' ') {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

bool parse_pair(const std::string& text, Pair& pair) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return false;
  char* end = nullptr;
  const long m = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + colon) return false;
  const long o = std::strtol(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || colon + 1 == text.size()) return false;
  if (m < 0 || m > 5 || o < 0 || o > 31) return false;
  pair.model = static_cast<int>(m);
  pair.order = static_cast<int>(o);
  return true;
}

std::vector<Pair> default_pairs() {
  std::vector<Pair> pairs;
  for (int m = 0; m <= 5; ++m) {
    for (int o : {8, 16, 22}) pairs.push_back({m, o});
    if (m == 0 || m == 4 || m == 5) pairs.push_back({m, 24});
  }
  return pairs;
}

std::string base_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_corpus_name(const std::string& name) {
  for (const auto& n : mx::bench::corpus_names()) {
    if (n == name) return true;
  }
  return false;
}

// Resolves the data set names; false (with a message) on a missing file.
// A corpus that is absent altogether is not an error: the caller skips.
bool load_data_sets(const Options& options, std::vector<DataSet>& sets, bool& corpus_missing) {
  const std::string dir = options.corpus.empty() ? mx::bench::corpus_dir() : options.corpus;
  corpus_missing = false;
  for (const auto& item : options.files) {
    if (item == "synthetic") {
      sets.push_back({item, mx::bench::synthetic_text(1 << 20)});
    } else if (item == "corpus") {
      for (const auto& name : mx::bench::corpus_names()) {
        DataSet set{name, {}};
        if (!mx::bench::read_file(dir + "/" + name, set.data)) {
          corpus_missing = true;
          return true;
        }
        sets.push_back(std::move(set));
      }
    } else if (item == "corpus.cat" || item == "text.cat") {
      DataSet set{item, {}};
      const auto& names = item == "text.cat" ? mx::bench::text_names() : mx::bench::corpus_names();
      if (!mx::bench::read_concatenation(dir, names, set.data)) {
        corpus_missing = true;
        return true;
      }
      sets.push_back(std::move(set));
    } else if (is_corpus_name(item)) {
      DataSet set{item, {}};
      if (!mx::bench::read_file(dir + "/" + item, set.data)) {
        corpus_missing = true;
        return true;
      }
      sets.push_back(std::move(set));
    } else {
      DataSet set{base_name(item), {}};
      if (!mx::bench::read_file(item, set.data)) {
        std::fprintf(stderr, "moltavex_bench: cannot read %s\n", item.c_str());
        return false;
      }
      sets.push_back(std::move(set));
    }
  }
  return true;
}

// Runs a job through the library's memory-to-memory functions, over
// `input` and into `output`, whose capacity is reused.
moltavex::Status compress_job(const Bytes& input, Bytes& output, int model, int order) {
  output.clear();
#if defined(MOLTAVEX_BENCH_PLAIN_PATH)
  if (use_plain_path) return mx::bench::plain_compress(input, output, model, order);
#endif
#if defined(MOLTAVEX_BENCH_PUSH_PATH)
  if (use_push_path) return push_compress(input, output, model, order);
#endif
  return moltavex::compress(input.data(), input.size(), model, order, output);
}

moltavex::Status decompress_job(const Bytes& input, Bytes& output) {
  output.clear();
#if defined(MOLTAVEX_BENCH_PLAIN_PATH)
  if (use_plain_path) return mx::bench::plain_decompress(input, output);
#endif
#if defined(MOLTAVEX_BENCH_PUSH_PATH)
  if (use_push_path) return push_decompress(input, output);
#endif
#ifdef MVX_NO_MEMORY_LIMIT
  moltavex::Options options;
  options.memory_limit = MVX_NO_MEMORY_LIMIT;  // the benchmark's own streams, up to order 31
  return moltavex::decompress(input.data(), input.size(), output, nullptr, &options);
#else
  return moltavex::decompress(input.data(), input.size(), output);
#endif
}

// True when the library's drivers code `input` into `stream` too.
bool same_as_library(const Bytes& input, const Bytes& stream, const Pair& pair) {
  const bool plain = use_plain_path, push = use_push_path;
  use_plain_path = use_push_path = false;
  Bytes library;
  library.reserve(stream.size() + 4096);
  const bool same = compress_job(input, library, pair.model, pair.order) == moltavex::Status::ok &&
                    library == stream;
  use_plain_path = plain;
  use_push_path = push;
  return same;
}

long status_kib(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, length, key) == 0) return std::atol(line.c_str() + length);
  }
  return -1;
}

// Resident memory the compression job adds at its peak, in KiB, measured in
// a forked child so that neither the parent's history nor memory the
// allocator keeps from earlier jobs can hide or inflate it. -1 when it
// cannot be measured.
long peak_job_kib(const Bytes& input, const Pair& pair) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    close(fds[0]);
    Bytes output;
    output.reserve(input.size() + input.size() / 4 + 4096);
    // Touch the reserved output so that its pages are resident before the
    // first reading; the job then only adds its own memory.
    std::memset(output.data(), 0, output.capacity());
    long result = -1;
    if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
      const bool reset = std::fputs("5", clear) >= 0;
      if (std::fclose(clear) == 0 && reset) {
        const long before = status_kib("VmRSS:");
        const moltavex::Status status = compress_job(input, output, pair.model, pair.order);
        const long peak = status_kib("VmHWM:");
        if (status == moltavex::Status::ok && before >= 0 && peak >= before) result = peak - before;
      }
    }
    const ssize_t written = write(fds[1], &result, sizeof result);
    _exit(written == static_cast<ssize_t>(sizeof result) ? 0 : 1);
  }
  close(fds[1]);
  long result = -1;
  if (read(fds[0], &result, sizeof result) != static_cast<ssize_t>(sizeof result)) result = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return result;
}

// Times `job` (which codes `bytes` of original data): warm-up jobs, then
// `runs` samples of `repeat` jobs each. Returns false when a job fails.
struct Speed {
  double median = 0;  // MB/s of the median wall-clock sample
  double best = 0;    // MB/s of the fastest sample
  double cpu = 0;     // MB/s of the median CPU-time sample
};

template <class Job>
bool time_job(const Options& options, std::size_t bytes, Job job, Speed& speed) {
  double last = 0;
  for (int i = 0; i < std::max(1, options.warmup); ++i) {
    const double start = mx::bench::now_seconds();
    if (!job()) return false;
    last = mx::bench::now_seconds() - start;
  }
  int repeat = 1;
  if (last > 0 && last < options.min_time) {
    repeat = static_cast<int>(std::ceil(options.min_time / last));
  }
  std::vector<double> per_job, cpu_per_job;
  for (int r = 0; r < options.runs; ++r) {
    const double start = mx::bench::now_seconds();
    const double cpu_start = mx::bench::cpu_seconds();
    for (int i = 0; i < repeat; ++i) {
      if (!job()) return false;
    }
    cpu_per_job.push_back((mx::bench::cpu_seconds() - cpu_start) / repeat);
    per_job.push_back((mx::bench::now_seconds() - start) / repeat);
  }
  auto mbps = [bytes](double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
  };
  speed.median = mbps(mx::bench::median(per_job));
  speed.best = mbps(*std::min_element(per_job.begin(), per_job.end()));
  speed.cpu = mbps(mx::bench::median(cpu_per_job));
  return true;
}

bool measure(const Options& options, const DataSet& set, const Pair& pair, Row& row) {
  row.file = set.name;
  row.bytes = set.data.size();
  row.pair = pair;
  const char* what = "";

  Bytes packed;
  packed.reserve(set.data.size() + set.data.size() / 4 + 4096);
  Bytes reference;
  Bytes restored;
  restored.reserve(set.data.size() + 4096);

  Speed c, d;
  bool ok = time_job(
      options, set.data.size(),
      [&] {
        if (compress_job(set.data, packed, pair.model, pair.order) != moltavex::Status::ok)
          return false;
        // Every job must give the same stream; the first is kept to check.
        if (reference.empty()) reference = packed;
        return packed == reference;
      },
      c);
  if (!ok) {
    what = "compression failed or was not deterministic";
  } else if ((use_plain_path || use_push_path) && !same_as_library(set.data, reference, pair)) {
    ok = false;
    what = "the stream differs from the library's";
  } else {
    ok = time_job(
        options, set.data.size(),
        [&] {
          return decompress_job(reference, restored) == moltavex::Status::ok &&
                 restored == set.data;
        },
        d);
    if (!ok) what = "decompression failed or did not restore the data";
  }
  if (!ok) {
    std::fprintf(stderr, "moltavex_bench: %s: model %d order %d: %s\n", set.name.c_str(),
                 pair.model, pair.order, what);
    return false;
  }
  row.c_mbps = c.median;
  row.c_best = c.best;
  row.c_cpu = c.cpu;
  row.d_mbps = d.median;
  row.d_best = d.best;
  row.d_cpu = d.cpu;
  row.compressed = reference.size();
  row.bits_per_byte =
      set.data.empty() ? 0 : 8.0 * static_cast<double>(reference.size()) / set.data.size();
  row.peak_kib = options.memory ? peak_job_kib(set.data, pair) : -1;
  return true;
}

void print_row(const Options& options, const Row& row) {
  const char sep = options.format == "csv" ? ',' : '\t';
  if (options.format == "md") {
    std::printf("| %s | %zu | %d:%d | %zu | %.3f | %.2f | %.2f | %s |\n", row.file.c_str(),
                row.bytes, row.pair.model, row.pair.order, row.compressed, row.bits_per_byte,
                row.c_mbps, row.d_mbps,
                row.peak_kib < 0 ? "" : std::to_string(row.peak_kib).c_str());
  } else {
    std::printf(
        "%s%cinproc%cmoltavex%c%s%c%zu%c%d%c%d%c%zu%c%.4f%c%.3f%c%.3f%c%.3f%c%.3f%c"
        "%.3f%c%.3f%c%ld%c%d\n",
        options.build.c_str(), sep, sep, sep, row.file.c_str(), sep, row.bytes, sep, row.pair.model,
        sep, row.pair.order, sep, row.compressed, sep, row.bits_per_byte, sep, row.c_mbps, sep,
        row.d_mbps, sep, row.c_best, sep, row.d_best, sep, row.c_cpu, sep, row.d_cpu, sep,
        row.peak_kib, sep, options.runs);
  }
  std::fflush(stdout);
}

void print_header(const Options& options) {
  if (options.format == "md") {
    std::printf(
        "| file | bytes | model:order | compressed | bits/byte | compress MB/s |"
        " decompress MB/s | peak KiB |\n|---|--:|---|--:|--:|--:|--:|--:|\n");
  } else if (options.header) {
    const char* names[] = {"build",    "kind",        "program",     "file",          "bytes",
                           "model",    "order",       "compressed",  "bits_per_byte", "c_mbps",
                           "d_mbps",   "c_best_mbps", "d_best_mbps", "c_cpu_mbps",    "d_cpu_mbps",
                           "peak_kib", "runs"};
    const char sep = options.format == "csv" ? ',' : '\t';
    for (std::size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
      std::printf("%s%c", names[i], i + 1 < sizeof names / sizeof names[0] ? sep : '\n');
    }
  }
}

bool parse_options(int argc, char** argv, Options& options) {
  auto value = [&](int& i) -> const char* {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "moltavex_bench: %s needs a value\n", argv[i]);
      return nullptr;
    }
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* v = nullptr;
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage_text, stdout);
      std::exit(0);
    } else if (arg == "--files") {
      if ((v = value(i)) == nullptr) return false;
      for (auto& f : split_list(v)) options.files.push_back(f);
    } else if (arg == "--pairs") {
      if ((v = value(i)) == nullptr) return false;
      for (auto& p : split_list(v)) {
        Pair pair;
        if (!parse_pair(p, pair)) {
          std::fprintf(stderr, "moltavex_bench: bad model:order pair '%s'\n", p.c_str());
          return false;
        }
        options.pairs.push_back(pair);
      }
    } else if (arg == "--runs") {
      if ((v = value(i)) == nullptr) return false;
      options.runs = std::max(1, std::atoi(v));
    } else if (arg == "--warmup") {
      if ((v = value(i)) == nullptr) return false;
      options.warmup = std::max(0, std::atoi(v));
    } else if (arg == "--min-time") {
      if ((v = value(i)) == nullptr) return false;
      options.min_time = std::atof(v);
    } else if (arg == "--format") {
      if ((v = value(i)) == nullptr) return false;
      options.format = v;
      if (options.format != "tsv" && options.format != "csv" && options.format != "md") {
        std::fprintf(stderr, "moltavex_bench: format must be tsv, csv or md\n");
        return false;
      }
    } else if (arg == "--build") {
      if ((v = value(i)) == nullptr) return false;
      options.build = v;
    } else if (arg == "--path") {
      if ((v = value(i)) == nullptr) return false;
      const std::string path = v;
      if (path != "library" && path != "plain" && path != "push") {
        std::fprintf(stderr, "moltavex_bench: --path must be library, plain or push\n");
        return false;
      }
      options.plain = path == "plain";
      options.push = path == "push";
#if !defined(MOLTAVEX_BENCH_PUSH_PATH)
      if (options.push) {
        std::fprintf(stderr, "moltavex_bench: this build has no push contexts\n");
        return false;
      }
#endif
#if !defined(MOLTAVEX_BENCH_PLAIN_PATH)
      if (options.plain) {
        std::fprintf(stderr, "moltavex_bench: this build has no plain path\n");
        return false;
      }
#endif
    } else if (arg == "--corpus") {
      if ((v = value(i)) == nullptr) return false;
      options.corpus = v;
    } else if (arg == "--no-memory") {
      options.memory = false;
    } else if (arg == "--no-header") {
      options.header = false;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "moltavex_bench: unknown option %s\n%s", arg.c_str(), usage_text);
      return false;
    } else {
      for (auto& f : split_list(arg)) options.files.push_back(f);
    }
  }
  if (options.files.empty()) options.files = {"corpus", "corpus.cat", "text.cat"};
  if (options.pairs.empty()) options.pairs = default_pairs();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, options)) return 2;
  use_plain_path = options.plain;
  use_push_path = options.push;

#if defined(__GLIBC__)
  // glibc raises its mmap threshold after a large block is freed, so from
  // the second job on the model tables would come from the heap, where
  // calloc must clear them in full. A fresh process gets them as untouched
  // zero pages instead. Pinning the threshold at its default keeps every
  // job here as cheap as the first one in a new process.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif

  std::vector<DataSet> sets;
  bool corpus_missing = false;
  if (!load_data_sets(options, sets, corpus_missing)) return 1;
  if (corpus_missing) {
    std::fprintf(stderr, "moltavex_bench: corpus not found at %s; nothing measured\n",
                 options.corpus.empty() ? mx::bench::corpus_dir().c_str() : options.corpus.c_str());
    return 0;
  }

  print_header(options);
  bool all_ok = true;
  for (const auto& set : sets) {
    for (const auto& pair : options.pairs) {
      Row row;
      if (!measure(options, set, pair, row)) {
        all_ok = false;
        continue;
      }
      print_row(options, row);
      std::fprintf(stderr, "%-15s %d:%-2d %8zu -> %8zu  %.3f bpb  c %7.2f MB/s  d %7.2f MB/s\n",
                   row.file.c_str(), pair.model, pair.order, row.bytes, row.compressed,
                   row.bits_per_byte, row.c_mbps, row.d_mbps);
    }
  }
  return all_ok ? 0 : 1;
}
