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

bool watch_block(const JobWatch* watch) {
  if (watch == nullptr || watch->observer == nullptr) return true;
  const moltavex::Observer& observer = *watch->observer;
  if (observer.stop != nullptr && *observer.stop != 0) return false;
  if (observer.progress != nullptr) {
    observer.progress(observer.context, watch->reader->bytes_read, watch->writer->bytes_written);
  }
  return true;
}

static bool stop_raised(const JobWatch* watch) {
  platform::StopFlag stop = stop_flag(watch);
  return stop != nullptr && *stop != 0;
}

int reader_refill(ByteReader& reader) {
  reader.position = 0;
  reader.count = 0;
  if (reader.failed) return -1;
  if (!watch_block(reader.watch)) {
    reader.failed = reader.interrupted = true;
    return -1;
  }
  const auto size = static_cast<std::size_t>(reader.capacity);
  std::int64_t n =
      reader.read_function != nullptr
          ? reader.read_function(reader.read_context, reader.buffer, size)
          : platform::read(reader.handle, reader.buffer, size, stop_flag(reader.watch));
  if (n < 0 || static_cast<std::uint64_t>(n) > size) {
    reader.failed = true;
    reader.interrupted = stop_raised(reader.watch);
    return -1;
  }
  if (n == 0) return -1;
  reader.count = static_cast<std::uint32_t>(n);
  reader.bytes_read += static_cast<std::uint64_t>(n);
  reader.position = 1;
  return reader.buffer[0];
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
    if (!platform::close(writer.handle)) writer.failed = true;
  }
  writer.handle = platform::invalid_handle;
  writer.owns_handle = false;
  return !writer.failed;
}

ByteReader::~ByteReader() { reader_close(*this); }

ByteWriter::~ByteWriter() {
  if (owns_handle && handle != platform::invalid_handle) (void)platform::close(handle);
  if (created_name != nullptr && !complete) {
    // Remove only the file this writer created: if the name has meanwhile
    // come to denote another file, leave that one alone.
    platform::FileId now = platform::identify(created_name);
    if (now.valid && now.regular && now.device == created_id.device &&
        now.inode == created_id.inode) {
      (void)platform::remove_file(created_name);
    }
  }
}

static bool same_file(const platform::FileId& a, const platform::FileId& b) {
  return a.valid && b.valid && a.device == b.device && a.inode == b.inode;
}

Status open_streams(const char* input_name, const char* output_name, StreamPair& pair) {
  ByteReader& reader = pair.reader;
  ByteWriter& writer = pair.writer;

  if (input_name[0] == ':') {
    reader.handle = platform::std_input();
    reader.owns_handle = false;
  } else {
    reader.handle = platform::open_input(input_name);
    reader.owns_handle = true;
  }
  if (reader.handle == platform::invalid_handle) {
    reader.owns_handle = false;
    return Status::open_input_failed;
  }
  const platform::FileId input_id = platform::identify(reader.handle);

  if (output_name[0] == ':') {
    writer.handle = platform::std_output();
    writer.owns_handle = false;
    if (writer.handle == platform::invalid_handle) return Status::create_output_failed;
    // Standard output redirected onto the input file (in append mode, say)
    // would make the job read its own output.
    platform::FileId out_id = platform::identify(writer.handle);
    if (input_id.regular && same_file(input_id, out_id)) return Status::create_output_failed;
  } else {
    // Creating the output truncates it: refuse before that if it is the input.
    if (input_id.regular && same_file(input_id, platform::identify(output_name))) {
      return Status::create_output_failed;
    }
    writer.handle = platform::create_output(output_name);
    if (writer.handle == platform::invalid_handle) return Status::create_output_failed;
    writer.owns_handle = true;
    platform::FileId created = platform::identify(writer.handle);
    if (created.regular) {
      // Keep a copy of the name: the file is removed by it if the job fails.
      const std::size_t length = std::strlen(output_name);
      if (!writer.name_storage.allocate(length + 1)) {
        writer.name_storage.release();
        (void)platform::remove_file(output_name);
        return Status::out_of_memory;
      }
      std::memcpy(writer.name_storage.data(), output_name, length);
      writer.created_name = reinterpret_cast<const char*>(writer.name_storage.data());
      writer.created_id = created;
    }
  }

  Status status = reader_open_handle(reader, reader.handle, reader.owns_handle);
  if (status != Status::ok) return status;
  return writer_open_handle(writer, writer.handle, writer.owns_handle);
}

}  // namespace mx
