// Moltavex for C++: the C API of <moltavex/moltavex.h> (which describes the
// format, the models, errors and threads) with C++ types, default
// arguments and results in std::vector. Every function here is an inline
// call of the C API.
//
// EXAMPLES
//
//   // Memory to memory.
//   std::vector<std::uint8_t> packed, restored;
//   const char text[] = "hello, hello, hello";
//   if (moltavex::compress(text, sizeof text - 1, 1, 16, packed) != moltavex::Status::ok) ...
//   moltavex::Status s = moltavex::decompress(packed.data(), packed.size(), restored);
//
//   // Files.
//   moltavex::Status s = moltavex::compress_file("book.txt", "book.txt.mx", 3, 16);
//   if (s != moltavex::Status::ok) std::fprintf(stderr, "%s\n", moltavex::status_message(s));
//
//   // Your own streams.
//   std::int64_t my_read(void* context, std::uint8_t* buffer, std::size_t size);
//   bool my_write(void* context, const std::uint8_t* data, std::size_t size);
//   moltavex::compress_stream(&my_read, &source, &my_write, &sink, 0, 22);
//
// The examples are compiled and run by the test suite (tests/test_api.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "moltavex/moltavex.h"

namespace moltavex {

// Outcome of a job (mvx_status). status_message gives the line the program
// prints.
#define MOLTAVEX_STATUS_ENUMERATOR_(value, name, message) name = value,
enum class Status : int { MVX_STATUS_LIST(MOLTAVEX_STATUS_ENUMERATOR_) };
#undef MOLTAVEX_STATUS_ENUMERATOR_

inline const char* status_message(Status status) {
  return mvx_status_message(static_cast<mvx_status>(status));
}

inline constexpr int model_count = MVX_MODEL_COUNT;
inline constexpr int max_order = MVX_MAX_ORDER;
// The model a model number outside 0..5 selects on the command line (the
// usage text's "(default)").
inline constexpr int default_model = 1;

inline const char* model_name(int model) { return mvx_model_name(model); }
inline std::uint64_t model_memory(int model, int order) { return mvx_model_memory(model, order); }
inline bool read_header(std::uint8_t header, int* model, int* order) {
  return mvx_read_header(header, model, order);
}
inline const char* version() { return mvx_version_string(); }
inline unsigned version_number() { return mvx_version_number(); }

using ReadFunction = mvx_read_function;
using WriteFunction = mvx_write_function;

// The C structures, with their size set and the defaults.
struct Observer : mvx_observer {
  Observer() : mvx_observer{} { size = sizeof(mvx_observer); }
};
struct Options : mvx_options {
  Options() : mvx_options{} { size = sizeof(mvx_options); }
};
struct StreamInfo : mvx_stream_info {
  StreamInfo() : mvx_stream_info{} { size = sizeof(mvx_stream_info); }
};
struct Setting : mvx_setting {
  Setting() : mvx_setting{} {}
  Setting(int model, int order) : mvx_setting{model, order} {}
};

namespace detail {
inline Status status_of(mvx_status status) { return static_cast<Status>(status); }

// Appends to a vector; a failed allocation is told apart from other
// failures.
struct VectorOut {
  std::vector<std::uint8_t>* out;
  bool out_of_memory = false;

  static bool write(void* context, const std::uint8_t* data, std::size_t size) {
    auto* self = static_cast<VectorOut*>(context);
    try {
      self->out->insert(self->out->end(), data, data + size);
      return true;
    } catch (const std::bad_alloc&) {
      self->out_of_memory = true;
      return false;
    }
  }
};

struct MemoryIn {
  const std::uint8_t* data;
  std::size_t size;

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<MemoryIn*>(context);
    const std::size_t n = size < self->size ? size : self->size;
    if (n != 0) std::memcpy(buffer, self->data, n);
    self->data += n;
    self->size -= n;
    return static_cast<std::int64_t>(n);
  }
};
}  // namespace detail

// Through the caller's functions.
inline Status compress_stream(ReadFunction read, void* read_context, WriteFunction write,
                              void* write_context, int model, int order,
                              const Observer* observer = nullptr,
                              const Options* options = nullptr) {
  return detail::status_of(mvx_compress_stream(read, read_context, write, write_context, model,
                                               order, observer, options));
}
inline Status decompress_stream(ReadFunction read, void* read_context, WriteFunction write,
                                void* write_context, const Observer* observer = nullptr,
                                const Options* options = nullptr) {
  return detail::status_of(
      mvx_decompress_stream(read, read_context, write, write_context, observer, options));
}
inline Status decompress_stream(ReadFunction read, void* read_context, WriteFunction write,
                                void* write_context, StreamInfo* info,
                                const Observer* observer = nullptr,
                                const Options* options = nullptr) {
  return detail::status_of(mvx_decompress_stream_info(read, read_context, write, write_context,
                                                      info, observer, options));
}

// Memory to memory. `out` is replaced by the compressed stream (or by the
// restored data).
inline Status compress(const void* data, std::size_t size, int model, int order,
                       std::vector<std::uint8_t>& out, const Observer* observer = nullptr,
                       const Options* options = nullptr) {
  out.clear();
  detail::MemoryIn in{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : size};
  detail::VectorOut sink{&out};
  Options sized = options != nullptr ? *options : Options();
  sized.size_hint = in.size;
  const Status status = compress_stream(&detail::MemoryIn::read, &in, &detail::VectorOut::write,
                                        &sink, model, order, observer, &sized);
  return sink.out_of_memory ? Status::out_of_memory : status;
}
inline Status decompress(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                         const Observer* observer = nullptr, const Options* options = nullptr) {
  out.clear();
  detail::MemoryIn in{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : size};
  detail::VectorOut sink{&out};
  Options sized = options != nullptr ? *options : Options();
  sized.size_hint = in.size;
  sized.whole_input = 1;  // the buffer is all there is
  const Status status = decompress_stream(&detail::MemoryIn::read, &in, &detail::VectorOut::write,
                                          &sink, observer, &sized);
  return sink.out_of_memory ? Status::out_of_memory : status;
}

// Named files (see mvx_compress_file; a null name is the standard stream).
inline Status compress_file(const char* input_name, const char* output_name, int model, int order,
                            const Observer* observer = nullptr, const Options* options = nullptr) {
  return detail::status_of(
      mvx_compress_file(input_name, output_name, model, order, observer, options));
}
inline Status decompress_file(const char* input_name, const char* output_name,
                              const Observer* observer = nullptr,
                              const Options* options = nullptr) {
  return detail::status_of(mvx_decompress_file(input_name, output_name, observer, options));
}
inline Status decompress_file(const char* input_name, const char* output_name, StreamInfo* info,
                              const Observer* observer = nullptr,
                              const Options* options = nullptr) {
  return detail::status_of(
      mvx_decompress_file_info(input_name, output_name, info, observer, options));
}
inline Status test_file(const char* input_name, StreamInfo* info = nullptr,
                        const Observer* observer = nullptr, const Options* options = nullptr) {
  return detail::status_of(mvx_test_file(input_name, info, observer, options));
}
inline Status test_stream(ReadFunction read, void* read_context, StreamInfo* info = nullptr,
                          const Observer* observer = nullptr, const Options* options = nullptr) {
  return detail::status_of(mvx_test_stream(read, read_context, info, observer, options));
}

// A stream described from its integrity record (see mvx_describe_from_record).
inline Status describe_from_record(std::uint8_t header, const std::uint8_t tail[MVX_RECORD_SIZE],
                                   std::uint64_t input_size, StreamInfo* info) {
  return detail::status_of(mvx_describe_from_record(header, tail, input_size, info));
}

// Levels (see mvx_level_setting): the rows of -1 .. -9, and a row within a
// memory limit. Options::level makes the automatic choice choose as a level.
inline constexpr int level_min = MVX_LEVEL_MIN;
inline constexpr int level_max = MVX_LEVEL_MAX;
inline constexpr int level_default = MVX_LEVEL_DEFAULT;
inline Status level_setting(int level, Setting* setting) {
  return detail::status_of(mvx_level_setting(level, setting));
}
inline Status level_setting_within(int level, std::uint64_t memory_limit, Setting* setting) {
  return detail::status_of(mvx_level_setting_within(level, memory_limit, setting));
}

// The automatic choice of model and order (see mvx_choose_setting).
inline Status choose_setting(const void* data, std::size_t size, Setting* chosen,
                             const Options* options = nullptr) {
  return detail::status_of(mvx_choose_setting(data, size, chosen, options));
}
inline Status compress_auto(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                            Setting* chosen = nullptr, const Observer* observer = nullptr,
                            const Options* options = nullptr) {
  out.clear();
  std::size_t written = 0;
  try {
    out.resize(mvx_compress_bound(size));
  } catch (const std::bad_alloc&) {
    return Status::out_of_memory;
  }
  const Status status = detail::status_of(
      mvx_compress_auto(data, size, out.data(), out.size(), &written, chosen, observer, options));
  out.resize(status == Status::ok ? written : 0);
  return status;
}
inline Status compress_stream_auto(ReadFunction read, void* read_context, WriteFunction write,
                                   void* write_context, Setting* chosen = nullptr,
                                   const Observer* observer = nullptr,
                                   const Options* options = nullptr) {
  return detail::status_of(mvx_compress_stream_auto(read, read_context, write, write_context,
                                                    chosen, observer, options));
}
inline Status compress_file_auto(const char* input_name, const char* output_name,
                                 Setting* chosen = nullptr, const Observer* observer = nullptr,
                                 const Options* options = nullptr) {
  return detail::status_of(
      mvx_compress_file_auto(input_name, output_name, chosen, observer, options));
}

}  // namespace moltavex
