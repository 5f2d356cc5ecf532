// Exact compressed streams: the known streams of known_data.h come out of the
// program byte for byte and decode back, through files and standard streams.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

// Known streams come out byte for byte, through named files (overwriting a
// longer existing output) and through standard input/output; and they
// decode back to the original, through both routes as well.
TEST_F(Cli, ProducesAndDecodesKnownStreams) {
  for (const KnownStream& c : kKnownStreams) {
    SCOPED_TRACE("model " + std::to_string(c.model) + " order " + std::to_string(c.order) +
                 " input \"" + c.input + "\"");
    const std::string cmd = c.model == 0 ? "c" : "c" + std::to_string(c.model);
    const std::string order = std::to_string(c.order);
    const Bytes expected = from_hex(c.hex);
    const std::string in = path("in");
    const std::string packed = path("packed");
    write_bytes(in, to_bytes(c.input));
    // A stale, longer output must be replaced, not partly overwritten.
    write_bytes(packed, Bytes(100, 0xAA));

    RunResult r = run({cmd, order, in, packed});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(visible(r.err), visible(encode_ok_err(c.model)));
    EXPECT_EQ(to_hex(read_bytes(packed)), to_hex(expected)) << "named files";

    RunOptions piped;
    piped.stdin_path = in;
    r = run({cmd, order, ":", ":"}, piped);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(visible(r.err), visible(encode_ok_err(c.model)));
    EXPECT_EQ(to_hex(to_bytes(r.out)), to_hex(expected)) << "standard streams";

    write_bytes(packed, expected);
    const std::string back = path("back");
    write_bytes(back, Bytes(100, 0x55));
    r = run({"d", packed, back});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(visible(r.err), visible(decode_ok_err(c.model)));
    EXPECT_EQ(read_bytes(back), to_bytes(c.input)) << "named files";

    piped.stdin_path = packed;
    r = run({"d", ":", ":"}, piped);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(visible(r.err), visible(decode_ok_err(c.model)));
    EXPECT_EQ(r.out, c.input) << "standard streams";

    // `t` names the stream exactly, bytes after it not counted.
    const std::string tested =
        test_ok_err(c.model, c.order, expected.size(), std::string(c.input).size());
    r = run({"t", packed});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(visible(r.err), visible(tested));
    Bytes trailed = expected;
    trailed.insert(trailed.end(), 5, 0xF0);
    write_bytes(packed, trailed);
    r = run({"t", ":"}, piped);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(visible(r.err), visible(tested)) << "standard input, bytes after the stream";
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"back", "in", "packed"}));
}

// `t` fails as `d` would, and writes nothing; it says whether a checksum
// was verified, and a record that does not match fails both.
TEST_F(Cli, TestFailsAsDecompressionWould) {
  const Bytes stream = known_stream<Bytes>(3, 8, "hello");
  write_bytes(path("cut"), Bytes(stream.begin(), stream.end() - 5));
  write_bytes(path("bad"), Bytes{0xE0, 1, 2, 3});
  Bytes checked = known_stream<Bytes>(1, 8, "hello");
  const Bytes record = from_hex(kHelloRecordHex);
  checked.insert(checked.end(), record.begin(), record.end());
  write_bytes(path("checked"), checked);
  RunResult r = run({"t", path("checked")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(visible(r.err), visible(test_ok_err(1, 8, checked.size(), 5, true)));
  checked.back() ^= 1;
  write_bytes(path("checked"), checked);
  r = run({"t", path("checked")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(visible(r.err), visible(failure_err(decoding_progress(1), kCorrupt)));
  r = run({"d", path("checked"), path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(visible(r.err), visible(failure_err(decoding_progress(1), kCorrupt)));
  // A file that ends in the record of a stream longer than the body that
  // was decoded: damage moved the end marker, and `d` reads a file whole.
  Bytes moved = known_stream<Bytes>(1, 8, "hello");
  moved.insert(moved.end(), {'l', 'o', 's', 't'});
  Bytes longer_record = record;
  longer_record[8] = static_cast<std::uint8_t>(moved.size() + longer_record.size());
  moved.insert(moved.end(), longer_record.begin(), longer_record.end());
  write_bytes(path("moved"), moved);
  r = run({"d", path("moved"), path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(visible(r.err), visible(failure_err(decoding_progress(1), kCorrupt)));
  r = run({"t", path("cut")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(visible(r.err), visible(failure_err(decoding_progress(3), kEarlyEnd)));
  r = run({"t", path("bad")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(visible(r.err), visible(failure_err("", kNotValid)));
  r = run({"t", path("missing")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(visible(r.err), visible(failure_err("", kOpenIn)));
  EXPECT_EQ(listing(), (std::vector<std::string>{"bad", "checked", "cut", "moved"}));
}

}  // namespace
}  // namespace mx::test
