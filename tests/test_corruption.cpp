// Damaged compressed streams: every single-byte change and every truncation
// of a few small streams must end in a status, never a crash or a hang, and
// a cut stream must never pass for a complete one.
//
// The stream has no checksum, so a changed body byte may well decode "ok"
// to other data (even through units the packer never writes, such as
// F0 F0 01 for a lone escape); what is owed then is that decoding ended at
// the end marker, so bytes appended to the stream change nothing. A changed
// stream can also expand without bound (an escape run is 255 bytes, a
// learnt context codes a bit in far less than a bit), so the output sink
// refuses writes past 1 MiB, which ends the job with write_failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support.h"

namespace mx {
namespace {

using test::Bytes;

constexpr std::size_t output_cap = std::size_t{1} << 20;
// The coder's finish emits four to seven bytes after the body.
constexpr std::size_t most_finishing_bytes = 7;

struct Decoded {
  Status status = Status::ok;
  Bytes output;
  bool capped = false;  // the sink refused a write
};

Decoded decode_capped(const Bytes& stream) {
  MemorySource source = test::source_of(stream);
  Decoded d;
  // Takes up to output_cap bytes and notes when it refused more.
  VectorSink sink{&d.output};
  sink.limit = output_cap;
  ByteReader reader;
  ByteWriter writer;
  reader_open_function(reader, &MemorySource::read, &source);
  writer_open_function(writer, &VectorSink::write, &sink);
  d.status = decompress_streams(reader, writer);
  d.capped = sink.refused;
  return d;
}

bool is_prefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// The inputs: text, runs of F0 of the lengths that change the transform
// (1, 2, 240 whose count byte is F0 itself, 255, 300), zeros after runs,
// and a stretch of noise.
std::vector<std::pair<std::string, Bytes>> inputs() {
  std::vector<std::pair<std::string, Bytes>> list;
  Bytes text = test::from_text("Damage to a stream must end in a status. ");
  text.push_back(0xF0);
  text.push_back('a');
  text.insert(text.end(), 2, 0xF0);
  text.insert(text.end(), {'b', 0x00});
  text.insert(text.end(), 240, 0xF0);
  text.push_back(0x00);
  const Bytes more = test::from_text("then more text, then the end.");
  text.insert(text.end(), more.begin(), more.end());
  list.emplace_back("text with runs", text);

  Bytes mixed = test::random_bytes(200, 11);
  mixed.insert(mixed.end(), 300, 0xF0);
  mixed.insert(mixed.end(), 50, 0x00);
  mixed.insert(mixed.end(), 255, 0xF0);
  list.emplace_back("noise and long runs", mixed);
  return list;
}

struct Config {
  int model;
  int order;
};

// Every model, at a low order (down to a single counter) and a high one.
const Config configs[] = {{0, 0}, {0, 16}, {1, 0},  {1, 12}, {2, 1}, {2, 16},
                          {3, 4}, {3, 16}, {4, 10}, {4, 16}, {5, 0}, {5, 16}};

std::string where(const Config& c, const std::string& input) {
  return "model " + std::to_string(c.model) + " order " + std::to_string(c.order) + ", " + input;
}

// What any decodable header owes: a status from the short list, write_failed
// only from the cap, and after ok an end that does not depend on what
// follows the stream.
void expect_sound_decoding(const Bytes& stream, const std::string& what) {
  const Decoded d = decode_capped(stream);
  switch (d.status) {
    case Status::ok:
    case Status::truncated_stream:
    case Status::corrupt: break;  // an early end marker before a byte that begins a record
    case Status::write_failed: EXPECT_TRUE(d.capped) << what; return;
    default: ADD_FAILURE() << what << ": status " << static_cast<int>(d.status); return;
  }
  if (d.status != Status::ok) return;
  Bytes longer = stream;
  longer.insert(longer.end(), {0xF0, 0xF0, 0x00, 0x00, 0xFF, 0x41});
  const Decoded again = decode_capped(longer);
  EXPECT_EQ(again.status, Status::ok) << what;
  EXPECT_TRUE(again.output == d.output) << what << ": bytes after the stream were read";
}

TEST(DamagedStreams, EveryBodyByteChangeEndsInAStatus) {
  for (const auto& [name, data] : inputs()) {
    for (const Config& c : configs) {
      const auto coded = test::compress_bytes(data, c.model, c.order);
      ASSERT_EQ(coded.status, Status::ok);
      const Bytes& stream = coded.output;
      for (std::size_t position = 1; position < stream.size(); ++position) {
        const std::uint8_t x = stream[position];
        for (int value : {x ^ 0x01, x ^ 0x08, x ^ 0x80, x ^ 0xFF, 0x00, 0xFF}) {
          if (value == x) continue;
          Bytes damaged = stream;
          damaged[position] = static_cast<std::uint8_t>(value);
          expect_sound_decoding(damaged, where(c, name) + ", byte " + std::to_string(position) +
                                             " set to " + std::to_string(value));
          if (HasFatalFailure() || HasFailure()) return;
        }
      }
    }
  }
}

TEST(DamagedStreams, EveryHeaderEndsInAStatus) {
  // The body of one stream behind every header value: other models and
  // orders decode it as noise. Orders above 20 are left to the command-line
  // tests, which run them under a memory limit.
  const Bytes data = inputs().front().second;
  const Bytes stream = test::compress_bytes(data, 2, 12).output;
  for (int header = 0; header < 256; ++header) {
    const int model = header >> 5;
    const int order = header & 0x1F;
    Bytes damaged = stream;
    damaged[0] = static_cast<std::uint8_t>(header);
    const std::string what = "header " + std::to_string(header);
    if (model >= 6) {
      const Decoded d = decode_capped(damaged);
      EXPECT_EQ(d.status, Status::invalid_stream) << what;
      EXPECT_TRUE(d.output.empty()) << what;
    } else if (order <= 20) {
      expect_sound_decoding(damaged, what);
    }
  }
}

TEST(DamagedStreams, EveryCutFailsOrLosesOnlyFinishingBytes) {
  for (const auto& [name, data] : inputs()) {
    for (const Config& c : configs) {
      const Bytes stream = test::compress_bytes(data, c.model, c.order).output;
      for (std::size_t keep = 0; keep < stream.size(); ++keep) {
        const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(keep));
        const Decoded d = decode_capped(cut);
        const std::string what = where(c, name) + ", first " + std::to_string(keep) + " of " +
                                 std::to_string(stream.size()) + " bytes";
        if (keep == 0) {
          EXPECT_EQ(d.status, Status::invalid_stream) << what;
        } else if (d.status == Status::ok) {
          // Decoding stops at the end marker: only finishing bytes can go
          // unread, and then the data is all there.
          EXPECT_TRUE(d.output == data) << what << ": decoded ok to other data";
          EXPECT_GE(keep + most_finishing_bytes, stream.size()) << what;
        } else {
          EXPECT_EQ(d.status, Status::truncated_stream) << what;
          EXPECT_TRUE(is_prefix(d.output, data)) << what;
        }
      }
    }
  }
}

}  // namespace
}  // namespace mx
