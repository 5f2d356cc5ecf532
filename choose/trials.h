// Running the trials of the automatic choice: each an ordinary compression
// of a sample in memory through the same driver as every other job, so a
// trial's stream is exactly its setting's. Two threads; trials running at
// once together reserve at most the memory limit; the outcome is the same
// however they were scheduled. Why: docs/choice.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "choose/search.h"
#include "io/status.h"
#include "platform/platform.h"

namespace mx {

// What one trial of a round gave: its compressed size (trial_failed when
// its tables could not be had), its stream when that was asked for, and
// for a trial of model 1 the costs of the orders asked for.
struct TrialResult {
  std::uint64_t size = 0;
  std::vector<std::uint8_t> stream;
  std::vector<std::uint64_t> plain_costs;
};

// Runs the trials of one round, `round[i]` telling the page policy a data
// size of `paged_bytes[i]`, on data[0, size) with tables of at most
// `memory_limit` bytes (0: none); `results[i]` gets trial i's outcome. A
// trial of model 1 also gives the costs (choose/plain_costs.h) of those of
// `cost_orders` (rising) up to its own order. ok, or interrupted (the stop
// flag).
Status run_round(const std::vector<Setting>& round, const std::vector<std::uint64_t>& paged_bytes,
                 const std::uint8_t* data, std::size_t size, std::uint64_t memory_limit,
                 platform::StopFlag stop, bool keep_streams, std::vector<TrialResult>& results,
                 const std::vector<int>& cost_orders = {});

// Runs `search` to its end on data[0, size) with tables of at most
// `memory_limit` bytes (no_memory_limit: none). The best setting goes to
// `*chosen`, and its trial's stream to `*stream` when that is asked for.
// ok, interrupted (the stop flag), or out_of_memory when no trial could
// get its tables. `count_contexts`, when given, is called once, before the
// first round with a trial that wants counts (SettingSearch::
// wants_contexts()), to give them to the search.
Status run_search(SettingSearch& search, const std::uint8_t* data, std::size_t size,
                  std::uint64_t memory_limit, platform::StopFlag stop, Setting* chosen,
                  std::vector<std::uint8_t>* stream,
                  const std::function<void(SettingSearch&)>& count_contexts = {});

}  // namespace mx
