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

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> done(jobs.size(), 0);
  std::vector<std::thread> workers(jobs.size());
  unsigned running_threads = 0;
  std::uint64_t reserved = 0;
  const std::uint64_t limit = context.memory_limit;
  InterruptsElsewhere interrupts;

  std::size_t next_start = 0, next_print = 0;
  std::unique_lock<std::mutex> lock(mutex);
  while (next_print < jobs.size()) {
    // Start what fits, in file order.
    while (next_start < jobs.size()) {
      Job& job = jobs[next_start];
      if (job.skipped || (context.stop != nullptr && *context.stop != 0)) {
        done[next_start++] = 1;
        continue;
      }
      const unsigned weight = job.weight < threads ? job.weight : threads;
      const std::uint64_t memory = job.memory > limit ? 0 : job.memory;
      const bool idle = running_threads == 0;
      const bool fits = running_threads + weight <= threads && memory <= limit - reserved;
      if (!idle && !fits) break;
      running_threads += weight;
      reserved += memory;
      const std::size_t index = next_start++;
      auto work = [&, index, weight, memory] {
        interrupts.allow_here();
        run_job(jobs[index], context);
        std::lock_guard<std::mutex> guard(mutex);
        running_threads -= weight;
        reserved -= memory;
        done[index] = 1;
        changed.notify_all();
      };
      try {
        workers[index] = std::thread(work);
      } catch (const std::system_error&) {
        // No thread to be had: the job runs here, the others wait.
        lock.unlock();
        work();
        lock.lock();
      }
    }
    // Print what is done, in file order.
    bool printed = false;
    while (next_print < next_start && done[next_print]) {
      const std::size_t index = next_print++;
      lock.unlock();
      if (workers[index].joinable()) workers[index].join();
      print_report(jobs[index]);
      lock.lock();
      printed = true;
    }
    if (next_print == jobs.size()) break;
    // A job that ended while the lock was free for printing went unheard:
    // start what now fits before waiting.
    if (printed) continue;
    // A signal cannot wake the condition: look at the flag now and then.
    changed.wait_for(lock, std::chrono::milliseconds(50));
  }
}

}  // namespace mx::cli
