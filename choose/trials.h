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
