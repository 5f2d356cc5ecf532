// What a caller's structures say, read once at the entry of every call of
// the C API.
//
// mvx_options, mvx_observer and mvx_stream_info begin with their own size,
// so that members can be added at their ends without breaking programs
// built against an older header. The library reads what a caller's size
// covers, takes the defaults for the rest, and refuses (invalid_call) a
// size below that of the first published layout (the one of version 2.0,
// whose last members are named below) and members it does not know that
// are not zero: a caller built against a newer header who asks for
// something this library cannot do is told so, not silently ignored. Into
// a caller's mvx_stream_info it writes only what that caller's size
// covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "io/status.h"
#include "moltavex/moltavex.h"
#include "pipeline/drivers.h"

namespace mx::api {

// Where the first published layouts end.
inline constexpr std::size_t first_options_size =
    offsetof(mvx_options, size_hint) + sizeof(mvx_options::size_hint);
inline constexpr std::size_t first_observer_size =
    offsetof(mvx_observer, stop) + sizeof(mvx_observer::stop);
inline constexpr std::size_t first_info_size =
    offsetof(mvx_stream_info, original_bytes) + sizeof(mvx_stream_info::original_bytes);

// Copies the caller's `from` (null: the defaults) into `to`, which starts
// zeroed with its own size; false when `from`'s size makes no sense.
template <class T>
bool read_struct(const T* from, std::size_t first_size, T& to) {
  std::memset(&to, 0, sizeof to);
  if (from != nullptr) {
    const std::size_t size = from->size;
    if (size < first_size) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(from);
    for (std::size_t i = sizeof(T); i < size; ++i) {
      if (bytes[i] != 0) return false;
    }
    std::memcpy(&to, from, size < sizeof(T) ? size : sizeof(T));
  }
  to.size = sizeof(T);
  return true;
}

// Which default a memory_limit of 0 stands for: none when compressing with
// a setting the caller chose; MVX_DEFAULT_MEMORY_LIMIT when the setting
// comes from a stream (decompression) or from the choice, so that streams
// from elsewhere cannot claim any memory they like, and every chosen
// stream decompresses with the defaults.
enum class LimitDefault { none, safe };

// A call's settings, resolved: the limit a plain byte count (no_memory_limit for none,
// as the drivers take it), the observer null when the caller gave none.
struct CallSettings {
  mvx_options options;
  std::uint64_t memory_limit = no_memory_limit;
  bool checksum = false;     // compression writes the integrity record
  bool whole_input = false;  // a decoder's input ends with the stream's last useful byte
  mvx_observer observer_copy;
  const mvx_observer* observer = nullptr;
};

inline Status read_settings(const mvx_options* options, const mvx_observer* observer,
                            LimitDefault limit_default, CallSettings& settings) {
  if (!read_struct(options, first_options_size, settings.options) ||
      !read_struct(observer, first_observer_size, settings.observer_copy)) {
    return Status::invalid_call;
  }
  settings.observer = observer != nullptr ? &settings.observer_copy : nullptr;
  settings.checksum = settings.options.checksum != 0;
  settings.whole_input = settings.options.whole_input != 0;
  if (settings.options.level < 0 || settings.options.level > MVX_LEVEL_MAX) {
    return Status::invalid_argument;
  }
  const std::uint64_t limit = settings.options.memory_limit;
  if (limit == MVX_NO_MEMORY_LIMIT) {
    settings.memory_limit = no_memory_limit;
  } else if (limit != 0) {
    settings.memory_limit = limit;
  } else {
    settings.memory_limit =
        limit_default == LimitDefault::safe ? MVX_DEFAULT_MEMORY_LIMIT : no_memory_limit;
  }
  return Status::ok;
}

inline platform::StopFlag stop_flag_of(const mvx_observer* observer) {
  return observer != nullptr ? observer->stop : nullptr;
}

// Hands `from` to the caller's `to` (if any), as far as its size covers.
inline Status write_info(const mvx_stream_info& from, mvx_stream_info* to) {
  if (to == nullptr) return Status::ok;
  const std::size_t size = to->size;
  if (size < first_info_size) return Status::invalid_call;
  std::memcpy(reinterpret_cast<unsigned char*>(to) + sizeof to->size,
              reinterpret_cast<const unsigned char*>(&from) + sizeof from.size,
              (size < sizeof from ? size : sizeof from) - sizeof from.size);
  return Status::ok;
}

}  // namespace mx::api
