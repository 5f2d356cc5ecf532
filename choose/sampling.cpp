#include "choose/sampling.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "choose/trials.h"
#include "common/compiler.h"

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
// The sample of the record search of a longer input.
inline constexpr std::size_t record_search_bytes = std::size_t{32} << 10;
// The table pages that the trials in the band of records may touch
// together, 32 MiB of 4 KiB pages (see "Speed" below), and the prefix of a
// sample whose contexts are counted first.
inline constexpr std::uint64_t band_pages = 8192;
inline constexpr std::size_t context_prefix_bytes = std::size_t{8} << 10;

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

// A full search of data[0, sample) that probes the band of `records`
// within band_pages, its counts in `counts`; without a band when no probe
// could be afforded, or its contexts cannot be counted. The first
// context_prefix_bytes are counted first: a prefix holds no more contexts
// than the whole, so that when they alone rule out every probe (noisy
// records), the whole sample need not be counted.
SettingSearch record_search(const std::uint8_t* data, std::size_t sample,
                            std::uint64_t memory_limit, Band records, ContextCounts& counts) {
  const SettingSearch plain(sample, memory_limit, false, {});
  if (records.empty()) return plain;
  const std::size_t prefix = std::min(sample, context_prefix_bytes);
  if (!count_contexts(data, prefix, counts)) return plain;
  SettingSearch search(sample, memory_limit, false, records);
  search.limit_band(counts, band_pages);
  if (!search.band_affordable()) return plain;
  if (prefix == sample) return search;
  if (!count_contexts(data, sample, counts)) return plain;
  search.limit_band(counts, band_pages);
  return search.band_affordable() ? search : plain;
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
  // And the best model still falling at its highest order there, within
  // twice the margin, at the best's order (or its own, if higher): the
  // capped tables of the first search stopped it, and a model that learns
  // more slowly may overtake on more data.
  int rising = -1;
  for (int model = 0; model < model_count; ++model) {
    const int order = search.best_order(model);
    if (order < 0 || !search.falling(model) ||
        search.size({model, order}) > lead + 2 * (lead / finalist_margin)) {
      continue;
    }
    bool known = false;
    for (const Setting finalist : models) known = known || finalist.model == model;
    if (!known && (rising < 0 || search.size({model, order}) <
                                     search.size({rising, search.best_order(rising)}))) {
      rising = model;
    }
  }
  if (rising >= 0) models.push_back({rising, std::max(search.best_order(rising), leader.order)});
  for (Setting& model : models) ++model.order;
  return models;
}

// The models whose best in the band of record orders came near the best of
// a record search, each at that order, as further starts. Unless the
// model's start from the first sample lies in the band already (whose
// valley then is the first), that order is also its ceiling, and the only
// one of the band it is tried at: a second valley's orders are the
// costliest to try, and its place follows the records' width, not the
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
    const Setting start{model, order};
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

// The contexts are counted from one sort of the contexts of the bits,
// each turned so that its most recent bit comes first: the contexts that
// share their last k bits then lie together, and of two neighbours that
// differ first at bit j, counting from the most recent, each order above
// j counts one context more. The sort is a radix sort, three passes of 11
// bits.
bool count_contexts(const std::uint8_t* data, std::size_t size, ContextCounts& counts) {
  std::vector<std::uint32_t> contexts, sorted;
  try {
    contexts.reserve(8 * size);
    sorted.resize(8 * size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::uint32_t turned = 0;  // the last 32 bits, the most recent at the top
  for (std::size_t i = 0; i < size; ++i) {
    for (int k = 7; k >= 0; --k) {
      contexts.push_back(turned);
      turned = (turned >> 1) | static_cast<std::uint32_t>((data[i] >> k) & 1) << 31;
    }
  }
  for (int shift = 0; shift < 32; shift += 11) {
    std::size_t start[2049] = {};
    for (const std::uint32_t context : contexts) ++start[((context >> shift) & 2047) + 1];
    for (int digit = 1; digit <= 2048; ++digit) start[digit] += start[digit - 1];
    for (const std::uint32_t context : contexts) {
      sorted[start[(context >> shift) & 2047]++] = context;
    }
    contexts.swap(sorted);
  }
  std::uint64_t first_difference[33] = {};  // neighbours by their first differing bit
  for (std::size_t i = 1; i < contexts.size(); ++i) {
    // The leading bits the two share.
    ++first_difference[leading_zeros32(contexts[i] ^ contexts[i - 1])];
  }
  std::uint64_t distinct = contexts.empty() ? 0 : 1;
  for (int order = 0; order <= max_order; ++order) {
    counts.distinct[order] = distinct;
    distinct += first_difference[order];
  }
  return true;
}

Status choose(const std::uint8_t* data, std::size_t available, std::uint64_t total_size,
              bool keep_stream, std::uint64_t memory_limit, platform::StopFlag stop,
              Choice& choice) {
  std::vector<std::uint8_t>* const stream = keep_stream ? &choice.stream : nullptr;
  choice.whole = total_size <= whole_input_bytes;
  const Band records = record_orders(record_width(data, available));
  if (total_size <= one_stage_bytes) {
    ContextCounts counts;
    SettingSearch search = record_search(data, available, memory_limit, records, counts);
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
  // Only when the first valley lies below the band: one in the band the
  // second stage's climb finds itself.
  const std::size_t record_bytes = std::min(first, record_search_bytes);
  ContextCounts counts;
  SettingSearch on_records = record_search(data, record_bytes, memory_limit,
                                           on_first.order < records.low ? records : Band{}, counts);
  if (!on_records.records().empty()) {
    Setting best;
    status = run_search(on_records, data, record_bytes, memory_limit, stop, &best, nullptr);
    if (status != Status::ok) return status;
    add_record_starts(on_records, starts, ceilings);
  }
  SettingSearch orders(second, memory_limit, starts, ceilings, on_records.records());
  // Its trials have the largest tables of all, GiB for a MiB of data at
  // orders near 30: their pages follow the contexts of the first sample,
  // counted once a trial's tables are large enough for it to matter.
  status = run_search(orders, data, second, memory_limit, stop, &choice.setting,
                      choice.whole ? stream : nullptr, [&](SettingSearch& search) {
                        if (count_contexts(data, first, counts)) {
                          search.estimate_contexts(counts, first);
                        }
                      });
  if (status != Status::ok || choice.whole) return status;

  // Beyond the second sample: one order more per fourfold, for a model
  // whose order rose from the first sample to the second.
  const int model = choice.setting.model;
  const int base = choice.setting.order;
  // From a band of records: whether it rose from the record search.
  const int before = records.contains(base) && on_records.best_order(model, records) >= 0
                         ? on_records.best_order(model, records)
                         : models.best_order(model);
  if (base > before) {
    int fourfolds = 0;
    for (std::uint64_t covered = second; covered <= total_size / 4; covered *= 4) ++fourfolds;
    int order = std::min(base + fourfolds, max_order);
    while (order > base && table_bytes(model, order) > memory_limit) --order;
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
//
// The trials in the band of records are the costliest: their tables run
// to GiB, and on noisy records nearly every coded bit opens a context of
// its own and so touches a page of its own, which costs far more than
// coding the bit. So their pages are counted before they run (one sort of
// the sample's contexts, the cost of a few sweep trials), and all of them
// together touch at most band_pages: a bound that holds whatever the data,
// of the order of coding a MiB or two; records whose values repeat, where
// the second valley is deep, have few contexts and get their probes
// within it. A winning probe's pages are no loss: compressing the whole
// input at that setting touches every one of them again.
//
// The same holds for the second stage's climb at high orders on text
// whose contexts repeat (UTF-16, say): a sample of a MiB would get large
// pages on tables up to 8 GiB and fault them in whole, where its contexts
// touch a tenth of the small pages or less. Counting the first sample's
// contexts (one sort of 2M contexts) costs about as much as one cheap
// trial, and the second stage tells the page policy a data size from
// them. The count grows with the sample's length, as the contexts grow at
// most: it errs towards large pages, for tables that the sample touches
// nearly all over. On inputs whose climb stays at cheap tables (most text
// of a few hundred KB) the count would cost more than it could spare
// (about a tenth of the choice on a 125 KB text), so it waits for the
// first trial beyond cheap.
