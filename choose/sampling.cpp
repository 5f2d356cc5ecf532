#include "choose/sampling.h"

#include <algorithm>

#include "choose/trials.h"

namespace mx {

namespace {

inline constexpr std::size_t one_stage_bytes = std::size_t{64} << 10;
inline constexpr std::size_t whole_input_bytes = std::size_t{1} << 20;
inline constexpr std::size_t first_sample_bytes = std::size_t{256} << 10;
inline constexpr std::size_t second_sample_bytes = std::size_t{1} << 20;

// Models within 1/finalist_margin of the best on a first sample go on to
// the second.
inline constexpr std::uint64_t finalist_margin = 20;

// The models that did nearly as well as the best on a first sample, best
// first, each at its best order there plus one: the larger sample's tables
// hold more contexts (see the top of the file).
std::vector<Setting> finalists(const SettingSearch& search) {
  std::vector<Setting> models;
  Setting leader;
  if (!search.best(&leader)) return models;
  const std::uint64_t lead = search.size(leader);
  for (int model = 0; model < model_count; ++model) {
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

}  // namespace

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
    int order = std::min(base + fourfolds, max_order);
    while (order > base && memory_limit != 0 && table_bytes(model, order) > memory_limit) --order;
    choice.setting.order = order;
  }
  return Status::ok;
}

}  // namespace mx

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
