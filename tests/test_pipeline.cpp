// Whole jobs: the exact compressed streams of known inputs, round trips of
// every model at the orders users pick, and the failures a job reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "choose/plain_costs.h"
#include "choose/sampling.h"
#include "choose/search.h"
#include "corpus.h"
#include "models/registry.h"
#include "pipeline/page_policy.h"
#include "support.h"

namespace mx {
namespace {

using test::Bytes;
using test::compress_bytes;
using test::decompress_bytes;

TEST(StreamFormat, KnownStreamsByteForByte) {
  std::vector<bool> model_seen(model_count, false);
  for (const test::KnownStream& known : test::kKnownStreams) {
    const std::string what = "model " + std::to_string(known.model) + " order " +
                             std::to_string(known.order) + " input \"" + known.input + "\"";
    ASSERT_LT(known.model, model_count) << what;
    model_seen[known.model] = true;
    const Bytes input = test::from_text(known.input);
    const auto coded = compress_bytes(input, known.model, known.order);
    ASSERT_EQ(coded.status, Status::ok) << what;
    EXPECT_EQ(coded.output, test::from_hex(known.hex)) << what;
    const auto back = decompress_bytes(coded.output);
    EXPECT_EQ(back.status, Status::ok) << what;
    EXPECT_EQ(back.output, input) << what;
  }
  for (int model = 0; model < model_count; ++model) {
    EXPECT_TRUE(model_seen[model]) << "no known stream for model " << model;
  }
}

TEST(StreamFormat, HeaderByteIsModelTimes32PlusOrder) {
  EXPECT_EQ(compress_bytes({1, 2}, 1, 5).output.at(0), 0x25);
  EXPECT_EQ(compress_bytes({1, 2}, 0, 5).output.at(0), 0x05);
  EXPECT_EQ(compress_bytes({1, 2}, 5, 31).output.at(0), 0xBF);
  EXPECT_EQ(compress_bytes({1, 2}, 6, 0).status, Status::invalid_argument);
  EXPECT_EQ(compress_bytes({1, 2}, 0, 32).status, Status::invalid_argument);
}

void expect_round_trip(const Bytes& input, int model, int order, const std::string& what) {
  const auto coded = compress_bytes(input, model, order);
  ASSERT_EQ(coded.status, Status::ok) << what;
  ASSERT_EQ(coded.output.at(0), (model << 5) | order);
  const auto back = decompress_bytes(coded.output);
  ASSERT_EQ(back.status, Status::ok) << what;
  ASSERT_TRUE(back.output == input) << what << ": model " << model << " order " << order;
}

class EveryModel : public ::testing::TestWithParam<int> {};

TEST_P(EveryModel, RoundTripsSyntheticData) {
  const int model = GetParam();
  std::vector<std::pair<std::string, Bytes>> inputs;
  inputs.emplace_back("empty", Bytes{});
  for (std::size_t n : {1, 2, 239, 240, 241, 254, 255, 256, 511}) {
    inputs.emplace_back("F0 x " + std::to_string(n), Bytes(n, 0xF0));
    Bytes framed(n, 0xF0);
    framed.insert(framed.begin(), 0x00);
    framed.push_back(0x00);
    inputs.emplace_back("00 F0 x " + std::to_string(n) + " 00", framed);
  }
  inputs.emplace_back("random", test::random_bytes(100000, 1 + model));
  inputs.emplace_back("zeros", Bytes(100000, 0));
  for (int order : {0, 1, 8, 16, 22}) {
    for (const auto& [what, data] : inputs) expect_round_trip(data, model, order, what);
  }
  for (int order : {2, 5, 13, 24, 28}) {
    expect_round_trip(inputs.back().second, model, order, "zeros");
  }
}

TEST_P(EveryModel, RoundTripsTheCorpus) {
  SKIP_OR_FAIL_WITHOUT_CORPUS();
  const int model = GetParam();
  for (const std::string& name : test::corpus_names()) {
    Bytes data;
    ASSERT_TRUE(test::read_corpus(name, data)) << "missing corpus file " << name;
    for (int order : test::corpus_orders({0, 1, 8, 16, 22}))
      expect_round_trip(data, model, order, name);
  }
}

TEST_P(EveryModel, DeterministicAndCompressesText) {
  const int model = GetParam();
  Bytes text;
  for (int i = 0; i < 2000; ++i) {
    const std::string line = "line " + std::to_string(i % 97) + " of a repetitive text\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  const auto a = compress_bytes(text, model, 16);
  const auto b = compress_bytes(text, model, 16);
  EXPECT_EQ(a.output, b.output);
  EXPECT_LT(a.output.size(), text.size() * 4 / 5) << model_table[model].info.name;
}

TEST_P(EveryModel, StreamsDoNotDependOnHowTheInputArrives) {
  // The coding loops take a fast path while whole bytes' worth of input and
  // output fit the buffers and the bytes are plain literals, and a general
  // one otherwise. Reads of every size, and output buffers down to a few
  // bytes (below one coded byte's worst case of 32), move the switch points
  // across escapes, runs and buffer ends; the streams and the restored data
  // must not change.
  const int model = GetParam();
  Bytes data;
  const Bytes noise = test::random_bytes(150000, 7);
  const std::string text = "a line of text, and another, with some repetition in it\n";
  for (std::size_t i = 0; data.size() < 200000; ++i) {
    data.insert(data.end(), text.begin(), text.end());
    data.insert(data.end(), noise.begin() + i * 37 % 1000, noise.begin() + i * 37 % 1000 + 90);
    data.insert(data.end(), i % 7, 0xF0);  // lone escapes and short runs
    if (i % 50 == 0) data.insert(data.end(), 300, 0xF0);
  }
  const int order = 12;
  const auto reference = compress_bytes(data, model, order);
  ASSERT_EQ(reference.status, Status::ok);
  for (std::size_t chunk :
       {std::size_t{1}, std::size_t{7}, std::size_t{33}, std::size_t{4095}, std::size_t{65537}}) {
    const auto capacity = static_cast<std::int32_t>(chunk < 64 ? chunk : stream_buffer_size);
    const std::size_t limit = 4 * data.size() + 4096;
    const auto coded = test::run_in_memory(
        data,
        [&](ByteReader& reader, ByteWriter& writer) {
          return compress_streams(reader, writer, model, order);
        },
        chunk, capacity, limit);
    ASSERT_EQ(coded.status, Status::ok) << chunk;
    ASSERT_TRUE(coded.output == reference.output) << "reads of " << chunk;
    const auto back = test::run_in_memory(
        reference.output,
        [](ByteReader& reader, ByteWriter& writer) { return decompress_streams(reader, writer); },
        chunk, capacity, limit);
    ASSERT_EQ(back.status, Status::ok) << chunk;
    ASSERT_TRUE(back.output == data) << "reads of " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(Models, EveryModel, ::testing::Range(0, model_count));

TEST(Decompression, RejectsWhatIsNotAStream) {
  EXPECT_EQ(decompress_bytes({}).status, Status::invalid_stream);
  for (int header : {0xC0, 0xDF, 0xE0, 0xFF}) {
    const auto r = decompress_bytes({static_cast<std::uint8_t>(header), 1, 2, 3, 4, 5});
    EXPECT_EQ(r.status, Status::invalid_stream) << header;
    EXPECT_TRUE(r.output.empty());
  }
}

TEST(Decompression, EveryTruncationFails) {
  Bytes data = test::from_text("truncation must never pass for a complete result ");
  data.insert(data.end(), 300, 0xF0);
  data.push_back(0x00);
  for (int model = 0; model < model_count; ++model) {
    const Bytes stream = compress_bytes(data, model, 12).output;
    for (std::size_t keep = 1; keep < stream.size(); ++keep) {
      const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(keep));
      const auto r = decompress_bytes(cut);
      // Decoding stops at the end marker, so the last finishing bytes may
      // go unread; a cut earlier than that must fail, never pass silently.
      if (r.status == Status::ok) {
        EXPECT_EQ(r.output, data) << "model " << model << " keep " << keep;
        EXPECT_GE(keep + 4, stream.size()) << "model " << model;
      } else {
        EXPECT_EQ(r.status, Status::truncated_stream) << "model " << model << " keep " << keep;
        // What was written is a prefix of the data.
        ASSERT_LE(r.output.size(), data.size());
        EXPECT_TRUE(std::equal(r.output.begin(), r.output.end(), data.begin()));
      }
    }
  }
}

// Bytes after a stream are ignored, and the decoder knows exactly where it
// ended: whatever the finishing bytes (four to seven), the model, the data
// and what follows.
TEST(Decompression, TrailingBytesAreIgnoredAndTheStreamsLengthKnown) {
  const Bytes texts[] = {
      {}, test::from_text("trailing"), test::random_bytes(70000, 4), Bytes(3000, 0xF0)};
  for (int model = 0; model < model_count; ++model) {
    for (const Bytes& data : texts) {
      const Bytes coded = compress_bytes(data, model, 10).output;
      for (const Bytes& tail : {Bytes{}, Bytes{0xDE, 0xAD, 0xBE, 0xEF}, Bytes(9, 0xFF)}) {
        Bytes stream = coded;
        stream.insert(stream.end(), tail.begin(), tail.end());
        mvx_stream_info info{};
        const auto r = test::run_in_memory(stream, [&](ByteReader& reader, ByteWriter& writer) {
          return decompress_streams(reader, writer, nullptr, no_memory_limit, &info);
        });
        ASSERT_EQ(r.status, Status::ok) << model;
        EXPECT_EQ(r.output, data) << model;
        EXPECT_EQ(info.compressed_bytes, coded.size()) << model << " " << data.size();
        EXPECT_EQ(info.original_bytes, data.size());
        EXPECT_EQ(info.model, model);
        EXPECT_EQ(info.order, 10);
      }
    }
  }
}

TEST(Jobs, ReportReadAndWriteFailures) {
  const Bytes data = test::random_bytes(200000, 3);
  {
    // A read error is not the end of the input.
    MemorySource source = test::source_of(data);
    source.fail_at_end = true;
    Bytes out;
    VectorSink sink{&out};
    ByteReader reader;
    ByteWriter writer;
    reader_open_function(reader, &MemorySource::read, &source);
    writer_open_function(writer, &VectorSink::write, &sink);
    EXPECT_EQ(compress_streams(reader, writer, 1, 8), Status::read_failed);
  }
  for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{70000}}) {
    // A sink that stops taking bytes: header, body, or final drain.
    MemorySource source = test::source_of(data);
    Bytes out;
    VectorSink sink{&out};
    sink.limit = limit;
    ByteReader reader;
    ByteWriter writer;
    reader_open_function(reader, &MemorySource::read, &source);
    writer_open_function(writer, &VectorSink::write, &sink);
    EXPECT_EQ(compress_streams(reader, writer, 2, 8), Status::write_failed) << limit;
  }
  {
    const Bytes stream = compress_bytes(data, 4, 16).output;
    MemorySource source = test::source_of(stream);
    Bytes out;
    VectorSink sink{&out};
    sink.limit = 100000;
    ByteReader reader;
    ByteWriter writer;
    reader_open_function(reader, &MemorySource::read, &source);
    writer_open_function(writer, &VectorSink::write, &sink);
    EXPECT_EQ(decompress_streams(reader, writer), Status::write_failed);
  }
}

// A table up to 32 MiB gets large pages whole: from the start where the
// data reaches one byte per 8 KiB of table, else after one per KiB. A
// larger one projects its resident bytes at the data's end from the growth
// between two checks.
TEST(PagePolicy, WholeSmallTablesAndProjectedLargeOnes) {
  constexpr std::uint64_t MiB = std::uint64_t{1} << 20;
  struct Case {
    std::uint64_t table, data;
    bool large;
  };
  const Case cases[] = {
      {32 * MiB, 3000, false},     // a 3 KB input
      {32 * MiB, 4 * 1024, true},  // four bits per 4 KiB page
      {32 * MiB, 4 * 1024 - 1, false},
      {8 * MiB, 0, false},  // unknown size
  };
  for (const Case& c : cases) {
    EXPECT_EQ(large_pages_from_start(c.table, c.data), c.large) << c.table << " " << c.data;
  }
  EXPECT_EQ(large_pages_after_bytes(32 * MiB), 32 * 1024u);

  struct Projection {
    std::uint64_t earlier_resident, earlier_bytes, resident, bytes, total, expected;
  };
  const Projection projections[] = {
      {0, 0, 10 * MiB, MiB, 4 * MiB, 40 * MiB},                   // one point: linear
      {10 * MiB, MiB, 20 * MiB, 2 * MiB, 8 * MiB, 80 * MiB},      // power 1
      {8 * MiB, MiB, 16 * MiB, 4 * MiB, 64 * MiB, 64 * MiB},      // power 1/2
      {10 * MiB, MiB, 10 * MiB, 2 * MiB, 64 * MiB, 10 * MiB},     // saturated
      {MiB, MiB, 100 * MiB, 2 * MiB, 4 * MiB, 200 * MiB},         // power capped at 1
      {10 * MiB, MiB, 20 * MiB, 2 * MiB, 1024 * MiB, 512 * MiB},  // the table at most
      {10 * MiB, MiB, 20 * MiB, 2 * MiB, 2 * MiB, 20 * MiB},      // the end: as it is
  };
  for (const Projection& p : projections) {
    const std::uint64_t got = projected_resident(p.earlier_resident, p.earlier_bytes, p.resident,
                                                 p.bytes, p.total, 512 * MiB);
    // Floating point: within a page of the exact figure.
    EXPECT_NEAR(static_cast<double>(got), static_cast<double>(p.expected), 4096.0)
        << p.resident << " at " << p.bytes << " to " << p.total;
  }
}

// On a real table of 48 MiB: regions with 3/4 of their small pages touched
// get large pages at a check and sparse ones keep small pages (their
// resident bytes do not grow); a projection of a full table gathers every
// region. Where the system gathers no large pages, there is nothing to
// see.
TEST(PagePolicy, RegionsFillBeforeTheyGrow) {
  const std::uint64_t large = platform::large_page_bytes();
  if (large == 0 || large > (4 << 20)) GTEST_SKIP() << "no 2 MiB pages here";
  // The regions wholly inside a block, as the policy finds them.
  const auto region_resident = [&](const ZeroedBlock& t, std::uint64_t r) {
    const auto start = reinterpret_cast<std::uintptr_t>(t.data());
    const std::uintptr_t first = (start + large - 1) / large * large;
    return platform::resident_bytes(t.data() + (first - start) + r * large, large);
  };
  // Whether gathering a sparse region makes it whole here (an emulator
  // may take the advice and do nothing).
  ZeroedBlock probe;
  ASSERT_TRUE(probe.allocate(4 * large));
  for (std::uint64_t at = 0; at < probe.size(); at += 8 * 4096) probe.data()[at] = 1;
  if (!probe.advise_huge_pages(true) || region_resident(probe, 1) != large) {
    GTEST_SKIP() << "no large pages gathered here";
  }

  constexpr std::uint64_t page = 4096;
  const std::uint64_t table_bytes = 48 << 20;
  const auto touch = [](ZeroedBlock& t, std::uint64_t from, std::uint64_t to, std::uint64_t every) {
    for (std::uint64_t at = from; at < to; at += every) t.data()[at] = 1;
  };
  {
    ZeroedBlock table;
    ASSERT_TRUE(table.allocate(table_bytes));
    TablePages pages(table, 0);                              // unknown length: region by region
    touch(table, 0, table.size() / 2, page);                 // the first half, whole
    touch(table, table.size() / 2, table.size(), 8 * page);  // the rest, an eighth
    pages.after(first_check_bytes(table_bytes), 0);
    // A sparse region's small pages, touched again: still an eighth.
    touch(table, table.size() - 4 * large, table.size(), 8 * page);
    EXPECT_LT(region_resident(table, table_bytes / large - 3), large / 4);
    EXPECT_EQ(region_resident(table, 1), large);
  }
  {
    ZeroedBlock table;
    ASSERT_TRUE(table.allocate(table_bytes));
    TablePages pages(table, 1 << 30);
    const std::uint64_t first = std::max<std::uint64_t>(first_check_bytes(table_bytes), 1);
    touch(table, 0, table.size(), 64 * page);
    pages.after(first, 1 << 30);
    touch(table, 0, table.size(), 32 * page);  // twice the pages at twice the data
    pages.after(2 * first, 1 << 30);           // projected: full
    EXPECT_EQ(region_resident(table, table_bytes / large - 3), large);
  }
}

// The search of the automatic choice, on made-up sizes that fall to one
// minimum per model and rise after it, as real data's do: it finds the
// smallest, breaks ties towards smaller tables, keeps to the memory limit,
// never runs a setting twice or again after it failed, and runs few.
TEST(SettingSearch, FindsTheSmallestInFewTrialsWithinTheLimits) {
  struct Curve {
    std::uint64_t base;
    int twice_best;      // twice the order of the minimum
    std::uint64_t rise;  // per order squared
  };
  const Curve curves[model_count] = {{60000, 52, 40}, {50000, 42, 30}, {58000, 60, 20},
                                     {50400, 38, 30}, {52000, 44, 30}, {49000, 48, 60}};
  struct Case {
    std::uint64_t memory_limit;
    Setting failing;        // its tables cannot be had
    int model5_twice_best;  // moves model 5's minimum
    Setting expected;
  };
  const Case cases[] = {
      {no_memory_limit, {0, 0}, 48, {5, 24}},
      {mvx_model_memory(5, 22), {0, 0}, 48, {5, 22}},
      {no_memory_limit, {5, 24}, 48, {5, 23}},  // 5:23 and 5:25 would tie; 5:25 is not tried
      {no_memory_limit, {0, 0}, 49, {5, 24}},   // 5:24 and 5:25 tie: the smaller tables win
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model5_twice_best);
    SCOPED_TRACE(c.memory_limit);
    const auto size_of = [&](Setting s) {
      const int twice_best = s.model == 5 ? c.model5_twice_best : curves[s.model].twice_best;
      const auto d = static_cast<std::uint64_t>(std::abs(2 * s.order - twice_best));
      return curves[s.model].base + curves[s.model].rise * d * d / 4;
    };
    SettingSearch search(1 << 16, c.memory_limit);
    std::set<std::pair<int, int>> tried;
    for (std::vector<Setting> round; !(round = search.next_round()).empty();) {
      // The order of the results within a round does not matter.
      for (auto s = round.rbegin(); s != round.rend(); ++s) {
        EXPECT_TRUE(tried.insert({s->model, s->order}).second) << s->model << ":" << s->order;
        if (c.memory_limit != no_memory_limit) {
          EXPECT_LE(mvx_model_memory(s->model, s->order), c.memory_limit);
        }
        const bool fails = s->model == c.failing.model && s->order == c.failing.order;
        search.record(*s, fails ? trial_failed : size_of(*s));
      }
    }
    Setting best;
    ASSERT_TRUE(search.best(&best));
    EXPECT_EQ(best.model, c.expected.model);
    EXPECT_EQ(best.order, c.expected.order);
    EXPECT_LT(tried.size(), 40u);  // of 192
  }
}

// Tables come zeroed whatever came before them: a freed block that is kept
// for the next job is cleared for it, whole, even when the next is smaller
// and when it was written to the end; blocks held at once are distinct.
TEST(ZeroedBlocks, AreZeroEvenWhenReused) {
  const auto all_zero = [](const ZeroedBlock& block) {
    return std::all_of(block.data(), block.data() + block.size(),
                       [](unsigned char byte) { return byte == 0; });
  };
  for (const std::uint64_t first : {std::uint64_t{4} << 20, std::uint64_t{2} << 20}) {
    for (const std::uint64_t next : {(std::uint64_t{1} << 20) + 1, first, std::uint64_t{3} << 20}) {
      {
        ZeroedBlock written;
        ASSERT_TRUE(written.allocate(first));
        std::fill(written.data(), written.data() + written.size(), 0xA5);
      }
      ZeroedBlock again, beside;
      ASSERT_TRUE(again.allocate(next));
      ASSERT_TRUE(beside.allocate(next));
      EXPECT_NE(again.data(), beside.data());
      EXPECT_TRUE(all_zero(again)) << first << " then " << next;
      EXPECT_TRUE(all_zero(beside)) << first << " then " << next;
      std::fill(again.data(), again.data() + again.size(), 0x5A);
      std::fill(beside.data(), beside.data() + beside.size(), 0x5A);
    }
  }
}

// What model 1 would have coded to at each lower order, read from a
// trial's tables at a higher one, is each order's own stream body to
// within its finish: at least the cost less a byte, at most the cost plus
// seven bytes. On text, random bytes, a tiny input, runs of the escape
// byte (the transform's units are what is coded), and zeros, whose
// contexts see far more bits than the table of log factorials holds.
TEST(PlainCosts, FollowEveryLowerOrdersStream) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  inputs.emplace_back("text", test::sample_text<Bytes>(60000));
  inputs.emplace_back("random", test::random_bytes(20000, 7));
  inputs.emplace_back("tiny", test::from_text("moltavex"));
  Bytes escapes;
  for (int i = 0; i < 3000; ++i)
    escapes.insert(escapes.end(), i % 7 + 1, 0xF0), escapes.push_back(i & 0xFF);
  inputs.emplace_back("escapes", escapes);
  inputs.emplace_back("zeros", Bytes(200000, 0));
  const int top = 17;
  const std::vector<int> orders = {0, 1, 5, 9, 12, 16, 17};
  for (const auto& [what, data] : inputs) {
    struct Seen {
      std::vector<int> orders;
      std::vector<std::uint64_t> costs;
      static void read(void* context, unsigned char* tables) {
        auto* self = static_cast<Seen*>(context);
        plain_costs(tables, top, self->orders, self->costs);
      }
    } seen{orders, {}};
    const TablesSeen tables_seen{&Seen::read, &seen};
    const test::JobResult trial =
        test::run_in_memory(data, [&](ByteReader& reader, ByteWriter& writer) {
          return compress_streams(reader, writer, 1, top, nullptr, no_memory_limit, false,
                                  &tables_seen);
        });
    ASSERT_EQ(trial.status, Status::ok) << what;
    ASSERT_EQ(seen.costs.size(), orders.size()) << what;
    for (std::size_t i = 0; i < orders.size(); ++i) {
      const test::JobResult own = test::compress_bytes(data, 1, orders[i]);
      ASSERT_EQ(own.status, Status::ok);
      if (orders[i] == top) {
        EXPECT_TRUE(own.output == trial.output) << what;
      }
      const std::uint64_t body_bits = 8 * (own.output.size() - 1) << cost_fraction_bits;
      const std::uint64_t byte = std::uint64_t{8} << cost_fraction_bits;
      EXPECT_GE(body_bits + byte, seen.costs[i]) << what << " order " << orders[i];
      EXPECT_LE(body_bits, seen.costs[i] + 7 * byte) << what << " order " << orders[i];
    }
  }
}

// The contexts of each order counted as a set of the last `order` coded
// bits before every bit would count them, on data with one context, few,
// and nearly as many as bits.
TEST(SettingSearch, CountsTheDistinctContextsOfEveryOrder) {
  const Bytes inputs[] = {Bytes(2000, 0x00), Bytes(2000, 0x55), test::sample_text(2000),
                          test::random_bytes(2000, 7)};
  for (const Bytes& data : inputs) {
    ContextCounts counts;
    ASSERT_TRUE(count_contexts(data.data(), data.size(), counts));
    for (const int order : {0, 1, 7, 8, 13, 16, 24, 31}) {
      std::set<std::uint32_t> seen;
      std::uint32_t context = 0;
      for (const std::uint8_t byte : data) {
        for (int k = 7; k >= 0; --k) {
          seen.insert(context & order_mask(order));
          context = context << 1 | ((byte >> k) & 1);
        }
      }
      EXPECT_EQ(counts.distinct[order], seen.size()) << order;
    }
  }
}

// The second stage counts its sample's contexts only for a trial where they
// can spare pages: tables beyond cheap that the sample's length alone would
// give large pages. Cheap tables cost about their coding however paged, and
// tables too large for large pages keep small ones without counts.
TEST(SettingSearch, WantsContextsOnlyWhereTheyCanSparePages) {
  constexpr std::uint64_t sample = std::uint64_t{1} << 20;
  struct Case {
    Setting setting;
    bool wanted;
  };
  const Case cases[] = {
      {{1, 22}, false},  // 32 MiB: cheap for a MiB
      {{2, 24}, false},  // 64 MiB: still cheap
      {{5, 24}, true},   // 272 MiB, large pages by length
      {{5, 28}, true},   // 4.25 GiB, at most 8 KiB of table per byte
      {{5, 29}, false},  // 8.5 GiB: small pages by length
  };
  for (const Case& c : cases) {
    SettingSearch search(sample, no_memory_limit, std::vector<Setting>{c.setting});
    EXPECT_EQ(search.wants_contexts(c.setting), c.wanted)
        << c.setting.model << ":" << c.setting.order;
    ContextCounts counts;
    search.estimate_contexts(counts, sample);
    EXPECT_FALSE(search.wants_contexts(c.setting));
  }
}

// The record probes, on made-up sizes whose model 5 has a second, deeper
// valley in the band of record orders: found when the band's pages admit
// its trials, half found on a model's share of them, skipped when a share
// admits none; the trials in the band never touch more pages together than
// the budget, and none runs twice.
TEST(SettingSearch, ProbesTheBandOfRecordsWithinItsPages) {
  struct Valley {
    std::uint64_t base;
    int order;
  };
  const Valley first[model_count] = {{7600, 18}, {9000, 18}, {24000, 19},
                                     {6000, 17}, {9500, 18}, {6800, 16}};
  const Valley second{5700, 27};  // model 5's
  const Band band{24, 31};
  ContextCounts counts;  // a few thousand contexts: large tables stay sparse
  for (int order = 0; order <= max_order; ++order) counts.distinct[order] = 1000 + 100 * order;
  struct Case {
    std::uint64_t pages;
    Setting expected;
  };
  const Case cases[] = {
      {std::uint64_t{1} << 20, {5, 27}},  // the whole band affordable
      {8192, {5, 30}},                    // 5:30 alone fits model 5's half
      {1000, {3, 17}},                    // nothing fits a share: the first valley
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pages);
    const auto size_of = [&](Setting s) {
      const auto rise = [](int from, int to) {
        return static_cast<std::uint64_t>(20 * (from - to) * (from - to));
      };
      std::uint64_t size = first[s.model].base + rise(s.order, first[s.model].order);
      if (s.model == 5) size = std::min(size, second.base + rise(s.order, second.order));
      return size;
    };
    SettingSearch search(32 << 10, no_memory_limit, false, band);
    search.limit_band(counts, c.pages);
    std::set<std::pair<int, int>> tried;
    std::uint64_t band_pages = 0;
    for (std::vector<Setting> round; !(round = search.next_round()).empty();) {
      for (const Setting s : round) {
        EXPECT_TRUE(tried.insert({s.model, s.order}).second) << s.model << ":" << s.order;
        if (band.contains(s.order)) band_pages += search.pages(s);
        search.record(s, size_of(s));
      }
    }
    EXPECT_LE(band_pages, c.pages);
    Setting best;
    ASSERT_TRUE(search.best(&best));
    EXPECT_EQ(best.model, c.expected.model);
    EXPECT_EQ(best.order, c.expected.order);
  }
}

}  // namespace
}  // namespace mx
