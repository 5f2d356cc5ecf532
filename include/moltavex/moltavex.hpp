// Moltavex for C++: the C API of <moltavex/moltavex.h> (which describes the
// format, the models, errors and threads) with C++ types, default
// arguments and results in std::vector. Every function here is an inline
// call of the C API. Jobs return a Result: their Status, and for a memory
// limit passed the bytes of tables needed and the limit, with the line the
// program prints. Without a model and order, compression writes the
// program's stream: level 5 (or the level given) with the integrity record.
//
// EXAMPLES
//
//   // Memory to memory, as `moltavex FILE` writes.
//   std::vector<std::uint8_t> packed, restored;
//   const char text[] = "hello, hello, hello";
//   if (moltavex::compress(text, sizeof text - 1, packed) != moltavex::Status::ok) ...
//   moltavex::Result r = moltavex::decompress(packed.data(), packed.size(), restored);
//   if (r != moltavex::Status::ok) std::fprintf(stderr, "%s\n", r.message().c_str());
//
//   // Files: level 9 (-9), and model 3 at order 16 (no record).
//   moltavex::Status s = moltavex::compress_file("book.txt", "book.txt.mx", 9);
//   s = moltavex::compress_file("book.txt", "book.txt.mx3", 3, 16);
//   if (s != moltavex::Status::ok) std::fprintf(stderr, "%s\n", moltavex::status_message(s));
//
//   // Your own streams (level 5; model 0 at order 22).
//   std::int64_t my_read(void* context, std::uint8_t* buffer, std::size_t size);
//   bool my_write(void* context, const std::uint8_t* data, std::size_t size);
//   moltavex::compress_stream(&my_read, &source, &my_write, &sink);
//   moltavex::compress_stream(&my_read, &source, &my_write, &sink, 0, 22);
//
// The examples are compiled and run by the test suite (tests/test_api.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
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

// The line for a job refused by a memory limit, as the program and the
// bindings say it: "needs 137 MiB of tables, over the memory limit of
// 64 MiB" (MiB rounded up).
inline std::string memory_limit_message(std::uint64_t required_bytes, std::uint64_t memory_limit) {
  const auto mebibytes = [](std::uint64_t bytes) {
    return std::to_string((bytes >> 20) + ((bytes & ((std::uint64_t{1} << 20) - 1)) != 0)) + " MiB";
  };
  return "needs " + mebibytes(required_bytes) + " of tables, over the memory limit of " +
         mebibytes(memory_limit);
}

// The outcome of a job: its Status, which it converts to (so it compares,
// switches and assigns as one), and for Status::memory_limit the bytes of
// tables the job needs (0 where not known: a named file's stream, a
// setting the library chooses) and the limit in force; both 0 for other
// statuses.
class Result {
 public:
  Result() = default;
  explicit Result(Status status, std::uint64_t required_bytes = 0, std::uint64_t memory_limit = 0)
      : status_(status),
        required_bytes_(status == Status::memory_limit ? required_bytes : 0),
        memory_limit_(status == Status::memory_limit ? memory_limit : 0) {}

  operator Status() const { return status_; }
  Status status() const { return status_; }
  std::uint64_t required_bytes() const { return required_bytes_; }
  std::uint64_t memory_limit() const { return memory_limit_; }
  // memory_limit_message() when the bytes are known, else status_message().
  std::string message() const {
    return required_bytes_ != 0 ? memory_limit_message(required_bytes_, memory_limit_)
                                : status_message(status_);
  }

 private:
  Status status_ = Status::ok;
  std::uint64_t required_bytes_ = 0;
  std::uint64_t memory_limit_ = 0;
};

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
// The tables decompressing a stream whose first byte is `header` takes
// (0: it names no model).
inline std::uint64_t stream_memory(std::uint8_t header) {
  int model = 0, order = 0;
  return read_header(header, &model, &order) ? model_memory(model, order) : 0;
}
// The table limit a job runs under: options->memory_limit, or for 0 (or
// no options) the library's default, which is none when compressing with a
// setting the caller gives and MVX_DEFAULT_MEMORY_LIMIT otherwise
// (decompression, tests, levels and the automatic choice).
inline std::uint64_t memory_limit_in_force(const mvx_options* options, bool setting_given) {
  if (options != nullptr && options->memory_limit != 0) return options->memory_limit;
  return setting_given ? MVX_NO_MEMORY_LIMIT : MVX_DEFAULT_MEMORY_LIMIT;
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

// A job's Result: for a memory limit passed, `required` bytes of tables
// (0: not known) and the limit in force.
inline Result result_of(mvx_status status, std::uint64_t required, std::uint64_t limit) {
  return Result(status_of(status), required, limit);
}

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

// The caller's reads, passed through, keeping the stream's first byte: its
// header, which names the tables a refused stream needs. A null function
// stays null, for the library to refuse.
struct HeaderWatch {
  ReadFunction read;
  void* context;
  int header = -1;  // none read yet

  static std::int64_t pass(void* watch, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<HeaderWatch*>(watch);
    const std::int64_t n = self->read(self->context, buffer, size);
    if (n > 0 && self->header < 0) self->header = buffer[0];
    return n;
  }
  ReadFunction function() const { return read != nullptr ? &pass : nullptr; }
  std::uint64_t required() const {
    return header < 0 ? 0 : stream_memory(static_cast<std::uint8_t>(header));
  }
};

// A level's options: the caller's, with the level and the record.
inline Options at_level(int level, const Options* options) {
  Options at = options != nullptr ? *options : Options();
  at.level = level;
  at.checksum = 1;
  return at;
}
inline bool valid_level(int level) { return level >= MVX_LEVEL_MIN && level <= MVX_LEVEL_MAX; }
}  // namespace detail

// Through the caller's functions.
inline Result compress_stream(ReadFunction read, void* read_context, WriteFunction write,
                              void* write_context, int model, int order,
                              const Observer* observer = nullptr,
                              const Options* options = nullptr) {
  return detail::result_of(mvx_compress_stream(read, read_context, write, write_context, model,
                                               order, observer, options),
                           model_memory(model, order), memory_limit_in_force(options, true));
}
inline Result decompress_stream(ReadFunction read, void* read_context, WriteFunction write,
                                void* write_context, StreamInfo* info,
                                const Observer* observer = nullptr,
                                const Options* options = nullptr) {
  detail::HeaderWatch watch{read, read_context};
  const mvx_status status = mvx_decompress_stream_info(watch.function(), &watch, write,
                                                       write_context, info, observer, options);
  return detail::result_of(status, watch.required(), memory_limit_in_force(options, false));
}
inline Result decompress_stream(ReadFunction read, void* read_context, WriteFunction write,
                                void* write_context, const Observer* observer = nullptr,
                                const Options* options = nullptr) {
  return decompress_stream(read, read_context, write, write_context, nullptr, observer, options);
}

// Memory to memory. `out` is replaced by the compressed stream (or by the
// restored data).
inline Result compress(const void* data, std::size_t size, int model, int order,
                       std::vector<std::uint8_t>& out, const Observer* observer = nullptr,
                       const Options* options = nullptr) {
  out.clear();
  detail::MemoryIn in{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : size};
  detail::VectorOut sink{&out};
  Options sized = options != nullptr ? *options : Options();
  sized.size_hint = in.size;
  const Result result = compress_stream(&detail::MemoryIn::read, &in, &detail::VectorOut::write,
                                        &sink, model, order, observer, &sized);
  return sink.out_of_memory ? Result(Status::out_of_memory) : result;
}
inline Result decompress(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                         const Observer* observer = nullptr, const Options* options = nullptr) {
  out.clear();
  detail::MemoryIn in{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : size};
  detail::VectorOut sink{&out};
  Options sized = options != nullptr ? *options : Options();
  sized.size_hint = in.size;
  sized.whole_input = 1;  // the buffer is all there is
  const Result result = decompress_stream(&detail::MemoryIn::read, &in, &detail::VectorOut::write,
                                          &sink, observer, &sized);
  return sink.out_of_memory ? Result(Status::out_of_memory) : result;
}

// Named files (see mvx_compress_file; a null name is the standard stream).
// The library decodes a named file's header itself: a refused stream's
// tables are not known here (Result::required_bytes() is 0).
inline Result compress_file(const char* input_name, const char* output_name, int model, int order,
                            const Observer* observer = nullptr, const Options* options = nullptr) {
  return detail::result_of(
      mvx_compress_file(input_name, output_name, model, order, observer, options),
      model_memory(model, order), memory_limit_in_force(options, true));
}
inline Result decompress_file(const char* input_name, const char* output_name, StreamInfo* info,
                              const Observer* observer = nullptr,
                              const Options* options = nullptr) {
  return detail::result_of(
      mvx_decompress_file_info(input_name, output_name, info, observer, options), 0,
      memory_limit_in_force(options, false));
}
inline Result decompress_file(const char* input_name, const char* output_name,
                              const Observer* observer = nullptr,
                              const Options* options = nullptr) {
  return decompress_file(input_name, output_name, nullptr, observer, options);
}
inline Result test_file(const char* input_name, StreamInfo* info = nullptr,
                        const Observer* observer = nullptr, const Options* options = nullptr) {
  return detail::result_of(mvx_test_file(input_name, info, observer, options), 0,
                           memory_limit_in_force(options, false));
}
inline Result test_stream(ReadFunction read, void* read_context, StreamInfo* info = nullptr,
                          const Observer* observer = nullptr, const Options* options = nullptr) {
  detail::HeaderWatch watch{read, read_context};
  const mvx_status status = mvx_test_stream(watch.function(), &watch, info, observer, options);
  return detail::result_of(status, watch.required(), memory_limit_in_force(options, false));
}

// A stream described from its integrity record (see mvx_describe_from_record).
inline Status describe_from_record(std::uint8_t header, const std::uint8_t tail[MVX_RECORD_SIZE],
                                   std::uint64_t input_size, StreamInfo* info) {
  return detail::status_of(mvx_describe_from_record(header, tail, input_size, info));
}

// The automatic choice of model and order (see mvx_choose_setting), or with
// Options::level a level's. The choice's tables are not known when it
// fails (Result::required_bytes() is 0).
inline Status choose_setting(const void* data, std::size_t size, Setting* chosen,
                             const Options* options = nullptr) {
  return detail::status_of(mvx_choose_setting(data, size, chosen, options));
}
inline Result compress_auto(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                            Setting* chosen = nullptr, const Observer* observer = nullptr,
                            const Options* options = nullptr) {
  out.clear();
  std::size_t written = 0;
  try {
    out.resize(mvx_compress_bound(size));
  } catch (const std::bad_alloc&) {
    return Result(Status::out_of_memory);
  }
  const mvx_status status =
      mvx_compress_auto(data, size, out.data(), out.size(), &written, chosen, observer, options);
  out.resize(status == MVX_OK ? written : 0);
  return detail::result_of(status, 0, memory_limit_in_force(options, false));
}
inline Result compress_stream_auto(ReadFunction read, void* read_context, WriteFunction write,
                                   void* write_context, Setting* chosen = nullptr,
                                   const Observer* observer = nullptr,
                                   const Options* options = nullptr) {
  return detail::result_of(
      mvx_compress_stream_auto(read, read_context, write, write_context, chosen, observer, options),
      0, memory_limit_in_force(options, false));
}
inline Result compress_file_auto(const char* input_name, const char* output_name,
                                 Setting* chosen = nullptr, const Observer* observer = nullptr,
                                 const Options* options = nullptr) {
  return detail::result_of(
      mvx_compress_file_auto(input_name, output_name, chosen, observer, options), 0,
      memory_limit_in_force(options, false));
}

// Levels (see mvx_level_setting): the rows of -1 .. -9, and a row within a
// memory limit.
inline constexpr int level_min = MVX_LEVEL_MIN;
inline constexpr int level_max = MVX_LEVEL_MAX;
inline constexpr int level_default = MVX_LEVEL_DEFAULT;
inline Status level_setting(int level, Setting* setting) {
  return detail::status_of(mvx_level_setting(level, setting));
}
inline Status level_setting_within(int level, std::uint64_t memory_limit, Setting* setting) {
  return detail::status_of(mvx_level_setting_within(level, memory_limit, setting));
}

// The program's streams: a level (level_min..level_max; others are
// Status::invalid_argument) chosen as the automatic choice does with
// Options::level, with the integrity record; with the defaults, byte for
// byte what `moltavex FILE` writes, and with a level what -1 .. -9 write.
// The caller's Options apply but for `level` and `checksum`, which these
// set: for a level's stream without the record, set Options::level and call
// compress_auto, compress_stream_auto or compress_file_auto. The streaming
// form follows Options::size_hint (none: the level's row, as for a pipe).
inline Result compress(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                       int level = level_default, const Observer* observer = nullptr,
                       const Options* options = nullptr) {
  if (!detail::valid_level(level)) {
    out.clear();
    return Result(Status::invalid_argument);
  }
  const Options at = detail::at_level(level, options);
  return compress_auto(data, size, out, nullptr, observer, &at);
}
inline Result compress_file(const char* input_name, const char* output_name,
                            int level = level_default, const Observer* observer = nullptr,
                            const Options* options = nullptr) {
  if (!detail::valid_level(level)) return Result(Status::invalid_argument);
  const Options at = detail::at_level(level, options);
  return compress_file_auto(input_name, output_name, nullptr, observer, &at);
}
inline Result compress_stream(ReadFunction read, void* read_context, WriteFunction write,
                              void* write_context, int level = level_default,
                              const Observer* observer = nullptr,
                              const Options* options = nullptr) {
  if (!detail::valid_level(level)) return Result(Status::invalid_argument);
  const Options at = detail::at_level(level, options);
  return compress_stream_auto(read, read_context, write, write_context, nullptr, observer, &at);
}

}  // namespace moltavex
