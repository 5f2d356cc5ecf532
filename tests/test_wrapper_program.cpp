// The C++ wrapper's level forms against the program: memory, a named file
// and the caller's functions (told the input's size) give byte for byte
// what `moltavex -c [-N] FILE` writes, and the caller's functions without
// a size what the program writes from a pipe, for the default level and
// levels given, on inputs short and long enough for a level's trials.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_harness.h"
#include "moltavex/moltavex.hpp"

namespace mx::test {
namespace {

struct MemoryReader {
  const Bytes* data;
  std::size_t at = 0;

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<MemoryReader*>(context);
    const std::size_t n = std::min(size, self->data->size() - self->at);
    std::copy(self->data->begin() + self->at, self->data->begin() + self->at + n, buffer);
    self->at += n;
    return static_cast<std::int64_t>(n);
  }
};

bool append(void* context, const std::uint8_t* data, std::size_t size) {
  static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), data, data + size);
  return true;
}

TEST_F(Cli, WrapperLevelsWriteTheProgramsStreams) {
  struct Row {
    std::size_t size;
    int level;  // 0: the wrapper's default, the program's without a level
  };
  const Row rows[] = {{3000, 0}, {300000, 0}, {3000, 1}, {300000, 1}, {3000, 9}, {300000, 9}};
  for (const Row& row : rows) {
    SCOPED_TRACE("size " + std::to_string(row.size) + ", level " + std::to_string(row.level));
    const Bytes data = sample_text(row.size);
    write_bytes(path("in"), data);
    const std::string option = row.level != 0 ? "-" + std::to_string(row.level) : "";
    RunOptions to_file;
    to_file.stdout_path = path("program.mx");
    std::vector<std::string> args = {"-c", path("in")};
    if (!option.empty()) args.insert(args.begin(), option);
    ASSERT_EQ(run(args, to_file).status, 0);
    const Bytes program = read_bytes(path("program.mx"));
    ASSERT_EQ(std::system(("cd '" + dir_ + "' && cat in | " + program_words(true) + " " + option +
                           " -c >piped")
                              .c_str()),
              0);
    const Bytes piped = read_bytes(path("piped"));
    const int level = row.level != 0 ? row.level : moltavex::level_default;

    Bytes memory, from_file, streamed, streamed_unsized;
    ASSERT_EQ(row.level != 0 ? moltavex::compress(data.data(), data.size(), memory, row.level)
                             : moltavex::compress(data.data(), data.size(), memory),
              moltavex::Status::ok);
    const std::string out = path("wrapper.mx");
    ASSERT_EQ(row.level != 0 ? moltavex::compress_file(path("in").c_str(), out.c_str(), row.level)
                             : moltavex::compress_file(path("in").c_str(), out.c_str()),
              moltavex::Status::ok);
    from_file = read_bytes(out);
    moltavex::Options sized;
    sized.size_hint = data.size();
    MemoryReader reader{&data};
    ASSERT_EQ(moltavex::compress_stream(&MemoryReader::read, &reader, &append, &streamed, level,
                                        nullptr, &sized),
              moltavex::Status::ok);
    MemoryReader unsized_reader{&data};
    ASSERT_EQ(row.level != 0 ? moltavex::compress_stream(&MemoryReader::read, &unsized_reader,
                                                         &append, &streamed_unsized, row.level)
                             : moltavex::compress_stream(&MemoryReader::read, &unsized_reader,
                                                         &append, &streamed_unsized),
              moltavex::Status::ok);

    EXPECT_TRUE(memory == program) << memory.size() << " bytes against " << program.size();
    EXPECT_TRUE(from_file == program);
    EXPECT_TRUE(streamed == program);
    EXPECT_TRUE(streamed_unsized == piped);
  }
}

}  // namespace
}  // namespace mx::test
