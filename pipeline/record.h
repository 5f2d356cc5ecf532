// The integrity record: 32 bytes that may follow a stream's body, carrying
// the stream's length, the original data's length and its XXH64 checksum,
// so that a decoder can tell damaged data from good data. Readers that stop
// at the end marker never see it; a stream with the record, minus its last
// 32 bytes, is byte for byte the stream without it.
//
// Layout (all integers little-endian):
//
//   offset 0   magic C5 4D 56 58 (0xC5 is no header byte: a record is never
//              taken for the start of another stream)
//   offset 4   version, 1
//   offset 5   three reserved bytes, zero
//   offset 8   the stream's length: header, body and record (u64)
//   offset 16  the original data's length (u64)
//   offset 24  XXH64, seed 0, of the original data (u64)
//
// A record is present when the bytes right after the body begin with the
// whole magic; a push decoder takes up to those 4 bytes to tell whether
// the stream has ended, whatever the pieces. The 28 bytes after the magic
// must then complete a valid record (fewer: the stream is cut short;
// another version or reserved byte, or fields that do not match: it is
// corrupt). Anything else after the body (another byte, a part of the
// magic, or nothing) is not the stream's: an old stream ends with its
// body, as the format's readers have always had it, and padding after it
// is trailing data. A decoder with the whole input also takes a valid
// record that ends the input, its stream length the input's, for the
// stream's own: one that no decoded body reached means damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "moltavex/moltavex.h"

namespace mx {

inline constexpr std::size_t record_bytes = MVX_RECORD_SIZE;
inline constexpr std::uint8_t record_magic[4] = {0xC5, 0x4D, 0x56, 0x58};
inline constexpr std::uint8_t record_version = 1;

struct Record {
  std::uint64_t stream_length = 0;
  std::uint64_t original_length = 0;
  std::uint64_t checksum = 0;
};

// The XXH64 (seed 0) of data given in pieces, and their total length.
class DataHash {
 public:
  DataHash();
  void update(const void* data, std::size_t size);
  std::uint64_t digest() const;
  std::uint64_t length() const { return length_; }

 private:
  // An XXH64 state (88 bytes), kept here so that a job allocates nothing;
  // record.cpp checks that it fits.
  alignas(8) unsigned char state_[96];
  std::uint64_t length_ = 0;
};

// The XXH64 (seed 0) of one buffer.
std::uint64_t data_checksum(const void* data, std::size_t size);

// The record's 32 bytes.
void record_build(const Record& record, std::uint8_t out[record_bytes]);

// Appends the record of data[0, size) to `stream`, a whole stream without
// one that restores that data.
void append_record(std::vector<std::uint8_t>& stream, const void* data, std::size_t size);

struct ByteReader;

// Whether the reader's next bytes are the record's whole magic (tops the
// reader up to see 4 bytes; takes none). False at the end of the input or
// after a read error (which sets `failed`).
bool begins_with_magic(ByteReader& reader);

// Parses 32 bytes that began with the magic: false when the
// magic, the version or a reserved byte is not a version-1 record's.
bool record_parse(const std::uint8_t in[record_bytes], Record& record);

// Whether a record parsed after a body of `body_length` bytes describes
// the data that body restored.
inline bool record_matches(const Record& record, std::uint64_t body_length, const DataHash& data) {
  return record.stream_length == body_length + record_bytes &&
         record.original_length == data.length() && record.checksum == data.digest();
}

// The last record_bytes bytes of a stream of bytes seen in pieces, and how
// many bytes were seen: what a decoder that reads its whole input checks
// at its end.
class InputTail {
 public:
  void add(const std::uint8_t* data, std::size_t size);
  std::uint64_t seen() const { return seen_; }
  // True when the input ends in a valid record whose stream length is the
  // whole input's: the stream that record closes ends there, not where the
  // body that was decoded ended.
  bool ends_in_record() const;

 private:
  std::uint8_t last_[record_bytes] = {};
  std::uint64_t seen_ = 0;
};

// A reader function (mvx_read_function) that hands on what another reader
// yields and hashes it on the way, a buffer at a time: a compression job
// reads its input through it when the record is wanted.
struct HashingSource {
  ByteReader* from = nullptr;
  DataHash hash;

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size);
};

// Reads the rest of the input, which `tail` sees (a read error sets the
// reader's `failed`).
void read_to_end(ByteReader& reader, InputTail& tail);

// What follows a decoded body in a reader.
enum class Trailer {
  none,       // no record: an old stream
  verified,   // a record that matches the data
  corrupt,    // a record that does not, or a whole input that ends in another
  truncated,  // a record cut short
  read_failed,
};

// Reads what follows a body of `body_length` bytes (header included) that
// restored `data`: passes over the finishing bytes the decoder did not
// need, then takes the record if one begins there. `tail`, when given, has
// seen every byte the reader handed over so far, and the reader yields the
// whole input: then, when no record follows the body, the rest of the
// input is read to its end and a record standing there makes the stream
// corrupt (damage moved the end marker).
Trailer read_trailer(ByteReader& reader, std::uint64_t body_length, const DataHash& data,
                     InputTail* tail);

}  // namespace mx
