// Context models: counters at their limits, each model's exact predictions
// and table positions on known inputs, and the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "models/registry.h"

namespace mx {
namespace {

// Feeds the bits of `bytes`, most significant first, through predict and
// update, returning every prediction.
template <class Model>
std::vector<Prob32> feed(Model& m, std::initializer_list<int> bytes) {
  std::vector<Prob32> out;
  for (int byte : bytes) {
    for (int k = 7; k >= 0; --k) {
      out.push_back(m.predict());
      m.update((byte >> k) & 1);
    }
  }
  return out;
}

template <class Model>
std::vector<Prob32> feed_bits(Model& m, std::initializer_list<int> bits) {
  std::vector<Prob32> out;
  for (int bit : bits) {
    out.push_back(m.predict());
    m.update(bit);
  }
  return out;
}

TEST(BitCounter, PredictsFromCountsAndLearns) {
  BitCounter c;
  EXPECT_EQ(counter_predict(c), 0x7FFFFFFFu);
  counter_update(c, 0);
  EXPECT_EQ(c.zeros(), 2u);
  EXPECT_EQ(c.total(), 3u);
  EXPECT_EQ(counter_predict(c), 0xAAAAAAAAu);
  BitCounter one;
  counter_update(one, 1);
  EXPECT_EQ(counter_predict(one), 0x55555555u);
}

TEST(BitCounter, PredictionIsTheTruncatedQuotientForAnyCounts) {
  // The prediction is floor(zeros * 0xFFFFFFFF / total) in full 64-bit
  // arithmetic, whatever shortcut computes it: at the extremes of both
  // counts and at random over the whole range.
  auto expected = [](std::uint32_t zeros, std::uint32_t total) {
    return static_cast<Prob32>(std::uint64_t{zeros} * 0xFFFFFFFFu / total);
  };
  const std::uint32_t edges[][2] = {
      {1, 2}, {1, 0xFFFFFFFFu},           {0xFFFFFFFEu, 0xFFFFFFFFu}, {1, 3},
      {2, 3}, {0x7FFFFFFFu, 0xFFFFFFFFu}, {0x80000000u, 0x80000001u}, {1, 0x80000000u}};
  for (const auto& e : edges) {
    EXPECT_EQ(counter_predict(BitCounter::from_counts(e[0], e[1])), expected(e[0], e[1]))
        << e[0] << "/" << e[1];
  }
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 100000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    // Totals spread over every magnitude, zeros anywhere below them.
    const std::uint32_t total =
        std::max<std::uint32_t>(2, static_cast<std::uint32_t>(state >> 32) >> (state >> 27 & 31));
    const std::uint32_t zeros = 1 + static_cast<std::uint32_t>(state % (total - 1));
    ASSERT_EQ(counter_predict(BitCounter::from_counts(zeros, total)), expected(zeros, total))
        << zeros << "/" << total;
  }
}

TEST(BitCounter, HalvesHistoryAtTheLimitInsteadOfWrapping) {
  // total 0xFFFFFFFF: 0xFFFFFFFD bits seen, of which zeros - 1 were 0.
  struct Case {
    std::uint32_t zeros, bit, zeros_after, total_after;
  };
  // z = zeros - 1 and o = total - zeros - 1 are halved, then the bit counts.
  const Case cases[] = {
      {0x80000000u, 0, 0x40000001u, 0x80000001u},  // z 0x7FFFFFFF, o 0x7FFFFFFE
      {0x80000000u, 1, 0x40000000u, 0x80000001u},
      {1, 1, 1, 0x80000001u},                      // only ones seen
      {0xFFFFFFFEu, 0, 0x80000000u, 0x80000001u},  // only zeros seen
  };
  for (const Case& c : cases) {
    BitCounter counter = BitCounter::from_counts(c.zeros, 0xFFFFFFFFu);
    const Prob32 before = counter_predict(counter);
    counter_update(counter, static_cast<int>(c.bit));
    EXPECT_EQ(counter.zeros(), c.zeros_after) << c.zeros << "/" << c.bit;
    EXPECT_EQ(counter.total(), c.total_after) << c.zeros << "/" << c.bit;
    // The proportions survive the halving.
    const double drift = static_cast<double>(counter_predict(counter)) - before;
    EXPECT_LT(drift < 0 ? -drift : drift, 16.0 * 0x100000000 / c.total_after);
    // The coding loops' one-word form halves alike.
    const auto word = [](const BitCounter& b) {
      return b.zeros_less_one | std::uint64_t{b.total_less_two} << 32;
    };
    EXPECT_EQ(counter_word_update(word(BitCounter::from_counts(c.zeros, 0xFFFFFFFFu)),
                                  static_cast<int>(c.bit)),
              word(counter))
        << c.zeros << "/" << c.bit;
  }
  // Below the limit nothing is halved.
  BitCounter near = BitCounter::from_counts(7, 0xFFFFFFFEu);
  counter_update(near, 0);
  EXPECT_EQ(near.zeros(), 8u);
  EXPECT_EQ(near.total(), 0xFFFFFFFFu);
}

TEST(BitCounterPair, SelectsByLastBitAndLearnsInThePredictingCounter) {
  unsigned char entry[17] = {};
  std::vector<Prob32> p;
  for (int bit : {0, 0, 1, 1, 0}) {
    p.push_back(BitCounterPair::predict(entry));
    BitCounterPair::update(entry, bit);
  }
  EXPECT_EQ(p,
            (std::vector<Prob32>{0x7FFFFFFFu, 0xAAAAAAAAu, 0xBFFFFFFFu, 0x7FFFFFFFu, 0x55555555u}));
  EXPECT_EQ(BitCounterPair::counter(entry, 0).zeros(), 3u);
  EXPECT_EQ(BitCounterPair::counter(entry, 0).total(), 5u);
  EXPECT_EQ(BitCounterPair::counter(entry, 1).zeros(), 2u);
  EXPECT_EQ(BitCounterPair::counter(entry, 1).total(), 4u);
  EXPECT_EQ(entry[16], 0);
  EXPECT_EQ(BitCounterPair::predict(entry), 0x99999999u);
  // The halving rule applies inside pairs too.
  BitCounterPair::store_word(entry, 0, counter_word_of(BitCounter::from_counts(1, 0xFFFFFFFFu)));
  BitCounterPair::update(entry, 1);
  EXPECT_EQ(BitCounterPair::counter(entry, 0).total(), 0x80000001u);
  EXPECT_EQ(BitCounterPair::counter(entry, 0).zeros(), 1u);
}

TEST(SimpleBitwiseModel, CountsPerContextOfTheLastBits) {
  auto m = create_model<SimpleBitwiseModel>(0);
  ASSERT_TRUE(m);
  EXPECT_EQ(feed_bits(*m, {0, 0, 1}), (std::vector<Prob32>{0x7FFFFFFFu, 0xAAAAAAAAu, 0xBFFFFFFFu}));
  EXPECT_EQ(m->predict(), 0x99999999u);
  EXPECT_EQ(m->predict(), 0x99999999u);  // predict changes nothing

  auto m3 = create_model<SimpleBitwiseModel>(3);
  feed_bits(*m3, {1, 0, 1, 1});
  EXPECT_EQ(m3->context, 3u);

  auto m8 = create_model<SimpleBitwiseModel>(8);
  feed(*m8, {0x41});
  EXPECT_EQ(m8->context, 0x41u);
  m8->predict();
  m8->update(1);
  EXPECT_EQ(m8->context, 0x83u);
  EXPECT_EQ(m8->table[0x41].total(), 3u);  // counted exactly one bit

  auto m31 = create_model<SimpleBitwiseModel>(31);
  if (m31) {
    EXPECT_EQ(m31->mask, 0x7FFFFFFFu);
  }
}

TEST(AdaptiveBitwiseModel, MovesByTheOrdersRate) {
  struct Case {
    int order;
    Prob32 after0, after1;
  };
  const Case cases[] = {{0, 0x80000200u, 0x7FFFFDFFu},
                        {8, 0x80004000u, 0x7FFFBFFFu},
                        {16, 0x80080000u, 0x7FF7FFFFu},
                        {31, 0xA0000000u, 0x5FFFFFFFu}};
  for (const Case& c : cases) {
    for (int bit : {0, 1}) {
      auto m = create_model<AdaptiveBitwiseModel>(c.order);
      ASSERT_TRUE(m || c.order == 31);
      if (!m) continue;
      EXPECT_EQ(m->predict(), 0x80000000u);
      m->update(bit);
      m->context = 0;
      EXPECT_EQ(m->predict(), bit == 0 ? c.after0 : c.after1) << c.order;
    }
  }
  const std::pair<int, std::uint32_t> shifts[] = {{0, 22}, {1, 22}, {2, 21}, {3, 20}, {12, 14},
                                                  {20, 9}, {24, 6}, {28, 4}, {29, 3}, {30, 2}};
  for (auto [order, shift] : shifts) {
    auto m = create_model<AdaptiveBitwiseModel>(order);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->shift, shift) << order;
    EXPECT_EQ(m->step, 1u << (32 - shift)) << order;
  }
}

TEST(AdaptiveBitwiseModel, SaturatesWithinBounds) {
  auto zeros = create_model<AdaptiveBitwiseModel>(31);
  if (!zeros) GTEST_SKIP() << "order 31 table not available";
  for (int i = 0; i < 65; ++i) zeros->update(0);
  EXPECT_EQ(zeros->predict(), 0xFFFFFFF1u);
  for (int i = 0; i < 10; ++i) zeros->update(0);
  EXPECT_EQ(zeros->predict(), 0xFFFFFFF1u);

  auto ones = create_model<AdaptiveBitwiseModel>(31);
  ASSERT_TRUE(ones);
  for (int i = 0; i < 31; ++i) ones->update(1);
  EXPECT_EQ(ones->context, 0x7FFFFFFFu);
  for (int i = 31; i < 95; ++i) ones->update(1);
  EXPECT_EQ(ones->predict(), 19u);
  ones->update(1);
  EXPECT_EQ(ones->predict(), 14u);
  ones->update(1);
  EXPECT_EQ(ones->predict(), 14u);

  // Low orders end exactly at the guard values.
  auto slow = create_model<AdaptiveBitwiseModel>(16);
  ASSERT_TRUE(slow);
  for (int i = 0; i < 200000; ++i) {
    slow->context = 0;
    slow->update(0);
  }
  slow->context = 0;
  EXPECT_EQ(slow->predict(), 0xFFFFFFF0u);
  for (int i = 0; i < 200000; ++i) {
    slow->context = 0;
    slow->update(1);
  }
  slow->context = 0;
  EXPECT_EQ(slow->predict(), 15u);
}

// Compression moves an entry without a branch on the bit, and takes the
// guarded form only near the ends; at every rate, and on both sides of each
// guard, the two must agree.
TEST(AdaptiveBitwiseModel, KnownBitMovesMatchTheGuardedRule) {
  std::vector<std::uint32_t> probes;
  for (std::uint32_t p = 0; p <= 40; ++p) probes.push_back(p);
  for (std::uint32_t d = 0; d <= 40; ++d) probes.push_back(0xFFFFFFFFu - d);
  std::uint32_t x = 99;
  for (int i = 0; i < 200; ++i) probes.push_back(x = x * 1103515245u + 12345u);
  auto m = create_model<AdaptiveBitwiseModel>(0);
  ASSERT_TRUE(m);
  for (std::int32_t order = 0; order <= 31; ++order) {
    // Only the order's rate matters here: set it without a table that large.
    const std::uint32_t a = 10 + static_cast<std::uint32_t>(2 * order) / 3;
    m->shift = 32 - a;
    m->step = std::uint32_t{1} << a;
    for (std::uint32_t p : probes) {
      for (int k = 0; k < 8; ++k) {
        for (std::uint32_t byte : {0x00u, 0xFFu, 0x5Au, 0xA5u}) {
          const int bit = static_cast<int>((byte >> k) & 1);
          ASSERT_EQ(m->adapted_known(p, byte, k), m->adapted(p, bit))
              << "order " << order << ", p " << p << ", bit " << bit;
        }
      }
    }
  }
}
TEST(IndexedBitwiseModelArray, ConditionsOnThePreviousOutcomeOfTheContext) {
  auto m0 = create_model<IndexedBitwiseModelArray>(0);
  ASSERT_TRUE(m0);
  EXPECT_EQ(feed_bits(*m0, {0, 0, 1, 1, 0}),
            (std::vector<Prob32>{0x7FFFFFFFu, 0xAAAAAAAAu, 0xBFFFFFFFu, 0x7FFFFFFFu, 0x55555555u}));
  EXPECT_EQ(m0->predict(), 0x99999999u);

  auto m3 = create_model<IndexedBitwiseModelArray>(3);
  feed_bits(*m3, {1, 0, 1, 1});
  EXPECT_EQ(m3->context, 3u);
  EXPECT_EQ(m3->predict(), 0x7FFFFFFFu);

  // Orders 0 and 1 predict as the Simple Bitwise Model one order up; order
  // 2 differs once a context returns with a known last bit.
  const auto data = {0x68, 0x65, 0x6C, 0x6C, 0x6F, 0xF0, 0x00, 0xFF, 0x13};
  for (int order : {0, 1}) {
    auto a = create_model<IndexedBitwiseModelArray>(order);
    auto b = create_model<SimpleBitwiseModel>(order + 1);
    EXPECT_EQ(feed(*a, data), feed(*b, data)) << order;
  }
  auto a2 = create_model<IndexedBitwiseModelArray>(2);
  auto b3 = create_model<SimpleBitwiseModel>(3);
  feed_bits(*a2, {1, 0, 1});
  feed_bits(*b3, {1, 0, 1});
  EXPECT_EQ(a2->predict(), 0xAAAAAAAAu);
  EXPECT_EQ(b3->predict(), 0x7FFFFFFFu);
}

TEST(HashedBitwiseModel, SlidesAWindowOverTheRunningHash) {
  auto m = create_model<HashedBitwiseModel>(16);
  ASSERT_TRUE(m);
  std::vector<std::uint32_t> entries;
  auto code_byte = [&](int byte) {
    entries.clear();
    for (int k = 7; k >= 0; --k) {
      entries.push_back(m->current_index());
      m->predict();
      m->update((byte >> k) & 1);
    }
  };
  code_byte(0x41);
  EXPECT_EQ(entries, (std::vector<std::uint32_t>{0, 0, 2, 4, 8, 16, 32, 64}));
  EXPECT_EQ(m->history, 12480u);
  EXPECT_EQ(m->bit_position, 7);
  EXPECT_EQ(m->current_index(), 97u);
  code_byte(0x42);
  EXPECT_EQ(entries, (std::vector<std::uint32_t>{97, 195, 388, 776, 1552, 3104, 6208, 12418}));
  EXPECT_EQ(m->history, 2384256u);
  // The hash stays below 2^61 however long the data.
  for (int i = 0; i < 1000; ++i) code_byte(0xFF - (i & 0x3F));
  EXPECT_LT(m->history, std::uint64_t{1} << 61);
  EXPECT_EQ(m->history & 0x3F, 0u);
}

TEST(BytewiseHashedModel, HashesFourBytesAndCodesTheKnownBits) {
  auto m = create_model<BytewiseHashedModel>(16);
  ASSERT_TRUE(m);
  std::vector<std::uint32_t> entries;
  auto code_byte = [&](int byte) {
    entries.clear();
    for (int k = 7; k >= 0; --k) {
      entries.push_back(m->index);
      m->predict();
      m->update((byte >> k) & 1);
    }
  };
  code_byte(0x41);
  EXPECT_EQ(entries, (std::vector<std::uint32_t>{0x0, 0x2, 0x4, 0xC, 0x141, 0x142, 0x144, 0x148}));
  EXPECT_EQ(m->hash, 0xB9C2DC45u);
  EXPECT_EQ(m->partial, 1u);
  EXPECT_EQ(m->index, 0xDC44u);
  code_byte(0x42);
  EXPECT_EQ(entries, (std::vector<std::uint32_t>{0xDC44, 0xDC46, 0xDC40, 0xDC48, 0xDD14, 0xDD17,
                                                 0xDD11, 0xDD1D}));
  EXPECT_EQ(m->hash, 0xBC1383A3u);
  EXPECT_EQ(m->index, 0x83A2u);
  // Closed form of the hash.
  for (std::uint32_t v : {0u, 0x01020304u, 0xFFFFFFFFu, 0x80F07F11u}) {
    const std::uint32_t b0 = v & 0xFF, b1 = (v >> 8) & 0xFF, b2 = (v >> 16) & 0xFF, b3 = v >> 24;
    EXPECT_EQ(bytewise_hash(v),
              b3 * 558620273u + b2 * 461889917u + b1 * 597529u + b0 * 773u + 3116505088u);
  }
}

TEST(BytewiseHashedModel, SameLastFourBytesShareEntries) {
  auto a = create_model<BytewiseHashedModel>(20);
  auto b = create_model<BytewiseHashedModel>(20);
  feed(*a, {1, 2, 3, 9, 8, 7, 6});
  feed(*b, {0x55, 9, 8, 7, 6});
  EXPECT_EQ(a->index, b->index);
  EXPECT_EQ(a->hash, b->hash);
}

TEST(CombinedModel, MapsTheFirstStageThroughSecondaryCounters) {
  auto m = create_model<CombinedModel>(16);
  ASSERT_TRUE(m);
  std::vector<std::uint64_t> entries;
  std::vector<Prob32> probs;
  for (int k = 7; k >= 0; --k) {
    entries.push_back(m->index);
    probs.push_back(m->predict());
    if (k == 7) {
      EXPECT_EQ(m->secondary_index, 8191u);
    }
    m->update((0x41 >> k) & 1);
  }
  EXPECT_EQ(entries, (std::vector<std::uint64_t>{0, 0, 2, 4, 8, 16, 32, 64}));
  EXPECT_EQ(probs, (std::vector<Prob32>{0x7FFFFFFFu, 0x7FFFFFFFu, 0xAAAAAAAAu, 0xBFFFFFFFu,
                                        0xCCCCCCCCu, 0xD5555554u, 0xDB6DB6DAu, 0xDFFFFFFFu}));
  EXPECT_EQ(m->history, 130u);
  EXPECT_EQ(m->bit_position, 0);
  EXPECT_EQ(m->index, 130u);

  auto ff = create_model<CombinedModel>(16);
  EXPECT_EQ(feed(*ff, {0xFF}),
            (std::vector<Prob32>{0x7FFFFFFFu, 0x55555555u, 0x3FFFFFFFu, 0x33333333u, 0x2AAAAAAAu,
                                 0x24924924u, 0x1FFFFFFFu, 0x1C71C71Cu}));
  EXPECT_EQ(ff->secondary[8191].total(), 10u);

  auto zeros = create_model<CombinedModel>(0);
  for (int i = 0; i < 138; ++i) {
    ASSERT_EQ(zeros->predict(), 0x7FFFFFFFu) << i;
    zeros->update(0);
  }
  EXPECT_EQ(zeros->predict(), 0xAAAAAAAAu);
  EXPECT_EQ(zeros->predict(), 0xAAAAAAAAu);
}

TEST(ModelTable, NamesRowsAndBehavesLikeTheClasses) {
  const char* names[] = {"Bytewise Hashed Model",  "Simple Bitwise Model",
                         "Adaptive Bitwise Model", "Indexed Bitwise Model Array",
                         "Hashed Bitwise Model",   "Combined Model"};
  const auto data = {0x10, 0xF0, 0xF0, 0x00, 0x7E, 0x7E, 0x7E, 0xA5};
  for (int i = 0; i < model_count; ++i) {
    EXPECT_STREQ(model_table[i].info.name, names[i]);
    const ModelDescriptor& row = model_table[i];
    void* a = row.create(12);
    void* b = row.create(12);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (int byte : data) {
      for (int k = 7; k >= 0; --k) {
        const Prob32 pa = row.predict(a);
        ASSERT_EQ(pa, row.predict(a));
        ASSERT_EQ(pa, row.predict(b));
        ASSERT_NE(pa, 0u);
        // Any nonzero bit counts as 1 through the table.
        row.update(a, ((byte >> k) & 1) * 5);
        row.update(b, (byte >> k) & 1);
      }
    }
    row.destroy(a);
    row.destroy(b);
    EXPECT_EQ(row.create(-1), nullptr);
    EXPECT_EQ(row.create(32), nullptr);
  }
}

// Codes `data` into two instances of one model: `a` bit by bit through
// predict and update, `b` through code_byte in each of its forms, and
// (every fifth byte) bit by bit too, as the drivers mix the two paths.
// Both must see the same probabilities and end in the same state.
template <class Model>
void expect_whole_bytes_match_single_bits(std::int32_t order, const std::vector<int>& data) {
  auto a = create_model<Model>(order);
  auto b = create_model<Model>(order);
  ASSERT_TRUE(a && b);
  std::vector<Prob32> expected, seen;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const int byte = data[i];
    for (int k = 7; k >= 0; --k) {
      expected.push_back(a->predict());
      a->update((byte >> k) & 1);
    }
    auto code = [&](int k, Prob32 p) {
      seen.push_back(p);
      return (byte >> k) & 1;
    };
    int returned = byte;
    switch (i % 6) {
      case 0: returned = b->template code_byte<false, true>(code, byte); break;
      case 1: returned = b->template code_byte<true, false>(code); break;
      case 2: returned = b->template code_byte<false, false>(code); break;
      case 3: returned = b->template code_byte<true, true>(code, byte); break;
      // Far below the halving limit, updates without its check agree too.
      case 4: returned = b->template code_byte<false, true, true>(code, byte); break;
      default:
        for (int k = 7; k >= 0; --k) {
          seen.push_back(b->predict());
          b->update((byte >> k) & 1);
        }
    }
    ASSERT_EQ(returned, byte) << "order " << order << ", byte " << i;
    ASSERT_EQ(seen, expected) << "order " << order << ", byte " << i;
  }
  // The next prediction after all that agrees too.
  EXPECT_EQ(a->predict(), b->predict()) << "order " << order;
}

TEST(EveryModel, WholeBytesMatchSingleBits) {
  // Text, runs that revisit one entry for several bits in a row (zeros,
  // ones, short periods), and noise; low orders make every bit of a byte
  // share few entries.
  std::vector<int> data;
  const std::string text = "It was the best of times, it was the worst of times. ";
  for (int r = 0; r < 6; ++r)
    for (char ch : text) data.push_back(static_cast<unsigned char>(ch));
  for (int v : {0x00, 0xFF, 0x55, 0xAA, 0xF0, 0x0F, 0x92})
    for (int i = 0; i < 40; ++i) data.push_back(v);
  std::uint32_t x = 12345;
  for (int i = 0; i < 400; ++i) {
    x = x * 1103515245u + 12345u;
    data.push_back(static_cast<int>(x >> 24));
  }
  for (std::int32_t order : {0, 1, 3, 7, 8, 9, 13, 20}) {
    expect_whole_bytes_match_single_bits<BytewiseHashedModel>(order, data);
    expect_whole_bytes_match_single_bits<SimpleBitwiseModel>(order, data);
    expect_whole_bytes_match_single_bits<AdaptiveBitwiseModel>(order, data);
    expect_whole_bytes_match_single_bits<IndexedBitwiseModelArray>(order, data);
    expect_whole_bytes_match_single_bits<HashedBitwiseModel>(order, data);
    expect_whole_bytes_match_single_bits<CombinedModel>(order, data);
  }
  // Adaptive entries at their bounds: a fast order drives them into both
  // guards.
  expect_whole_bytes_match_single_bits<AdaptiveBitwiseModel>(31, std::vector<int>(300, 0x00));
  expect_whole_bytes_match_single_bits<AdaptiveBitwiseModel>(31, std::vector<int>(300, 0xFF));
}

// The table entry the next predict reads, as each model picks it.
const void* next_entry(const SimpleBitwiseModel& m) { return &m.table[m.context]; }
const void* next_entry(const AdaptiveBitwiseModel& m) { return &m.table[m.context]; }
const void* next_entry(const IndexedBitwiseModelArray& m) { return m.entry(m.context); }
const void* next_entry(const HashedBitwiseModel& m) { return &m.table[m.current_index()]; }
const void* next_entry(const BytewiseHashedModel& m) { return &m.table[m.index]; }
const void* next_entry(const CombinedModel& m) { return m.entry(); }

// Every line of every entry a byte's bits read was asked for by the
// compression lookahead when it was shown that byte. A lookahead that
// misses changes no stream, only the speed, so nothing else would notice.
template <class Model>
void expect_lookahead_covers_entries(std::int32_t order, const std::vector<int>& data,
                                     std::uintptr_t entry_bytes) {
  auto m = create_model<Model>(order);
  ASSERT_TRUE(m);
  typename Model::Lookahead lookahead;
  constexpr std::uintptr_t line = 64;
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::vector<std::uintptr_t> asked;
    lookahead.touch(*m, data[i], [&](const void* a) {
      asked.push_back(reinterpret_cast<std::uintptr_t>(a) / line);
    });
    for (int k = 7; k >= 0; --k) {
      const auto first = reinterpret_cast<std::uintptr_t>(next_entry(*m));
      for (std::uintptr_t l = first / line; l <= (first + entry_bytes - 1) / line; ++l) {
        ASSERT_NE(std::find(asked.begin(), asked.end(), l), asked.end())
            << Model::info.name << ", order " << order << ", byte " << i << ", bit " << k;
      }
      m->predict();
      m->update((data[i] >> k) & 1);
    }
  }
}

TEST(EveryModel, LookaheadAsksForEveryEntryRead) {
  std::vector<int> data;
  const std::string text = "It was the best of times, it was the worst of times. ";
  for (int r = 0; r < 4; ++r)
    for (char ch : text) data.push_back(static_cast<unsigned char>(ch));
  std::uint32_t x = 777;
  for (int i = 0; i < 300; ++i) {
    x = x * 1103515245u + 12345u;
    data.push_back(static_cast<int>(x >> 24));
  }
  // Orders whose tables the drivers prefetch from (2 MiB and up).
  for (std::int32_t order : {18, 20}) {
    expect_lookahead_covers_entries<SimpleBitwiseModel>(order, data, sizeof(BitCounter));
    expect_lookahead_covers_entries<AdaptiveBitwiseModel>(order, data, 4);
    expect_lookahead_covers_entries<IndexedBitwiseModelArray>(order, data, BitCounterPair::size);
    expect_lookahead_covers_entries<HashedBitwiseModel>(order, data, sizeof(BitCounter));
    expect_lookahead_covers_entries<BytewiseHashedModel>(order, data, sizeof(BitCounter));
    expect_lookahead_covers_entries<CombinedModel>(order, data, BitCounterPair::size);
  }
}

TEST(Models, FreshTablesCostOnlyWhatIsTouched) {
  // Order 28 tables (2 to 4.25 GiB) are created at once and coded into.
  for (int model = 0; model < model_count; ++model) {
    void* state = model_table[model].create(28);
    if (state == nullptr) continue;  // the machine may refuse; that is a clean failure
    for (int i = 0; i < 4096; ++i) {
      model_table[model].predict(state);
      model_table[model].update(state, (i * 37 >> 3) & 1);
    }
    model_table[model].destroy(state);
  }
}

}  // namespace
}  // namespace mx
