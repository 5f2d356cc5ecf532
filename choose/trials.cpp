#include "choose/trials.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "choose/plain_costs.h"
#include "io/memory_streams.h"
#include "io/streams.h"
#include "pipeline/drivers.h"

namespace mx {

namespace {

struct Trial {
  Setting setting;
  std::uint64_t paged_bytes = 0;  // the data size the page policy is told
  std::uint64_t size = 0;
  Status status = Status::ok;
  std::vector<std::uint8_t> stream;  // kept only when asked for
  std::vector<int> cost_orders;      // model 1's, up to the trial's order
  std::vector<std::uint64_t> costs;
};

void read_plain_costs(void* context, unsigned char* tables) {
  Trial& trial = *static_cast<Trial*>(context);
  plain_costs(tables, trial.setting.order, trial.cost_orders, trial.costs);
}

// One trial compression of `data`, its stream kept or only counted.
void run_trial(Trial& trial, const std::uint8_t* data, std::size_t size, bool keep_stream,
               std::uint64_t memory_limit, platform::StopFlag stop) {
  MemorySource source{data, size};
  mvx_observer observer{};
  observer.stop = stop;
  ByteReader reader;
  ByteWriter writer;
  VectorSink kept{&trial.stream};
  CountingSink counted;
  // Room for the stream of incompressible data, so that it never moves,
  // and for the costs (this runs on the helper thread too: nothing may
  // throw).
  try {
    if (keep_stream) trial.stream.reserve(size + size / 16 + 64);
    trial.costs.reserve(trial.cost_orders.size());
  } catch (const std::bad_alloc&) {
    trial.status = Status::out_of_memory;
    return;
  }
  trial.status = reader_open_function(reader, &MemorySource::read, &source);
  // The search picks the tables' pages from the sample's size, as for any
  // job of known size, or from the entries its contexts touch.
  reader.expected_bytes = trial.paged_bytes;
  if (trial.status == Status::ok) {
    trial.status = keep_stream ? writer_open_function(writer, &VectorSink::write, &kept)
                               : writer_open_function(writer, &CountingSink::write, &counted);
  }
  const TablesSeen costs{&read_plain_costs, &trial};
  if (trial.status == Status::ok) {
    trial.status =
        compress_streams(reader, writer, trial.setting.model, trial.setting.order, &observer,
                         memory_limit, false, trial.cost_orders.empty() ? nullptr : &costs);
  }
  if (kept.out_of_memory) trial.status = Status::out_of_memory;
  trial.size = keep_stream ? trial.stream.size() : counted.bytes;
}

// Trials of less data than this run on the calling thread alone: starting
// and joining a helper costs more than such a trial (many small files at a
// level try two settings each).
constexpr std::size_t helper_from_bytes = std::size_t{64} << 10;

// Runs the trials on the calling thread and one helper (just the calling
// thread for one trial, for less than helper_from_bytes of data, or when no
// thread can be started), at most `memory_limit` bytes of
// tables reserved at once (no_memory_limit: none). Both threads watch the caller's
// stop flag, a volatile sig_atomic_t that a signal handler (or, on
// Windows, the console's control thread) may raise while they run: it is
// read and written whole, and a raised flag stops each trial at its next
// block.
void run_trials(std::vector<Trial>& trials, const std::uint8_t* data, std::size_t size,
                bool keep_streams, std::uint64_t memory_limit, platform::StopFlag stop) {
  std::mutex mutex;
  std::condition_variable released;
  std::size_t next = 0;
  std::uint64_t reserved = 0;
  const auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (next < trials.size()) {
      Trial& trial = trials[next++];
      const std::uint64_t bytes = table_bytes(trial.setting.model, trial.setting.order);
      released.wait(lock, [&] { return reserved == 0 || bytes <= memory_limit - reserved; });
      reserved += bytes;
      lock.unlock();
      run_trial(trial, data, size, keep_streams, memory_limit, stop);
      lock.lock();
      reserved -= bytes;
      released.notify_all();
    }
  };
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  // A build without threads (WebAssembly) cannot start one, and would abort
  // on the exception: the calling thread does all the work.
  work();
#else
  std::thread helper;
  if (trials.size() > 1 && size >= helper_from_bytes) {
    try {
      helper = std::thread(work);
    } catch (const std::system_error&) {
      // One thread does all the work.
    }
  }
  work();
  if (helper.joinable()) helper.join();
#endif
}

}  // namespace

Status run_round(const std::vector<Setting>& round, const std::vector<std::uint64_t>& paged_bytes,
                 const std::uint8_t* data, std::size_t size, std::uint64_t memory_limit,
                 platform::StopFlag stop, bool keep_streams, std::vector<TrialResult>& results,
                 const std::vector<int>& cost_orders) {
  std::vector<Trial> trials(round.size());
  for (std::size_t i = 0; i < round.size(); ++i) {
    trials[i].setting = round[i];
    trials[i].paged_bytes = paged_bytes[i];
    if (round[i].model == 1) {
      for (const int order : cost_orders) {
        if (order <= round[i].order) trials[i].cost_orders.push_back(order);
      }
    }
  }
  run_trials(trials, data, size, keep_streams, memory_limit, stop);
  for (Trial& trial : trials) {
    // Tables that could not be had beside another trial's (under an
    // address-space limit, say) get a second chance alone, so that
    // whether a trial fails does not hang on which ran beside it.
    if (trial.status == Status::out_of_memory && trials.size() > 1) {
      trial.stream.clear();
      trial.status = Status::ok;
      run_trial(trial, data, size, keep_streams, memory_limit, stop);
    }
  }
  results.clear();
  results.resize(trials.size());
  for (std::size_t i = 0; i < trials.size(); ++i) {
    Trial& trial = trials[i];
    if (trial.status == Status::ok) {
      results[i].size = trial.size;
      results[i].stream = std::move(trial.stream);
      results[i].plain_costs = std::move(trial.costs);
    } else if (trial.status == Status::out_of_memory) {
      results[i].size = trial_failed;
    } else {
      return trial.status;
    }
  }
  return Status::ok;
}

Status run_search(SettingSearch& search, const std::uint8_t* data, std::size_t size,
                  std::uint64_t memory_limit, platform::StopFlag stop, Setting* chosen,
                  std::vector<std::uint8_t>* stream,
                  const std::function<void(SettingSearch&)>& count_contexts) {
  bool counted = !count_contexts;
  for (;;) {
    const std::vector<Setting> round = search.next_round();
    if (round.empty()) break;
    if (!counted && std::any_of(round.begin(), round.end(), [&search](Setting setting) {
          return search.wants_contexts(setting);
        })) {
      counted = true;
      count_contexts(search);
    }
    std::vector<std::uint64_t> paged_bytes(round.size());
    for (std::size_t i = 0; i < round.size(); ++i) paged_bytes[i] = search.paged_bytes(round[i]);
    std::vector<TrialResult> results;
    const Status status =
        run_round(round, paged_bytes, data, size, memory_limit, stop, stream != nullptr, results);
    if (status != Status::ok) return status;
    for (std::size_t i = 0; i < round.size(); ++i) search.record(round[i], results[i].size);
    // The best can only have changed to a trial of this round.
    Setting best;
    if (stream != nullptr && search.best(&best)) {
      for (std::size_t i = 0; i < round.size(); ++i) {
        if (round[i].model == best.model && round[i].order == best.order) {
          *stream = std::move(results[i].stream);
        }
      }
    }
  }
  return search.best(chosen) ? Status::ok : Status::out_of_memory;
}

}  // namespace mx
