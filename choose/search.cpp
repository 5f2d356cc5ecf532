// The search of the automatic choice: which trials to run, and which
// setting wins (its rules: docs/choice.md).
#include "choose/search.h"

#include <algorithm>
#include <iterator>

#include "models/registry.h"
#include "pipeline/page_policy.h"

namespace mx {

std::uint64_t table_bytes(int model, int order) {
  return model_table[model].info.table_bytes(order);
}

namespace {

// The size class of a table: floor(log2(bytes)), bytes > 0.
int size_class(std::uint64_t bytes) {
  int size_class = 0;
  while (bytes >>= 1) ++size_class;
  return size_class;
}

}  // namespace

SettingSearch::SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit, bool capped,
                             Band records)
    : sample_bytes_(sample_bytes),
      cheap_bytes_(sample_bytes * cheap_bytes_per_byte),
      memory_limit_(memory_limit),
      table_cap_(capped ? sample_bytes * capped_bytes_per_byte : 0),
      records_(records) {
  std::fill(std::begin(ceiling_), std::end(ceiling_), max_order);
}

SettingSearch::SettingSearch(std::uint64_t sample_bytes, std::uint64_t memory_limit,
                             const std::vector<Setting>& starts,
                             const std::vector<Setting>& ceilings, Band pinned)
    : SettingSearch(sample_bytes, memory_limit) {
  full_ = false;
  for (const Setting ceiling : ceilings) {
    ceiling_[ceiling.model] = ceiling.order;
    pinned_[ceiling.model] = pinned;
  }
  for (Setting start : starts) {
    start.order = std::min(start.order, ceiling_[start.model]);
    start.order = std::clamp(start.order, 0, max_order);
    while (start.order > 0 && !fits(start.model, start.order)) --start.order;
    if (fits(start.model, start.order)) starts_.push_back(start);
  }
}

bool SettingSearch::fits(int model, int order) const {
  if (order < 0 || order > max_order) return false;
  const std::uint64_t tables = table_bytes(model, order);
  return tables <= memory_limit_ && (table_cap_ == 0 || tables <= table_cap_);
}

void SettingSearch::limit_band(const ContextCounts& counts, std::uint64_t pages) {
  counted_ = true;
  estimated_ = true;
  contexts_ = counts;
  band_pages_ = pages;
}

void SettingSearch::estimate_contexts(const ContextCounts& counts, std::uint64_t counted_bytes) {
  if (counted_bytes == 0) return;
  estimated_ = true;
  for (int order = 0; order <= max_order; ++order) {
    // At most one context per coded bit; the product stays far below 2^64.
    contexts_.distinct[order] =
        std::min(counts.distinct[order] * sample_bytes_ / counted_bytes, 8 * sample_bytes_);
  }
}

bool SettingSearch::wants_contexts(Setting setting) const {
  const std::uint64_t tables = table_bytes(setting.model, setting.order);
  return !estimated_ && tables > cheap_bytes_ && large_pages_from_start(tables, sample_bytes_);
}

std::uint64_t SettingSearch::paged_bytes(Setting setting) const {
  if (!estimated_) return sample_bytes_;
  return std::clamp<std::uint64_t>(contexts_.distinct[setting.order] * paged_bytes_per_context, 1,
                                   sample_bytes_);
}

bool SettingSearch::band_affordable() const {
  if (records_.empty()) return false;
  if (!counted_) return true;
  for (int model = 0; model < model_count; ++model) {
    for (int order = lowest_probe(); order <= records_.high; ++order) {
      if (fits(model, order) && pages({model, order}) <= band_pages_ / probe_models) return true;
    }
  }
  return false;
}

std::uint64_t SettingSearch::pages(Setting setting) const {
  const std::uint64_t tables = table_bytes(setting.model, setting.order);
  const std::uint64_t all = (tables + page_bytes - 1) / page_bytes;
  if (!counted_ || large_pages_from_start(tables, paged_bytes(setting)) ||
      sample_bytes_ >= large_pages_after_bytes(tables)) {
    return all;
  }
  // The entries, and the pages of a model's fixed part (touched all over).
  const std::uint64_t fixed = model_table[setting.model].info.extra_bytes;
  return std::min(all, contexts_.distinct[setting.order] + (fixed + page_bytes - 1) / page_bytes);
}

bool SettingSearch::within_band_budget(int model, int order) const {
  return !counted_ || !records_.contains(order) || pages({model, order}) <= band_pages_;
}

bool SettingSearch::spend(int model, int order) {
  if (!within_band_budget(model, order)) return false;
  if (counted_ && records_.contains(order)) band_pages_ -= pages({model, order});
  return true;
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

int SettingSearch::best_order(int model, Band within) const {
  int best = -1;
  for (int order = std::max(within.low, 0); order <= std::min(within.high, max_order); ++order) {
    if (succeeded(model, order) && (best < 0 || beats(model, order, model, best))) best = order;
  }
  return best;
}

bool SettingSearch::best(Setting* setting) const {
  int best_model = -1;
  int best = -1;
  for (int model = 0; model < model_count; ++model) {
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
  for (int model = 0; model < model_count; ++model) {
    if (!fits(model, 0)) continue;
    int top = 0;
    while (fits(model, top + 1) && table_bytes(model, top + 1) <= cheap_bytes_) ++top;
    if (top >= sweep_step) round.push_back({model, top - sweep_step});
    round.push_back({model, top});
  }
  return round;
}

std::vector<Setting> SettingSearch::probes() {
  std::vector<int> models;
  for (int model = 0; model < model_count; ++model) {
    if (best_order(model) >= 0) models.push_back(model);
  }
  std::sort(models.begin(), models.end(),
            [this](int a, int b) { return beats(a, best_order(a), b, best_order(b)); });
  if (models.size() > probe_models) models.resize(probe_models);
  std::vector<Setting> round;
  // Each model gets an equal share of the band's pages: the one that did
  // best at low orders is not always the one that the records help.
  const std::uint64_t share = models.empty() ? 0 : band_pages_ / models.size();
  for (const int model : models) {
    const std::uint64_t rest = band_pages_;
    band_pages_ = std::min(share, rest);
    const std::uint64_t others = rest - band_pages_;
    // Down from the band's highest order that fits the memory limit and
    // the model's share.
    int top = records_.high;
    while (top >= lowest_probe() && !(fits(model, top) && within_band_budget(model, top))) --top;
    for (int order = top; order >= lowest_probe(); order -= probe_step) {
      if (!tried(model, order) && spend(model, order)) round.push_back({model, order});
    }
    band_pages_ += others;
  }
  return round;
}

bool SettingSearch::falling(int model) const {
  const int best = best_order(model);
  if (best < 0) return false;
  for (int order = best + 1; order <= max_order; ++order) {
    if (tried(model, order)) return false;
  }
  int below = best - 1;
  while (below >= 0 && !succeeded(model, below)) --below;
  if (below < 0) return false;
  const std::uint64_t size = sizes_[model][best];
  return sizes_[model][below] - size >= size / falling_fraction;
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
  for (int order = best + 1; order <= max_order; ++order) {
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
  if (!probed_ && full_ && !records_.empty()) {
    probed_ = true;
    round = probes();
    if (!round.empty()) return round;
  }
  Setting leader;
  if (!best(&leader)) return round;

  std::vector<int> models;
  for (int model = 0; model < model_count; ++model) {
    if (active(model, leader)) models.push_back(model);
  }
  std::sort(models.begin(), models.end(),
            [this](int a, int b) { return beats(a, best_order(a), b, best_order(b)); });
  const std::size_t most = full_ ? active_models : active_finalists;
  if (models.size() > most) models.resize(most);

  for (const int model : models) {
    const int best = best_order(model);
    const auto open = [&](int order) {
      return fits(model, order) && !tried(model, order) && order <= ceiling_[model] &&
             !pinned_[model].contains(order) && affordable(model, order, leader) &&
             within_band_budget(model, order);
    };
    const auto take = [&](int order) {
      if (spend(model, order)) round.push_back({model, order});
    };
    bool climbing = true;    // nothing tried above the best yet
    bool descending = true;  // nothing tried below it
    for (int order = 0; order <= max_order; ++order) {
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
    if (up) take(best + 1);
    // While climbing, the order below waits: the sizes are still falling.
    // Going down, two orders at once: they cost less than the best.
    if (open(best - 1) && !(climbing && up)) {
      take(best - 1);
      if (descending && open(best - 2)) take(best - 2);
    }
  }
  return round;
}
}  // namespace mx
