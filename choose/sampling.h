// The sampling policy of the automatic choice: which samples of the input
// are searched, and how the setting found on them is carried over to the
// whole input. The one place that states it (the public header and the
// manual page promise only its results: determinism, the memory limit, the
// cost).
//
// Inputs up to one_stage_bytes get one full search on the whole input.
// Longer ones are chosen for in two stages:
//   1. a full search on a first sample (the first quarter of an input of
//      up to whole_input_bytes, else the first first_sample_bytes), its
//      tables capped (SettingSearch::capped_bytes_per_byte): it ranks the
//      models and places their orders;
//   2. a search over the finalists (the models within 1/finalist_margin of
//      the best there, at most SettingSearch::active_models, and the best
//      model still falling at its highest order there within twice that
//      margin, whose capped tables stopped it: a model that learns more
//      slowly may overtake on more data, so it starts from the best's
//      order if that is higher) on a second sample (the whole input, else
//      the first second_sample_bytes), each from its order on the first
//      sample plus one;
// and on a longer input the order then rises by one for every fourfold of
// the input beyond the second sample, if it rose from the first sample to
// the second. The best order of a model grows with the data its tables
// must hold (by about one per fourfold on the data measured), while data
// whose best order does not grow (noise, compressed data) keeps its order.
// The result stays within the memory limit.
//
// Records: when the first record_scan_bytes show a record width
// (record_width(): bytes that far apart differ least), the band of orders
// whose contexts reach back to the previous record (record_orders()) is
// probed too (SettingSearch's record probes): on inputs up to
// one_stage_bytes within the one search; on longer ones by a full search
// on the first record_search_bytes between the two stages, whose models
// that came near its best within the band go on to the second stage as
// further starts, at their best order there, which is also their ceiling
// and their only order in the band there (the valley's place follows the
// records' width). That search runs only when the first sample's best
// order lies below the band (else the climb of the second stage reaches
// the band itself). On a sample that small the valley of records already
// shows, and the trials at the band's large orders touch few pages of
// their tables where the records repeat. The searched sample's distinct
// contexts are counted (count_contexts()), and the trials in the band
// together touch at most band_pages pages of tables (SettingSearch's
// band's pages); when none would fit, there is no record search. Data
// without a record width (text, the corpus) gets the two stages alone.
//
// Pages: the second stage's trials tell the page policy a data size from
// the distinct contexts of the first sample (count_contexts()), scaled to
// the second, so that a large table the sample touches here and there
// keeps its small pages (see "Speed" in sampling.cpp). They are counted
// only once a trial's tables pass cheap (SettingSearch::wants_contexts()):
// below, faulting a table in whole costs about its coding.
//
// The streaming entry points read up to read_ahead_bytes before choosing,
// so that they know the length of inputs up to that size wherever they
// come from; a longer input's length is the caller's size hint, else what
// was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "choose/search.h"
#include "io/status.h"
#include "platform/platform.h"

namespace mx {

inline constexpr std::size_t read_ahead_bytes = std::size_t{16} << 20;

struct Choice {
  Setting setting;
  bool whole = false;                // tried whole: `stream` is the result
  std::vector<std::uint8_t> stream;  // when whole and asked for
};

// The distinct contexts of every order in data[0, size); false when the
// memory to count them cannot be had.
bool count_contexts(const std::uint8_t* data, std::size_t size, ContextCounts& counts);

// Chooses for an input of `total_size` bytes of which the first
// `available` are at `data` (all of them when total_size is at most 1 MiB,
// at least 1 MiB otherwise), with tables of at most `memory_limit` bytes.
// With `keep_stream`, an input tried whole keeps the winning trial's
// stream in choice.stream.
Status choose(const std::uint8_t* data, std::size_t available, std::uint64_t total_size,
              bool keep_stream, std::uint64_t memory_limit, platform::StopFlag stop,
              Choice& choice);

}  // namespace mx
