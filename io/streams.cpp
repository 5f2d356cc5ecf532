#include "io/streams.h"

#include <cstring>

namespace mx {

static Status allocate_buffer(ZeroedBlock& storage, std::uint8_t*& buffer) {
  if (!storage.allocate(stream_buffer_size)) return Status::out_of_memory;
  buffer = storage.data();
  return Status::ok;
}

Status reader_open_handle(ByteReader& reader, platform::Handle handle, bool owns_handle) {
  reader.handle = handle;
  reader.owns_handle = owns_handle;
  return allocate_buffer(reader.storage, reader.buffer);
}

Status reader_open_function(ByteReader& reader, ReadFunction function, void* context) {
  reader.read_function = function;
  reader.read_context = context;
  return allocate_buffer(reader.storage, reader.buffer);
}

Status writer_open_handle(ByteWriter& writer, platform::Handle handle, bool owns_handle) {
  writer.handle = handle;
  writer.owns_handle = owns_handle;
  return allocate_buffer(writer.storage, writer.buffer);
}

Status writer_open_function(ByteWriter& writer, WriteFunction function, void* context) {
  writer.write_function = function;
  writer.write_context = context;
  return allocate_buffer(writer.storage, writer.buffer);
}

void report_progress(const JobWatch* watch) {
  if (watch == nullptr || watch->observer == nullptr || watch->observer->progress == nullptr) {
    return;
  }
  watch->observer->progress(watch->observer->context, watch->reader->bytes_read,
                            watch->writer->bytes_written);
}

bool watch_block(const JobWatch* watch) {
  if (watch == nullptr || watch->observer == nullptr) return true;
  if (watch->observer->stop != nullptr && *watch->observer->stop != 0) return false;
  report_progress(watch);
  return true;
}

static bool stop_raised(const JobWatch* watch) {
  platform::StopFlag stop = stop_flag(watch);
  return stop != nullptr && *stop != 0;
}

bool reader_top_up(ByteReader& reader) {
  if (reader.failed) return false;
  const std::uint32_t left = reader.count - reader.position;
  const auto room = static_cast<std::size_t>(reader.capacity) - left;
  if (room == 0) return true;
  if (!watch_block(reader.watch)) {
    reader.failed = reader.interrupted = true;
    return false;
  }
  if (left != 0) std::memmove(reader.buffer, reader.buffer + reader.position, left);
  reader.position = 0;
  reader.count = left;
  std::uint8_t* const into = reader.buffer + left;
  const std::int64_t n = reader.read_function != nullptr
                             ? reader.read_function(reader.read_context, into, room)
                             : platform::read(reader.handle, into, room, stop_flag(reader.watch));
  if (n < 0 || static_cast<std::uint64_t>(n) > room) {
    reader.failed = true;
    reader.interrupted = stop_raised(reader.watch);
    return false;
  }
  if (n == 0) return false;
  reader.count += static_cast<std::uint32_t>(n);
  reader.bytes_read += static_cast<std::uint64_t>(n);
  return true;
}

int reader_refill(ByteReader& reader) {
  if (!reader_top_up(reader)) return -1;
  return reader.buffer[reader.position++];
}

void writer_drain(ByteWriter& writer) {
  const auto size = static_cast<std::size_t>(writer.length);
  writer.length = 0;
  if (writer.failed || size == 0) return;
  bool ok = writer.write_function != nullptr
                ? writer.write_function(writer.write_context, writer.buffer, size)
                : platform::write_all(writer.handle, writer.buffer, size, stop_flag(writer.watch));
  if (!ok) {
    writer.failed = true;
    writer.interrupted = stop_raised(writer.watch);
    return;
  }
  writer.bytes_written += size;
  if (!watch_block(writer.watch)) writer.failed = writer.interrupted = true;
}

bool writer_commit(ByteWriter& writer) {
  writer_drain(writer);
  if (!writer.failed && writer.write_function == nullptr &&
      writer.handle != platform::invalid_handle && !platform::flush(writer.handle)) {
    writer.failed = true;
  }
  return !writer.failed;
}

void reader_close(ByteReader& reader) {
  if (reader.owns_handle && reader.handle != platform::invalid_handle) {
    // A close error on a file opened for reading loses nothing.
    (void)platform::close(reader.handle);
  }
  reader.handle = platform::invalid_handle;
  reader.owns_handle = false;
}

bool writer_close(ByteWriter& writer) {
  writer_commit(writer);
  if (writer.owns_handle && writer.handle != platform::invalid_handle) {
    // Times that cannot be set leave the data as good as it is.
    if (!writer.failed) (void)platform::apply_times(writer.handle, writer.times_from);
    if (!platform::close(writer.handle)) writer.failed = true;
  }
  writer.handle = platform::invalid_handle;
  writer.owns_handle = false;
  return !writer.failed;
}

ByteReader::~ByteReader() { reader_close(*this); }

bool writer_publish(ByteWriter& writer) {
  if (writer.temporary_name != nullptr && !writer.complete &&
      !platform::replace_file(writer.temporary_name, writer.final_name)) {
    writer.failed = true;
    return false;
  }
  writer.complete = true;
  return true;
}

static bool same_file(const platform::FileId& a, const platform::FileId& b) {
  return a.valid && b.valid && a.device == b.device && a.inode == b.inode;
}

ByteWriter::~ByteWriter() {
  if (owns_handle && handle != platform::invalid_handle) (void)platform::close(handle);
  if (temporary_name != nullptr && !complete) {
    // Remove only the file this writer created: should the name have come
    // to denote another file meanwhile, leave that one alone.
    if (same_file(platform::identify(temporary_name), temporary_id)) {
      (void)platform::remove_file(temporary_name);
    }
  }
}

int reader_peek(ByteReader& reader) {
  const int byte = reader_get(reader);
  if (byte >= 0) --reader.position;
  return byte;
}

Status open_input_stream(const char* name, ByteReader& reader, platform::StopFlag stop) {
  platform::Handle handle;
  bool owned = false;
  if (name[0] == ':') {
    handle = platform::std_input();
  } else {
    handle = platform::open_input(name, stop);
    owned = true;
  }
  if (handle == platform::invalid_handle) {
    return platform::stopped(stop) ? Status::interrupted : Status::open_input_failed;
  }
  if (owned) reader.attributes = platform::attributes(handle);
  const platform::FileId id = platform::identify(handle);
  if (id.regular) reader.expected_bytes = id.size;
  return reader_open_handle(reader, handle, owned);
}

// Opens the temporary file that will replace `name`, with the permissions
// it takes from `from` set, and keeps both names.
static Status open_replacement(const char* name, const platform::FileAttributes& from,
                               ByteWriter& writer) {
  const std::size_t name_size = std::strlen(name) + 1;
  const std::size_t temporary_size = platform::temporary_name_size(name);
  if (!writer.name_storage.allocate(name_size + temporary_size)) return Status::out_of_memory;
  char* const names = reinterpret_cast<char*>(writer.name_storage.data());
  std::memcpy(names, name, name_size);
  char* const temporary = names + name_size;
  const platform::Handle handle = platform::create_temporary(name, temporary);
  if (handle == platform::invalid_handle) return Status::create_output_failed;
  writer.handle = handle;
  writer.owns_handle = true;
  writer.final_name = names;
  writer.temporary_name = temporary;
  writer.temporary_id = platform::identify(handle);
  if (!platform::apply_permissions(handle, from)) return Status::create_output_failed;
  writer.times_from = from;
  return Status::ok;
}

Status open_output_stream(const char* name, const ByteReader& input, ByteWriter& writer,
                          platform::StopFlag stop) {
  const platform::FileId input_id = input.handle != platform::invalid_handle
                                        ? platform::identify(input.handle)
                                        : platform::FileId{};
  if (name[0] == ':') {
    writer.handle = platform::std_output();
    if (writer.handle == platform::invalid_handle) return Status::create_output_failed;
    // Standard output redirected onto the input file (in append mode, say)
    // would make the job read its own output.
    if (input_id.regular && same_file(input_id, platform::identify(writer.handle))) {
      return Status::create_output_failed;
    }
  } else {
    // No file can take an empty name: refused now, not once the job is done.
    if (name[0] == '\0') return Status::create_output_failed;
    if (input_id.regular && same_file(input_id, platform::identify(name))) {
      return Status::create_output_failed;
    }
    Status status = Status::ok;
    if (platform::classify_output(name) == platform::OutputTarget::other) {
      writer.handle = platform::open_in_place(name, stop);
      writer.owns_handle = writer.handle != platform::invalid_handle;
      if (!writer.owns_handle) {
        status = platform::stopped(stop) ? Status::interrupted : Status::create_output_failed;
      }
    } else {
      status = open_replacement(name, input.attributes, writer);
    }
    if (status != Status::ok) return status;
  }
  return writer_open_handle(writer, writer.handle, writer.owns_handle);
}

Status open_streams(const char* input_name, const char* output_name, StreamPair& pair,
                    platform::StopFlag stop) {
  const Status status = open_input_stream(input_name, pair.reader, stop);
  if (status != Status::ok) return status;
  return open_output_stream(output_name, pair.reader, pair.writer, stop);
}

}  // namespace mx
