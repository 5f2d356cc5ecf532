// File names: the output name derived from the input, and names taken
// literally (quotes are ordinary characters, ":..." is a standard stream).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

// Without an output name, compression appends ".mx" and decompression
// appends ".dec" to the input name; nothing else is created.
TEST_F(Cli, MissingOutputNameIsDerivedFromInput) {
  const Bytes data = sample_text(5000);
  write_bytes(path("in"), data);
  RunResult r = run({"c", "5", path("in")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(encode_ok_err(0)));
  EXPECT_EQ(listing(), (std::vector<std::string>{"in", "in.mx"}));
  EXPECT_EQ(read_bytes(path("in.mx")).at(0), 0x05);

  r = run({"d", path("in.mx")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(decode_ok_err(0)));
  EXPECT_EQ(listing(), (std::vector<std::string>{"in", "in.mx", "in.mx.dec"}));
  EXPECT_EQ(read_bytes(path("in.mx.dec")), data);
  EXPECT_EQ(read_bytes(path("in")), data);
}

// File names are used exactly as given: a double quote is an ordinary
// character, and any name beginning with ':' means the standard stream.
TEST_F(Cli, FileNamesAreTakenLiterally) {
  const Bytes data = to_bytes("quoted \"name\" contents\n");
  write_bytes(path("a\"b"), data);
  RunResult r = run({"c3", "4", path("a\"b")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(listing(), (std::vector<std::string>{"a\"b", "a\"b.mx"}));
  r = run({"d", path("a\"b.mx"), path("x\"y\"")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(read_bytes(path("x\"y\"")), data);

  // ":anything" reads standard input / writes standard output.
  RunOptions o;
  o.stdin_path = path("a\"b");
  o.stdout_path = path("via-stdout");
  r = run({"c4", "7", ":input", ":output"}, o);
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(visible(r.err), visible(encode_ok_err(4)));
  EXPECT_EQ(read_bytes(path("via-stdout")).at(0), 0x87);
  r = run({"d", path("via-stdout"), path("restored")});
  ASSERT_EQ(r.status, 0) << visible(r.err);
  EXPECT_EQ(read_bytes(path("restored")), data);
  EXPECT_FALSE(exists_no_follow(path(":input")));
  EXPECT_FALSE(exists_no_follow(path(":output")));
}

}  // namespace
}  // namespace mx::test
