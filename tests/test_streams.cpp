// Buffered streams over real files: buffer boundaries, lazy writing, what
// opening refuses, how failures show, and removal of incomplete outputs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "io/streams.h"
#include "moltavex/moltavex.hpp"
#include "pipeline/drivers.h"
#include "support.h"

namespace mx {
namespace {

using test::Bytes;
using test::open_streams;
using test::StreamPair;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/moltavex-streams-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

TEST(ByteReader, ReadsThroughBufferBoundaries) {
  TempDir dir;
  for (std::size_t size : {std::size_t{0}, std::size_t{65536}, std::size_t{65537}}) {
    const Bytes data = test::random_bytes(size, size);
    write_file(dir.file("in"), data);
    ByteReader reader;
    platform::InputFile input;
    ASSERT_EQ(input.open(dir.file("in").c_str()), platform::FileError::none);
    ASSERT_EQ(reader_open_handle(reader, input.handle()), Status::ok);
    Bytes got;
    for (int c = reader_get(reader); c >= 0; c = reader_get(reader)) {
      got.push_back(static_cast<std::uint8_t>(c));
    }
    EXPECT_EQ(got, data);
    EXPECT_FALSE(reader.failed);
    EXPECT_EQ(reader_get(reader), -1);  // stays at the end
    EXPECT_EQ(reader.bytes_read, size);
  }
}

TEST(ByteReader, ADirectoryIsAReadErrorNotAnEmptyInput) {
  TempDir dir;
  ByteReader reader;
  platform::InputFile input;
  ASSERT_EQ(input.open("/tmp"), platform::FileError::none);
  ASSERT_EQ(reader_open_handle(reader, input.handle()), Status::ok);
  EXPECT_EQ(reader_get(reader), -1);
  EXPECT_TRUE(reader.failed);
}

TEST(ByteWriter, WritesLazilyAndReportsFailures) {
  TempDir dir;
  {
    ByteWriter writer;
    const int fd = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(writer_open_handle(writer, fd), Status::ok);
    for (int i = 0; i < 65536; ++i) writer_put(writer, static_cast<std::uint8_t>(i));
    EXPECT_EQ(writer.length, 65536);
    EXPECT_EQ(writer.bytes_written, 0u);
    writer_put(writer, 7);
    EXPECT_EQ(writer.bytes_written, 65536u);
    EXPECT_EQ(writer.length, 1);
    EXPECT_TRUE(writer_commit(writer));
    EXPECT_TRUE(platform::close(fd));
  }
  EXPECT_EQ(read_file(dir.file("out")).size(), 65537u);

  ByteWriter full;
  const platform::Handle device = platform::open_in_place("/dev/full");
  ASSERT_EQ(writer_open_handle(full, device), Status::ok);
  writer_put(full, 1);
  EXPECT_FALSE(writer_commit(full));
  EXPECT_TRUE(full.failed);
  platform::close(device);
}

TEST(OpenStreams, OpensInputFirstAndRefusesToOverwriteIt) {
  TempDir dir;
  const Bytes data = test::from_text("precious input");
  write_file(dir.file("in"), data);
  {
    StreamPair pair;
    EXPECT_EQ(open_streams(dir.file("missing").c_str(), dir.file("out").c_str(), pair),
              Status::open_input_failed);
  }
  EXPECT_FALSE(exists(dir.file("out")));  // a missing input creates nothing
  {
    StreamPair pair;
    EXPECT_EQ(open_streams(dir.file("in").c_str(), dir.file("no/such/dir").c_str(), pair),
              Status::create_output_failed);
  }
  ASSERT_EQ(::link(dir.file("in").c_str(), dir.file("hard").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("in").c_str(), dir.file("soft").c_str()), 0);
  for (const char* alias : {"in", "hard", "soft"}) {
    StreamPair pair;
    EXPECT_EQ(open_streams(dir.file("in").c_str(), dir.file(alias).c_str(), pair),
              Status::create_output_failed)
        << alias;
  }
  EXPECT_EQ(read_file(dir.file("in")), data);
  // An existing, different output is replaced once the job is published.
  const Bytes old = test::random_bytes(5000, 1);
  write_file(dir.file("old"), old);
  {
    StreamPair pair;
    ASSERT_EQ(open_streams(dir.file("in").c_str(), dir.file("old").c_str(), pair), Status::ok);
    writer_put(pair.writer, 'x');
    EXPECT_TRUE(writer_commit(pair.writer));
    EXPECT_EQ(read_file(dir.file("old")), old);
    EXPECT_TRUE(pair.output.commit());
  }
  EXPECT_EQ(read_file(dir.file("old")), test::from_text("x"));
}

TEST(OpenStreams, UnpublishedTemporaryFileIsRemovedOnlyIfItIsStillOurs) {
  TempDir dir;
  write_file(dir.file("in"), test::from_text("abc"));
  std::string temporary;
  {
    StreamPair pair;
    ASSERT_EQ(open_streams(dir.file("in").c_str(), dir.file("out").c_str(), pair), Status::ok);
    writer_put(pair.writer, 1);
    ASSERT_NE(pair.output.temporary_name(), nullptr);
    temporary = pair.output.temporary_name();
    EXPECT_TRUE(exists(temporary));
    EXPECT_FALSE(exists(dir.file("out")));
  }
  EXPECT_FALSE(exists(temporary));
  EXPECT_FALSE(exists(dir.file("out")));
  {
    // The name was taken by another file meanwhile: leave that one alone.
    StreamPair pair;
    ASSERT_EQ(open_streams(dir.file("in").c_str(), dir.file("out").c_str(), pair), Status::ok);
    temporary = pair.output.temporary_name();
    ASSERT_EQ(::rename(dir.file("in").c_str(), temporary.c_str()), 0);
  }
  EXPECT_EQ(read_file(temporary), test::from_text("abc"));
  {
    // Devices are written in place and never removed.
    StreamPair pair;
    ASSERT_EQ(open_streams(temporary.c_str(), "/dev/null", pair), Status::ok);
    EXPECT_EQ(pair.output.temporary_name(), nullptr);
  }
  EXPECT_TRUE(exists("/dev/null"));
}

TEST(Jobs, FailedFileJobsLeaveNoOutput) {
  TempDir dir;
  const Bytes data = test::random_bytes(300000, 9);
  write_file(dir.file("in"), data);
  EXPECT_EQ(moltavex::compress_file(dir.file("in").c_str(), dir.file("in.mx").c_str(), 1, 12),
            moltavex::Status::ok);
  EXPECT_EQ(moltavex::compress_file("/tmp", dir.file("dir.mx").c_str(), 1, 12),
            moltavex::Status::read_failed);
  EXPECT_FALSE(exists(dir.file("dir.mx")));
  EXPECT_EQ(moltavex::compress_file(dir.file("in").c_str(), "/dev/full", 1, 12),
            moltavex::Status::write_failed);

  Bytes stream = read_file(dir.file("in.mx"));
  stream.resize(stream.size() / 2);
  write_file(dir.file("cut.mx"), stream);
  for (const char* name : {"cut.mx", "in"}) {
    StreamPair pair;
    ASSERT_EQ(open_streams(dir.file(name).c_str(), dir.file("restored").c_str(), pair), Status::ok);
    const Status s = decompress_streams(pair.reader, pair.writer);
    EXPECT_NE(s, Status::ok) << name;
  }
  EXPECT_FALSE(exists(dir.file("restored")));
  {
    StreamPair pair;
    ASSERT_EQ(open_streams(dir.file("in.mx").c_str(), dir.file("restored").c_str(), pair),
              Status::ok);
    EXPECT_EQ(decompress_streams(pair.reader, pair.writer), Status::ok);
    EXPECT_TRUE(pair.output.commit());
  }
  EXPECT_EQ(read_file(dir.file("restored")), data);
}

}  // namespace
}  // namespace mx
