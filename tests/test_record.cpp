// The integrity record: a stream with it, minus its 32 bytes, is the stream
// without it; every decoder that has the whole input turns damage into a
// status instead of wrong data; cut, damaged and foreign records fail as
// they should, whatever the pieces a push decoder is given.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "moltavex/moltavex.hpp"
#include "pipeline/record.h"
#include "push_support.h"

namespace mx {
namespace {

using test::Bytes;

mvx_options record_options() {
  mvx_options options = MVX_OPTIONS_INIT;
  options.checksum = 1;
  return options;
}

struct Outcome {
  mvx_status status = MVX_OK;
  Bytes data;
};

// The one-shot decoder, which has the whole input; a damaged header may
// name tables beyond the limit, and damaged data may grow: both end in a
// status.
Outcome decode_buffer(const Bytes& stream, std::size_t capacity) {
  Outcome r;
  mvx_options options = MVX_OPTIONS_INIT;
  options.memory_limit = std::uint64_t{1} << 22;
  r.data.resize(capacity);
  std::size_t written = 0;
  r.status = mvx_decompress_with(stream.data(), stream.size(), r.data.data(), r.data.size(),
                                 &written, &options);
  r.data.resize(written);
  return r;
}

// The pull driver over a reader that may go on after the stream (not the
// whole input).
Outcome decode_pull(const Bytes& stream) {
  const test::JobResult r = test::decompress_bytes(stream);
  return {static_cast<mvx_status>(r.status), r.output};
}

std::uint64_t load_le64(const Bytes& bytes, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

void store_le64(Bytes& bytes, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[at + static_cast<std::size_t>(i)] = (value >> (8 * i)) & 0xFF;
}

struct Flips {
  int silently_wrong = 0;  // ok, and other data
  int caught = 0;          // a failure status
};

// Every single-bit flip of `stream` through the one-shot decoder.
Flips flip_every_bit(const Bytes& stream, const Bytes& data) {
  Flips flips;
  for (std::size_t at = 0; at < stream.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes damaged = stream;
      damaged[at] ^= static_cast<std::uint8_t>(1 << bit);
      const Outcome r = decode_buffer(damaged, 4 * data.size() + 64);
      if (r.status != MVX_OK) {
        ++flips.caught;
      } else if (r.data != data) {
        ++flips.silently_wrong;
      }
    }
  }
  return flips;
}

// A short input with the transform's cases: text, a lone escape, and many
// short runs of 0xF0 between zeros, after which a decoder thrown off by a
// flip soon meets an end marker (F0 F0 00) and stops as if all were well.
Bytes short_input() {
  Bytes data = test::sample_text<Bytes>(100);
  data.insert(data.end(), {0xF0, 'a'});
  for (int i = 0; i < 40; ++i) {
    data.insert(data.end(), static_cast<std::size_t>(2 + i % 3), 0xF0);
    data.push_back(0x00);
  }
  return data;
}

struct Setting {
  int model;
  int order;
};
const Setting settings[] = {{0, 12}, {1, 12}, {2, 14}, {3, 10}, {4, 12}, {5, 10}};

TEST(IntegrityRecord, EveryModelTurnsDamageIntoAStatus) {
  const Bytes data = short_input();
  const mvx_options options = record_options();
  std::mt19937 random(5);
  int wrong_with = 0, wrong_without = 0;
  for (const Setting s : settings) {
    const std::string where = "model " + std::to_string(s.model);
    const Bytes bare = test::one_shot(data, s.model, s.order);
    const Bytes stream = test::one_shot(data, s.model, s.order, &options);

    // The record follows the stream without it, unchanged.
    ASSERT_EQ(stream.size(), bare.size() + record_bytes) << where;
    EXPECT_TRUE(std::equal(bare.begin(), bare.end(), stream.begin())) << where;
    const std::size_t at = bare.size();
    EXPECT_EQ(test::to_hex(Bytes(stream.begin() + at, stream.begin() + at + 8)),
              "C5 4D 56 58 01 00 00 00")
        << where;
    EXPECT_EQ(load_le64(stream, at + 8), stream.size()) << where;
    EXPECT_EQ(load_le64(stream, at + 16), data.size()) << where;
    EXPECT_EQ(decode_buffer(stream, data.size()).data, data) << where;
    EXPECT_EQ(decode_pull(stream).data, data) << where;
    // Whatever the reads (the body may end with bytes a renormalisation
    // still owes when a read ends there), the record is found and counted.
    for (std::size_t chunk = 1; chunk <= 13; ++chunk) {
      mvx_stream_info info = MVX_STREAM_INFO_INIT;
      const test::JobResult r = test::run_in_memory(
          stream,
          [&](ByteReader& reader, ByteWriter& writer) {
            return decompress_streams(reader, writer, nullptr, no_memory_limit, &info,
                                      /*whole_input*/ true);
          },
          chunk);
      EXPECT_EQ(r.status, Status::ok) << where << ", reads of " << chunk;
      EXPECT_EQ(info.checksum, 1) << where << ", reads of " << chunk;
      EXPECT_EQ(info.compressed_bytes, stream.size()) << where << ", reads of " << chunk;
      EXPECT_EQ(info.trailing_data, 0) << where << ", reads of " << chunk;
    }
    // Data after the stream is told, with the record and without it.
    for (const Bytes* whole : {&stream, &bare}) {
      Bytes trailed = *whole;
      trailed.push_back('x');
      mvx_stream_info info = MVX_STREAM_INFO_INIT;
      const test::JobResult r =
          test::run_in_memory(trailed, [&](ByteReader& reader, ByteWriter& writer) {
            return decompress_streams(reader, writer, nullptr, no_memory_limit, &info,
                                      /*whole_input*/ true);
          });
      EXPECT_EQ(r.status, Status::ok) << where;
      EXPECT_EQ(info.trailing_data, 1) << where << (whole == &bare ? ", no record" : "");
    }

    // Every bit flip: with the record, a status or the data itself; without
    // it, some flips pass for good data.
    const Flips with = flip_every_bit(stream, data);
    const Flips without = flip_every_bit(bare, data);
    EXPECT_EQ(with.silently_wrong, 0) << where;
    EXPECT_GE(without.silently_wrong, 1) << where << ": the bare stream should show its weakness";
    wrong_with += with.silently_wrong;
    wrong_without += without.silently_wrong;
    std::printf("[ flips    ] %s: %zu flips, silently wrong %d with the record, %d without\n",
                where.c_str(), stream.size() * 8, with.silently_wrong, without.silently_wrong);

    // Records cut after their whole magic fail as cut streams, in every
    // decoder; cut within the magic, they are bytes after an old stream.
    for (std::size_t keep = at + 1; keep < stream.size(); ++keep) {
      const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(keep));
      if (keep < at + 4) {
        EXPECT_EQ(decode_buffer(cut, data.size()).data, data) << where << keep;
        EXPECT_EQ(decode_pull(cut).data, data) << where << keep;
        const test::Pushed pushed = test::decompress_in_pieces(cut, random);
        EXPECT_EQ(pushed.status, MVX_OK) << where << keep;
        EXPECT_EQ(pushed.data, data) << where << keep;
        EXPECT_EQ(pushed.consumed, at) << where << keep;
        continue;
      }
      EXPECT_EQ(decode_buffer(cut, data.size()).status, MVX_TRUNCATED_STREAM) << where << keep;
      EXPECT_EQ(decode_pull(cut).status, MVX_TRUNCATED_STREAM) << where << keep;
      EXPECT_EQ(test::decompress_in_pieces(cut, random).status, MVX_TRUNCATED_STREAM)
          << where << keep;
    }

    // Damaged fields and foreign records: corrupt wherever a record follows
    // the body, whoever reads it.
    const auto damage = [&](auto change) {
      Bytes damaged = stream;
      change(damaged);
      return damaged;
    };
    // Another magic is no record: the data, and bytes after the stream.
    for (std::size_t byte = 0; byte < 4; ++byte) {
      const Bytes other = damage([&](Bytes& b) { b[at + byte] ^= 0x20; });
      EXPECT_EQ(decode_buffer(other, data.size()).data, data) << where << byte;
      EXPECT_EQ(decode_pull(other).data, data) << where << byte;
      const test::Pushed pushed = test::decompress_in_pieces(other, random);
      EXPECT_EQ(pushed.status, MVX_OK) << where << byte;
      EXPECT_EQ(pushed.data, data) << where << byte;
      EXPECT_TRUE(pushed.ended) << where << byte;
      EXPECT_EQ(pushed.consumed, at) << where << byte;
    }
    const Bytes damaged_records[] = {
        damage([&](Bytes& b) { b[at + 4] = 2; }),  // another version
        damage([&](Bytes& b) { b[at + 6] = 1; }),  // reserved
        damage([&](Bytes& b) { store_le64(b, at + 8, b.size() + 1); }),
        damage([&](Bytes& b) { store_le64(b, at + 16, data.size() - 1); }),
        damage([&](Bytes& b) { b[at + 31] ^= 0x80; }),  // the checksum
    };
    for (const Bytes& damaged : damaged_records) {
      EXPECT_EQ(decode_buffer(damaged, data.size()).status, MVX_CORRUPT) << where;
      EXPECT_EQ(decode_pull(damaged).status, MVX_CORRUPT) << where;
      // The push decoder has handed out all the data when it finds out.
      const test::Pushed pushed = test::decompress_in_pieces(damaged, random);
      EXPECT_EQ(pushed.status, MVX_CORRUPT) << where;
      EXPECT_FALSE(pushed.ended) << where;
    }
    const test::Pushed last = test::decompress_in_pieces(damaged_records[4], random);
    EXPECT_EQ(last.data, data) << where;
  }
  std::printf("[ flips    ] all models: silently wrong %d with the record, %d without\n",
              wrong_with, wrong_without);
}

TEST(IntegrityRecord, WhatFollowsDecidesWhetherARecordIsThere) {
  const Bytes data = short_input();
  const mvx_options options = record_options();
  std::mt19937 random(9);
  const Bytes bare = test::one_shot(data, 3, 12);
  const Bytes stream = test::one_shot(data, 3, 12, &options);
  const auto joined = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };

  // After a record, other bytes are not the stream's, and the push decoder
  // ends right after the record.
  const Bytes trailed = joined(stream, test::from_text("after"));
  EXPECT_EQ(decode_buffer(trailed, data.size()).status, MVX_OK);
  test::Pushed pushed = test::decompress_in_pieces(trailed, random);
  EXPECT_EQ(pushed.status, MVX_OK);
  EXPECT_TRUE(pushed.ended);
  EXPECT_EQ(pushed.consumed, stream.size());
  // The push decoder cannot end a stream before it has seen what follows.
  {
    mvx_decompressor* d = nullptr;
    ASSERT_EQ(mvx_decompressor_create(&d, nullptr), MVX_OK);
    Bytes room(data.size() + 100);
    std::size_t consumed = 0, written = 0;
    bool ended = true, done = false;
    EXPECT_EQ(mvx_decompressor_decompress(d, bare.data(), bare.size(), &consumed, room.data(),
                                          room.size(), &written, &ended),
              MVX_OK);
    EXPECT_EQ(consumed, bare.size());
    EXPECT_FALSE(ended);
    EXPECT_EQ(mvx_decompressor_finish(d, room.data(), room.size(), &written, &done), MVX_OK);
    EXPECT_TRUE(done);
    mvx_decompressor_free(d);
  }

  // An old stream followed by other bytes, by the start of a record's
  // magic or another magic (bytes after the stream, as for the format's
  // readers), by the whole magic and no more (a cut record), by another
  // stream with a record.
  EXPECT_EQ(decode_buffer(joined(bare, test::from_text("xyz")), data.size()).data, data);
  for (const Bytes& tail : {Bytes{0xC5}, Bytes{0xC5, 0x4D}, Bytes{0xC5, 0x4D, 0x56},
                            Bytes{0xC5, 0x4D, 0x56, 0x59}, Bytes{0xC5, 0xFF, 0xFF, 0xFF}}) {
    const std::string shown = test::to_hex(tail);
    EXPECT_EQ(decode_buffer(joined(bare, tail), data.size()).data, data) << shown;
    EXPECT_EQ(decode_pull(joined(bare, tail)).data, data) << shown;
    const test::Pushed tailed = test::decompress_in_pieces(joined(bare, tail), random);
    EXPECT_EQ(tailed.status, MVX_OK) << shown;
    EXPECT_EQ(tailed.data, data) << shown;
    EXPECT_EQ(tailed.consumed, bare.size()) << shown;
  }
  EXPECT_EQ(decode_buffer(joined(bare, Bytes{0xC5, 0x4D, 0x56, 0x58}), data.size()).status,
            MVX_TRUNCATED_STREAM);
  EXPECT_EQ(
      test::decompress_in_pieces(joined(bare, Bytes{0xC5, 0x4D, 0x56, 0x58, 1}), random).status,
      MVX_TRUNCATED_STREAM);
  const Outcome first = decode_buffer(joined(bare, stream), 2 * data.size());
  EXPECT_EQ(first.status, MVX_OK);
  EXPECT_EQ(first.data, data);

  // Damage that moved the end marker earlier: the input then ends in a
  // record that no decoded body reached. A decoder with the whole input
  // sees it; one that may go on after the stream cannot.
  Bytes moved = joined(bare, test::from_text("bytes the body lost"));
  Bytes record(stream.end() - record_bytes, stream.end());
  store_le64(record, 8, moved.size() + record_bytes);
  moved = joined(moved, record);
  EXPECT_EQ(decode_buffer(moved, data.size()).status, MVX_CORRUPT);
  Bytes restored;
  EXPECT_EQ(moltavex::decompress(moved.data(), moved.size(), restored), moltavex::Status::corrupt);
  EXPECT_EQ(decode_pull(moved).status, MVX_OK);
  store_le64(moved, moved.size() - 24, moved.size() + 1);  // a record of a longer input
  EXPECT_EQ(decode_buffer(moved, data.size()).status, MVX_OK);

  // Named files: `t` learns whether a record was verified, and a corrupt
  // stream leaves an earlier output as it was.
  char pattern[] = "/tmp/moltavex-record-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  const auto write = [](const std::string& name, const Bytes& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  Bytes damaged = stream;
  damaged[damaged.size() - 1] ^= 1;
  write(dir + "/with.mx", stream);
  write(dir + "/bare.mx", bare);
  write(dir + "/damaged.mx", damaged);
  store_le64(moved, moved.size() - 24, moved.size());
  write(dir + "/moved.mx", moved);
  write(dir + "/out", test::from_text("earlier"));
  mvx_stream_info info = MVX_STREAM_INFO_INIT;
  EXPECT_EQ(mvx_test_file((dir + "/with.mx").c_str(), &info, nullptr, nullptr), MVX_OK);
  EXPECT_EQ(info.checksum, 1);
  EXPECT_EQ(info.compressed_bytes, stream.size());
  EXPECT_EQ(mvx_test_file((dir + "/bare.mx").c_str(), &info, nullptr, nullptr), MVX_OK);
  EXPECT_EQ(info.checksum, 0);
  EXPECT_EQ(info.compressed_bytes, bare.size());
  for (const char* name : {"/damaged.mx", "/moved.mx"}) {
    EXPECT_EQ(mvx_test_file((dir + name).c_str(), &info, nullptr, nullptr), MVX_CORRUPT) << name;
    EXPECT_EQ(mvx_decompress_file((dir + name).c_str(), (dir + "/out").c_str(), nullptr, nullptr),
              MVX_CORRUPT)
        << name;
    std::ifstream in(dir + "/out", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "earlier") << name;
  }
  std::system(("rm -rf '" + dir + "'").c_str());
  EXPECT_STREQ(mvx_status_message(MVX_CORRUPT), "Compressed data is corrupt.");
}

// Padding after an old stream (one without the record): every byte value
// as its first byte, alone and followed by more, restores the data in
// every decoder, and a decoder with the whole input tells that bytes
// follow; the push decoder takes none of them.
TEST(IntegrityRecord, EveryByteAfterAnOldStreamIsTrailingData) {
  const Bytes data = short_input();
  std::mt19937 random(11);
  const Bytes bare = test::one_shot(data, 1, 12);
  for (int value = 0; value < 256; ++value) {
    for (const std::size_t length : {std::size_t{1}, std::size_t{4}, std::size_t{40}}) {
      Bytes tailed = bare;
      tailed.push_back(static_cast<std::uint8_t>(value));
      // What follows the first byte: the rest of the magic when it begins
      // it, so that only the fourth byte differs, else bytes of all kinds.
      for (std::size_t i = 1; i < length; ++i) {
        tailed.push_back(value == 0xC5 && i < 3    ? record_magic[i]
                         : value == 0xC5 && i == 3 ? 0x59
                                                   : static_cast<std::uint8_t>(value * 7 + i * 13));
      }
      const std::string where = "byte " + std::to_string(value) + ", " + std::to_string(length);
      const Outcome buffer = decode_buffer(tailed, data.size());
      EXPECT_EQ(buffer.status, MVX_OK) << where;
      EXPECT_EQ(buffer.data, data) << where;
      const Outcome pulled = decode_pull(tailed);
      EXPECT_EQ(pulled.status, MVX_OK) << where;
      EXPECT_EQ(pulled.data, data) << where;
      const test::Pushed pushed = test::decompress_in_pieces(tailed, random);
      EXPECT_EQ(pushed.status, MVX_OK) << where;
      EXPECT_EQ(pushed.data, data) << where;
      EXPECT_EQ(pushed.consumed, bare.size()) << where;
      mvx_stream_info info = MVX_STREAM_INFO_INIT;
      const test::JobResult whole =
          test::run_in_memory(tailed, [&](ByteReader& reader, ByteWriter& writer) {
            return decompress_streams(reader, writer, nullptr, no_memory_limit, &info,
                                      /*whole_input*/ true);
          });
      EXPECT_EQ(whole.status, Status::ok) << where;
      EXPECT_EQ(info.trailing_data, 1) << where;
      EXPECT_EQ(info.checksum, 0) << where;
      EXPECT_EQ(info.compressed_bytes, bare.size()) << where;
    }
  }
}

// A flip that makes the body run on to the end of the input, which ends in
// the stream's own record: damage (MVX_CORRUPT) for a decoder with the
// whole input, a cut stream for one that may go on.
TEST(IntegrityRecord, ABodyThatRunsIntoItsRecordIsCorrupt) {
  const Bytes data = short_input();
  const mvx_options options = record_options();
  int found = 0;
  for (const Setting s : settings) {
    const Bytes stream = test::one_shot(data, s.model, s.order, &options);
    for (std::size_t at = 1; at + record_bytes < stream.size() && found < 3; ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        Bytes damaged = stream;
        damaged[at] ^= static_cast<std::uint8_t>(1 << bit);
        if (decode_pull(damaged).status != MVX_TRUNCATED_STREAM) continue;
        ++found;
        const std::string where = "model " + std::to_string(s.model) + ", byte " +
                                  std::to_string(at) + ", bit " + std::to_string(bit);
        EXPECT_EQ(decode_buffer(damaged, std::size_t{1} << 24).status, MVX_CORRUPT) << where;
        std::mt19937 random(static_cast<unsigned>(at));
        EXPECT_EQ(test::decompress_in_pieces(damaged, random).status, MVX_TRUNCATED_STREAM)
            << where;
        // A cut stream stays a cut stream, with the whole input too.
        const Bytes cut(damaged.begin(), damaged.end() - 1);
        EXPECT_EQ(decode_buffer(cut, std::size_t{1} << 24).status, MVX_TRUNCATED_STREAM) << where;
        break;
      }
    }
  }
  EXPECT_GE(found, 1) << "no flip made a body run to the end of its input";
}

TEST(IntegrityRecord, KnownRecordAndEveryWriter) {
  // The record after the known stream of "hello" (see known_data.h).
  const mvx_options options = record_options();
  // The automatic choice appends it to the trial stream it keeps.
  const Bytes data = short_input();
  Bytes chosen_stream(mvx_compress_bound(data.size()));
  std::size_t written = 0;
  mvx_setting chosen{};
  ASSERT_EQ(mvx_compress_auto(data.data(), data.size(), chosen_stream.data(), chosen_stream.size(),
                              &written, &chosen, nullptr, &options),
            MVX_OK);
  chosen_stream.resize(written);
  EXPECT_EQ(chosen_stream, test::one_shot(data, chosen.model, chosen.order, &options));

  const Bytes hello = test::from_text("hello");
  const Bytes stream = test::one_shot(hello, 1, 8, &options);
  Bytes expected = test::known_stream(1, 8, "hello");
  const Bytes record = test::from_hex(test::kHelloRecordHex);
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(test::to_hex(stream), test::to_hex(expected));
  EXPECT_EQ(load_le64(stream, stream.size() - 8), 0x26C7827D889F6DA3u);
}

}  // namespace
}  // namespace mx
