// The search behind the automatic choice of model and order: which trial
// compressions of one sample to run, in rounds, and which setting wins. It
// runs nothing itself (choose/trials.h runs the rounds). Promises: the
// outcome depends on the trials' sizes alone, not on their order or timing;
// a setting whose tables do not fit the memory limit is never tried, and
// one whose tables could not be had is never chosen.
// The rules and why: docs/choice.md.
#pragma once

#include <algorithm>
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

// How many distinct contexts of each order (the last `order` coded bits,
// straight across byte boundaries) a sample holds: a trial at that order
// touches about so many table entries, each on a page of its own once the
// table is large and the entries few.
struct ContextCounts {
  std::uint64_t distinct[max_order + 1] = {};
};

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
  // Record probes: so many models, every so many orders of the
  // probe_orders highest of the band.
  static constexpr std::size_t probe_models = 2;
  static constexpr int probe_step = 2;
  static constexpr int probe_orders = 6;
  // The small pages of tables.
  static constexpr std::uint64_t page_bytes = 4096;
  // The page policy gives large pages from one data byte per 8 KiB of
  // table; at two bytes per context a trial's tables get them from one
  // context per four small pages. Zeroing a large page costs far less per
  // byte than faulting in small ones, so that a large page is dearer only
  // where its contexts would touch fewer of its small pages.
  static constexpr std::uint64_t paged_bytes_per_context = 2;

  // A search over all models for a sample of `sample_bytes`, with tables of
  // at most `memory_limit` bytes (no_memory_limit: none), and when `capped`, of at
  // most capped_bytes_per_byte per sample byte; `records` is the band of
  // record orders to probe (empty: none).
  SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit, bool capped = false,
                Band records = {});
  // A search over the models of `starts`, from their orders (lowered to
  // what fits), none above the order of its model in `ceilings`, and those
  // models at no order of `pinned` but their starts.
  SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit,
                const std::vector<Setting>& starts, const std::vector<Setting>& ceilings = {},
                Band pinned = {});

  // The trials of the next round; empty once the search is over.
  std::vector<Setting> next_round();
  // The compressed size of a trial of the last round, or trial_failed.
  void record(Setting setting, std::uint64_t size);
  // The best setting tried so far; false while no trial has succeeded.
  bool best(Setting* setting) const;
  // The model's best order so far (within `within`), or -1.
  int best_order(int model) const { return best_order(model, {0, max_order}); }
  int best_order(int model, Band within) const;
  // Whether the model's best order is its highest tried and gained at
  // least 1/falling_fraction over the order below it tried.
  bool falling(int model) const;
  static constexpr std::uint64_t falling_fraction = 200;
  // The band of record orders (empty when none).
  Band records() const { return records_; }
  // From now on, the trials at orders of the band together touch at most
  // `pages` table pages on this sample, as `counts` (the sample's) and the
  // page policy estimate them (pages()); trials that would pass it are
  // not run.
  void limit_band(const ContextCounts& counts, std::uint64_t pages);
  // The distinct contexts of this search's sample, for paged_bytes(), from
  // `counts` of its first `counted_bytes`: as many more as the sample is
  // longer (contexts grow at most as fast as the data).
  void estimate_contexts(const ContextCounts& counts, std::uint64_t counted_bytes);
  // Whether counts would be worth having before a trial of `setting`: none
  // held yet, and its tables beyond cheap, which the sample's length alone
  // gives large pages (faulted in whole) however few contexts touch them.
  bool wants_contexts(Setting setting) const;
  // The table pages a trial of `setting` touches on this sample: all of
  // them when its tables get large pages, else one per distinct context
  // (at most all). Without counts: all of them.
  std::uint64_t pages(Setting setting) const;
  // The data size a trial of `setting` tells the page policy: the sample's,
  // or with counts, paged_bytes_per_context per distinct context (at most
  // the sample's), so that a large table that the sample's few contexts
  // touch here and there keeps its small pages.
  std::uint64_t paged_bytes(Setting setting) const;
  // Whether some probe fits the memory limit and a probe model's share of
  // the band's pages.
  bool band_affordable() const;
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
  std::vector<Setting> probes();
  int lowest_probe() const { return std::max(records_.low, records_.high - probe_orders + 1); }
  // Whether a trial at `order` fits the band's page budget (always, for
  // an order outside the band or without one); spend() also takes its
  // pages from it when it does.
  bool within_band_budget(int model, int order) const;
  bool spend(int model, int order);

  std::uint64_t sample_bytes_;
  std::uint64_t cheap_bytes_;
  std::uint64_t memory_limit_;
  std::uint64_t table_cap_;      // 0: none
  bool full_ = true;             // all models, from the sweep
  std::vector<Setting> starts_;  // otherwise
  bool started_ = false;
  int ceiling_[model_count];
  Band pinned_[model_count];  // orders closed to the local search
  Band records_;              // the band of record orders
  bool probed_ = false;       // its probes proposed
  bool counted_ = false;      // contexts_ and band_pages_ hold
  bool estimated_ = false;    // contexts_ holds
  ContextCounts contexts_;
  std::uint64_t band_pages_ = 0;  // left to the band's trials
  // Compressed size of each trial: 0 untried, trial_failed, or the size.
  std::uint64_t sizes_[model_count][max_order + 1] = {};
};

}  // namespace mx
