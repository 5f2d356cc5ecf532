// The levels MVX_LEVEL_MIN..MVX_LEVEL_MAX: the one home of their table
// (the row of each level, its setting for an input of unknown length) and
// of the rule that fits a level to an input of known length and to a
// memory limit. bench/README.md ("Levels") has the measurements behind
// both.
//
// The rule, for an input of known length:
//   - every order is capped by the length (length_cap()), so that a small
//     input never gets tables it cannot fill, and lowered until its tables
//     fit the memory limit;
//   - a level chooses among the rows of every level up to itself (so
//     capped), on the whole input up to whole_bytes, else on a sample
//     spread over it, and keeps the smallest: model 1's orders from one
//     trial at the highest, whose counters tell what every lower order
//     would code to (trials of its own only for a close call), then the
//     Combined Model's up while each step gains. Either way a higher
//     level's candidates include every lower one's (see choose_level()),
//     so sizes do not rise with the level on the data tried, and a level
//     codes the input about once where it does not climb.
// For an unknown length, a level is its row, lowered to fit the limit.
#include "api/levels.h"

#include <algorithm>
#include <vector>

#include "api/options.h"
#include "choose/plain_costs.h"
#include "choose/trials.h"
#include "moltavex/moltavex.h"

namespace mx::api {

namespace {

constexpr Setting levels[MVX_LEVEL_MAX - MVX_LEVEL_MIN + 1] = {
    {1, 12}, {1, 16}, {1, 18}, {1, 20}, {1, 22}, {5, 20}, {5, 21}, {5, 22}, {5, 23},
};

static_assert(MVX_LEVEL_DEFAULT >= MVX_LEVEL_MIN && MVX_LEVEL_DEFAULT <= MVX_LEVEL_MAX,
              "the default level is a level");

// The highest level of the Simple Bitwise Model, whose model every level
// falls back on when the Combined Model does not fit the limit.
constexpr int last_plain_level = 5;
// Inputs up to whole_bytes are tried whole, and the winning trial's stream
// is the result; longer ones on a sample of sample_bytes, in sample_pieces
// pieces spread evenly over what was read ahead.
constexpr std::size_t whole_bytes = std::size_t{1} << 20;
constexpr std::size_t sample_bytes = std::size_t{1} << 20;
constexpr std::size_t sample_pieces = 8;
// The Combined Model climbs only when its first order comes within
// 1/climb_margin of model 1's best, and stops after an order that gains
// less than 1/flat_fraction.
constexpr std::uint64_t climb_margin = 32;
constexpr std::uint64_t flat_fraction = 1024;
// A lower order of model 1 whose cost comes within close_call_bits plus
// 1/close_call_fraction of the least gets a trial of its own: a stream's
// body is its cost plus the coder's finish, 4 to 7 bytes less what the
// cost's last byte left over (typically 4).
constexpr std::uint64_t typical_finish_bits = 32;
constexpr std::uint64_t close_call_bits = 64;
constexpr std::uint64_t close_call_fraction = 4096;
constexpr std::uint64_t plain_cost_unit = std::uint64_t{1} << cost_fraction_bits;

Setting row(int level) { return levels[level - MVX_LEVEL_MIN]; }

// The highest order worth its tables on `total_size` bytes: for the
// Combined Model, whose order is its hash's reach as well as its table,
// the lowest whose table has an entry for every coded bit, room for a
// hash; for the Simple Bitwise Model, whose order is the length of its
// context, the highest with no more entries than coded bits. An input
// touches no more entries than it codes bits.
int length_cap(int model, std::uint64_t total_size) {
  // Coded bits: the transform adds at most its end marker.
  const std::uint64_t bits = 8 * (total_size + 3);
  int order = 0;
  if (model == 1) {
    while (order < max_order && (std::uint64_t{2} << order) <= bits) ++order;
  } else {
    while (order < max_order && (std::uint64_t{1} << order) < bits) ++order;
  }
  return order;
}

// `setting` with its order capped by the length (0: unknown) and lowered to
// fit `memory_limit` (0: none); false when not even order 0 fits.
bool fit(Setting& setting, std::uint64_t total_size, std::uint64_t memory_limit) {
  if (total_size != 0) {
    setting.order = std::min(setting.order, length_cap(setting.model, total_size));
  }
  while (setting.order >= 0 && memory_limit != 0 &&
         table_bytes(setting.model, setting.order) > memory_limit) {
    --setting.order;
  }
  return setting.order >= 0;
}

// A level's candidates on an input of `total_size` bytes: the rows of the
// levels up to this one, fitted, model 1's orders and then the Combined
// Model's, each distinct and rising (a level's candidates are the first of
// the next level's). For an unknown length, the level's row alone. Empty
// when nothing fits the limit.
std::vector<Setting> candidates(int level, std::uint64_t total_size, std::uint64_t memory_limit) {
  std::vector<Setting> settings;
  if (total_size == 0) {
    // A row of the Combined Model that cannot fit at all falls back on
    // level 5's model.
    for (Setting own : {row(level), row(last_plain_level)}) {
      if (fit(own, 0, memory_limit)) {
        settings.push_back(own);
        break;
      }
    }
    return settings;
  }
  for (int lower = MVX_LEVEL_MIN; lower <= level; ++lower) {
    Setting setting = row(lower);
    if (fit(setting, total_size, memory_limit) &&
        (settings.empty() || setting.model != settings.back().model ||
         setting.order > settings.back().order)) {
      settings.push_back(setting);
    }
  }
  return settings;
}

// Up to sample_pieces pieces of data[0, size), sample_bytes in all, evenly
// spread: data of several kinds one after the other is sampled in each.
std::vector<std::uint8_t> spread_sample(const std::uint8_t* data, std::size_t size) {
  if (size <= sample_bytes) return {data, data + size};
  std::vector<std::uint8_t> sample;
  sample.reserve(sample_bytes);
  const std::size_t piece = sample_bytes / sample_pieces;
  for (std::size_t i = 0; i < sample_pieces; ++i) {
    const std::size_t at = (size - piece) / (sample_pieces - 1) * i;
    sample.insert(sample.end(), data + at, data + at + piece);
  }
  return sample;
}

// Whether a trial of `a`, `size_a` bytes, beats one of `b`: the shorter
// stream, then the smaller tables, the lower model, the lower order.
bool beats(Setting a, std::uint64_t size_a, Setting b, std::uint64_t size_b) {
  if (size_a != size_b) return size_a < size_b;
  const std::uint64_t tables_a = table_bytes(a.model, a.order);
  const std::uint64_t tables_b = table_bytes(b.model, b.order);
  if (tables_a != tables_b) return tables_a < tables_b;
  return a.model != b.model ? a.model < b.model : a.order < b.order;
}

}  // namespace

bool level_without_trials(int level, std::uint64_t total_size, std::uint64_t memory_limit,
                          Setting& setting, Status& status) {
  const std::vector<Setting> settings = candidates(level, total_size, memory_limit);
  status = settings.empty() ? Status::memory_limit : Status::ok;
  if (settings.size() > 1) return false;
  if (!settings.empty()) setting = settings.front();
  return true;
}

Status choose_level(int level, const std::uint8_t* data, std::size_t available,
                    std::uint64_t total_size, std::uint64_t memory_limit, platform::StopFlag stop,
                    bool keep_stream, Choice& choice) {
  choice.whole = false;
  choice.stream.clear();
  const std::vector<Setting> settings = candidates(level, total_size, memory_limit);
  if (settings.empty()) return Status::memory_limit;
  choice.setting = settings.front();
  if (settings.size() == 1) return Status::ok;

  const bool whole = total_size <= whole_bytes && available == total_size;
  std::vector<std::uint8_t> sample;
  if (!whole) sample = spread_sample(data, std::min(available, read_ahead_bytes));
  const std::uint8_t* tried = whole ? data : sample.data();
  const std::size_t tried_size = whole ? available : sample.size();
  const bool keep = keep_stream && whole;

  std::vector<std::uint64_t> sizes(settings.size(), trial_failed);
  std::vector<std::vector<std::uint8_t>> streams(settings.size());
  // Model 1's orders are the first `plain` candidates, rising.
  const std::size_t count = settings.size();
  std::size_t plain = 0;
  while (plain < count && settings[plain].model == settings.front().model) ++plain;
  const std::size_t top = plain - 1;
  std::vector<int> lower_orders;
  for (std::size_t i = 0; i < top; ++i) lower_orders.push_back(settings[i].order);
  std::vector<std::uint64_t> costs;
  const auto run = [&](const std::vector<std::size_t>& which) {
    std::vector<Setting> round;
    for (const std::size_t i : which) round.push_back(settings[i]);
    const std::vector<std::uint64_t> paged(round.size(), tried_size);
    std::vector<TrialResult> results;
    const Status status =
        run_round(round, paged, tried, tried_size, memory_limit, stop, keep, results, lower_orders);
    for (std::size_t r = 0; status == Status::ok && r < which.size(); ++r) {
      sizes[which[r]] = results[r].size;
      streams[which[r]] = std::move(results[r].stream);
      if (which[r] == top) costs = std::move(results[r].plain_costs);
    }
    return status;
  };
  // A trial of model 1's highest order (beside the Combined Model's first,
  // if the level has it), whose counters tell what each lower order would
  // have coded to (choose/plain_costs.h); then trials of the lower orders
  // whose cost comes within a close call of the least, the highest order's
  // counted as its stream's body less a typical finish, so that a close
  // call goes to the streams themselves. A higher level's orders include a
  // lower one's, so its least cost is no higher, and the streams follow
  // the costs to within a close call.
  Status status =
      run(plain < count ? std::vector<std::size_t>{top, plain} : std::vector<std::size_t>{top});
  if (status != Status::ok) return status;
  std::vector<std::size_t> close;
  if (sizes[top] == trial_failed || costs.size() != top) {
    for (std::size_t i = 0; i < top; ++i) close.push_back(i);  // no counters to read
  } else if (top > 0) {
    const std::uint64_t top_body = (sizes[top] - 1) * 8 * plain_cost_unit;
    const std::uint64_t top_cost = top_body > typical_finish_bits * plain_cost_unit
                                       ? top_body - typical_finish_bits * plain_cost_unit
                                       : 0;
    const std::uint64_t least = std::min(top_cost, *std::min_element(costs.begin(), costs.end()));
    const std::uint64_t margin = close_call_bits * plain_cost_unit + least / close_call_fraction;
    for (std::size_t i = 0; i < top; ++i) {
      if (costs[i] <= least + margin) close.push_back(i);
    }
  }
  if (!close.empty()) status = run(close);
  if (status != Status::ok) return status;
  // Then the Combined Model's orders from the bottom up: its first always,
  // its next while the last step gained at least 1/flat_fraction and its
  // first came within 1/climb_margin of model 1's best. What decides its
  // trial of candidate i are sizes that every level with candidate i has
  // too, so its trials are the first of the next level's.
  const std::uint64_t plain_best = *std::min_element(sizes.begin(), sizes.begin() + plain);
  for (std::size_t i = plain + 1; i < count; ++i) {
    const std::uint64_t last = sizes[i - 1];
    if (last == trial_failed || (i >= plain + 2 && sizes[i - 2] != trial_failed &&
                                 last + last / flat_fraction > sizes[i - 2])) {
      break;
    }
    if (plain_best != trial_failed && sizes[plain] > plain_best + plain_best / climb_margin) break;
    status = run({i});
    if (status != Status::ok) return status;
  }
  std::size_t best = settings.size();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    if (sizes[i] != trial_failed &&
        (best == settings.size() || beats(settings[i], sizes[i], settings[best], sizes[best]))) {
      best = i;
    }
  }
  if (best == settings.size()) return Status::out_of_memory;
  choice.setting = settings[best];
  choice.whole = whole;
  if (keep) choice.stream = std::move(streams[best]);
  return Status::ok;
}

}  // namespace mx::api

namespace {

bool valid_level(int level) { return level >= MVX_LEVEL_MIN && level <= MVX_LEVEL_MAX; }

}  // namespace

extern "C" MVX_API mvx_status mvx_level_setting(int level, mvx_setting* setting) {
  if (setting == nullptr) return MVX_INVALID_CALL;
  if (!valid_level(level)) return MVX_INVALID_ARGUMENT;
  *setting = mx::api::row(level);
  return MVX_OK;
}

extern "C" MVX_API mvx_status mvx_level_setting_within(int level, uint64_t memory_limit,
                                                       mvx_setting* setting) {
  if (setting == nullptr) return MVX_INVALID_CALL;
  if (!valid_level(level)) return MVX_INVALID_ARGUMENT;
  mx::Status status = mx::Status::ok;
  const std::uint64_t limit = memory_limit == 0                     ? MVX_DEFAULT_MEMORY_LIMIT
                              : memory_limit == MVX_NO_MEMORY_LIMIT ? mx::no_memory_limit
                                                                    : memory_limit;
  mx::api::level_without_trials(level, 0, limit, *setting, status);
  return mx::c_status(status);
}
