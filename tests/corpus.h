// The benchmark corpus (../shared/corpus beside the repository) for the
// tests that run it, in the unit tests and the command-line tests alike.
//
// Without the corpus such a test is skipped, so that a checkout without it
// still passes; with MOLTAVEX_REQUIRE_CORPUS=1 in the environment (as CI
// sets it) the test fails instead, so that a missing corpus cannot pass for
// a green run.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifndef MOLTAVEX_CORPUS_DIR
#define MOLTAVEX_CORPUS_DIR "../shared/corpus"
#endif

namespace mx::test {

inline std::string corpus_dir() { return MOLTAVEX_CORPUS_DIR; }

inline bool corpus_present() {
  std::error_code ec;
  return std::filesystem::is_directory(corpus_dir(), ec);
}

// MOLTAVEX_REQUIRE_CORPUS=1: a missing corpus is a failure, not a skip.
inline bool corpus_required() {
  const char* value = std::getenv("MOLTAVEX_REQUIRE_CORPUS");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

// The orders at which a corpus test codes every file: all of `orders`
// (smallest first), or, with MOLTAVEX_CORPUS_ORDERS=N (N >= 1) in the
// environment, only the first N. Under an emulator (scripts/stages/cross.sh)
// the whole list takes too long, and most of the time goes to filling the
// largest tables; the command-line corpus test still codes at order 22.
inline std::vector<int> corpus_orders(const std::vector<int>& orders) {
  const char* value = std::getenv("MOLTAVEX_CORPUS_ORDERS");
  const long n = value != nullptr ? std::strtol(value, nullptr, 10) : 0;
  if (n <= 0 || static_cast<std::size_t>(n) >= orders.size()) return orders;
  return std::vector<int>(orders.begin(), orders.begin() + n);
}

}  // namespace mx::test

// First statement of a test that needs the corpus: when the corpus
// directory is not there, skips the test, or fails it when
// MOLTAVEX_REQUIRE_CORPUS=1. (A macro, because skipping and failing return
// from the test body.) Files missing from a present corpus are for the test
// to report.
#define SKIP_OR_FAIL_WITHOUT_CORPUS()                                        \
  do {                                                                       \
    if (!::mx::test::corpus_present()) {                                     \
      if (::mx::test::corpus_required()) {                                   \
        FAIL() << "corpus not found at " << ::mx::test::corpus_dir()         \
               << ", and MOLTAVEX_REQUIRE_CORPUS=1 requires it";             \
      }                                                                      \
      GTEST_SKIP() << "corpus not found at " << ::mx::test::corpus_dir()     \
                   << " (with MOLTAVEX_REQUIRE_CORPUS=1 this is a failure)"; \
    }                                                                        \
  } while (false)
