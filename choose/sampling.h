// The sampling policy of the automatic choice: which samples of the input
// are searched (choose/search.h), and how the setting found on them is
// carried over to the whole input. Promises: the setting depends on the
// data, its length and the memory limit alone, and its tables fit that
// limit. The streaming entry points read up to read_ahead_bytes before
// choosing; a longer input's length is the caller's size hint, else what
// was read. The rules and why: docs/choice.md.
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
