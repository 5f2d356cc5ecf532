// moltavex_choice: how close the automatic choice comes to the best
// setting.
//
//   moltavex_choice [--orders LO-HI] [--corpus DIR] [FILE...]
//
// For each data set (default: every corpus file) it compresses the data in
// memory with every model at every order from LO to HI (default 8-26),
// counting the bytes only, on two threads, and takes the best setting; then
// it asks choose_setting for its choice and compresses with it. The choice
// may lie outside LO-HI, and then may beat the best found there.
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

// Every model at every order from `low` to `high`, on two threads.
Best exhaustive_best(const Bytes& data, int low, int high) {
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
  }
  return best;
}

int usage() {
  std::fprintf(stderr, "usage: moltavex_choice [--orders LO-HI] [--corpus DIR] [FILE...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int low = 8, high = 26;
  std::string corpus = mx::bench::corpus_dir();
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--orders" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d-%d", &low, &high) != 2 || low < 0 || high > 31 || low > high) {
        return usage();
      }
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

  std::printf("| file | bytes | best (orders %d-%d) | size | chosen | size | over best |\n", low,
              high);
  std::printf("|---|---:|---|---:|---|---:|---:|\n");
  std::uint64_t total_best = 0, total_chosen = 0;
  double worst = -100;
  for (const DataSet& set : sets) {
    const Best best = exhaustive_best(set.data, low, high);
    moltavex::Setting chosen;
    if (moltavex::choose_setting(set.data.data(), set.data.size(), &chosen) !=
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
