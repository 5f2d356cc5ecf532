// The automatic choice of model and order, and the entry points that
// compress with it (their contract is in the public header).
//
// Trials are ordinary compressions of a sample held in memory, through the
// library's own entry point, so that a trial's stream is exactly the stream
// of that setting: on an input tried whole, the winning trial's stream is
// the result. The rounds of a SettingSearch (choose.h) run on two threads,
// the caller's and a helper; trials running at once together reserve at
// most the memory limit (a trial that would pass it waits for the other to
// end). Only the sizes decide, so the choice is the same however the
// trials were scheduled.
//
// Inputs up to one_stage_bytes get one full search on the whole input.
// Longer ones are chosen for in two stages:
//   1. a full search on a first sample (the first quarter of an input of
//      up to whole_input_bytes, else the first first_sample_bytes), its
//      tables capped (SettingSearch::capped_bytes_per_byte): it ranks the
//      models and places their orders;
//   2. a search over the finalists (the models within 1/finalist_margin of
//      the best there, at most SettingSearch::active_models) on a second
//      sample (the whole input, else the first second_sample_bytes), each
//      from its order on the first sample plus one;
// and on a longer input the order then rises by one for every fourfold of
// the input beyond the second sample, if it rose from the first sample to
// the second. The best order of a model grows with the data its tables
// must hold (by about one per fourfold on the data measured), while data
// whose best order does not grow (noise, compressed data) keeps its order.
// The result stays within the memory limit.
//
// mvx_compress_file_auto reads up to read_ahead_bytes before choosing, so that
// it knows the length of inputs up to that size wherever they come from,
// and then codes what it read followed by the rest of the input in one
// stream; the output is opened only once the choice is made.
#include "pipeline/choose.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "io/memory_streams.h"
#include "models/registry.h"
#include "pipeline/drivers.h"
#include "pipeline/record.h"

namespace mx {

namespace {

inline constexpr std::size_t one_stage_bytes = std::size_t{64} << 10;
inline constexpr std::size_t whole_input_bytes = std::size_t{1} << 20;
inline constexpr std::size_t first_sample_bytes = std::size_t{256} << 10;
inline constexpr std::size_t second_sample_bytes = std::size_t{1} << 20;
inline constexpr std::size_t read_ahead_bytes = std::size_t{16} << 20;

std::uint64_t table_bytes(int model, int order) {
  return model_table[model].info.table_bytes(order);
}

// Models within 1/finalist_margin of the best on a first sample go on to
// the second.
inline constexpr std::uint64_t finalist_margin = 20;

// The size class of a table: floor(log2(bytes)), bytes > 0.
int size_class(std::uint64_t bytes) {
  int size_class = 0;
  while (bytes >>= 1) ++size_class;
  return size_class;
}

}  // namespace

// ---------------------------------------------------------------------------
// The search
// ---------------------------------------------------------------------------

SettingSearch::SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit, bool capped)
    : cheap_bytes_(sample_bytes * cheap_bytes_per_byte),
      memory_limit_(memory_limit),
      table_cap_(capped ? sample_bytes * capped_bytes_per_byte : 0) {}

SettingSearch::SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit,
                             const std::vector<Setting>& starts)
    : SettingSearch(sample_bytes, memory_limit) {
  full_ = false;
  for (Setting start : starts) {
    start.order = std::clamp(start.order, 0, moltavex::max_order);
    while (start.order > 0 && !fits(start.model, start.order)) --start.order;
    if (fits(start.model, start.order)) starts_.push_back(start);
  }
}

bool SettingSearch::fits(int model, int order) const {
  if (order < 0 || order > moltavex::max_order) return false;
  const std::uint64_t tables = table_bytes(model, order);
  return (memory_limit_ == 0 || tables <= memory_limit_) &&
         (table_cap_ == 0 || tables <= table_cap_);
}

bool SettingSearch::beats(int model, int order, int other_model, int other_order) const {
  const std::uint64_t size = sizes_[model][order];
  const std::uint64_t other_size = sizes_[other_model][other_order];
  if (size != other_size) return size < other_size;
  const std::uint64_t tables = table_bytes(model, order);
  const std::uint64_t other_tables = table_bytes(other_model, other_order);
  if (tables != other_tables) return tables < other_tables;
  if (model != other_model) return model < other_model;
  return order < other_order;
}

int SettingSearch::best_order(int model) const {
  int best = -1;
  for (int order = 0; order <= moltavex::max_order; ++order) {
    if (succeeded(model, order) && (best < 0 || beats(model, order, model, best))) best = order;
  }
  return best;
}

bool SettingSearch::best(Setting* setting) const {
  int best_model = -1;
  int best = -1;
  for (int model = 0; model < moltavex::model_count; ++model) {
    const int order = best_order(model);
    if (order >= 0 && (best_model < 0 || beats(model, order, best_model, best))) {
      best_model = model;
      best = order;
    }
  }
  if (best_model < 0) return false;
  *setting = {best_model, best};
  return true;
}

void SettingSearch::record(Setting setting, std::uint64_t size) {
  // A stream holds at least its header byte, so 0 (untried) never comes.
  sizes_[setting.model][setting.order] = std::max<std::uint64_t>(size, 1);
}

std::vector<Setting> SettingSearch::sweep() const {
  std::vector<Setting> round;
  for (int model = 0; model < moltavex::model_count; ++model) {
    if (!fits(model, 0)) continue;
    int top = 0;
    while (fits(model, top + 1) && table_bytes(model, top + 1) <= cheap_bytes_) ++top;
    if (top >= sweep_step) round.push_back({model, top - sweep_step});
    round.push_back({model, top});
  }
  return round;
}

bool SettingSearch::active(int model, Setting leader) const {
  const int best = best_order(model);
  if (best < 0) return false;
  if (model == leader.model) return true;
  const std::uint64_t size = sizes_[model][best];
  const std::uint64_t lead = sizes_[leader.model][leader.order];
  if (size <= lead + lead / active_margin) return true;
  // Still falling at its highest order tried: at the pace of its last
  // step, would it reach the leader within projection_orders orders?
  for (int order = best + 1; order <= moltavex::max_order; ++order) {
    if (tried(model, order)) return false;
  }
  int below = best - 1;
  while (below >= 0 && !succeeded(model, below)) --below;
  if (below < 0) return false;
  const std::uint64_t fall =
      (sizes_[model][below] - size) / static_cast<std::uint64_t>(best - below);
  return size < lead + projection_orders * fall;
}

bool SettingSearch::affordable(int model, int order, Setting leader) const {
  const std::uint64_t tables = table_bytes(model, order);
  return tables <= cheap_bytes_ ||
         size_class(tables) <= size_class(table_bytes(leader.model, leader.order)) + 1;
}

std::vector<Setting> SettingSearch::next_round() {
  std::vector<Setting> round = propose();
  // The costliest first, so that the two threads finish close together.
  std::sort(round.begin(), round.end(), [](Setting a, Setting b) {
    const std::uint64_t ta = table_bytes(a.model, a.order);
    const std::uint64_t tb = table_bytes(b.model, b.order);
    if (ta != tb) return ta > tb;
    return a.model != b.model ? a.model < b.model : a.order < b.order;
  });
  return round;
}

std::vector<Setting> SettingSearch::propose() {
  std::vector<Setting> round;
  if (!started_) {
    started_ = true;
    if (full_) return sweep();
    return starts_;
  }
  Setting leader;
  if (!best(&leader)) return round;

  std::vector<int> models;
  for (int model = 0; model < moltavex::model_count; ++model) {
    if (active(model, leader)) models.push_back(model);
  }
  std::sort(models.begin(), models.end(),
            [this](int a, int b) { return beats(a, best_order(a), b, best_order(b)); });
  const std::size_t most = full_ ? active_models : active_finalists;
  if (models.size() > most) models.resize(most);

  for (const int model : models) {
    const int best = best_order(model);
    const auto open = [&](int order) {
      return fits(model, order) && !tried(model, order) && affordable(model, order, leader);
    };
    bool climbing = true;    // nothing tried above the best yet
    bool descending = true;  // nothing tried below it
    for (int order = 0; order <= moltavex::max_order; ++order) {
      if (order > best && tried(model, order)) climbing = false;
      if (order < best && tried(model, order)) descending = false;
    }
    bool up = open(best + 1);
    if (up && climbing) {
      // Sizes that have all but stopped falling are not worth larger tables.
      int below = best - 1;
      while (below >= 0 && !succeeded(model, below)) --below;
      const std::uint64_t size = sizes_[model][best];
      if (below >= 0 && sizes_[model][below] - size < size / flat_fraction) up = false;
    }
    if (up) round.push_back({model, best + 1});
    // While climbing, the order below waits: the sizes are still falling.
    // Going down, two orders at once: they cost less than the best.
    if (open(best - 1) && !(climbing && up)) {
      round.push_back({model, best - 1});
      if (descending && open(best - 2)) round.push_back({model, best - 2});
    }
  }
  return round;
}

// ---------------------------------------------------------------------------
// Running the trials
// ---------------------------------------------------------------------------

namespace {

struct Trial {
  Setting setting;
  std::uint64_t size = 0;
  Status status = Status::ok;
  std::vector<std::uint8_t> stream;  // kept only when asked for
};

// One trial compression of `data`, its stream kept or only counted.
void run_trial(Trial& trial, const std::uint8_t* data, std::size_t size, bool keep_stream,
               std::uint64_t memory_limit, platform::StopFlag stop) {
  MemorySource source{data, size};
  moltavex::Observer observer;
  observer.stop = stop;
  moltavex::Options options;
  options.memory_limit = memory_limit;
  options.size_hint = size;
  const Setting s = trial.setting;
  if (keep_stream) {
    // Room for the stream of incompressible data, so that it never moves
    // (this runs on the helper thread too: nothing may throw).
    try {
      trial.stream.reserve(size + size / 16 + 64);
    } catch (const std::bad_alloc&) {
      trial.status = Status::out_of_memory;
      return;
    }
    VectorSink sink{&trial.stream};
    trial.status = moltavex::compress_stream(&MemorySource::read, &source, &VectorSink::write,
                                             &sink, s.model, s.order, &observer, &options);
    if (sink.out_of_memory) trial.status = Status::out_of_memory;
    trial.size = trial.stream.size();
  } else {
    CountingSink sink;
    trial.status = moltavex::compress_stream(&MemorySource::read, &source, &CountingSink::write,
                                             &sink, s.model, s.order, &observer, &options);
    trial.size = sink.bytes;
  }
}

// Runs the trials on the calling thread and one helper (just the calling
// thread when no thread can be started), at most `memory_limit` bytes of
// tables reserved at once (0: no limit). Both threads watch the caller's
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
      released.wait(lock, [&] {
        return memory_limit == 0 || reserved == 0 || bytes <= memory_limit - reserved;
      });
      reserved += bytes;
      lock.unlock();
      run_trial(trial, data, size, keep_streams, memory_limit, stop);
      lock.lock();
      reserved -= bytes;
      released.notify_all();
    }
  };
  std::thread helper;
  try {
    helper = std::thread(work);
  } catch (const std::system_error&) {
    // One thread does all the work.
  }
  work();
  if (helper.joinable()) helper.join();
}

// Runs a search to its end on `data`. The best trial's stream goes to
// `*stream` when asked for. ok, interrupted, or out_of_memory when no trial
// could get its tables.
Status run_search(SettingSearch& search, const std::uint8_t* data, std::size_t size,
                  std::uint64_t memory_limit, platform::StopFlag stop, Setting* chosen,
                  std::vector<std::uint8_t>* stream) {
  for (;;) {
    const std::vector<Setting> round = search.next_round();
    if (round.empty()) break;
    std::vector<Trial> trials(round.size());
    for (std::size_t i = 0; i < round.size(); ++i) trials[i].setting = round[i];
    run_trials(trials, data, size, stream != nullptr, memory_limit, stop);
    for (Trial& trial : trials) {
      // Tables that could not be had beside another trial's (under an
      // address-space limit, say) get a second chance alone, so that
      // whether a trial fails does not hang on which ran beside it.
      if (trial.status == Status::out_of_memory && trials.size() > 1) {
        trial.stream.clear();
        trial.status = Status::ok;
        run_trial(trial, data, size, stream != nullptr, memory_limit, stop);
      }
    }
    for (const Trial& trial : trials) {
      if (trial.status == Status::ok) {
        search.record(trial.setting, trial.size);
      } else if (trial.status == Status::out_of_memory) {
        search.record(trial.setting, trial_failed);
      } else {
        return trial.status;
      }
    }
    // The best can only have changed to a trial of this round.
    Setting best;
    if (stream != nullptr && search.best(&best)) {
      for (Trial& trial : trials) {
        if (trial.setting.model == best.model && trial.setting.order == best.order) {
          *stream = std::move(trial.stream);
        }
      }
    }
  }
  return search.best(chosen) ? Status::ok : Status::out_of_memory;
}

struct Choice {
  Setting setting;
  bool whole = false;                // tried whole: `stream` is the result
  std::vector<std::uint8_t> stream;  // when whole and asked for
};

// The models that did nearly as well as the best on a first sample, best
// first, each at its best order there plus one: the larger sample's tables
// hold more contexts (see the top of the file).
std::vector<Setting> finalists(const SettingSearch& search) {
  std::vector<Setting> models;
  Setting leader;
  if (!search.best(&leader)) return models;
  const std::uint64_t lead = search.size(leader);
  for (int model = 0; model < moltavex::model_count; ++model) {
    const int order = search.best_order(model);
    if (order >= 0 && search.size({model, order}) <= lead + lead / finalist_margin) {
      models.push_back({model, order});
    }
  }
  std::sort(models.begin(), models.end(), [&search](Setting a, Setting b) {
    const std::uint64_t sa = search.size(a), sb = search.size(b);
    return sa != sb ? sa < sb : a.model < b.model;
  });
  if (models.size() > SettingSearch::active_models) models.resize(SettingSearch::active_models);
  for (Setting& model : models) ++model.order;
  return models;
}

// Chooses for an input of `total_size` bytes of which the first
// `available` are at `data` (all of them when total_size is at most
// whole_input_bytes, at least second_sample_bytes otherwise).
Status choose(const std::uint8_t* data, std::size_t available, std::uint64_t total_size,
              bool keep_stream, std::uint64_t memory_limit, platform::StopFlag stop,
              Choice& choice) {
  std::vector<std::uint8_t>* const stream = keep_stream ? &choice.stream : nullptr;
  choice.whole = total_size <= whole_input_bytes;
  if (total_size <= one_stage_bytes) {
    SettingSearch search(available, memory_limit);
    return run_search(search, data, available, memory_limit, stop, &choice.setting, stream);
  }
  const std::size_t first = choice.whole ? available / 4 : first_sample_bytes;
  const std::size_t second = choice.whole ? available : second_sample_bytes;
  SettingSearch models(first, memory_limit, true);
  Setting on_first;
  Status status = run_search(models, data, first, memory_limit, stop, &on_first, nullptr);
  if (status != Status::ok) return status;
  SettingSearch orders(second, memory_limit, finalists(models));
  status = run_search(orders, data, second, memory_limit, stop, &choice.setting,
                      choice.whole ? stream : nullptr);
  if (status != Status::ok || choice.whole) return status;

  // Beyond the second sample: one order more per fourfold, for a model
  // whose order rose from the first sample to the second.
  const int model = choice.setting.model;
  const int base = choice.setting.order;
  if (base > models.best_order(model)) {
    int fourfolds = 0;
    for (std::uint64_t covered = second; covered <= total_size / 4; covered *= 4) ++fourfolds;
    int order = std::min(base + fourfolds, moltavex::max_order);
    while (order > base && memory_limit != 0 && table_bytes(model, order) > memory_limit) --order;
    choice.setting.order = order;
  }
  return Status::ok;
}

// Hands a finished stream to `writer` as a compression job would: the
// observer hears the start and the progress (`reader` supplies the input
// count), and the output is closed and published at the end.
Status emit_stream(const std::vector<std::uint8_t>& stream, Setting setting, ByteReader& reader,
                   ByteWriter& writer, const Observer* observer) {
  JobWatch watch;
  watch_streams(watch, observer, reader, writer);
  if (observer != nullptr && observer->started != nullptr) {
    observer->started(observer->context, false, model_table[setting.model].info.name);
  }
  std::size_t done = 0;
  while (done < stream.size() && !writer.failed) {
    StreamWindow<std::uint8_t> window = writer_window(writer);
    if (window.size == 0) {
      writer_drain(writer);
      continue;
    }
    const std::size_t n = std::min(window.size, stream.size() - done);
    std::memcpy(window.data, stream.data() + done, n);
    writer_produce(writer, n);
    done += n;
  }
  reader_close(reader);
  if (writer_close(writer)) writer_publish(writer);
  return stream_status(reader, writer);
}

// What the final pass of a long input reads: the bytes read ahead, then
// the rest of the input.
struct ReadAhead {
  const std::vector<std::uint8_t>* head = nullptr;
  std::size_t offset = 0;
  ByteReader* rest = nullptr;

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<ReadAhead*>(context);
    if (self->offset < self->head->size()) {
      const std::size_t n = std::min(size, self->head->size() - self->offset);
      std::memcpy(buffer, self->head->data() + self->offset, n);
      self->offset += n;
      return static_cast<std::int64_t>(n);
    }
    ByteReader& rest = *self->rest;
    if (reader_peek(rest) < 0) return rest.failed ? -1 : 0;
    const StreamWindow<const std::uint8_t> window = reader_window(rest);
    const std::size_t n = std::min(size, window.size);
    std::memcpy(buffer, window.data, n);
    reader_consume(rest, n);
    return static_cast<std::int64_t>(n);
  }
};

// Reads up to `limit` bytes of `reader` into `head`; true when the input
// ended within them (check reader.failed for a failure).
bool read_ahead(ByteReader& reader, std::size_t limit, std::vector<std::uint8_t>& head) {
  while (head.size() < limit) {
    if (reader_peek(reader) < 0) return !reader.failed;
    const StreamWindow<const std::uint8_t> window = reader_window(reader);
    const std::size_t n = std::min(window.size, limit - head.size());
    head.insert(head.end(), window.data, window.data + n);
    reader_consume(reader, n);
  }
  return reader_peek(reader) < 0 && !reader.failed;
}

}  // namespace

}  // namespace mx

namespace {

using moltavex::Status;

using mx::c_status;

}  // namespace

extern "C" {

MVX_API mvx_status mvx_choose_setting(const void* src, size_t size, mvx_setting* chosen,
                                      const mvx_options* options) {
  if (chosen == nullptr || (src == nullptr && size != 0)) return MVX_INVALID_ARGUMENT;
  try {
    mx::Choice choice;
    const Status status = mx::choose(static_cast<const std::uint8_t*>(src), size, size, false,
                                     mx::memory_limit_of(options), nullptr, choice);
    if (status == Status::ok) *chosen = choice.setting;
    return c_status(status);
  } catch (const std::bad_alloc&) {
    return MVX_OUT_OF_MEMORY;
  }
}

MVX_API mvx_status mvx_compress_auto(const void* src, size_t size, void* dst, size_t capacity,
                                     size_t* written, mvx_setting* chosen,
                                     const mvx_observer* observer, const mvx_options* options) {
  if (written != nullptr) *written = 0;
  if ((src == nullptr && size != 0) || (dst == nullptr && capacity != 0) || written == nullptr) {
    return MVX_INVALID_ARGUMENT;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(src);
  try {
    mx::Choice choice;
    Status status = mx::choose(bytes, size, size, true, mx::memory_limit_of(options),
                               mx::stop_flag_of(observer), choice);
    if (status != Status::ok) return c_status(status);
    if (chosen != nullptr) *chosen = choice.setting;
    mx::BufferSink sink{static_cast<std::uint8_t*>(dst), capacity};
    mx::MemorySource source{bytes, size};
    mx::ByteReader reader;
    mx::ByteWriter writer;
    status = mx::writer_open_function(writer, &mx::BufferSink::write, &sink);
    if (status == Status::ok && choice.whole) {
      if (mx::checksum_of(options)) mx::append_record(choice.stream, bytes, size);
      reader.bytes_read = size;  // never read: it counts the input for the observer
      status = mx::emit_stream(choice.stream, choice.setting, reader, writer, observer);
    } else if (status == Status::ok) {
      status = mx::reader_open_function(reader, &mx::MemorySource::read, &source);
      reader.expected_bytes = size;
      if (status == Status::ok) {
        status =
            mx::compress_streams(reader, writer, choice.setting.model, choice.setting.order,
                                 observer, mx::memory_limit_of(options), mx::checksum_of(options));
      }
    }
    *written = sink.length;
    return sink.too_small ? MVX_OUTPUT_TOO_SMALL : c_status(status);
  } catch (const std::bad_alloc&) {
    return MVX_OUT_OF_MEMORY;
  }
}

MVX_API mvx_status mvx_compress_file_auto(const char* input_name, const char* output_name,
                                          mvx_setting* chosen, const mvx_observer* observer,
                                          const mvx_options* options) {
  if (input_name == nullptr || output_name == nullptr) return MVX_INVALID_ARGUMENT;
  const mx::platform::StopFlag stop = mx::stop_flag_of(observer);
  const std::uint64_t memory_limit = mx::memory_limit_of(options);
  try {
    mx::StreamPair pair;
    Status status = mx::open_input_stream(input_name, pair.reader, stop);
    if (status != Status::ok) return c_status(status);

    // Reading ahead and the trials answer to the stop flag only.
    mvx_observer stop_only{};
    stop_only.stop = stop;
    mx::JobWatch ahead_watch;
    mx::watch_streams(ahead_watch, &stop_only, pair.reader, pair.writer);
    // A regular file's size (also on standard input) sizes the buffer and
    // tells the length of an input longer than it.
    const mx::platform::FileId id = mx::platform::identify(pair.reader.handle);
    const std::uint64_t file_size = id.valid && id.regular ? id.size : 0;
    std::vector<std::uint8_t> head;
    head.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(file_size, mx::read_ahead_bytes)));
    const bool ended = mx::read_ahead(pair.reader, mx::read_ahead_bytes, head);
    if (pair.reader.failed) return c_status(mx::stream_status(pair.reader, pair.writer));
    const std::uint64_t total_size =
        ended ? head.size() : std::max<std::uint64_t>(head.size(), file_size);

    mx::Choice choice;
    status = mx::choose(head.data(), head.size(), total_size, true, memory_limit, stop, choice);
    if (status != Status::ok) return c_status(status);
    if (chosen != nullptr) *chosen = choice.setting;

    status = mx::open_output_stream(output_name, pair.reader, pair.writer, stop);
    if (status != Status::ok) return c_status(status);
    if (choice.whole) {
      if (mx::checksum_of(options)) mx::append_record(choice.stream, head.data(), head.size());
      return c_status(
          mx::emit_stream(choice.stream, choice.setting, pair.reader, pair.writer, observer));
    }
    mx::ReadAhead source{&head, 0, &pair.reader};
    mx::ByteReader reader;
    status = mx::reader_open_function(reader, &mx::ReadAhead::read, &source);
    if (status != Status::ok) return c_status(status);
    reader.expected_bytes = total_size;
    return c_status(mx::compress_streams(reader, pair.writer, choice.setting.model,
                                         choice.setting.order, observer, memory_limit,
                                         mx::checksum_of(options)));
  } catch (const std::bad_alloc&) {
    return MVX_OUT_OF_MEMORY;
  }
}

}  // extern "C"

// Speed
//
// The cost of a trial is the coding of its sample plus the first touches
// of the table pages it uses, which beyond a few MiB of tables can
// outweigh the coding many times over. Hence the sweep at "cheap" orders,
// the first sample that ranks the models at a quarter of the cost, the
// rule that no trial's tables exceed the leader's by more than one size
// class, and the climb one order at a time: a losing trial costs at most
// about twice a compression with the leader. bench/README.md has the
// measurements.
