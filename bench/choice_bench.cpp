// moltavex_choice: how close the automatic choice comes to the best
// setting.
//
//   moltavex_choice [--orders LO-HI] [--memlimit BYTES] [--curves FILE]
//                   [--best-from FILE] [--corpus DIR] [FILE...]
//
// For each data set (default: every corpus file) it compresses the data in
// memory with every model at every order from LO to HI (default 8-26),
// counting the bytes only, on two threads, and takes the best setting; then
// it asks choose_setting for its choice, with a memory limit of BYTES
// (default 0: the library's default), and compresses with it. The choice
// may lie outside LO-HI, and then may beat the best found there. With
// --curves, every size of the exhaustive trial goes to FILE as
// tab-separated lines "file model order bytes", so that a change of the
// search can be judged on them without running the trial again:
// --best-from FILE takes the best of each data set from such a file
// instead (its sizes for orders LO-HI), when it has them all.
//
// Prints a Markdown table, one row per data set (the best setting and its
// size, the chosen one and its size, how much larger the chosen stream
// is), a total row, and whether the targets hold: the total within 1% of
// the total of the best, every data set within 3% of its best. Exit status
// 0 when they hold, 1 when not, 2 on a usage or file error.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "moltavex/moltavex.hpp"

namespace {

using mx::bench::Bytes;

struct DataSet {
  std::string name;
  Bytes data;
};

std::uint64_t compressed_size(const Bytes& data, int model, int order) {
  mx::MemorySource source{data.data(), data.size()};
  mx::CountingSink sink;
  const moltavex::Status status = moltavex::compress_stream(
      &mx::MemorySource::read, &source, &mx::CountingSink::write, &sink, model, order);
  return status == moltavex::Status::ok ? sink.bytes : UINT64_MAX;
}

struct Best {
  int model = -1;
  int order = -1;
  std::uint64_t size = UINT64_MAX;
};

// Every model at every order from `low` to `high`, on two threads; each
// size goes to `curves` when not null.
Best exhaustive_best(const std::string& name, const Bytes& data, int low, int high,
                     std::FILE* curves) {
  struct Job {
    int model, order;
    std::uint64_t size;
  };
  std::vector<Job> jobs;
  for (int model = 0; model < moltavex::model_count; ++model) {
    for (int order = low; order <= high; ++order) jobs.push_back({model, order, 0});
  }
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i; (i = next++) < jobs.size();) {
      jobs[i].size = compressed_size(data, jobs[i].model, jobs[i].order);
    }
  };
  std::thread helper(work);
  work();
  helper.join();
  Best best;
  for (const Job& job : jobs) {  // in order: ties go to the lower model and order
    if (job.size < best.size) best = {job.model, job.order, job.size};
    if (curves != nullptr) {
      std::fprintf(curves, "%s\t%d\t%d\t%llu\n", name.c_str(), job.model, job.order,
                   static_cast<unsigned long long>(job.size));
    }
  }
  if (curves != nullptr) std::fflush(curves);
  return best;
}

// The best of each data set in a file that --curves wrote, from its lines
// for orders `low` to `high`.
std::map<std::string, Best> read_curves(const char* path, int low, int high) {
  std::map<std::string, Best> best;
  std::map<std::string, int> count;
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return best;
  char name[4096];
  int model, order;
  unsigned long long size;
  while (std::fscanf(f, "%4095s %d %d %llu", name, &model, &order, &size) == 4) {
    if (order < low || order > high) continue;
    Best& b = best[name];
    ++count[name];
    // Ties go to the lower model and order, as in exhaustive_best.
    if (size < b.size ||
        (size == b.size && (model < b.model || (model == b.model && order < b.order)))) {
      b = {model, order, size};
    }
  }
  std::fclose(f);
  for (const auto& [name, n] : count) {
    if (n != moltavex::model_count * (high - low + 1)) best.erase(name);
  }
  return best;
}

int usage() {
  std::fprintf(stderr,
               "usage: moltavex_choice [--orders LO-HI] [--memlimit BYTES] [--curves FILE] "
               "[--best-from FILE] [--corpus DIR] [FILE...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int low = 8, high = 26;
  std::string corpus = mx::bench::corpus_dir();
  std::vector<std::string> files;
  moltavex::Options options;
  std::FILE* curves = nullptr;
  const char* best_from = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--orders" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d-%d", &low, &high) != 2 || low < 0 || high > 31 || low > high) {
        return usage();
      }
    } else if (arg == "--memlimit" && i + 1 < argc) {
      char* end = nullptr;
      options.memory_limit = std::strtoull(argv[++i], &end, 10);
      if (*end != '\0') return usage();
    } else if (arg == "--curves" && i + 1 < argc) {
      curves = std::fopen(argv[++i], "w");
      if (curves == nullptr) {
        std::fprintf(stderr, "moltavex_choice: cannot write %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--best-from" && i + 1 < argc) {
      best_from = argv[++i];
    } else if (arg == "--corpus" && i + 1 < argc) {
      corpus = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return usage();
    } else {
      files.push_back(arg);
    }
  }
  std::vector<DataSet> sets;
  if (files.empty()) {
    for (const std::string& name : mx::bench::corpus_names()) files.push_back(corpus + "/" + name);
  }
  for (const std::string& path : files) {
    DataSet set{path.substr(path.find_last_of('/') + 1), {}};
    if (!mx::bench::read_file(path, set.data)) {
      std::fprintf(stderr, "moltavex_choice: cannot read %s\n", path.c_str());
      return 2;
    }
    sets.push_back(std::move(set));
  }

  const std::map<std::string, Best> known =
      best_from != nullptr ? read_curves(best_from, low, high) : std::map<std::string, Best>{};
  std::printf("| file | bytes | best (orders %d-%d) | size | chosen | size | over best |\n", low,
              high);
  std::printf("|---|---:|---|---:|---|---:|---:|\n");
  std::uint64_t total_best = 0, total_chosen = 0;
  double worst = -100;
  for (const DataSet& set : sets) {
    const auto found = known.find(set.name);
    const Best best = found != known.end() ? found->second
                                           : exhaustive_best(set.name, set.data, low, high, curves);
    moltavex::Setting chosen;
    if (moltavex::choose_setting(set.data.data(), set.data.size(), &chosen, &options) !=
        moltavex::Status::ok) {
      std::fprintf(stderr, "moltavex_choice: no choice for %s\n", set.name.c_str());
      return 2;
    }
    const std::uint64_t size = compressed_size(set.data, chosen.model, chosen.order);
    const double over = 100.0 * (static_cast<double>(size) / static_cast<double>(best.size) - 1);
    worst = std::max(worst, over);
    total_best += best.size;
    total_chosen += size;
    std::printf("| %s | %zu | %d:%d | %llu | %d:%d | %llu | %+.2f%% |\n", set.name.c_str(),
                set.data.size(), best.model, best.order, static_cast<unsigned long long>(best.size),
                chosen.model, chosen.order, static_cast<unsigned long long>(size), over);
    std::fflush(stdout);
  }
  const double total_over =
      100.0 * (static_cast<double>(total_chosen) / static_cast<double>(total_best) - 1);
  std::printf("| total | | | %llu | | %llu | %+.2f%% |\n",
              static_cast<unsigned long long>(total_best),
              static_cast<unsigned long long>(total_chosen), total_over);
  const bool met = total_over <= 1.0 && worst <= 3.0;
  std::printf(
      "\nTargets (total within 1%%, every file within 3%% of its best): %s "
      "(total %+.2f%%, worst file %+.2f%%)\n",
      met ? "met" : "MISSED", total_over, worst);
  return met ? 0 : 1;
}
