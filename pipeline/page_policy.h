// When a job's model tables get large (2 MiB) pages.
//
// A table is read at random, one entry per coded bit. Large pages spare
// most of the page walks on large tables, but every first touch makes
// 2 MiB resident where a small page makes 4 KiB: a small input would make
// a table of hundreds of MiB resident for a few thousand touches. So a
// table gets large pages when its data will touch nearly every small page
// of it anyway, at four coded bits per small page (98% of them touched),
// and large pages then cost no memory:
//
//   data bytes >= table bytes / 8192
//
// When the data's size is known in advance (a named input, memory), the
// choice is made before the first touch. When it is not (standard input, a
// caller's stream) or falls short (a compressed input, smaller than what
// it restores), the table starts with small pages and is moved to large
// ones once the data coded so far reaches table bytes / 1024: gathering
// the touched small pages into large ones then costs less than the coding
// so far took, and the rest of the job goes faster.
//
// Builds with MOLTAVEX_ALWAYS_LARGE_PAGES give every table large pages from
// the start: the comparison the benchmark measures this policy against.
#pragma once

#include <cstdint>

#include "platform/zeroed_block.h"

namespace mx {

// expected_bytes 0: unknown.
constexpr bool large_pages_from_start(std::uint64_t table_bytes, std::uint64_t expected_bytes) {
#if defined(MOLTAVEX_ALWAYS_LARGE_PAGES)
  (void)table_bytes;
  (void)expected_bytes;
  return true;
#else
  return expected_bytes != 0 && expected_bytes >= table_bytes / 8192;
#endif
}

constexpr std::uint64_t large_pages_after_bytes(std::uint64_t table_bytes) {
  return table_bytes / 1024;
}

// Applies the policy to one job's tables; the drivers call after() between
// blocks with the data bytes coded so far.
class TablePages {
 public:
  TablePages(const ZeroedBlock& tables, std::uint64_t expected_bytes)
      : tables_(tables), switch_at_(large_pages_after_bytes(tables.size())) {
    if (large_pages_from_start(tables.size(), expected_bytes)) {
      tables_.advise_huge_pages(false);
      switch_at_ = UINT64_MAX;
    }
  }

  void after(std::uint64_t bytes_coded) {
    if (bytes_coded < switch_at_) return;
    tables_.advise_huge_pages(true);
    switch_at_ = UINT64_MAX;
  }

 private:
  const ZeroedBlock& tables_;
  std::uint64_t switch_at_;
};

}  // namespace mx
