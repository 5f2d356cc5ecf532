// The -T scheduler (see scheduler.h).
#include "cli/scheduler.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include "cli/job.h"
#include "cli/system.h"

namespace mx::cli {

namespace {

void print_report(const Job& job) {
  const std::string& text = job.report.text();
  if (!text.empty()) (void)sys::write(sys::Stream::error, text);
}

// Keeps the interrupting signals away from the calling thread while the
// workers run, so that one of them gets each signal: a worker blocked on a
// read (a FIFO, say) then wakes up to notice the stop flag.
class InterruptsElsewhere {
 public:
  InterruptsElsewhere() {
#if !defined(_WIN32)
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    blocked_ = pthread_sigmask(SIG_BLOCK, &set, &old_) == 0;
#endif
  }
  // Workers inherit the mask of the thread that starts them: they take it
  // back first thing.
  void allow_here() const {
#if !defined(_WIN32)
    if (blocked_) pthread_sigmask(SIG_SETMASK, &old_, nullptr);
#endif
  }
  ~InterruptsElsewhere() { allow_here(); }

 private:
#if !defined(_WIN32)
  sigset_t old_;
  bool blocked_ = false;
#endif
};

}  // namespace

void run_jobs(std::vector<Job>& jobs, RunContext& context, unsigned threads) {
  if (threads == 0) threads = std::thread::hardware_concurrency();
  if (threads == 0) threads = 1;
  if (threads == 1 || jobs.size() <= 1) {
    for (Job& job : jobs) {
      if (context.broken_pipe) break;
      run_job(job, context);
      print_report(job);
    }
    return;
  }

  // A pool of `threads` workers, each taking the next job in file order
  // when it fits, and the calling thread printing the reports in order: a
  // thread per job would cost more than a small file's coding.
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> done(jobs.size(), 0);
  unsigned running_threads = 0;
  std::uint64_t reserved = 0;
  const std::uint64_t limit = context.memory_limit;
  std::size_t next_start = 0;
  InterruptsElsewhere interrupts;

  struct Taken {
    std::size_t index;
    unsigned weight;
    std::uint64_t memory;
  };
  // Under the lock: the next job, when it may start now. Jobs skipped, or
  // not to start after a stop, are done at once.
  const auto take = [&](Taken& taken) {
    while (next_start < jobs.size()) {
      const Job& job = jobs[next_start];
      if (job.skipped || (context.stop != nullptr && *context.stop != 0)) {
        done[next_start++] = 1;
        changed.notify_all();
        continue;
      }
      const unsigned weight = job.weight < threads ? job.weight : threads;
      const std::uint64_t memory = job.memory > limit ? 0 : job.memory;
      const bool idle = running_threads == 0;
      const bool fits = running_threads + weight <= threads && memory <= limit - reserved;
      if (!idle && !fits) return false;
      running_threads += weight;
      reserved += memory;
      taken = {next_start++, weight, memory};
      return true;
    }
    return false;
  };
  const auto work = [&] {
    interrupts.allow_here();
    std::unique_lock<std::mutex> lock(mutex);
    while (next_start < jobs.size()) {
      Taken taken{};
      if (!take(taken)) {
        // Another job holds the threads or the memory this one needs.
        if (next_start < jobs.size()) changed.wait(lock);
        continue;
      }
      lock.unlock();
      run_job(jobs[taken.index], context);
      lock.lock();
      running_threads -= taken.weight;
      reserved -= taken.memory;
      done[taken.index] = 1;
      changed.notify_all();
    }
  };

  std::vector<std::thread> pool;
  const std::size_t workers = threads < jobs.size() ? threads : jobs.size();
  for (std::size_t i = 0; i < workers; ++i) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the workers started will do
    }
  }
  if (pool.empty()) work();  // no thread to be had: all here, then print

  // Print what is done, in file order.
  {
    std::unique_lock<std::mutex> lock(mutex);
    for (std::size_t next_print = 0; next_print < jobs.size();) {
      if (!done[next_print]) {
        // A signal cannot wake the condition: look at the flag now and then.
        changed.wait_for(lock, std::chrono::milliseconds(50));
        continue;
      }
      lock.unlock();
      print_report(jobs[next_print++]);
      lock.lock();
    }
  }
  for (std::thread& worker : pool) worker.join();
}

}  // namespace mx::cli
