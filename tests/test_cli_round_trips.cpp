// Round trips through the program: every model at assorted orders, through
// named files and standard streams, on the corpus and on edge-shaped data.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

namespace fs = std::filesystem;

// Compresses `in_path` with the given model/order and decompresses it again,
// alternately through named files and through standard streams, checking the
// header byte and that the original bytes come back.
void round_trip(const std::string& in_path, int model, int order, bool piped,
                const std::string& compressed_path, const std::string& restored_path,
                const std::string& capture_dir, Bytes* compressed_out) {
  const std::string cmd = "c" + std::to_string(model);
  const std::string ord = std::to_string(order);
  RunResult r;
  if (piped) {
    RunOptions o;
    o.stdin_path = in_path;
    o.stdout_path = compressed_path;
    r = run_program({cmd, ord, ":", ":"}, o, capture_dir);
  } else {
    r = run_program({cmd, ord, in_path, compressed_path}, {}, capture_dir);
  }
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(encode_ok_err(model)));
  const Bytes packed = read_bytes(compressed_path);
  ASSERT_FALSE(packed.empty());
  EXPECT_EQ(packed[0], model * 32 + order);

  if (piped) {
    RunOptions o;
    o.stdin_path = compressed_path;
    o.stdout_path = restored_path;
    r = run_program({"d", ":", ":"}, o, capture_dir);
  } else {
    r = run_program({"d", compressed_path, restored_path}, {}, capture_dir);
  }
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(decode_ok_err(model)));
  EXPECT_TRUE(read_bytes(restored_path) == read_bytes(in_path))
      << "restored bytes differ from the input";
  if (compressed_out) *compressed_out = packed;
}

// Every corpus file through every model, at assorted orders, half of the
// runs through standard streams.
TEST_F(Cli, CorpusRoundTripsThroughEveryModel) {
  SKIP_OR_FAIL_WITHOUT_CORPUS();
  const std::string corpus = mx::test::corpus_dir();
  const std::vector<std::string> files = {
      "alice29.txt", "asyoulik.txt",  "lcet10.txt", "plrabn12.txt",   "html",
      "urls.10K",    "geo.protodata", "kppkn.gtb",  "paper-100k.pdf", "fireworks.jpeg"};
  const int orders[] = {1, 4, 8, 12, 16, 22};
  for (std::size_t f = 0; f < files.size(); ++f) {
    const std::string src = corpus + "/" + files[f];
    ASSERT_TRUE(fs::is_regular_file(src)) << "missing corpus file " << src;
    const auto size = fs::file_size(src);
    for (int model = 0; model < 6; ++model) {
      const int order = orders[(f + model) % 6];
      const bool piped = (f + model) % 2 == 0;
      SCOPED_TRACE(files[f] + " model " + std::to_string(model) + " order " +
                   std::to_string(order) + (piped ? " via standard streams" : " via files"));
      Bytes packed;
      round_trip(src, model, order, piped, path("packed"), path("restored"), root_, &packed);
      // Plain English text must actually shrink under any of the models.
      if (files[f].size() > 4 && files[f].substr(files[f].size() - 4) == ".txt") {
        EXPECT_LT(packed.size(), size);
      }
    }
  }
}

// Edge-shaped data that does not depend on the corpus: long runs of one
// byte, every byte value, incompressible noise, a single byte and text.
TEST_F(Cli, SyntheticDataRoundTripsThroughEveryModel) {
  Bytes all_values;
  for (int rep = 0; rep < 64; ++rep)
    for (int v = 0; v < 256; ++v) all_values.push_back(static_cast<std::uint8_t>(v));
  Bytes runs;
  for (int len = 1; len < 600; len += 37) {
    runs.insert(runs.end(), static_cast<std::size_t>(len), static_cast<std::uint8_t>(len));
    runs.insert(runs.end(), static_cast<std::size_t>(len * 3), 0xFF);
    runs.push_back(0);
  }
  struct Data {
    std::string name;
    Bytes bytes;
  };
  const std::vector<Data> inputs = {
      {"zeros", Bytes(200000, 0)},       {"all-values", all_values}, {"runs", runs},
      {"noise", random_bytes(60000, 7)}, {"one-byte", Bytes{0x80}},  {"text", sample_text(50000)},
  };
  const int orders[] = {0, 2, 6, 11, 20, 24};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    write_bytes(path(inputs[i].name), inputs[i].bytes);
    for (int model = 0; model < 6; ++model) {
      const int order = orders[(i + model) % 6];
      const bool piped = (i + model) % 2 == 1;
      SCOPED_TRACE(inputs[i].name + " model " + std::to_string(model) + " order " +
                   std::to_string(order));
      round_trip(path(inputs[i].name), model, order, piped, path("packed"), path("restored"), root_,
                 nullptr);
    }
  }
}

}  // namespace
}  // namespace mx::test
