// Command-line tokenizer and string helpers: how a raw command line splits,
// where quotes go, what counts as a number.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/sizes.h"
#include "cli/tokenizer.h"

namespace mx::cli {
namespace {

struct Split {
  std::size_t count;
  std::vector<std::string> args;
};

Split split(const std::string& line, std::size_t slot_count = 260) {
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  // Guard slots past the table catch any write beyond it.
  std::vector<char*> slots(slot_count + 4, nullptr);
  char guard = 0;
  for (std::size_t i = slot_count; i < slots.size(); ++i) slots[i] = &guard;
  Split result{split_command_line(buffer.data(), slots.data(), slot_count), {}};
  for (std::size_t i = slot_count; i < slots.size(); ++i) EXPECT_EQ(slots[i], &guard);
  for (std::size_t i = 0; i < result.count && i < slot_count; ++i)
    result.args.emplace_back(slots[i]);
  return result;
}

TEST(SplitCommandLine, SingleBlanksSeparate) {
  Split s = split("prog c 5 in");
  EXPECT_EQ(s.count, 4u);
  EXPECT_EQ(s.args, (std::vector<std::string>{"prog", "c", "5", "in"}));

  EXPECT_EQ(split("").count, 0u);
  EXPECT_EQ(split("prog").args, (std::vector<std::string>{"prog"}));
  // A trailing blank makes no empty argument; tabs are ordinary characters.
  EXPECT_EQ(split("prog d in ").args, (std::vector<std::string>{"prog", "d", "in"}));
  EXPECT_EQ(split("prog d\tin").args, (std::vector<std::string>{"prog", "d\tin"}));
}

TEST(SplitCommandLine, ExtraBlanks) {
  // One extra blank after the program name is absorbed into it.
  EXPECT_EQ(split("prog  c 5 in").args, (std::vector<std::string>{"prog ", "c", "5", "in"}));
  // Elsewhere every further blank starts an empty argument.
  Split s = split("prog c  5 in");
  EXPECT_EQ(s.count, 5u);
  EXPECT_EQ(s.args, (std::vector<std::string>{"prog", "c", "", "5", "in"}));
  EXPECT_EQ(split("prog   c").args, (std::vector<std::string>{"prog ", "", "c"}));
}

TEST(SplitCommandLine, QuotesToggleAndStay) {
  Split s = split("\"C:\\my dir\\prog.exe\" d \"my file\" out");
  EXPECT_EQ(s.args,
            (std::vector<std::string>{"\"C:\\my dir\\prog.exe\"", "d", "\"my file\"", "out"}));
  EXPECT_EQ(split("prog a\"b c\"d e").args, (std::vector<std::string>{"prog", "a\"b c\"d", "e"}));
  // An unbalanced quote takes the rest of the line.
  EXPECT_EQ(split("prog d \"in out x").args, (std::vector<std::string>{"prog", "d", "\"in out x"}));
}

TEST(SplitCommandLine, NeverWritesPastTheTable) {
  std::string line = "prog";
  for (int i = 0; i < 400; ++i) line += " a" + std::to_string(i);
  Split s = split(line);
  EXPECT_EQ(s.count, 401u);
  EXPECT_EQ(s.args.size(), 260u);
  EXPECT_EQ(s.args[259], "a258");
  Split tiny = split("p a b c d e f", 3);
  EXPECT_EQ(tiny.count, 7u);
  EXPECT_EQ(tiny.args, (std::vector<std::string>{"p", "a", "b"}));
  // Empty arguments count too.
  EXPECT_EQ(split("p" + std::string(300, ' ') + "x", 5).count, 300u);
}

TEST(StripQuotes, RemovesEveryDoubleQuote) {
  for (auto [in, out] :
       std::vector<std::pair<std::string, std::string>>{{"\"my file\"", "my file"},
                                                        {"a\"b\"\"c", "abc"},
                                                        {"", ""},
                                                        {"\"\"", ""},
                                                        {"plain", "plain"},
                                                        {"\"my file\".mx", "my file.mx"}}) {
    std::vector<char> buffer(in.begin(), in.end());
    buffer.push_back('\0');
    strip_quotes(buffer.data());
    EXPECT_EQ(std::string(buffer.data()), out);
  }
}

TEST(ParseDecimal, DigitsOnlyWrappingIn32Bits) {
  EXPECT_EQ(parse_decimal(""), 0);
  EXPECT_EQ(parse_decimal("007"), 7);
  EXPECT_EQ(parse_decimal("31"), 31);
  EXPECT_EQ(parse_decimal("12a"), -1);
  EXPECT_EQ(parse_decimal("-3"), -1);
  EXPECT_EQ(parse_decimal(" 3"), -1);
  EXPECT_EQ(parse_decimal("\"5\""), -1);
  EXPECT_EQ(parse_decimal("4294967295"), -1);
  EXPECT_EQ(parse_decimal("4294967296"), 0);
  EXPECT_EQ(parse_decimal("4294967333"), 37);
  EXPECT_EQ(parse_decimal("2147483648"), static_cast<int>(0x80000000u));
}

TEST(ParseSize, DigitsAFractionAndOneBinaryUnitWithin64BitsOrAShareOfTheMemory) {
  struct Case {
    const char* text;
    bool valid;
    std::uint64_t bytes;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"1000", true, 1000},
      {"3K", true, 3u << 10},
      {"3k", true, 3u << 10},
      {"5M", true, 5u << 20},
      {"7G", true, std::uint64_t{7} << 30},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},  // past 64 bits
      {"17179869184G", false, 0},          // 2^34 G = 2^64
      {"17179869183G", true, std::uint64_t{17179869183} << 30},
      {"", false, 0},
      {"K", false, 0},
      {"1KB", true, 1u << 10},
      {"64MiB", true, 64u << 20},
      {"1.5G", true, std::uint64_t{3} << 29},
      {"0.5k", true, 512},
      {"1.5", false, 0},  // a fraction of a byte
      {"1.G", false, 0},
      {"25%", true, std::uint64_t{1} << 30},  // of 4 GiB
      {"0%", false, 0},
      {"101%", false, 0},
      {"1Kib", false, 0},
      {"1T", false, 0},
      {" 1", false, 0},
      {"-1", false, 0},
  };
  for (const Case& c : cases) {
    std::uint64_t bytes = 12345;
    EXPECT_EQ(parse_size(c.text, std::uint64_t{4} << 30, bytes), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
}

TEST(ConcatAlloc, JoinsIntoAFreshString) {
  char* joined = concat_alloc("data", ".dec");
  ASSERT_NE(joined, nullptr);
  EXPECT_STREQ(joined, "data.dec");
  std::free(joined);
  char* empty = concat_alloc("", "");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  std::free(empty);
}

}  // namespace
}  // namespace mx::cli
