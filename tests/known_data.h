// What the tests know in advance, written once for every kind of test: the
// library's unit tests, the command-line tests (tests/test_cli_*.cpp) and the
// Windows driver (tests/windows/cli_driver.cpp, built with MinGW-w64).
//
//   - hex conversion, into byte vectors or std::string;
//   - the exact compressed streams of a few inputs;
//   - the console texts the program prints, and builders of the standard
//     error a run is expected to leave;
//   - deterministic generated data.
//
// Plain C++17: no GoogleTest, no POSIX or Windows headers. The classic
// banner is a fixed text, whatever the library's version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "moltavex/moltavex.h"

namespace mx::test {

// ---------------------------------------------------------------------------
// Hex
// ---------------------------------------------------------------------------

// Bytes written as pairs of hex digits, blanks between the pairs optional
// ("08 97 92"), into a byte vector (the default) or a std::string.
template <class Container = std::vector<std::uint8_t>>
Container from_hex(const std::string& hex) {
  const auto digit = [&hex](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    throw std::invalid_argument("from_hex: not hex pairs: \"" + hex + "\"");
  };
  Container out;
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= hex.size()) throw std::invalid_argument("from_hex: odd digit in \"" + hex + "\"");
    out.push_back(
        static_cast<typename Container::value_type>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    i += 2;
  }
  return out;
}

// "08 97 92": upper-case pairs with one blank between them.
template <class Container>
std::string to_hex(const Container& data) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i) out += ' ';
    const auto b = static_cast<unsigned char>(data[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// ---------------------------------------------------------------------------
// Known compressed streams
// ---------------------------------------------------------------------------

struct KnownStream {
  int model;
  int order;
  const char* input;  // coded as it is
  const char* hex;    // the whole stream: header byte, body, finishing bytes
};

// The empty input at order 0, "hello" at order 8 and a text whose contexts
// recur at order 12, under every model. In the last the counters reach
// uneven counts, where a fault in how a processor lays out or reads them
// (byte order, the packed counter pairs) changes the stream.
inline constexpr KnownStream kKnownStreams[] = {
    {0, 0, "", "00 32 D5 5B E5 BF FF FF"},
    {1, 0, "", "20 32 D5 5B E5 BF FF FF"},
    {2, 0, "", "40 0F 10 01 93 80 FF FF"},
    {3, 0, "", "60 1F 6F AA 33 4A FF"},
    {4, 0, "", "80 32 D5 5B E5 BF FF FF"},
    {5, 0, "", "A0 14 ED 09 81 00 FF FF"},
    {0, 8, "hello", "08 97 92 8A 91 34 76 70 42 3B 3F FF FF"},
    {1, 8, "hello", "28 8F BC 62 69 C7 43 19 22 EE FF FF"},
    {2, 8, "hello", "48 97 9A 87 CA 14 F9 CD A1 12 40 FF"},
    {3, 8, "hello", "68 8F BC 62 69 BF C9 84 3A 09 41 FF"},
    {4, 8, "hello", "88 8F BC 62 69 D9 DB 2B C8 17 81 FF"},
    {5, 8, "hello", "A8 8E 76 E9 80 CF 26 17 9A AA FB FF FF"},
    {0, 12, "abracadabra abracadabra abracadabra",
     "0C 9E 9D 8D A5 17 DB 1B A3 1B CB 1E F0 9B AC 2A AF 79 EC 23 83 47 0F 7E B5 25 C0 AF 90 F4 88 "
     "B7 FF FF"},
    {1, 12, "abracadabra abracadabra abracadabra",
     "2C 94 69 09 1A A0 18 7A 0E 19 E1 6C 88 D1 9A 6A A7 72 B5 41 17 D0 89 EF B3 D4 D8 01 FF"},
    {2, 12, "abracadabra abracadabra abracadabra",
     "4C 9E 9D 13 2C 2D F0 4B B3 3C 4C D4 CE 34 11 AF 90 8B D8 FB 09 6C E0 FC 53 B5 5D D9 FB 4A BD "
     "5A B0 0A 57 B6 F1 F5 1D 3C FF FF"},
    {3, 12, "abracadabra abracadabra abracadabra",
     "6C 94 69 09 1A 9F E0 C9 2C F6 8B AE 34 53 69 B8 2A 7E 95 E0 12 DB 6E B9 1F 63 39 FC 9A FF "
     "FF"},
    {4, 12, "abracadabra abracadabra abracadabra",
     "8C 94 69 09 1A A3 3F 35 5A 95 8D 3A E4 D8 FC 3A 7B 95 93 B4 53 0F 1A EC 30 35 34 B2 FF FF"},
    {5, 12, "abracadabra abracadabra abracadabra",
     "AC 92 95 BC A3 83 89 64 B9 27 40 D4 5B 08 1C 07 0C 87 1A 6B A9 2F 72 79 DD 8B 63 FF FF"},
};

// The integrity record after the stream of "hello" under model 1 at order 8
// (44 bytes with it): the magic, version 1, the stream's length 44, the
// data's length 5 and XXH64("hello") = 26C7827D889F6DA3 (from xxhsum -H1),
// all little-endian.
inline constexpr const char* kHelloRecordHex =
    "C5 4D 56 58 01 00 00 00 2C 00 00 00 00 00 00 00 "
    "05 00 00 00 00 00 00 00 A3 6D 9F 88 7D 82 C7 26";

// The stream of `input` under `model` at `order`, from the table above;
// throws std::out_of_range when the table has no such row.
template <class Container = std::vector<std::uint8_t>>
Container known_stream(int model, int order, const std::string& input) {
  for (const KnownStream& k : kKnownStreams) {
    if (k.model == model && k.order == order && input == k.input) {
      return from_hex<Container>(k.hex);
    }
  }
  throw std::out_of_range("no known stream of \"" + input + "\" for model " +
                          std::to_string(model) + " at order " + std::to_string(order));
}

// ---------------------------------------------------------------------------
// Console texts
// ---------------------------------------------------------------------------
//
// Every console line ends in "\r\n". Standard error opens with the banner
// line and closes with an empty line; the usage text goes to standard
// output.

inline const std::string kBanner = "Moltavex   V1.9\r\n";

inline const std::string kUsage =
    "\r\n"
    "usage: Moltavex c [order] [infile] <outfile>\r\n"
    "       Moltavex c[model] [order] [infile] <outfile>\r\n"
    "       Moltavex d [infile] <outfile>\r\n"
    "\r\n"
    "The model number can be one of the following:\r\n"
    "      0 - Bytewise Hashed Model\r\n"
    "      1 - Simple Bitwise Model (default)\r\n"
    "      2 - Adaptive Bitwise Model\r\n"
    "      3 - Indexed Bitwise Model Array\r\n"
    "      4 - Hashed Bitwise Model\r\n"
    "      5 - Combined Model\r\n"
    "\r\n"
    "note:  To use stdin/stdout, enter : as the filename\r\n";

inline constexpr const char* kModelNames[6] = {
    "Bytewise Hashed Model",       "Simple Bitwise Model", "Adaptive Bitwise Model",
    "Indexed Bitwise Model Array", "Hashed Bitwise Model", "Combined Model",
};

// The one message line of a failed job.
inline const std::string kOpenIn = "Could not open input file.";
inline const std::string kCreateOut = "Could not create output file.";
inline const std::string kReadIn = "Could not read input file.";
inline const std::string kWriteOut = "Could not write output file.";
inline const std::string kOutOfMemory = "Out of memory.";
inline const std::string kNotValid = "Not a valid compressed file.";
inline const std::string kEarlyEnd = "Unexpected end of compressed data.";
inline const std::string kCorrupt = "Compressed data is corrupt.";
inline const std::string kInterrupted = "Interrupted.";
inline const std::string kNotToTerminal = "Compressed data not written to a terminal.";
inline const std::string kNotFromTerminal = "Compressed data not read from a terminal.";
inline const std::string kBadMemoryLimit = "Invalid memory limit in MOLTAVEX_MEMLIMIT.";

// The block printed when coding starts.
inline std::string encoding_progress(int model) {
  return std::string("\r\nEncoding using ") + kModelNames[model] + "...\r\n";
}
inline std::string decoding_progress(int model) {
  return std::string("\r\nDecoding using ") + kModelNames[model] + "...\r\n";
}

// The block printed by `a` when coding starts: the setting it chose, then
// the model in use.
inline std::string choice_progress(int model, int order) {
  return "\r\nChose model " + std::to_string(model) + " at order " + std::to_string(order) + "." +
         encoding_progress(model);
}

// Standard error of a job that coded to the end without trouble.
inline std::string encode_ok_err(int model) { return kBanner + encoding_progress(model) + "\r\n"; }
inline std::string auto_ok_err(int model, int order) {
  return kBanner + choice_progress(model, order) + "\r\n";
}
inline std::string decode_ok_err(int model) { return kBanner + decoding_progress(model) + "\r\n"; }

// Standard error of a command line that cannot be used (the usage text
// itself goes to standard output).
inline std::string usage_err() { return kBanner + "\r\n"; }

// Standard error of a `t` run that decoded a stream to its end, with or
// without a verified record.
inline std::string test_ok_err(int model, int order, std::size_t compressed, std::size_t original,
                               bool verified = false) {
  return kBanner + decoding_progress(model) + "Model " + std::to_string(model) + " at order " +
         std::to_string(order) + ": " + std::to_string(compressed) + " bytes compressed, " +
         std::to_string(original) + " bytes original, " +
         (verified ? "checksum verified." : "no checksum.") + "\r\n\r\n";
}

// Standard error of a job that failed: `progress` is the block above when
// coding had started, empty otherwise.
inline std::string failure_err(const std::string& progress, const std::string& message) {
  return kBanner + progress + message + "\r\n\r\n";
}

// Makes console bytes readable in failure messages: CR and LF (the point
// of many checks) and other control bytes are shown as escapes.
inline std::string visible(const std::string& s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (b < 0x20 || b >= 0x7F) {
      out += "\\x";
      out += digits[b >> 4];
      out += digits[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Generated data, the same on every run so that failures reproduce
// ---------------------------------------------------------------------------

// Pseudo-random bytes (xorshift): nothing for a model to learn.
template <class Container = std::vector<std::uint8_t>>
Container random_bytes(std::size_t size, std::uint64_t seed) {
  Container out;
  out.resize(size);
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<typename Container::value_type>(x >> 24);
  }
  return out;
}

// Text-like data with repetition, so every model has something to learn;
// sentences end in `line_end`. Some expectations depend on these exact
// bytes (how much of a cut-short stream still decodes), so the words and
// the sequence stay as they are.
template <class Container = std::vector<std::uint8_t>>
Container sample_text(std::size_t n, const char* line_end = "\n") {
  static const char* const words[] = {"the ",  "quick ", "brown ", "fox ",   "jumps ",
                                      "over ", "lazy ",  "dog",    ".",      "and ",
                                      "then ", "runs ",  "away ",  "again, "};
  constexpr std::size_t count = sizeof words / sizeof words[0];
  constexpr std::size_t sentence_end = 8;  // "." and then `line_end`
  const auto append = [](Container& out, const char* s) {
    for (; *s; ++s) out.push_back(static_cast<typename Container::value_type>(*s));
  };
  Container out;
  std::uint32_t x = 12345;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const std::size_t w = (x >> 16) % count;
    append(out, words[w]);
    if (w == sentence_end) append(out, line_end);
  }
  out.resize(n);
  return out;
}

}  // namespace mx::test
