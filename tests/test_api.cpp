// The public interface, as an embedding program uses it: the examples of
// the header, every entry point, the observer's hooks and its stop flag.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "moltavex/moltavex.hpp"
#include "support.h"

namespace {

// --- The examples of moltavex.h, as written there. ---

std::int64_t my_read(void* context, std::uint8_t* buffer, std::size_t size) {
  return static_cast<std::int64_t>(std::fread(buffer, 1, size, static_cast<std::FILE*>(context)));
}
bool my_write(void* context, const std::uint8_t* data, std::size_t size) {
  return std::fwrite(data, 1, size, static_cast<std::FILE*>(context)) == size;
}

TEST(Api, HeaderExamplesWork) {
  std::vector<std::uint8_t> packed, restored;
  const char text[] = "hello, hello, hello";
  ASSERT_EQ(moltavex::compress(text, sizeof text - 1, 1, 16, packed), moltavex::Status::ok);
  moltavex::Status s = moltavex::decompress(packed.data(), packed.size(), restored);
  EXPECT_EQ(s, moltavex::Status::ok);
  EXPECT_EQ(std::string(restored.begin(), restored.end()), text);

  char dir_pattern[] = "/tmp/moltavex-api-XXXXXX";
  const std::string dir = ::mkdtemp(dir_pattern);
  const std::string book = dir + "/book.txt";
  std::ofstream(book) << std::string(5000, 'x') << "the end\n";
  s = moltavex::compress_file(book.c_str(), (book + ".mx").c_str(), 3, 16);
  EXPECT_EQ(s, moltavex::Status::ok) << moltavex::status_message(s);

  std::FILE* source = std::fopen(book.c_str(), "rb");
  std::FILE* sink = std::fopen((dir + "/book.s.mx").c_str(), "wb");
  ASSERT_TRUE(source && sink);
  EXPECT_EQ(moltavex::compress_stream(&my_read, source, &my_write, sink, 0, 22),
            moltavex::Status::ok);
  std::fclose(source);
  std::fclose(sink);

  // Both files decode back to the book.
  for (const char* name : {"/book.txt.mx", "/book.s.mx"}) {
    EXPECT_EQ(moltavex::decompress_file((dir + name).c_str(), (dir + "/back").c_str()),
              moltavex::Status::ok);
    std::ifstream a(book, std::ios::binary), b(dir + "/back", std::ios::binary);
    EXPECT_TRUE(
        std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}));
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(Api, DescribesModelsStatusesAndHeaders) {
  EXPECT_STREQ(moltavex::model_name(1), "Simple Bitwise Model");
  EXPECT_EQ(moltavex::model_name(6), nullptr);
  EXPECT_EQ(moltavex::model_name(-1), nullptr);
  EXPECT_EQ(moltavex::model_memory(1, 16), 512u * 1024);
  EXPECT_EQ(moltavex::model_memory(3, 31), 17ull << 31);
  EXPECT_EQ(moltavex::model_memory(5, 0), 17u + 131072u);
  EXPECT_EQ(moltavex::model_memory(2, 32), 0u);
  EXPECT_STREQ(moltavex::status_message(moltavex::Status::truncated_stream),
               "Unexpected end of compressed data.");
  EXPECT_STREQ(moltavex::status_message(moltavex::Status::ok), "");
  int model = -1, order = -1;
  EXPECT_TRUE(moltavex::read_header(0xBF, &model, &order));
  EXPECT_EQ(model, 5);
  EXPECT_EQ(order, 31);
  EXPECT_FALSE(moltavex::read_header(0xC0, &model, &order));
  EXPECT_STREQ(moltavex::version(), MVX_VERSION_STRING);  // the library matches its header
}

TEST(Api, RejectsBadArgumentsWithoutTouchingAnything) {
  std::vector<std::uint8_t> out = {1, 2, 3};
  EXPECT_EQ(moltavex::compress("a", 1, 6, 0, out), moltavex::Status::invalid_argument);
  EXPECT_EQ(moltavex::compress("a", 1, 0, -1, out), moltavex::Status::invalid_argument);
  // Null pointers are a misuse of the call, not a setting out of range
  // (but for file names, where null is the standard stream).
  EXPECT_EQ(moltavex::compress_stream(nullptr, nullptr, &my_write, nullptr, 0, 0),
            moltavex::Status::invalid_call);
  EXPECT_EQ(moltavex::decompress(nullptr, 0, out), moltavex::Status::invalid_stream);
  EXPECT_TRUE(out.empty());
}

// The memory limit covers every kind of job, counts what model_memory
// says, and refuses before anything is coded.
TEST(Api, MemoryLimitRefusesTablesBeyondIt) {
  const char text[] = "within the limit, or not at all";
  moltavex::Options within, below;
  within.memory_limit = moltavex::model_memory(5, 10);
  below.memory_limit = within.memory_limit - 1;
  std::vector<std::uint8_t> packed, restored;
  EXPECT_EQ(moltavex::compress(text, sizeof text, 5, 10, packed, nullptr, &below),
            moltavex::Status::memory_limit);
  EXPECT_TRUE(packed.empty());
  ASSERT_EQ(moltavex::compress(text, sizeof text, 5, 10, packed, nullptr, &within),
            moltavex::Status::ok);
  EXPECT_EQ(moltavex::decompress(packed.data(), packed.size(), restored, nullptr, &below),
            moltavex::Status::memory_limit);
  EXPECT_TRUE(restored.empty());
  EXPECT_EQ(moltavex::decompress(packed.data(), packed.size(), restored, nullptr, &within),
            moltavex::Status::ok);
}

struct Watch {
  int started = 0;
  bool decompressing = false;
  std::string name;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
  volatile std::sig_atomic_t stop = 0;
  std::size_t stop_after = SIZE_MAX;  // raise the flag at this progress call
};

moltavex::Observer observer_for(Watch& watch) {
  moltavex::Observer o;
  o.context = &watch;
  o.stop = &watch.stop;
  o.started = [](void* c, bool decompressing, const char* name) {
    auto* w = static_cast<Watch*>(c);
    ++w->started;
    w->decompressing = decompressing;
    w->name = name;
  };
  o.progress = [](void* c, std::uint64_t in, std::uint64_t out) {
    auto* w = static_cast<Watch*>(c);
    w->progress.emplace_back(in, out);
    if (w->progress.size() >= w->stop_after) w->stop = 1;
  };
  return o;
}

TEST(Api, ObserverHearsStartAndProgress) {
  const mx::test::Bytes data = mx::test::random_bytes(300000, 5);
  Watch watch;
  const moltavex::Observer o = observer_for(watch);
  std::vector<std::uint8_t> packed, restored;
  ASSERT_EQ(moltavex::compress(data.data(), data.size(), 4, 12, packed, &o), moltavex::Status::ok);
  EXPECT_EQ(watch.started, 1);
  EXPECT_FALSE(watch.decompressing);
  EXPECT_EQ(watch.name, "Hashed Bitwise Model");
  ASSERT_GE(watch.progress.size(), 4u);  // 300000 bytes are five input blocks
  for (std::size_t i = 1; i < watch.progress.size(); ++i) {
    EXPECT_GE(watch.progress[i].first, watch.progress[i - 1].first);
    EXPECT_GE(watch.progress[i].second, watch.progress[i - 1].second);
  }
  EXPECT_LE(watch.progress.back().first, data.size());

  Watch back;
  const moltavex::Observer ob = observer_for(back);
  ASSERT_EQ(moltavex::decompress(packed.data(), packed.size(), restored, &ob),
            moltavex::Status::ok);
  EXPECT_TRUE(back.decompressing);
  EXPECT_EQ(back.name, "Hashed Bitwise Model");
  EXPECT_GE(back.progress.size(), 4u);  // five output blocks
  EXPECT_EQ(restored, data);
}

// The automatic choice codes with the setting it names, comes within 3%
// of the best setting of a small exhaustive trial, keeps to the memory
// limit, and names its choice before the observer hears the start. The
// 32-bit counter log is best at an order near its record's 32 bits, in a
// second valley of sizes that the climb from low orders never reaches.
TEST(Api, AutomaticChoiceCodesWithANearlyBestSetting) {
  struct Records {  // fixed-size records with a counter and a few fields
    static mx::test::Bytes make(std::size_t n) {
      mx::test::Bytes out;
      for (std::uint32_t i = 0; out.size() < n; ++i) {
        const std::uint8_t record[12] = {0x42,
                                         0x17,
                                         static_cast<std::uint8_t>(i),
                                         static_cast<std::uint8_t>(i >> 8),
                                         0,
                                         0,
                                         'k',
                                         'e',
                                         'y',
                                         static_cast<std::uint8_t>(i % 7),
                                         0xFF,
                                         '\n'};
        out.insert(out.end(), record, record + sizeof record);
      }
      out.resize(n);
      return out;
    }
  };
  struct Walk {  // little-endian 32-bit integers, each 4 or less from the last
    static mx::test::Bytes make(std::size_t n) {
      mx::test::Bytes out;
      std::uint64_t x = 0xD1B54A32D192ED03;
      for (std::uint32_t value = 1000000; out.size() < n;) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        value += static_cast<std::uint32_t>(x % 9) - 4;
        for (int k = 0; k < 32; k += 8) out.push_back(static_cast<std::uint8_t>(value >> k));
      }
      return out;
    }
  };
  struct Input {
    mx::test::Bytes data;
    int extra_order;  // tried too, beside orders 0, 4, ..., 20 (0: none)
  };
  const Input inputs[] = {{mx::test::sample_text(6000), 0},
                          {mx::test::random_bytes(5000, 3), 0},
                          {Records::make(8000), 0},
                          {Walk::make(32768), 26}};
  for (const auto& [data, extra_order] : inputs) {
    std::vector<std::uint8_t> best, trial, out;
    std::vector<int> orders = {0, 4, 8, 12, 16, 20};
    if (extra_order != 0) orders.push_back(extra_order);
    for (int model = 0; model < moltavex::model_count; ++model) {
      for (const int order : orders) {
        ASSERT_EQ(moltavex::compress(data.data(), data.size(), model, order, trial),
                  moltavex::Status::ok);
        if (best.empty() || trial.size() < best.size()) best = trial;
      }
    }
    struct Seen {
      const moltavex::Setting* chosen;
      moltavex::Setting at_start{-1, -1};
      int starts = 0;
    } seen{nullptr};
    moltavex::Setting chosen{-1, -1};
    seen.chosen = &chosen;
    moltavex::Observer observer;
    observer.context = &seen;
    observer.started = [](void* context, bool, const char*) {
      auto& s = *static_cast<Seen*>(context);
      s.at_start = *s.chosen;
      ++s.starts;
    };
    ASSERT_EQ(moltavex::compress_auto(data.data(), data.size(), out, &chosen, &observer),
              moltavex::Status::ok);
    EXPECT_EQ(seen.starts, 1);
    EXPECT_EQ(seen.at_start.model, chosen.model);
    EXPECT_EQ(seen.at_start.order, chosen.order);
    ASSERT_EQ(moltavex::compress(data.data(), data.size(), chosen.model, chosen.order, trial),
              moltavex::Status::ok);
    EXPECT_TRUE(out == trial);
    EXPECT_LE(out.size() * 100, best.size() * 103) << chosen.model << ":" << chosen.order;
    moltavex::Setting again;
    ASSERT_EQ(moltavex::choose_setting(data.data(), data.size(), &again), moltavex::Status::ok);
    EXPECT_EQ(again.model, chosen.model);
    EXPECT_EQ(again.order, chosen.order);

    moltavex::Options small;
    small.memory_limit = moltavex::model_memory(1, 10);
    ASSERT_EQ(moltavex::choose_setting(data.data(), data.size(), &again, &small),
              moltavex::Status::ok);
    EXPECT_LE(moltavex::model_memory(again.model, again.order), small.memory_limit);
  }
}

TEST(Api, StopFlagInterruptsAndRemovesTheNamedOutput) {
  char dir_pattern[] = "/tmp/moltavex-api-XXXXXX";
  const std::string dir = ::mkdtemp(dir_pattern);
  const mx::test::Bytes data = mx::test::random_bytes(1 << 20, 6);
  std::ofstream(dir + "/in", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  for (int job = 0; job < 2; ++job) {
    Watch watch;
    watch.stop_after = 3;
    const moltavex::Observer o = observer_for(watch);
    const std::string out = dir + "/out";
    moltavex::Status s;
    if (job == 0) {
      s = moltavex::compress_file((dir + "/in").c_str(), out.c_str(), 1, 16, &o);
    } else {
      ASSERT_EQ(moltavex::compress_file((dir + "/in").c_str(), (dir + "/in.mx").c_str(), 1, 16),
                moltavex::Status::ok);
      s = moltavex::decompress_file((dir + "/in.mx").c_str(), out.c_str(), &o);
    }
    EXPECT_EQ(s, moltavex::Status::interrupted);
    EXPECT_EQ(watch.progress.size(), 3u);  // stopped at the next block
    EXPECT_NE(::access(out.c_str(), F_OK), 0) << "incomplete output left behind";
  }
  // A flag raised before the job starts stops it at its first block.
  Watch early;
  early.stop = 1;
  const moltavex::Observer o = observer_for(early);
  std::vector<std::uint8_t> out;
  EXPECT_EQ(moltavex::compress(data.data(), data.size(), 2, 8, out, &o),
            moltavex::Status::interrupted);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
