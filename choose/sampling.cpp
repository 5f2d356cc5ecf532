#include "choose/sampling.h"

#include <algorithm>
#include <cstdlib>

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

// Record widths looked for, and the bytes of a sample they are looked for
// in.
inline constexpr int max_record_width = 8;
inline constexpr std::size_t record_scan_bytes = std::size_t{64} << 10;

// The width of the data's records: the distance 2..max_record_width at
// which bytes differ least from the byte that far back (summed absolute
// differences, the shortest distance of equal sums), when that sum is
// less than 3/4 of the mean over all distances 1..max_record_width; else
// 1 (no records). Numbers, samples and pixels change little from one
// record to the next, field by field, and most of all in their high bytes.
int record_width(const std::uint8_t* data, std::size_t size) {
  const std::size_t n = std::min(size, record_scan_bytes);
  if (n < 64 * max_record_width) return 1;
  std::uint64_t sums[max_record_width + 1] = {};
  std::uint64_t total = 0;
  for (int distance = 1; distance <= max_record_width; ++distance) {
    std::uint64_t sum = 0;
    for (std::size_t i = max_record_width; i < n; ++i) {
      sum += static_cast<std::uint64_t>(std::abs(data[i] - data[i - distance]));
    }
    sums[distance] = sum;
    total += sum;
  }
  int width = 1;
  for (int distance = 2; distance <= max_record_width; ++distance) {
    if (sums[distance] < sums[width]) width = distance;
  }
  return width > 1 && 4 * sums[width] * max_record_width < 3 * total ? width : 1;
}

// The orders at which a context of the last `order` coded bits reaches
// back to the same field of the previous record of `width` bytes: the
// eight below 8 * width (the field's own bits), within 0..31; empty for
// bytes (width 1), whose valley is the first.
Band record_orders(int width) {
  if (width < 2) return {};
  return {std::min(8 * width - 8, max_order - 7), std::min(8 * width, max_order)};
}

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

// The models whose best in the band of record orders came near the best of
// a record search, each at that order plus one, as further starts. Unless
// the model's start from the first sample lies in the band already (whose
// valley then is the first), that order is also its ceiling: a second
// valley's orders are the costliest to try, and it moves little with the
// length of the data.
void add_record_starts(const SettingSearch& search, std::vector<Setting>& starts,
                       std::vector<Setting>& ceilings) {
  Setting leader;
  if (!search.best(&leader)) return;
  const std::uint64_t lead = search.size(leader);
  const Band band = search.records();
  const std::size_t finalists = starts.size();
  for (int model = 0; model < model_count; ++model) {
    const int order = search.best_order(model, band);
    if (order < 0 || search.size({model, order}) > lead + lead / finalist_margin) continue;
    const Setting start{model, std::min(order + 1, band.high)};
    bool first_valley_in_band = false;
    bool known = false;
    for (std::size_t i = 0; i < finalists; ++i) {
      if (starts[i].model != model) continue;
      first_valley_in_band = first_valley_in_band || starts[i].order >= band.low;
      known = known || starts[i].order == start.order;
    }
    if (!known) starts.push_back(start);
    if (!first_valley_in_band) ceilings.push_back(start);
  }
}

}  // namespace

Status choose(const std::uint8_t* data, std::size_t available, std::uint64_t total_size,
              bool keep_stream, std::uint64_t memory_limit, platform::StopFlag stop,
              Choice& choice) {
  std::vector<std::uint8_t>* const stream = keep_stream ? &choice.stream : nullptr;
  choice.whole = total_size <= whole_input_bytes;
  const Band records = record_orders(record_width(data, available));
  if (total_size <= one_stage_bytes) {
    SettingSearch search(available, memory_limit, false, records);
    return run_search(search, data, available, memory_limit, stop, &choice.setting, stream);
  }
  const std::size_t first = choice.whole ? available / 4 : first_sample_bytes;
  const std::size_t second = choice.whole ? available : second_sample_bytes;
  SettingSearch models(first, memory_limit, true);
  Setting on_first;
  Status status = run_search(models, data, first, memory_limit, stop, &on_first, nullptr);
  if (status != Status::ok) return status;
  std::vector<Setting> starts = finalists(models);
  std::vector<Setting> ceilings;
  // Records: their valley is looked for on a smaller sample, where the
  // trials at the band's orders touch fewer pages of their large tables.
  const std::size_t record_bytes = std::min(first, record_scan_bytes);
  SettingSearch record_search(record_bytes, memory_limit, false, records);
  if (!records.empty()) {
    Setting on_records;
    status =
        run_search(record_search, data, record_bytes, memory_limit, stop, &on_records, nullptr);
    if (status != Status::ok) return status;
    add_record_starts(record_search, starts, ceilings);
  }
  SettingSearch orders(second, memory_limit, starts, ceilings);
  status = run_search(orders, data, second, memory_limit, stop, &choice.setting,
                      choice.whole ? stream : nullptr);
  if (status != Status::ok || choice.whole) return status;

  // Beyond the second sample: one order more per fourfold, for a model
  // whose order rose from the first sample to the second.
  const int model = choice.setting.model;
  const int base = choice.setting.order;
  // From a band of records: whether it rose from the record search.
  const int before = records.contains(base) && record_search.best_order(model, records) >= 0
                         ? record_search.best_order(model, records)
                         : models.best_order(model);
  if (base > before) {
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
