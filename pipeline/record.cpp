// The integrity record's bytes and the checksum behind it. xxHash is used
// header-only (inlined here, the one file that includes it), so that the
// static library and the Windows and cross builds need no library of it.
#include "pipeline/record.h"

#include <cstring>

#include "io/streams.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace mx {

namespace {

static_assert(sizeof(XXH64_state_t) <= 96 && alignof(XXH64_state_t) <= 8,
              "DataHash keeps an XXH64 state in place");

// Explicit little-endian stores and loads: the record's bytes are the same
// on every machine.
void store_le64(std::uint8_t* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t load_le64(const std::uint8_t* in) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

XXH64_state_t* state_of(unsigned char* storage) {
  return reinterpret_cast<XXH64_state_t*>(storage);
}

}  // namespace

DataHash::DataHash() { XXH64_reset(state_of(state_), 0); }

void DataHash::update(const void* data, std::size_t size) {
  if (size == 0) return;
  XXH64_update(state_of(state_), data, size);
  length_ += size;
}

std::uint64_t DataHash::digest() const {
  return XXH64_digest(reinterpret_cast<const XXH64_state_t*>(state_));
}

std::uint64_t data_checksum(const void* data, std::size_t size) { return XXH64(data, size, 0); }

void record_build(const Record& record, std::uint8_t out[record_bytes]) {
  std::memcpy(out, record_magic, sizeof record_magic);
  out[4] = record_version;
  out[5] = out[6] = out[7] = 0;
  store_le64(out + 8, record.stream_length);
  store_le64(out + 16, record.original_length);
  store_le64(out + 24, record.checksum);
}

void append_record(std::vector<std::uint8_t>& stream, const void* data, std::size_t size) {
  Record record;
  record.stream_length = stream.size() + record_bytes;
  record.original_length = size;
  record.checksum = data_checksum(data, size);
  std::uint8_t bytes[record_bytes];
  record_build(record, bytes);
  stream.insert(stream.end(), bytes, bytes + record_bytes);
}

bool record_parse(const std::uint8_t in[record_bytes], Record& record) {
  if (std::memcmp(in, record_magic, sizeof record_magic) != 0 || in[4] != record_version ||
      in[5] != 0 || in[6] != 0 || in[7] != 0) {
    return false;
  }
  record.stream_length = load_le64(in + 8);
  record.original_length = load_le64(in + 16);
  record.checksum = load_le64(in + 24);
  return true;
}

void InputTail::add(const std::uint8_t* data, std::size_t size) {
  seen_ += size;
  if (size >= record_bytes) {
    std::memcpy(last_, data + size - record_bytes, record_bytes);
  } else if (size != 0) {
    std::memmove(last_, last_ + size, record_bytes - size);
    std::memcpy(last_ + record_bytes - size, data, size);
  }
}

bool InputTail::ends_in_record() const {
  Record record;
  return seen_ >= record_bytes && record_parse(last_, record) && record.stream_length == seen_;
}

std::int64_t HashingSource::read(void* context, std::uint8_t* buffer, std::size_t size) {
  auto* self = static_cast<HashingSource*>(context);
  ByteReader& from = *self->from;
  if (reader_peek(from) < 0) return from.failed ? -1 : 0;
  const StreamWindow<const std::uint8_t> window = reader_window(from);
  const std::size_t n = window.size < size ? window.size : size;
  std::memcpy(buffer, window.data, n);
  reader_consume(from, n);
  self->hash.update(buffer, n);
  return static_cast<std::int64_t>(n);
}

void read_to_end(ByteReader& reader, InputTail& tail) {
  for (;;) {
    const StreamWindow<const std::uint8_t> window = reader_window(reader);
    tail.add(window.data, window.size);
    reader_consume(reader, window.size);
    if (!reader_top_up(reader)) break;
  }
}

bool begins_with_magic(ByteReader& reader) {
  while (reader.count - reader.position < sizeof record_magic && reader_top_up(reader)) {
  }
  const StreamWindow<const std::uint8_t> window = reader_window(reader);
  return window.size >= sizeof record_magic &&
         std::memcmp(window.data, record_magic, sizeof record_magic) == 0;
}

Trailer read_trailer(ByteReader& reader, std::uint64_t body_length, const DataHash& data,
                     InputTail* tail) {
  // Takes one byte, which the tail sees.
  const auto take = [&]() -> int {
    const int c = reader_get(reader);
    if (c >= 0 && tail != nullptr) {
      const auto byte = static_cast<std::uint8_t>(c);
      tail->add(&byte, 1);
    }
    return c;
  };
  std::uint64_t consumed = reader.bytes_read - (reader.count - reader.position);
  while (consumed < body_length && take() >= 0) ++consumed;
  if (reader.failed) return Trailer::read_failed;
  if (consumed == body_length && begins_with_magic(reader)) {
    std::uint8_t bytes[record_bytes];
    for (std::uint8_t& byte : bytes) {
      const int c = take();
      if (c < 0) return reader.failed ? Trailer::read_failed : Trailer::truncated;
      byte = static_cast<std::uint8_t>(c);
    }
    Record record;
    return record_parse(bytes, record) && record_matches(record, body_length, data)
               ? Trailer::verified
               : Trailer::corrupt;
  }
  if (reader.failed) return Trailer::read_failed;
  if (tail == nullptr) return Trailer::none;
  read_to_end(reader, *tail);
  if (reader.failed) return Trailer::read_failed;
  return tail->ends_in_record() ? Trailer::corrupt : Trailer::none;
}

}  // namespace mx
