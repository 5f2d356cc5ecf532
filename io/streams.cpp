#include "io/streams.h"

#include <cstring>

namespace mx {

static Status allocate_buffer(ZeroedBlock& storage, std::uint8_t*& buffer) {
  if (!storage.allocate(stream_buffer_size)) return Status::out_of_memory;
  buffer = storage.data();
  return Status::ok;
}

Status reader_open_handle(ByteReader& reader, platform::Handle handle) {
  reader.handle = handle;
  return allocate_buffer(reader.storage, reader.buffer);
}

Status reader_open_function(ByteReader& reader, ReadFunction function, void* context) {
  reader.read_function = function;
  reader.read_context = context;
  return allocate_buffer(reader.storage, reader.buffer);
}

Status writer_open_handle(ByteWriter& writer, platform::Handle handle) {
  writer.handle = handle;
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
    if (reader.read_function == nullptr && n < 0) reader.error = platform::last_error();
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
    if (writer.write_function == nullptr) writer.error = platform::last_error();
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
    writer.error = platform::last_error();
    writer.failed = true;
  }
  return !writer.failed;
}

int reader_peek(ByteReader& reader) {
  const int byte = reader_get(reader);
  if (byte >= 0) --reader.position;
  return byte;
}

}  // namespace mx
