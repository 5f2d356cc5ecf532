// The C API's entry points of the automatic choice (choose/): in memory,
// over the caller's functions, and on named files. The streaming forms
// read ahead (choose/sampling.h), choose, and only then open or write the
// output; a long input is then coded whole, the bytes read ahead first.
#include <algorithm>
#include <cstring>
#include <new>

#include "api/files.h"
#include "api/levels.h"
#include "choose/sampling.h"
#include "io/memory_streams.h"
#include "models/registry.h"
#include "pipeline/record.h"

namespace mx::api {

namespace {

// What the final pass of a long input reads: the bytes read ahead, then
// the rest of the input.
struct ReadAhead {
  const std::vector<std::uint8_t>* head = nullptr;
  std::size_t offset = 0;
  ByteReader* rest = nullptr;

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<ReadAhead*>(context);
    if (self->offset < self->head->size()) {
      const std::size_t n = std::min(size, self->head->size() - self->offset);
      std::memcpy(buffer, self->head->data() + self->offset, n);
      self->offset += n;
      return static_cast<std::int64_t>(n);
    }
    ByteReader& rest = *self->rest;
    if (reader_peek(rest) < 0) return rest.failed ? -1 : 0;
    const StreamWindow<const std::uint8_t> window = reader_window(rest);
    const std::size_t n = std::min(size, window.size);
    std::memcpy(buffer, window.data, n);
    reader_consume(rest, n);
    return static_cast<std::int64_t>(n);
  }
};

// Reads up to `limit` bytes of `reader` into `head`; true when the input
// ended within them (check reader.failed for a failure).
bool read_ahead(ByteReader& reader, std::size_t limit, std::vector<std::uint8_t>& head) {
  while (head.size() < limit) {
    if (reader_peek(reader) < 0) return !reader.failed;
    const StreamWindow<const std::uint8_t> window = reader_window(reader);
    const std::size_t n = std::min(window.size, limit - head.size());
    head.insert(head.end(), window.data, window.data + n);
    reader_consume(reader, n);
  }
  return reader_peek(reader) < 0 && !reader.failed;
}

}  // namespace

// The choice on data[0, available) of an input of `total_size` bytes: the
// level's, or among all settings. A level takes a length of 0 for an
// unknown one, so an empty input counts as one byte long.
Status choose_for(const CallSettings& settings, const std::uint8_t* data, std::size_t available,
                  std::uint64_t total_size, bool keep_stream, platform::StopFlag stop,
                  Choice& choice) {
  if (settings.options.level != 0) {
    return choose_level(settings.options.level, data, available,
                        std::max<std::uint64_t>(total_size, 1), settings.memory_limit, stop,
                        keep_stream, choice);
  }
  return choose(data, available, total_size, keep_stream, settings.memory_limit, stop, choice);
}

// Reads ahead from `reader`, chooses, opens the output with
// open_output(writer) and codes the input into it. `size_hint`: the
// input's length when the caller knows it. A level that needs no trials
// for that length (any level, for an unknown one) reads nothing ahead.
template <class OpenOutput>
Status compress_chosen(ByteReader& reader, ByteWriter& writer, std::uint64_t size_hint,
                       Setting* chosen, const CallSettings& settings, OpenOutput&& open_output) {
  Setting fixed;
  Status fixed_status = Status::ok;
  if (settings.options.level != 0 &&
      level_without_trials(settings.options.level, size_hint, settings.memory_limit, fixed,
                           fixed_status)) {
    if (fixed_status != Status::ok) return fixed_status;
    if (chosen != nullptr) *chosen = fixed;
    const Status status = open_output(writer);
    if (status != Status::ok) return status;
    return compress_streams(reader, writer, fixed.model, fixed.order, settings.observer,
                            settings.memory_limit, settings.checksum);
  }
  const platform::StopFlag stop = stop_flag_of(settings.observer);
  // Reading ahead and the trials answer to the stop flag only.
  mvx_observer stop_only{};
  stop_only.stop = stop;
  JobWatch ahead_watch;
  watch_streams(ahead_watch, &stop_only, reader, writer);
  std::vector<std::uint8_t> head;
  head.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size_hint, read_ahead_bytes)));
  const bool ended = read_ahead(reader, read_ahead_bytes, head);
  if (reader.failed) return stream_status(reader, writer);
  const std::uint64_t total_size =
      ended ? head.size() : std::max<std::uint64_t>(head.size(), size_hint);

  Choice choice;
  Status status = choose_for(settings, head.data(), head.size(), total_size, true, stop, choice);
  if (status != Status::ok) return status;
  if (chosen != nullptr) *chosen = choice.setting;

  status = open_output(writer);
  if (status != Status::ok) return status;
  if (choice.whole) {
    if (settings.checksum) append_record(choice.stream, head.data(), head.size());
    return emit_stream(choice.stream, choice.setting.model, writer, head.size(), settings.observer);
  }
  ReadAhead source{&head, 0, &reader};
  ByteReader whole;
  status = reader_open_function(whole, &ReadAhead::read, &source);
  if (status != Status::ok) return status;
  whole.expected_bytes = total_size;
  return compress_streams(whole, writer, choice.setting.model, choice.setting.order,
                          settings.observer, settings.memory_limit, settings.checksum);
}

}  // namespace mx::api

namespace {

using mx::c_status;
using mx::Status;
using mx::api::CallSettings;
using mx::api::LimitDefault;

}  // namespace

extern "C" {

MVX_API mvx_status mvx_choose_setting(const void* src, size_t size, mvx_setting* chosen,
                                      const mvx_options* options) {
  if (chosen == nullptr || (src == nullptr && size != 0)) return MVX_INVALID_CALL;
  CallSettings settings;
  const Status read = mx::api::read_settings(options, nullptr, LimitDefault::safe, settings);
  if (read != Status::ok) return c_status(read);
  try {
    mx::Choice choice;
    const Status status = mx::api::choose_for(settings, static_cast<const std::uint8_t*>(src), size,
                                              size, false, nullptr, choice);
    if (status == Status::ok) *chosen = choice.setting;
    return c_status(status);
  } catch (const std::bad_alloc&) {
    return MVX_OUT_OF_MEMORY;
  }
}

MVX_API mvx_status mvx_compress_auto(const void* src, size_t size, void* dst, size_t capacity,
                                     size_t* written, mvx_setting* chosen,
                                     const mvx_observer* observer, const mvx_options* options) {
  if (written != nullptr) *written = 0;
  if ((src == nullptr && size != 0) || (dst == nullptr && capacity != 0) || written == nullptr) {
    return MVX_INVALID_CALL;
  }
  CallSettings settings;
  Status status = mx::api::read_settings(options, observer, LimitDefault::safe, settings);
  if (status != Status::ok) return c_status(status);
  const auto* bytes = static_cast<const std::uint8_t*>(src);
  try {
    mx::Choice choice;
    status = mx::api::choose_for(settings, bytes, size, size, true,
                                 mx::api::stop_flag_of(settings.observer), choice);
    if (status != Status::ok) return c_status(status);
    if (chosen != nullptr) *chosen = choice.setting;
    mx::BufferSink sink{static_cast<std::uint8_t*>(dst), capacity};
    mx::MemorySource source{bytes, size};
    mx::ByteWriter writer;
    status = mx::writer_open_function(writer, &mx::BufferSink::write, &sink);
    if (status == Status::ok && choice.whole) {
      if (settings.checksum) mx::append_record(choice.stream, bytes, size);
      status =
          mx::emit_stream(choice.stream, choice.setting.model, writer, size, settings.observer);
    } else if (status == Status::ok) {
      mx::ByteReader reader;
      status = mx::reader_open_function(reader, &mx::MemorySource::read, &source);
      reader.expected_bytes = size;
      if (status == Status::ok) {
        status = mx::compress_streams(reader, writer, choice.setting.model, choice.setting.order,
                                      settings.observer, settings.memory_limit, settings.checksum);
      }
    }
    *written = sink.length;
    return sink.too_small ? MVX_OUTPUT_TOO_SMALL : c_status(status);
  } catch (const std::bad_alloc&) {
    return MVX_OUT_OF_MEMORY;
  }
}

MVX_API mvx_status mvx_compress_stream_auto(mvx_read_function read, void* read_context,
                                            mvx_write_function write, void* write_context,
                                            mvx_setting* chosen, const mvx_observer* observer,
                                            const mvx_options* options) {
  if (read == nullptr || write == nullptr) return MVX_INVALID_CALL;
  CallSettings settings;
  Status status = mx::api::read_settings(options, observer, LimitDefault::safe, settings);
  if (status != Status::ok) return c_status(status);
  try {
    mx::ByteReader reader;
    mx::ByteWriter writer;
    status = mx::reader_open_function(reader, read, read_context);
    if (status != Status::ok) return c_status(status);
    reader.expected_bytes = settings.options.size_hint;
    return c_status(mx::api::compress_chosen(
        reader, writer, settings.options.size_hint, chosen, settings,
        [&](mx::ByteWriter& out) { return mx::writer_open_function(out, write, write_context); }));
  } catch (const std::bad_alloc&) {
    return MVX_OUT_OF_MEMORY;
  }
}

MVX_API mvx_status mvx_compress_file_auto(const char* input_name, const char* output_name,
                                          mvx_setting* chosen, const mvx_observer* observer,
                                          const mvx_options* options) {
  try {
    return mx::api::run_file_job([&](mx::api::FileJob& job) {
      const Status status = job.begin(input_name, options, observer, LimitDefault::safe);
      if (status != Status::ok) return status;
      return job.finish(mx::api::compress_chosen(
          job.reader, job.writer,
          job.input.id().regular ? std::max<std::uint64_t>(job.input.known_size(), 1) : 0, chosen,
          job.settings, [&](mx::ByteWriter&) { return job.open_output(output_name); }));
    });
  } catch (const std::bad_alloc&) {
    return MVX_OUT_OF_MEMORY;
  }
}

}  // extern "C"
