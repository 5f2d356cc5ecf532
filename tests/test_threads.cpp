// Jobs and contexts on several threads at once: the library keeps no state
// between calls, so they must neither disturb each other nor race (the
// ThreadSanitizer build, scripts/check.sh tsan, runs this test too).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "moltavex/moltavex.hpp"
#include "support.h"

namespace mx {
namespace {

using test::Bytes;

// One thread's work: a one-shot round trip, a push round trip in pieces,
// and a file round trip (through the file `in`) with a test of the stream,
// all of model `model`.
void work(int model, const Bytes& data, const std::string& in, bool& ok) {
  const int order = 12 + model;
  std::vector<std::uint8_t> packed, restored;
  ok = moltavex::compress(data.data(), data.size(), model, order, packed) == moltavex::Status::ok &&
       moltavex::decompress(packed.data(), packed.size(), restored) == moltavex::Status::ok &&
       restored == data;

  mvx_compressor* c = nullptr;
  ok = ok && mvx_compressor_create(&c, model, order, nullptr) == MVX_OK;
  Bytes pushed;
  std::uint8_t room[4096];
  for (std::size_t at = 0; ok && at < data.size();) {
    std::size_t consumed = 0, written = 0;
    ok = mvx_compressor_compress(c, data.data() + at, std::min<std::size_t>(777, data.size() - at),
                                 &consumed, room, sizeof room, &written) == MVX_OK;
    pushed.insert(pushed.end(), room, room + written);
    at += consumed;
  }
  for (bool done = false; ok && !done;) {
    std::size_t written = 0;
    ok = mvx_compressor_finish(c, room, sizeof room, &written, &done) == MVX_OK;
    pushed.insert(pushed.end(), room, room + written);
  }
  mvx_compressor_free(c);
  ok = ok && pushed == packed;

  const std::string out = in + ".mx";
  if (std::FILE* f = std::fopen(in.c_str(), "wb")) {
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  moltavex::StreamInfo info;
  ok = ok &&
       moltavex::compress_file(in.c_str(), out.c_str(), model, order) == moltavex::Status::ok &&
       moltavex::test_file(out.c_str(), &info) == moltavex::Status::ok &&
       info.original_bytes == data.size() && info.compressed_bytes == packed.size();
}

TEST(Threads, JobsAndContextsRunAtOnce) {
  char pattern[] = "/tmp/moltavex-threads-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string directory = pattern;
  const Bytes data = test::sample_text<Bytes>(40000);
  bool ok[2 * MVX_MODEL_COUNT] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2 * MVX_MODEL_COUNT; ++i) {
    threads.emplace_back(
        [&, i] { work(i % MVX_MODEL_COUNT, data, directory + "/in" + std::to_string(i), ok[i]); });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 2 * MVX_MODEL_COUNT; ++i) EXPECT_TRUE(ok[i]) << "thread " << i;
  std::system(("rm -rf '" + directory + "'").c_str());
}

}  // namespace
}  // namespace mx
