// The C API: one-shot calls into caller buffers, the bound, and the push
// contexts, whose streams must not depend on how the data is cut.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "corpus.h"
#include "moltavex/moltavex.h"
#include "push_support.h"

namespace mx {
namespace {

using test::Bytes;

using test::compress_in_pieces;
using test::decompress_in_pieces;
using test::one_shot;
using test::Pushed;

TEST(CApi, PiecesOfAnySizeGiveTheOneShotStream) {
  std::mt19937 random(7);
  const Bytes inputs[] = {Bytes{}, test::from_text("a"), test::random_bytes(20000, 3),
                          test::sample_text<Bytes>(60000), Bytes(5000, 0xF0)};
  // With and without the integrity record.
  for (int checksum = 0; checksum < 2; ++checksum) {
    mvx_options options = MVX_OPTIONS_INIT;
    options.checksum = checksum;
    for (int model = 0; model < MVX_MODEL_COUNT; ++model) {
      for (const Bytes& data : inputs) {
        const int order = model == 2 ? 20 : 14;
        const Bytes expected = one_shot(data, model, order, &options);
        ASSERT_EQ(compress_in_pieces(data, model, order, random, &options), expected)
            << "model " << model << ", " << data.size() << " bytes, checksum " << checksum;
        // Decompression, with bytes after the stream that are not its own.
        Bytes trailed = expected;
        trailed.insert(trailed.end(), {0xF0, 0xF0, 0x00, 0x42});
        const Pushed back = decompress_in_pieces(trailed, random);
        EXPECT_EQ(back.status, MVX_OK);
        EXPECT_TRUE(back.ended);
        EXPECT_EQ(back.consumed, expected.size());
        EXPECT_TRUE(back.data == data) << "model " << model << ", " << data.size() << " bytes";
      }
    }
  }
}

TEST(CApi, PushedStreamsFailAsOneShotOnes) {
  std::mt19937 random(11);
  const Bytes data = test::sample_text<Bytes>(30000);
  const Bytes stream = one_shot(data, 3, 16);
  for (std::size_t cut : {std::size_t{1}, std::size_t{5}, stream.size() / 2, stream.size() - 8}) {
    const Pushed r = decompress_in_pieces(Bytes(stream.begin(), stream.begin() + cut), random);
    EXPECT_EQ(r.status, MVX_TRUNCATED_STREAM) << cut;
    EXPECT_FALSE(r.ended);
  }
  EXPECT_EQ(decompress_in_pieces(Bytes{0xE5, 1, 2, 3}, random).status, MVX_INVALID_STREAM);
  EXPECT_EQ(decompress_in_pieces(Bytes{}, random).status, MVX_INVALID_STREAM);
  // The memory limit holds for contexts as for jobs.
  mvx_options options = MVX_OPTIONS_INIT;
  options.memory_limit = mvx_model_memory(3, 16) - 1;
  mvx_decompressor* d = nullptr;
  ASSERT_EQ(mvx_decompressor_create(&d, &options), MVX_OK);
  std::size_t consumed = 0, written = 0;
  bool ended = false;
  std::uint8_t room[64];
  EXPECT_EQ(mvx_decompressor_decompress(d, stream.data(), stream.size(), &consumed, room,
                                        sizeof room, &written, &ended),
            MVX_MEMORY_LIMIT);
  mvx_decompressor_free(d);
  mvx_compressor* c = nullptr;
  EXPECT_EQ(mvx_compressor_create(&c, 3, 16, &options), MVX_MEMORY_LIMIT);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(mvx_compressor_create(&c, 6, 16, nullptr), MVX_INVALID_ARGUMENT);
}

// A push decompressor tells when its stream may end where its input has
// reached (a bz2-style reader's eof): after a whole body without a record,
// not inside the body, not before a record, and not while a part of the
// magic waits.
TEST(CApi, APushedStreamMayEndOnlyAfterItsWholeBody) {
  const Bytes data = test::sample_text<Bytes>(3000);
  const Bytes bare = one_shot(data, 1, 12);
  mvx_options with_record = MVX_OPTIONS_INIT;
  with_record.checksum = 1;
  Bytes checked(mvx_compress_bound(data.size()) + MVX_RECORD_SIZE);
  std::size_t checked_size = 0;
  ASSERT_EQ(mvx_compress_with(data.data(), data.size(), 1, 12, checked.data(), checked.size(),
                              &checked_size, &with_record),
            MVX_OK);
  checked.resize(checked_size - MVX_RECORD_SIZE + 2);  // the body and two bytes of the magic
  const Bytes bare_c5 = [&] {
    Bytes b = bare;
    b.push_back(0xC5);
    return b;
  }();
  const struct {
    const Bytes* input;
    std::size_t length;
    bool may_end;
  } cases[] = {
      {&bare, bare.size(), true},       {&bare, bare.size() - 1, false},
      {&bare, bare.size() / 2, false},  {&bare_c5, bare_c5.size(), true},
      {&checked, checked.size(), true},  // the two bytes wait: the body may end there
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    mvx_decompressor* d = nullptr;
    ASSERT_EQ(mvx_decompressor_create(&d, nullptr), MVX_OK);
    Bytes out(data.size() + 64);
    std::size_t consumed = 0, written = 0;
    bool ended = false, may_end = false;
    ASSERT_EQ(mvx_decompressor_decompress(d, c.input->data(), c.length, &consumed, out.data(),
                                          out.size(), &written, &ended),
              MVX_OK);
    ASSERT_EQ(mvx_decompressor_may_end(d, &may_end), MVX_OK);
    EXPECT_EQ(may_end, c.may_end);
    mvx_decompressor_free(d);
  }
  EXPECT_EQ(mvx_decompressor_may_end(nullptr, nullptr), MVX_INVALID_CALL);
}

// Data an adversary would pick: random bytes; runs of the escape byte, which
// the transform rewrites; "F0 F0 x", which it lengthens by a third; and a
// de Bruijn sequence, which visits every context of an order exactly twice,
// once with each bit (a counter's worst).
TEST(CApi, TheBoundHoldsForEveryModelAndOrder) {
  Bytes de_bruijn;
  {
    const int k = 17;  // bits: every 17-bit context once with each next bit
    std::vector<std::uint8_t> seen(std::size_t{1} << (k + 1));
    std::uint32_t x = 0;
    std::vector<int> bits;
    for (std::size_t i = 0; i < seen.size(); ++i) {
      // The greedy "prefer one" construction.
      const std::uint32_t one = ((x << 1) | 1) & ((1u << (k + 1)) - 1);
      const int bit = seen[one] ? 0 : 1;
      x = ((x << 1) | static_cast<std::uint32_t>(bit)) & ((1u << (k + 1)) - 1);
      seen[x] = 1;
      bits.push_back(bit);
    }
    for (std::size_t i = 0; i + 8 <= bits.size(); i += 8) {
      int byte = 0;
      for (int j = 0; j < 8; ++j) byte = (byte << 1) | bits[i + j];
      de_bruijn.push_back(static_cast<std::uint8_t>(byte));
    }
  }
  Bytes lengthened;
  for (std::uint32_t i = 0; lengthened.size() < 30000; ++i) {
    lengthened.insert(lengthened.end(), {0xF0, 0xF0, static_cast<std::uint8_t>(i * 97 + 1)});
  }
  const Bytes inputs[] = {test::random_bytes(40000, 9), Bytes(40000, 0xF0), lengthened, de_bruijn};
  for (int model = 0; model < MVX_MODEL_COUNT; ++model) {
    // Order 0 (a single context) and the order of the de Bruijn sequence
    // are the worst found.
    for (int order : {0, 16, 17, 24}) {
      for (const Bytes& data : inputs) {
        const std::size_t bound = mvx_compress_bound(data.size());
        Bytes out(bound + 1);
        std::size_t written = 0;
        ASSERT_EQ(mvx_compress(data.data(), data.size(), model, order, out.data(), bound, &written),
                  MVX_OK)
            << model << ":" << order << ", " << data.size() << " bytes";
        EXPECT_LE(written, bound);
      }
    }
  }
  EXPECT_EQ(mvx_compress_bound(SIZE_MAX / 2), SIZE_MAX);
}

// Streams from elsewhere: by default no header may claim more tables than
// every setting up to order 26 takes, in any kind of decompression; the
// caller raises the limit or removes it explicitly.
TEST(CApi, DecompressionRefusesHugeTablesByDefault) {
  Bytes foreign = {3 * 32 + 27};  // model 3 at order 27: 2.1 GiB of tables
  const Bytes tail = test::random_bytes(2000, 5);
  foreign.insert(foreign.end(), tail.begin(), tail.end());
  Bytes out(64);
  std::size_t written = 0;
  EXPECT_EQ(mvx_decompress(foreign.data(), foreign.size(), out.data(), out.size(), &written),
            MVX_MEMORY_LIMIT);
  mvx_decompressor* d = nullptr;
  ASSERT_EQ(mvx_decompressor_create(&d, nullptr), MVX_OK);
  std::size_t consumed = 0;
  bool ended = false;
  EXPECT_EQ(mvx_decompressor_decompress(d, foreign.data(), foreign.size(), &consumed, out.data(),
                                        out.size(), &written, &ended),
            MVX_MEMORY_LIMIT);
  mvx_decompressor_free(d);
  mvx_stream_info info = MVX_STREAM_INFO_INIT;
  MemorySource source = test::source_of(foreign);
  EXPECT_EQ(mvx_test_stream(&MemorySource::read, &source, &info, nullptr, nullptr),
            MVX_MEMORY_LIMIT);
  // Every setting up to order 26 passes the default; beyond it, a limit
  // the caller sets.
  EXPECT_EQ(MVX_DEFAULT_MEMORY_LIMIT, mvx_model_memory(5, 26));
  mvx_options options = MVX_OPTIONS_INIT;
  options.memory_limit = MVX_NO_MEMORY_LIMIT;
  EXPECT_EQ(mvx_decompress_with(foreign.data(), foreign.size(), out.data(), out.size(), &written,
                                &options),
            MVX_TRUNCATED_STREAM);  // decoded as far as the random bytes go
}

// The structures' sizes: an older caller's smaller structure is read as
// far as it goes (tests/abi/old_layout.c); a newer caller's larger one is
// accepted while the members this library does not know are zero, and
// refused otherwise, as is a size that makes no sense.
TEST(CApi, StructureSizesAllowGrowthAndRefuseNonsense) {
  const Bytes data = test::random_bytes(3000, 2);
  Bytes out(mvx_compress_bound(data.size()));
  std::size_t written = 0;
  struct Newer {
    mvx_options options;
    std::uint64_t unknown;
  } newer{};
  newer.options = MVX_OPTIONS_INIT;
  newer.options.size = sizeof newer;
  newer.options.memory_limit = mvx_model_memory(1, 16);
  EXPECT_EQ(mvx_compress_with(data.data(), data.size(), 1, 16, out.data(), out.size(), &written,
                              &newer.options),
            MVX_OK);
  newer.unknown = 1;
  EXPECT_EQ(mvx_compress_with(data.data(), data.size(), 1, 16, out.data(), out.size(), &written,
                              &newer.options),
            MVX_INVALID_CALL);
  mvx_options zeroed{};  // no size: not built from MVX_OPTIONS_INIT
  EXPECT_EQ(
      mvx_compress_with(data.data(), data.size(), 1, 16, out.data(), out.size(), &written, &zeroed),
      MVX_INVALID_CALL);
  mvx_observer observer{};
  MemorySource source = test::source_of(data);
  CountingSink sink;
  EXPECT_EQ(mvx_compress_stream(&MemorySource::read, &source, &CountingSink::write, &sink, 1, 16,
                                &observer, nullptr),
            MVX_INVALID_CALL);
  mvx_stream_info info{};
  EXPECT_EQ(mvx_test_file("/dev/null", &info, nullptr, nullptr), MVX_INVALID_CALL);
  EXPECT_STREQ(mvx_status_message(MVX_INVALID_CALL),
               "Invalid call: a null pointer or an impossible size.");
  EXPECT_STREQ(mvx_status_message(MVX_MEMORY_LIMIT), "Memory limit exceeded.");
}

// Every level is a valid setting whose tables the library's default
// decompression limit admits, and the levels' streams shrink as the level
// rises on the corpus texts (concatenated, as the map measures them) and on
// a binary sample; other levels are refused.
TEST(CApi, LevelsShrinkTheStreamAsTheyRise) {
  SKIP_OR_FAIL_WITHOUT_CORPUS();
  Bytes inputs[2];
  for (const char* name : {"alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt"}) {
    Bytes text;
    ASSERT_TRUE(test::read_corpus(name, text)) << name;
    inputs[0].insert(inputs[0].end(), text.begin(), text.end());
  }
  ASSERT_TRUE(test::read_corpus("geo.protodata", inputs[1]));
  std::size_t previous[2] = {SIZE_MAX, SIZE_MAX};
  for (int level = MVX_LEVEL_MIN; level <= MVX_LEVEL_MAX; ++level) {
    mvx_setting setting{-1, -1};
    ASSERT_EQ(mvx_level_setting(level, &setting), MVX_OK);
    const std::uint64_t memory = mvx_model_memory(setting.model, setting.order);
    EXPECT_NE(memory, 0u) << level;
    EXPECT_LE(memory, MVX_DEFAULT_MEMORY_LIMIT) << level;
    for (int i = 0; i < 2; ++i) {
      const std::size_t size = one_shot(inputs[i], setting.model, setting.order).size();
      EXPECT_LT(size, previous[i]) << "level " << level << ", input " << i;
      previous[i] = size;
    }
  }
  mvx_setting setting{};
  EXPECT_EQ(mvx_level_setting(MVX_LEVEL_MIN - 1, &setting), MVX_INVALID_ARGUMENT);
  EXPECT_EQ(mvx_level_setting(MVX_LEVEL_MAX + 1, &setting), MVX_INVALID_ARGUMENT);
  EXPECT_EQ(mvx_level_setting(MVX_LEVEL_DEFAULT, nullptr), MVX_INVALID_CALL);
}

// A level's job on `data` (mvx_compress_auto with options.level): its
// status, the setting it names and its stream.
struct Leveled {
  mvx_status status = MVX_OK;
  mvx_setting chosen{-1, -1};
  Bytes stream;
};

Leveled at_level(const Bytes& data, int level, std::uint64_t memory_limit = 0) {
  mvx_options options = MVX_OPTIONS_INIT;
  options.level = level;
  options.memory_limit = memory_limit;
  Leveled r;
  r.stream.resize(mvx_compress_bound(data.size()));
  std::size_t written = 0;
  r.status = mvx_compress_auto(data.data(), data.size(), r.stream.data(), r.stream.size(), &written,
                               &r.chosen, nullptr, &options);
  r.stream.resize(written);
  return r;
}

// With the input's length known, no level gives a stream more than 0.2%
// larger than a lower level's, on prefixes of every size of text, binary
// and mixed data; each stream is that of the setting the level names, and
// its tables hold at most two entries per coded bit (a 10 KB input never
// gets level 5's 32 MiB). The level that tries the most chooses the same
// again.
TEST(CApi, LevelsNeverGrowAsTheyRiseWhateverTheInput) {
  SKIP_OR_FAIL_WITHOUT_CORPUS();
  Bytes text, binary, mixed, large;
  for (const char* name : {"alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt"}) {
    Bytes file;
    ASSERT_TRUE(test::read_corpus(name, file)) << name;
    text.insert(text.end(), file.begin(), file.end());
  }
  for (const char* name : {"geo.protodata", "kppkn.gtb", "fireworks.jpeg", "paper-100k.pdf"}) {
    Bytes file;
    ASSERT_TRUE(test::read_corpus(name, file)) << name;
    binary.insert(binary.end(), file.begin(), file.end());
  }
  // Blocks of text and binary data in turn, and all of it with a synthetic
  // text after it to pass 4 MiB.
  constexpr std::size_t block = 16 << 10;
  for (std::size_t at = 0; at + block <= binary.size(); at += block) {
    mixed.insert(mixed.end(), text.begin() + at, text.begin() + at + block);
    mixed.insert(mixed.end(), binary.begin() + at, binary.begin() + at + block);
  }
  large = text;
  large.insert(large.end(), binary.begin(), binary.end());
  const Bytes synthetic = test::sample_text<Bytes>((4 << 20) - large.size() + 1000);
  large.insert(large.end(), synthetic.begin(), synthetic.end());
  struct Input {
    const char* kind;
    const Bytes* data;
    std::vector<std::size_t> sizes;
  };
  const Input inputs[] = {
      {"text", &text, {1000, 4 << 10, 12000, 64 << 10, 512 << 10}},
      {"binary", &binary, {1000, 4 << 10, 16 << 10, 64 << 10, 512 << 10}},
      {"mixed", &mixed, {16 << 10, 100000, 300000}},
      {"large", &large, {4 << 20}},
  };
  for (const Input& input : inputs) {
    for (const std::size_t size : input.sizes) {
      const Bytes data(input.data->begin(), input.data->begin() + size);
      std::size_t lowest = SIZE_MAX;
      std::vector<mvx_setting> checked;  // settings whose stream was compared
      for (int level = MVX_LEVEL_MIN; level <= MVX_LEVEL_MAX; ++level) {
        const std::string where = std::string(input.kind) + " " + std::to_string(size) + " level " +
                                  std::to_string(level);
        const Leveled r = at_level(data, level);
        ASSERT_EQ(r.status, MVX_OK) << where;
        EXPECT_LE(r.stream.size() * 1000, lowest * 1002) << where;
        lowest = std::min(lowest, r.stream.size());
        EXPECT_LE(mvx_model_memory(r.chosen.model, r.chosen.order),
                  2 * 17 * 8 * (size + 3) + (128 << 10))
            << where;
        if (size > (1 << 20)) continue;  // the long input costs too much to code twice
        if (std::none_of(checked.begin(), checked.end(), [&](mvx_setting s) {
              return s.model == r.chosen.model && s.order == r.chosen.order;
            })) {
          checked.push_back(r.chosen);
          EXPECT_TRUE(r.stream == test::one_shot(data, r.chosen.model, r.chosen.order)) << where;
        }
        if (level == MVX_LEVEL_MAX) {
          mvx_options options = MVX_OPTIONS_INIT;
          options.level = level;
          mvx_setting again{-1, -1};
          ASSERT_EQ(mvx_choose_setting(data.data(), data.size(), &again, &options), MVX_OK);
          EXPECT_EQ(again.model, r.chosen.model) << where;
          EXPECT_EQ(again.order, r.chosen.order) << where;
        }
      }
    }
  }
}

// Level 5 keeps the smallest stream among model 1's orders it may use
// (its rows' orders, capped by the length), although it codes only the
// highest and reads the rest off that trial's counters: on text, binary
// data and runs of the escape byte, at sizes where the highest order and
// where a lower one wins.
TEST(CApi, ALevelKeepsTheSmallestOfItsOrders) {
  SKIP_OR_FAIL_WITHOUT_CORPUS();
  Bytes text, binary;
  ASSERT_TRUE(test::read_corpus("alice29.txt", text));
  ASSERT_TRUE(test::read_corpus("kppkn.gtb", binary));
  Bytes escapes;
  for (int i = 0; escapes.size() < 20000; ++i) {
    escapes.insert(escapes.end(), i % 5 + 1, 0xF0);
    escapes.push_back(static_cast<std::uint8_t>(i * 7));
  }
  const std::pair<const Bytes*, std::size_t> inputs[] = {{&text, 700},     {&text, 5000},
                                                         {&text, 40000},   {&binary, 3000},
                                                         {&binary, 60000}, {&escapes, 20000}};
  for (const auto& [data, size] : inputs) {
    const Bytes input(data->begin(), data->begin() + size);
    std::size_t smallest = SIZE_MAX;
    for (const int row : {12, 16, 18, 20, 22}) {
      int order = 0;
      while ((std::uint64_t{2} << order) <= 8 * (input.size() + 3)) ++order;
      smallest = std::min(smallest, one_shot(input, 1, std::min(row, order)).size());
    }
    const Leveled r = at_level(input, 5);
    ASSERT_EQ(r.status, MVX_OK) << size;
    EXPECT_EQ(r.stream.size(), smallest)
        << size << " bytes: " << r.chosen.model << ":" << r.chosen.order;
  }
}

// Under a memory limit a level lowers its order rather than refusing (a
// row of the Combined Model that cannot fit at all falls back on level
// 5's model); its stream then decodes within that limit. For an unknown
// length each level keeps its row. Only a limit that no table fits, and a
// level outside the range, are refused.
TEST(CApi, LevelsFitTheMemoryLimit) {
  struct Row {
    int level;
    std::uint64_t limit;
    mvx_status status;
    mvx_setting expected;
  };
  const Row rows[] = {
      {9, mvx_model_memory(5, 23) - 1, MVX_OK, {5, 22}},
      {9, mvx_model_memory(5, 23), MVX_OK, {5, 23}},
      {6, mvx_model_memory(5, 16), MVX_OK, {5, 16}},
      {5, mvx_model_memory(1, 17), MVX_OK, {1, 17}},
      {9, 100 << 10, MVX_OK, {1, 13}},
      {1, 7, MVX_MEMORY_LIMIT, {-1, -1}},
      {0, 0, MVX_INVALID_ARGUMENT, {-1, -1}},
      {MVX_LEVEL_MAX + 1, 0, MVX_INVALID_ARGUMENT, {-1, -1}},
  };
  for (const Row& row : rows) {
    mvx_setting setting{-1, -1};
    ASSERT_EQ(mvx_level_setting_within(row.level, row.limit, &setting), row.status) << row.level;
    EXPECT_EQ(setting.model, row.expected.model) << row.level << " within " << row.limit;
    EXPECT_EQ(setting.order, row.expected.order) << row.level << " within " << row.limit;
  }
  for (int level = MVX_LEVEL_MIN; level <= MVX_LEVEL_MAX; ++level) {
    mvx_setting row{-1, -1}, within{-2, -2};
    ASSERT_EQ(mvx_level_setting(level, &row), MVX_OK);
    for (const std::uint64_t limit : {std::uint64_t{0}, MVX_NO_MEMORY_LIMIT}) {
      ASSERT_EQ(mvx_level_setting_within(level, limit, &within), MVX_OK);
      EXPECT_EQ(within.model, row.model) << level;
      EXPECT_EQ(within.order, row.order) << level;
    }
  }
  EXPECT_EQ(mvx_level_setting_within(1, 0, nullptr), MVX_INVALID_CALL);

  const Bytes data = test::sample_text<Bytes>(600000);
  const std::uint64_t limit = mvx_model_memory(5, 19);
  for (const int level : {5, 9}) {
    const Leveled r = at_level(data, level, limit);
    ASSERT_EQ(r.status, MVX_OK) << level;
    EXPECT_LE(mvx_model_memory(r.chosen.model, r.chosen.order), limit) << level;
    mvx_options options = MVX_OPTIONS_INIT;
    options.memory_limit = limit;
    Bytes back(data.size());
    std::size_t written = 0;
    EXPECT_EQ(mvx_decompress_with(r.stream.data(), r.stream.size(), back.data(), back.size(),
                                  &written, &options),
              MVX_OK);
    EXPECT_TRUE(back == data) << level;
  }
  // An empty input's length is known too: no row's tables for it.
  for (const int level : {5, 9}) {
    const Leveled r = at_level(Bytes{}, level);
    ASSERT_EQ(r.status, MVX_OK) << level;
    EXPECT_LE(mvx_model_memory(r.chosen.model, r.chosen.order), 256u << 10) << level;
    EXPECT_TRUE(r.stream == test::one_shot(Bytes{}, r.chosen.model, r.chosen.order)) << level;
  }
  EXPECT_EQ(at_level(data, 9, 7).status, MVX_MEMORY_LIMIT);
  EXPECT_EQ(at_level(data, -1).status, MVX_INVALID_ARGUMENT);
  EXPECT_EQ(at_level(data, MVX_LEVEL_MAX + 1).status, MVX_INVALID_ARGUMENT);
}

// Every form of a level chooses alike for the same data and length: the
// buffer, the caller's functions with the size hint, and a named file
// (its size); without a hint the streaming form keeps the level's row.
// An input tried whole and one tried on a sample, at a level that chooses
// and at one that does not.
TEST(CApi, LevelsChooseAlikeInEveryForm) {
  struct Memory {
    const Bytes* data;
    std::size_t at = 0;
    static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
      auto* self = static_cast<Memory*>(context);
      const std::size_t n = std::min(size, self->data->size() - self->at);
      std::copy_n(self->data->begin() + self->at, n, buffer);
      self->at += n;
      return static_cast<std::int64_t>(n);
    }
    static bool write(void* context, const std::uint8_t* data, std::size_t size) {
      auto* out = static_cast<Bytes*>(context);
      out->insert(out->end(), data, data + size);
      return true;
    }
  };
  char dir_pattern[] = "/tmp/moltavex-levels-XXXXXX";
  const std::string dir = ::mkdtemp(dir_pattern);
  const std::string in = dir + "/in", out = dir + "/in.mx";
  Bytes mixed = test::sample_text<Bytes>(1500000);
  const Bytes noise = test::random_bytes(600000, 5);
  mixed.insert(mixed.begin() + 400000, noise.begin(), noise.end());
  const Bytes inputs[] = {Bytes(mixed.begin(), mixed.begin() + 30000), mixed};
  for (const Bytes& data : inputs) {
    {
      std::FILE* file = std::fopen(in.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), file), data.size());
      std::fclose(file);
    }
    for (const int level : {4, 7}) {
      const Leveled buffer = at_level(data, level);
      ASSERT_EQ(buffer.status, MVX_OK);
      mvx_options options = MVX_OPTIONS_INIT;
      options.level = level;
      options.size_hint = data.size();
      Memory source{&data};
      Bytes streamed;
      mvx_setting chosen{-1, -1};
      ASSERT_EQ(mvx_compress_stream_auto(&Memory::read, &source, &Memory::write, &streamed, &chosen,
                                         nullptr, &options),
                MVX_OK);
      EXPECT_TRUE(streamed == buffer.stream) << data.size() << " at level " << level;
      ASSERT_EQ(mvx_compress_file_auto(in.c_str(), out.c_str(), &chosen, nullptr, &options),
                MVX_OK);
      std::ifstream file(out, std::ios::binary);
      const Bytes filed{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
      EXPECT_TRUE(filed == buffer.stream) << data.size() << " at level " << level;
      // Without a hint: the row, whatever the length.
      options.size_hint = 0;
      source.at = 0;
      streamed.clear();
      ASSERT_EQ(mvx_compress_stream_auto(&Memory::read, &source, &Memory::write, &streamed, &chosen,
                                         nullptr, &options),
                MVX_OK);
      mvx_setting row;
      ASSERT_EQ(mvx_level_setting(level, &row), MVX_OK);
      EXPECT_EQ(chosen.model, row.model);
      EXPECT_EQ(chosen.order, row.order);
      EXPECT_TRUE(streamed == test::one_shot(data, row.model, row.order));
    }
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
  ::rmdir(dir.c_str());
}

TEST(CApi, OneShotIntoBuffersThatAreTooSmall) {
  const Bytes data = test::sample_text<Bytes>(10000);
  const Bytes stream = one_shot(data, 1, 16);
  Bytes out(stream.size());
  std::size_t written = 0;
  EXPECT_EQ(mvx_compress(data.data(), data.size(), 1, 16, out.data(), stream.size() - 1, &written),
            MVX_OUTPUT_TOO_SMALL);
  EXPECT_EQ(written, stream.size() - 1);
  Bytes back(data.size());
  EXPECT_EQ(mvx_decompress(stream.data(), stream.size(), back.data(), back.size(), &written),
            MVX_OK);
  EXPECT_EQ(written, data.size());
  EXPECT_TRUE(back == data);
  EXPECT_EQ(mvx_decompress(stream.data(), stream.size(), back.data(), back.size() - 1, &written),
            MVX_OUTPUT_TOO_SMALL);
  EXPECT_EQ(mvx_compress(data.data(), data.size(), 1, 16, nullptr, 0, nullptr), MVX_INVALID_CALL);
  EXPECT_STREQ(mvx_status_message(MVX_OUTPUT_TOO_SMALL), "Output buffer too small.");
  EXPECT_STREQ(mvx_version_string(), MVX_VERSION_STRING);
}

}  // namespace
}  // namespace mx
