// Shared pieces of the benchmark programs: streams over memory, the corpus
// and its concatenations, a synthetic English-like text for machines
// without the corpus, and a few timing helpers.
//
// Every measurement keeps input and output in memory, so the figures show
// the cost of the coding and not of the disk; jobs run through the public
// functions, exactly as an embedding application would use them. The
// memory streams of io/memory_streams.h are taken from this tree by a
// relative path, and use nothing of the library, so that the benchmark
// builds against older trees too.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../io/memory_streams.h"

#ifndef MOLTAVEX_CORPUS_DIR
#define MOLTAVEX_CORPUS_DIR "../shared/corpus"
#endif

namespace mx::bench {

using Bytes = std::vector<std::uint8_t>;

inline std::string corpus_dir() {
  if (const char* env = std::getenv("MOLTAVEX_CORPUS")) {
    if (*env != '\0') return env;
  }
  return MOLTAVEX_CORPUS_DIR;
}

inline const std::vector<std::string>& corpus_names() {
  static const std::vector<std::string> names = {
      "alice29.txt", "asyoulik.txt", "fireworks.jpeg", "geo.protodata", "html",
      "kppkn.gtb",   "lcet10.txt",   "paper-100k.pdf", "plrabn12.txt",  "urls.10K"};
  return names;
}

// The English texts of the corpus, in the order of their concatenation
// "text.cat", the data set the speed work is judged on.
inline const std::vector<std::string>& text_names() {
  static const std::vector<std::string> names = {"alice29.txt", "asyoulik.txt", "lcet10.txt",
                                                 "plrabn12.txt"};
  return names;
}

inline bool read_file(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// Concatenation of the named corpus files; false when one is missing.
inline bool read_concatenation(const std::string& dir, const std::vector<std::string>& names,
                               Bytes& out) {
  out.clear();
  for (const auto& name : names) {
    Bytes part;
    if (!read_file(dir + "/" + name, part)) return false;
    out.insert(out.end(), part.begin(), part.end());
  }
  return true;
}

// Deterministic English-like text: words drawn with a skewed distribution
// from a small vocabulary, with punctuation and line breaks, so that the
// models meet the kind of byte statistics they see on real prose.
inline Bytes synthetic_text(std::size_t size, std::uint64_t seed = 1) {
  static const char* const words[] = {
      "the",     "of",      "and",     "to",       "a",      "in",      "that",   "it",
      "was",     "he",      "I",       "his",      "you",    "for",     "had",    "is",
      "with",    "she",     "her",     "as",       "not",    "at",      "on",     "be",
      "said",    "but",     "they",    "all",      "so",     "this",    "by",     "from",
      "Alice",   "little",  "thought", "queen",    "would",  "could",   "there",  "very",
      "which",   "what",    "when",    "were",     "their",  "one",     "out",    "into",
      "time",    "about",   "began",   "herself",  "looked", "again",   "while",  "before",
      "nothing", "strange", "garden",  "question", "answer", "morning", "window", "through"};
  const std::size_t count = sizeof(words) / sizeof(words[0]);
  Bytes out;
  out.reserve(size + 16);
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
  auto next = [&x]() {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  bool capital = true;
  std::size_t line = 0;
  while (out.size() < size) {
    // Product of two uniform picks: short, common words come up most.
    const std::uint64_t r = next();
    const std::size_t index = ((r & 0xFF) * ((r >> 8) & 0xFF) * count) >> 16;
    std::string word = words[index];
    if (capital && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
    capital = false;
    out.insert(out.end(), word.begin(), word.end());
    line += word.size() + 1;
    const std::uint64_t p = (r >> 20) % 100;
    if (p < 6) {
      out.push_back('.');
      capital = true;
    } else if (p < 12) {
      out.push_back(',');
    }
    if (line > 66) {
      out.push_back('\n');
      line = 0;
    } else {
      out.push_back(' ');
    }
  }
  out.resize(size);
  return out;
}

// The bits of `data`, most significant first, one per element.
inline std::vector<std::uint8_t> bits_of(const Bytes& data) {
  std::vector<std::uint8_t> bits;
  bits.reserve(data.size() * 8);
  for (std::uint8_t byte : data) {
    for (int k = 7; k >= 0; --k) bits.push_back(static_cast<std::uint8_t>((byte >> k) & 1));
  }
  return bits;
}

inline double now_seconds() {
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

// CPU time of the whole process (user and system, page faults included).
// On a shared machine it is steadier than the wall clock, since time spent
// waiting for a core does not count.
inline double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace mx::bench
