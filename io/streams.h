// Buffered byte streams.
//
// All data of a job passes through two small records: a ByteReader for the
// input and a ByteWriter for the output, each with a 65536-byte buffer.
// reader_get and writer_put run once per data byte and per coded byte, so
// they are inline and touch only the buffer fields; the system is called
// once per 65536 bytes.
//
// A stream reads from or writes to an operating-system handle (a file or a
// standard stream, owned by whoever opened it: see platform/files.h), or,
// for callers that embed the library, through a function of their own. Failures are sticky flags
// rather than return values on the byte path: a read error makes reader_get return -1 like the end
// of input, but sets `failed`, so the job can tell the two apart; a failed write sets the writer's
// `failed` and later writes are dropped. The drivers test the flags and report read_failed or
// write_failed.
//
// The writer buffers lazily: a full buffer is written out only when the
// next byte arrives, so writing exactly 65536 bytes leaves them all buffered
// until writer_drain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/status.h"
#include "platform/platform.h"
#include "platform/zeroed_block.h"

namespace mx {

inline constexpr std::int32_t stream_buffer_size = 65536;

using ReadFunction = mvx_read_function;
using WriteFunction = mvx_write_function;

struct ByteReader;
struct ByteWriter;

// What a job watches between blocks: the observer's stop flag and progress
// hook. The reader and writer of a job share one; both consult it once per
// 64 KiB block, never per byte.
struct JobWatch {
  const mvx_observer* observer = nullptr;
  const ByteReader* reader = nullptr;
  const ByteWriter* writer = nullptr;
};

struct ByteReader {
  platform::Handle handle = platform::invalid_handle;
  ReadFunction read_function = nullptr;  // used instead of the handle when set
  void* read_context = nullptr;
  std::int32_t capacity = stream_buffer_size;
  std::uint32_t position = 0;  // index of the next unread byte
  std::uint32_t count = 0;     // valid bytes in the buffer
  std::uint8_t* buffer = nullptr;
  std::uint64_t bytes_read = 0;      // total handed over by the source
  std::uint64_t expected_bytes = 0;  // what the source will hand over, when known (else 0)
  bool failed = false;               // a read error was seen (or the job was stopped)
  int error = 0;                     // the system's error number of a failed read from a handle
  bool interrupted = false;          // the job's stop flag was raised
  const JobWatch* watch = nullptr;
  ZeroedBlock storage;

  ByteReader() = default;
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;
};

struct ByteWriter {
  platform::Handle handle = platform::invalid_handle;
  WriteFunction write_function = nullptr;  // used instead of the handle when set
  void* write_context = nullptr;
  std::int32_t capacity = stream_buffer_size;
  std::int32_t length = 0;          // bytes held in the buffer
  std::uint64_t bytes_written = 0;  // total handed to the sink
  std::uint8_t* buffer = nullptr;
  bool failed = false;       // a write, flush or close failed (or the job was stopped)
  int error = 0;             // the system's error number of a failed write or flush to a handle
  bool interrupted = false;  // the job's stop flag was raised
  const JobWatch* watch = nullptr;
  ZeroedBlock storage;

  ByteWriter() = default;
  ByteWriter(const ByteWriter&) = delete;
  ByteWriter& operator=(const ByteWriter&) = delete;
};

// Sets up a reader over a handle (which it does not close) or over a
// caller's function. out_of_memory when the buffer cannot be allocated.
Status reader_open_handle(ByteReader& reader, platform::Handle handle);
Status reader_open_function(ByteReader& reader, ReadFunction function, void* context);
Status writer_open_handle(ByteWriter& writer, platform::Handle handle);
Status writer_open_function(ByteWriter& writer, WriteFunction function, void* context);

int reader_refill(ByteReader& reader);

// Reads more input after the unread bytes, which move to the front of the
// buffer. False at the end of the input, or after a read error or a stop
// (which set `failed`).
bool reader_top_up(ByteReader& reader);

// The window of a stream's buffer: for a reader, the bytes buffered and not
// yet read; for a writer, the room left before the buffer must be drained.
// A caller that works on many bytes at once takes the window, uses a part
// of it and then says how much with reader_consume or writer_produce.
template <class Byte>
struct StreamWindow {
  Byte* data;
  std::size_t size;
};

inline StreamWindow<const std::uint8_t> reader_window(const ByteReader& reader) {
  return {reader.buffer + reader.position, reader.count - reader.position};
}

// Marks the first `n` bytes of the window read (n <= its size).
inline void reader_consume(ByteReader& reader, std::size_t n) {
  reader.position += static_cast<std::uint32_t>(n);
}

inline StreamWindow<std::uint8_t> writer_window(const ByteWriter& writer) {
  return {writer.buffer + writer.length, static_cast<std::size_t>(writer.capacity - writer.length)};
}

// Marks the first `n` bytes of the window written (n <= its size).
inline void writer_produce(ByteWriter& writer, std::size_t n) {
  writer.length += static_cast<std::int32_t>(n);
}

// The next byte as 0..255, or -1 at the end of the input (or after a read
// error, which also sets `failed`).
inline int reader_get(ByteReader& reader) {
  if (reader.position < reader.count) return reader.buffer[reader.position++];
  return reader_refill(reader);
}

// Hands every buffered byte to the sink and empties the buffer.
void writer_drain(ByteWriter& writer);

// Appends one byte; a full buffer is written out first.
inline void writer_put(ByteWriter& writer, std::uint8_t byte) {
  if (writer.length >= writer.capacity) writer_drain(writer);
  writer.buffer[writer.length++] = byte;
}

// writer_drain, then a flush of the handle. False once anything failed.
bool writer_commit(ByteWriter& writer);

// Stop flag of the watch, if any.
inline platform::StopFlag stop_flag(const JobWatch* watch) {
  return watch != nullptr && watch->observer != nullptr ? watch->observer->stop : nullptr;
}

// Between blocks: reports progress; false when the job must stop.
bool watch_block(const JobWatch* watch);

// Reports the final counts of a job that has succeeded.
void report_progress(const JobWatch* watch);

// Makes `reader` and `writer` consult `watch` (which must outlive them).
inline void watch_streams(JobWatch& watch, const mvx_observer* observer, ByteReader& reader,
                          ByteWriter& writer) {
  watch.observer = observer;
  watch.reader = &reader;
  watch.writer = &writer;
  reader.watch = &watch;
  writer.watch = &watch;
}

// The next byte `reader` will yield (0..255), or -1 at the end of the
// input or after a read error, without taking it.
int reader_peek(ByteReader& reader);

}  // namespace mx
