// Buffered streams over real files: buffer boundaries, lazy writing, what
// opening refuses, how failures show, and removal of incomplete outputs.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

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

// The names in a directory other than "." and "..", sorted.
std::vector<std::string> names_in(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(directory.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Makes the platform layer write named outputs through a named temporary
// file, as where the file system refuses a file with no name, for as long
// as it lives.
class NamedTemporaryFiles {
 public:
  NamedTemporaryFiles() { ::setenv("MOLTAVEX_NO_TMPFILE", "1", 1); }
  ~NamedTemporaryFiles() { ::unsetenv("MOLTAVEX_NO_TMPFILE"); }
};

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
  const NamedTemporaryFiles forced;
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

// On Linux the output is a file with no name until commit: nothing shows in
// the directory while the job runs, and the file gets the input's
// permissions before its data; an existing name, a symbolic link among
// them, is replaced at once. The same holds through the named temporary
// file (forced), but for the name that shows meanwhile.
TEST(OpenStreams, AnOutputHasNoNameUntilItIsWhole) {
  for (const bool named : {false, true}) {
    const std::string where = named ? "named temporary file" : "file with no name";
    std::unique_ptr<NamedTemporaryFiles> forced;
    if (named) forced = std::make_unique<NamedTemporaryFiles>();
    TempDir dir;
    write_file(dir.file("in"), test::from_text("abc"));
    ASSERT_EQ(::chmod(dir.file("in").c_str(), 0640), 0);
    write_file(dir.file("old"), test::from_text("old"));
    write_file(dir.file("target"), test::from_text("target"));
    ASSERT_EQ(::symlink("target", dir.file("link").c_str()), 0);
    for (const char* name : {"new", "old", "link"}) {
      StreamPair pair;
      ASSERT_EQ(open_streams(dir.file("in").c_str(), dir.file(name).c_str(), pair), Status::ok);
#if defined(__linux__)
      if (!named && !pair.output.unnamed()) {
        GTEST_SKIP() << "the file system of /tmp makes no file without a name";
      }
#endif
      EXPECT_EQ(pair.output.unnamed(), !named && pair.output.temporary_name() == nullptr) << where;
      struct stat st {};
      ASSERT_EQ(::fstat(static_cast<int>(pair.output.handle()), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0640u) << where << ", " << name;
      writer_put(pair.writer, 'x');
      EXPECT_TRUE(writer_commit(pair.writer));
      std::vector<std::string> expected = {"in", "link", "old", "target"};
      if (std::string(name) == "new") {
        EXPECT_FALSE(exists(dir.file("new"))) << where;
      } else {
        expected.push_back("new");
      }
      std::vector<std::string> seen = names_in(dir.file(""));
      if (named) {
        // The one name that shows, a dot file beside the output.
        ASSERT_NE(pair.output.temporary_name(), nullptr);
        const std::string temporary = pair.output.temporary_name();
        expected.push_back(temporary.substr(temporary.rfind('/') + 1));
      }
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(seen, expected) << where << ", " << name;
      EXPECT_TRUE(pair.output.commit(/*durable*/ true)) << where << ", " << name;
      EXPECT_EQ(read_file(dir.file(name)), test::from_text("x")) << where << ", " << name;
    }
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << where << ": the link itself is replaced";
    EXPECT_EQ(st.st_mode & 07777, 0640u) << where;
    EXPECT_EQ(read_file(dir.file("target")), test::from_text("target")) << where;
    EXPECT_EQ(names_in(dir.file("")),
              (std::vector<std::string>{"in", "link", "new", "old", "target"}))
        << where;
    {
      // Never committed: nothing is left.
      StreamPair pair;
      ASSERT_EQ(open_streams(dir.file("in").c_str(), dir.file("never").c_str(), pair), Status::ok);
      writer_put(pair.writer, 'y');
      EXPECT_TRUE(writer_commit(pair.writer));
    }
    EXPECT_EQ(names_in(dir.file("")),
              (std::vector<std::string>{"in", "link", "new", "old", "target"}))
        << where;
  }
}

// The named-file jobs of the C API leave the system's reason for a failure
// to open, create, read or write in errno.
TEST(Jobs, FailedFileJobsTellTheSystemsReason) {
  TempDir dir;
  const Bytes data = test::random_bytes(100000, 3);
  write_file(dir.file("in"), data);
  ASSERT_EQ(
      mvx_compress_file(dir.file("in").c_str(), dir.file("in.mx").c_str(), 1, 12, nullptr, nullptr),
      MVX_OK);
  const auto reason_of = [](auto job, mvx_status expected, const std::string& where) {
    errno = 12345;
    const mvx_status status = job();
    const int reason = errno;
    EXPECT_EQ(status, expected) << where;
    return reason;
  };
  for (const bool named : {false, true}) {
    std::unique_ptr<NamedTemporaryFiles> forced;
    if (named) forced = std::make_unique<NamedTemporaryFiles>();
    const std::string how = named ? " (named temporary file)" : "";
    const std::string missing_dir = dir.file("no/such/dir/out");
    EXPECT_EQ(reason_of(
                  [&] {
                    return mvx_compress_file(dir.file("in").c_str(), missing_dir.c_str(), 1, 12,
                                             nullptr, nullptr);
                  },
                  MVX_CREATE_OUTPUT_FAILED, "missing directory" + how),
              ENOENT)
        << how;
    EXPECT_EQ(reason_of(
                  [&] {
                    return mvx_decompress_file(dir.file("in.mx").c_str(), missing_dir.c_str(),
                                               nullptr, nullptr);
                  },
                  MVX_CREATE_OUTPUT_FAILED, "missing directory" + how),
              ENOENT)
        << how;
    EXPECT_EQ(reason_of(
                  [&] {
                    return mvx_compress_file_auto(dir.file("in").c_str(), missing_dir.c_str(),
                                                  nullptr, nullptr, nullptr);
                  },
                  MVX_CREATE_OUTPUT_FAILED, "missing directory" + how),
              ENOENT)
        << how;
    ::mkdir(dir.file("read-only").c_str(), 0555);
    if (::access(dir.file("read-only").c_str(), W_OK) != 0) {
      EXPECT_EQ(reason_of(
                    [&] {
                      return mvx_compress_file(dir.file("in").c_str(),
                                               dir.file("read-only/out").c_str(), 1, 12, nullptr,
                                               nullptr);
                    },
                    MVX_CREATE_OUTPUT_FAILED, "read-only directory" + how),
                EACCES)
          << how;
    }  // else: running as root, to whom the directory is writable
  }
  EXPECT_FALSE(exists(dir.file("read-only/out")));
  // Writing to a full device, through every named-file job that writes.
  EXPECT_EQ(reason_of(
                [&] {
                  return mvx_compress_file(dir.file("in").c_str(), "/dev/full", 1, 12, nullptr,
                                           nullptr);
                },
                MVX_WRITE_FAILED, "/dev/full"),
            ENOSPC);
  EXPECT_EQ(reason_of(
                [&] {
                  return mvx_decompress_file(dir.file("in.mx").c_str(), "/dev/full", nullptr,
                                             nullptr);
                },
                MVX_WRITE_FAILED, "/dev/full"),
            ENOSPC);
  EXPECT_EQ(reason_of(
                [&] {
                  return mvx_compress_file_auto(dir.file("in").c_str(), "/dev/full", nullptr,
                                                nullptr, nullptr);
                },
                MVX_WRITE_FAILED, "/dev/full"),
            ENOSPC);
  // An input that is missing, and one that cannot be read (a directory).
  EXPECT_EQ(reason_of(
                [&] {
                  return mvx_compress_file(dir.file("missing").c_str(), dir.file("out").c_str(), 1,
                                           12, nullptr, nullptr);
                },
                MVX_OPEN_INPUT_FAILED, "missing input"),
            ENOENT);
  mvx_stream_info info = MVX_STREAM_INFO_INIT;
  EXPECT_EQ(
      reason_of([&] { return mvx_test_file(dir.file("missing").c_str(), &info, nullptr, nullptr); },
                MVX_OPEN_INPUT_FAILED, "missing input"),
      ENOENT);
  EXPECT_EQ(reason_of(
                [&] {
                  return mvx_compress_file("/tmp", dir.file("out").c_str(), 1, 12, nullptr,
                                           nullptr);
                },
                MVX_READ_FAILED, "directory as input"),
            EISDIR);
  EXPECT_EQ(reason_of([&] { return mvx_test_file("/tmp", &info, nullptr, nullptr); },
                      MVX_READ_FAILED, "directory as input"),
            EISDIR);
  // No system reason: the output is the input itself.
  EXPECT_EQ(reason_of(
                [&] {
                  return mvx_compress_file(dir.file("in").c_str(), dir.file("in").c_str(), 1, 12,
                                           nullptr, nullptr);
                },
                MVX_CREATE_OUTPUT_FAILED, "output is the input"),
            0);
  EXPECT_EQ(read_file(dir.file("in")), data);
  EXPECT_FALSE(exists(dir.file("out")));
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
