// The search behind the automatic choice of model and order: which trial
// compressions of one sample to run, and which setting wins. It runs
// nothing itself: choose/trials.h runs the rounds (two trials at a time)
// and reports their sizes, and choose/sampling.h decides which samples are
// searched. The search proceeds in rounds: each round
// is the set of trials that the results so far call for, none tried
// before, in a fixed order, so the trials of a round may run in any order
// or at once and the outcome depends on their sizes alone.
//
//   1. Sweep: every model at two orders, 4 apart, the higher one the
//      largest whose tables are "cheap", at most cheap_bytes_per_byte per
//      sample byte (their cost stays near that of the coding itself).
//   2. Record probes, given a band of record orders (a full search only):
//      the probe_models best models of the sweep, each at every
//      probe_step-th order of the band down from its highest that fits. Data made of
//      fixed-width records has a second valley in its sizes where the
//      context reaches back to the same field of the previous record, at
//      orders a climb from the sweep never reaches; the band (found in the
//      data, choose/sampling.cpp) says where.
//   3. Local search: for each active model, the untried neighbours of its
//      best order, in whichever valley that is: while its best is its
//      highest order tried, the one above only (climbing, as long as the
//      last step gained at least 1/flat_fraction); while its best is its
//      lowest, the two below (cheaper than the best, so tried two at a
//      time); otherwise both neighbours, until every active model's best
//      has both neighbours tried. Within a valley sizes rise and fall
//      smoothly with the order, so this finds its minimum. The best of the
//      band stays known (best_order(model, band)).
//   Active models: the leader's (the best setting so far); those within
//   1/active_margin of its size; those still falling at their highest
//   order fast enough to reach it within projection_orders more orders.
//   Of these, the active_models best (active_finalists in a search from
//   given settings, whose models were already chosen from the best on a
//   smaller sample). Every trial's tables stay cheap or at
//   most one size class (power of two) above the leader's: trials that
//   cost far more than coding with the leader would are not worth running
//   on the mere chance that they win.
//
// A search can instead start from given settings (the orders of a few
// models that did best on a smaller sample, raised for a larger one): it
// then tries only those models, first at those orders. A model may come
// with a ceiling, an order it never goes above: a start from a record band,
// whose tables are the largest of the search and whose place the smaller
// sample has already fixed.
//
// Settings whose tables do not fit the memory limit are never tried. A
// trial whose tables could not be allocated counts as failed: never
// chosen, never tried again.
#pragma once

#include <cstdint>
#include <vector>

#include "models/registry.h"
#include "moltavex/moltavex.h"

namespace mx {

using Setting = mvx_setting;

// A range of orders, low..high; empty when low > high.
struct Band {
  int low = 1;
  int high = 0;
  bool empty() const { return low > high; }
  bool contains(int order) const { return order >= low && order <= high; }
};

inline constexpr std::uint64_t trial_failed = UINT64_MAX;

// The tables of `model` at `order`, in bytes.
std::uint64_t table_bytes(int model, int order);

class SettingSearch {
 public:
  // Tables are cheap up to this many bytes per sample byte: about one
  // 8-byte entry per coded bit, where tables stop being crowded, so that
  // the sweep shows each model near its strength.
  static constexpr std::uint64_t cheap_bytes_per_byte = 64;
  // The tables of a capped search (on a first sample, which only ranks the
  // models) stay within this many bytes per sample byte.
  static constexpr std::uint64_t capped_bytes_per_byte = 256;
  // Distance of the two sweep orders.
  static constexpr int sweep_step = 4;
  // A model within 1/active_margin of the leader's size stays active.
  static constexpr std::uint64_t active_margin = 100;
  static constexpr std::uint64_t projection_orders = 3;
  static constexpr std::size_t active_models = 3;
  // As many, of a search from given settings (finalists of a first search).
  static constexpr std::size_t active_finalists = 2;
  // A model stops climbing once an order gains less than 1/flat_fraction.
  static constexpr std::uint64_t flat_fraction = 1024;
  // Record probes: so many models, every so many orders of the band.
  static constexpr std::size_t probe_models = 2;
  static constexpr int probe_step = 2;

  // A search over all models for a sample of `sample_bytes`, with tables of
  // at most `memory_limit` bytes (0: no limit), and when `capped`, of at
  // most capped_bytes_per_byte per sample byte; `records` is the band of
  // record orders to probe (empty: none).
  SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit, bool capped = false,
                Band records = {});
  // A search over the models of `starts`, from their orders (lowered to
  // what fits), none above the order of its model in `ceilings`.
  SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit,
                const std::vector<Setting>& starts, const std::vector<Setting>& ceilings = {});

  // The trials of the next round; empty once the search is over.
  std::vector<Setting> next_round();
  // The compressed size of a trial of the last round, or trial_failed.
  void record(Setting setting, std::uint64_t size);
  // The best setting tried so far; false while no trial has succeeded.
  bool best(Setting* setting) const;
  // The model's best order so far (within `within`), or -1.
  int best_order(int model) const { return best_order(model, {0, max_order}); }
  int best_order(int model, Band within) const;
  // The band of record orders (empty when none).
  Band records() const { return records_; }
  // The compressed size of a succeeded trial.
  std::uint64_t size(Setting setting) const { return sizes_[setting.model][setting.order]; }

 private:
  bool fits(int model, int order) const;
  bool tried(int model, int order) const { return sizes_[model][order] != 0; }
  bool succeeded(int model, int order) const {
    return tried(model, order) && sizes_[model][order] != trial_failed;
  }
  // Whether (model, order) beats (other_model, other_order): the shorter
  // stream, then the smaller tables, the lower model, the lower order.
  bool beats(int model, int order, int other_model, int other_order) const;
  std::vector<Setting> propose();
  bool active(int model, Setting leader) const;
  bool affordable(int model, int order, Setting leader) const;
  std::vector<Setting> sweep() const;
  std::vector<Setting> probes() const;

  std::uint64_t cheap_bytes_;
  std::uint64_t memory_limit_;
  std::uint64_t table_cap_;      // 0: none
  bool full_ = true;             // all models, from the sweep
  std::vector<Setting> starts_;  // otherwise
  bool started_ = false;
  int ceiling_[model_count];
  Band records_;         // the band of record orders
  bool probed_ = false;  // its probes proposed
  // Compressed size of each trial: 0 untried, trial_failed, or the size.
  std::uint64_t sizes_[model_count][max_order + 1] = {};
};

}  // namespace mx
