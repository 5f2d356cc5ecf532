// The automatic choice through the program (`a`): an ordinary stream, the
// one `c` gives with the setting named in its header and on the console,
// the same on every run and from every route, restored by `d`.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

// Mostly runs of 0xF0 (which the transform shrinks 85 to 1, so it codes
// fast) marked with their position every 4 KiB, so that bytes out of place
// cannot go unnoticed.
Bytes marked_runs(std::size_t size) {
  Bytes data(size, 0xF0);
  for (std::size_t i = 0; i < size; i += 4096) {
    for (int k = 0; k < 4 && i + k < size; ++k)
      data[i + k] = static_cast<std::uint8_t>(i >> (8 * k));
  }
  return data;
}

TEST_F(Cli, AutoWritesTheStreamOfTheSettingItChose) {
  struct Case {
    std::string name;
    Bytes data;
  };
  const Case cases[] = {
      {"text", sample_text(20000)},
      {"noise", random_bytes(30000, 9)},
      {"empty", {}},
      // Longer than the library reads ahead (16 MiB): coded in one pass
      // from what it read and the rest of the input.
      {"marked runs", marked_runs((std::size_t{17} << 20) + 12345)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_bytes(path("in"), c.data);
    RunResult r = run({"a", path("in")});
    ASSERT_EQ(r.status, 0) << visible(r.err);
    const Bytes packed = read_bytes(path("in.mx"));
    ASSERT_FALSE(packed.empty());
    const int model = packed[0] >> 5;
    const int order = packed[0] & 31;
    ASSERT_LT(model, 6);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(visible(r.err), visible(auto_ok_err(model, order)));

    // `c` with that setting writes the same bytes, and so does `a` again,
    // from standard input to standard output.
    r = run({"c" + std::to_string(model), std::to_string(order), path("in"), path("c.mx")});
    ASSERT_EQ(r.status, 0) << visible(r.err);
    EXPECT_TRUE(read_bytes(path("c.mx")) == packed);
    RunOptions o;
    o.stdin_path = path("in");
    o.stdout_path = path("again.mx");
    r = run({"a", ":", ":"}, o);
    ASSERT_EQ(r.status, 0) << visible(r.err);
    EXPECT_TRUE(read_bytes(path("again.mx")) == packed);

    r = run({"d", path("in.mx"), path("back")});
    ASSERT_EQ(r.status, 0) << visible(r.err);
    EXPECT_TRUE(read_bytes(path("back")) == c.data);
  }
}

}  // namespace
}  // namespace mx::test
