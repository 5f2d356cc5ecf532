// The public interface, as an embedding program uses it: the examples of
// the header, every entry point, the observer's hooks and its stop flag.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
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
  ASSERT_EQ(moltavex::compress(text, sizeof text - 1, packed), moltavex::Status::ok);
  moltavex::Result r = moltavex::decompress(packed.data(), packed.size(), restored);
  EXPECT_EQ(r, moltavex::Status::ok) << r.message();
  EXPECT_EQ(std::string(restored.begin(), restored.end()), text);

  char dir_pattern[] = "/tmp/moltavex-api-XXXXXX";
  const std::string dir = ::mkdtemp(dir_pattern);
  const std::string book = dir + "/book.txt";
  std::ofstream(book) << std::string(5000, 'x') << "the end\n";
  moltavex::Status s = moltavex::compress_file(book.c_str(), (book + ".mx").c_str(), 9);
  EXPECT_EQ(s, moltavex::Status::ok) << moltavex::status_message(s);
  s = moltavex::compress_file(book.c_str(), (book + ".mx3").c_str(), 3, 16);
  EXPECT_EQ(s, moltavex::Status::ok) << moltavex::status_message(s);

  for (const bool level : {true, false}) {  // the level's stream, then model 0 at order 22
    std::FILE* source = std::fopen(book.c_str(), "rb");
    std::FILE* sink = std::fopen((dir + (level ? "/book.s.mx" : "/book.s0.mx")).c_str(), "wb");
    ASSERT_TRUE(source && sink);
    EXPECT_EQ(level ? moltavex::compress_stream(&my_read, source, &my_write, sink)
                    : moltavex::compress_stream(&my_read, source, &my_write, sink, 0, 22),
              moltavex::Status::ok);
    std::fclose(source);
    std::fclose(sink);
  }

  // Every file decodes back to the book; the level forms' with the record.
  const struct {
    const char* name;
    int record;
  } written[] = {{"/book.txt.mx", 1}, {"/book.txt.mx3", 0}, {"/book.s.mx", 1}, {"/book.s0.mx", 0}};
  for (const auto& [name, record] : written) {
    moltavex::StreamInfo info;
    EXPECT_EQ(moltavex::decompress_file((dir + name).c_str(), (dir + "/back").c_str(), &info),
              moltavex::Status::ok);
    EXPECT_EQ(info.checksum, record) << name;
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
  // A level is 1..9, in every form: 0 is no level (Options::level's
  // automatic choice among all settings), never a level's stream.
  for (const int level : {0, -1, 10}) {
    out = {1, 2, 3};
    EXPECT_EQ(moltavex::compress("a", 1, out, level), moltavex::Status::invalid_argument) << level;
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(moltavex::compress_file("/nonexistent/in", "/nonexistent/out", level),
              moltavex::Status::invalid_argument);
    EXPECT_EQ(moltavex::compress_stream(nullptr, nullptr, &my_write, nullptr, level),
              moltavex::Status::invalid_argument);
  }
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

// A job refused by a memory limit says by how much, as the program does:
// the tables of the setting given, or of the stream's header where the
// wrapper reads it (memory, the caller's functions), against the limit in
// force (the caller's, or the library's default for the job). A named
// file's header, and a chosen setting, are the library's alone: bytes not
// known, the status's own line.
TEST(Api, MemoryLimitResultSaysTheBytes) {
  // 17 * 2^28 bytes of tables and model 5's 128 KiB: 4353 MiB, rounded up.
  const std::uint64_t m5_28 = (std::uint64_t{17} << 28) + (1 << 17);
  mx::test::Bytes foreign = mx::test::random_bytes(3000, 8);  // names model 5 at order 28
  foreign[0] = 5 * 32 + 28;
  char dir_pattern[] = "/tmp/moltavex-api-XXXXXX";
  const std::string dir = ::mkdtemp(dir_pattern);
  const std::string foreign_file = dir + "/foreign.mx", text_file = dir + "/text";
  std::ofstream(foreign_file, std::ios::binary)
      .write(reinterpret_cast<const char*>(foreign.data()),
             static_cast<std::streamsize>(foreign.size()));
  const mx::test::Bytes text = mx::test::sample_text(4000);
  std::ofstream(text_file, std::ios::binary)
      .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size()));
  const std::string out = dir + "/out";

  moltavex::Options mib16, mib4352, tiny;
  mib16.memory_limit = std::uint64_t{16} << 20;
  mib4352.memory_limit = std::uint64_t{4352} << 20;
  tiny.memory_limit = 3;  // below every model's order 0 (model 2's: 4 bytes)
  std::vector<std::uint8_t> sink;
  const auto discard = [](void*, const std::uint8_t*, std::size_t) { return true; };
  const std::string m1089 = "needs 4353 MiB of tables, over the memory limit of 1089 MiB";
  const std::string m4352 = "needs 4353 MiB of tables, over the memory limit of 4352 MiB";
  const std::string m17 = "needs 17 MiB of tables, over the memory limit of 16 MiB";
  const std::string plain = moltavex::status_message(moltavex::Status::memory_limit);
  const struct {
    const char* job;
    std::function<moltavex::Result()> run;
    std::uint64_t required, limit;
    std::string message;
  } rows[] = {
      {"decompress", [&] { return moltavex::decompress(foreign.data(), foreign.size(), sink); },
       m5_28, MVX_DEFAULT_MEMORY_LIMIT, m1089},
      {"decompress, a limit given",
       [&] {
         return moltavex::decompress(foreign.data(), foreign.size(), sink, nullptr, &mib4352);
       },
       m5_28, mib4352.memory_limit, m4352},
      {"decompress_stream",
       [&] {
         mx::MemorySource in = mx::test::source_of(foreign);
         return moltavex::decompress_stream(&mx::MemorySource::read, &in, discard, nullptr);
       },
       m5_28, MVX_DEFAULT_MEMORY_LIMIT, m1089},
      {"test_stream",
       [&] {
         mx::MemorySource in = mx::test::source_of(foreign);
         return moltavex::test_stream(&mx::MemorySource::read, &in);
       },
       m5_28, MVX_DEFAULT_MEMORY_LIMIT, m1089},
      {"decompress_file",
       [&] { return moltavex::decompress_file(foreign_file.c_str(), out.c_str()); }, 0,
       MVX_DEFAULT_MEMORY_LIMIT, plain},
      {"test_file",
       [&] { return moltavex::test_file(foreign_file.c_str(), nullptr, nullptr, &mib4352); }, 0,
       mib4352.memory_limit, plain},
      {"compress, a setting",
       [&] { return moltavex::compress(text.data(), text.size(), 3, 20, sink, nullptr, &mib16); },
       std::uint64_t{17} << 20, mib16.memory_limit, m17},
      {"compress_stream, a setting",
       [&] {
         mx::MemorySource in = mx::test::source_of(text);
         return moltavex::compress_stream(&mx::MemorySource::read, &in, discard, nullptr, 3, 20,
                                          nullptr, &mib16);
       },
       std::uint64_t{17} << 20, mib16.memory_limit, m17},
      {"compress_file, a setting",
       [&] {
         return moltavex::compress_file(text_file.c_str(), out.c_str(), 3, 20, nullptr, &mib16);
       },
       std::uint64_t{17} << 20, mib16.memory_limit, m17},
      {"compress, a level",
       [&] { return moltavex::compress(text.data(), text.size(), sink, 5, nullptr, &tiny); }, 0,
       tiny.memory_limit, plain},
      {"compress_file, a level",
       [&] { return moltavex::compress_file(text_file.c_str(), out.c_str(), 9, nullptr, &tiny); },
       0, tiny.memory_limit, plain},
  };
  for (const auto& row : rows) {
    const moltavex::Result result = row.run();
    EXPECT_EQ(result, moltavex::Status::memory_limit) << row.job;
    EXPECT_EQ(result.required_bytes(), row.required) << row.job;
    EXPECT_EQ(result.memory_limit(), row.limit) << row.job;
    EXPECT_EQ(result.message(), row.message) << row.job;
  }
  EXPECT_NE(::access(out.c_str(), F_OK), 0) << "a refused job wrote its output";
  // Other statuses carry no bytes, and say the library's line.
  const moltavex::Result cut = moltavex::decompress(foreign.data(), 0, sink);
  EXPECT_EQ(cut.status(), moltavex::Status::invalid_stream);
  EXPECT_EQ(cut.required_bytes(), 0u);
  EXPECT_EQ(cut.message(), "Not a valid compressed file.");
  std::system(("rm -rf '" + dir + "'").c_str());
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
