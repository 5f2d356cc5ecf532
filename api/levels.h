// The levels' rule (api/levels.cpp): which setting a level uses for an
// input of a given length, within a memory limit, and for levels that
// choose, the choice among their few candidates by trials.
#pragma once

#include <cstddef>
#include <cstdint>

#include "choose/sampling.h"
#include "io/status.h"
#include "platform/platform.h"

namespace mx::api {

// The level's setting when it needs no trials: an input of unknown length
// (total_size 0), or a level with one candidate for this length and limit
// (0: none). false when the level must try its candidates on the data.
// *status is memory_limit when not even order 0 of its model fits.
bool level_without_trials(int level, std::uint64_t total_size, std::uint64_t memory_limit,
                          Setting& setting, Status& status);

// Chooses as `level` does for an input of `total_size` bytes (> 0) whose
// first `available` (all of them up to read_ahead_bytes) are at `data`.
// With `keep_stream`, an input tried whole keeps the winner's stream.
Status choose_level(int level, const std::uint8_t* data, std::size_t available,
                    std::uint64_t total_size, std::uint64_t memory_limit, platform::StopFlag stop,
                    bool keep_stream, Choice& choice);

}  // namespace mx::api
