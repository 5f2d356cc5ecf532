// When a job's model tables get large (2 MiB) pages: large tables keep
// their speed on data that fills them, while resident memory follows what
// the data touches (at most 4/3 of what small pages would hold, unless the
// data turns repetitive after the decision). No stream depends on it.
// bench/README.md ("Table pages") gives the reasoning and the figures.
//
// - A table of at most whole_table_most bytes gets large pages whole: from
//   the start when the data's known size reaches a byte per 8 KiB of table,
//   else once table bytes / 1024 are coded.
// - A larger one starts with small pages and is checked at table bytes /
//   2^20 data bytes and each doubling (the drivers end their stretches
//   there). With the data's total known (a decompressor scales the
//   compressed size by its ratio so far) and at least whole_table_data_share
//   times smaller than the table, a projection of 3/4 of the table resident
//   at the end gives all of it large pages; otherwise each large-page
//   region gets them once 3/4 of it is resident.
//
// Builds with MOLTAVEX_TABLE_PAGES=large give every table large pages from
// the start, and with =small never: bench/pages.sh's comparisons.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/zeroed_block.h"

namespace mx {

inline constexpr std::uint64_t whole_table_most = std::uint64_t{32} << 20;

// For a table of at most whole_table_most bytes; expected_bytes 0: unknown.
constexpr bool large_pages_from_start(std::uint64_t table_bytes, std::uint64_t expected_bytes) {
  return expected_bytes != 0 && expected_bytes >= table_bytes / 8192;
}

constexpr std::uint64_t large_pages_after_bytes(std::uint64_t table_bytes) {
  return table_bytes / 1024;
}

// The data bytes before a larger table's first check.
constexpr std::uint64_t first_check_bytes(std::uint64_t table_bytes) {
  return table_bytes / 1048576;
}

// Data of at least one byte per this many bytes of table (256 coded bits
// per small page) may fill a larger table whole; less leaves it half empty
// on data measured (bench/README.md, "Table pages").
inline constexpr std::uint64_t whole_table_data_share = 128;

// A table, or a region of one, with (or projected to have) at least this
// share of its bytes resident gets large pages: numerator / denominator.
inline constexpr std::uint64_t full_numerator = 3;
inline constexpr std::uint64_t full_denominator = 4;

// The resident bytes projected at `total_bytes` of data from `resident`
// at `bytes` and `earlier_resident` at `earlier_bytes`: growth by a power
// between 0 and 1 of the data, the table's size at most.
std::uint64_t projected_resident(std::uint64_t earlier_resident, std::uint64_t earlier_bytes,
                                 std::uint64_t resident, std::uint64_t bytes,
                                 std::uint64_t total_bytes, std::uint64_t table_bytes);

// Applies the policy to one job's tables; the drivers call after() between
// blocks with the data bytes coded so far and the data's total, when known
// (else 0).
class TablePages {
 public:
  TablePages(const ZeroedBlock& tables, std::uint64_t expected_bytes);

  bool checks_at(std::uint64_t bytes_coded) const { return bytes_coded >= next_check_; }
  // Data bytes from `bytes_coded` to the next check (after after()).
  std::uint64_t bytes_to_check(std::uint64_t bytes_coded) const {
    return next_check_ - bytes_coded;
  }
  void after(std::uint64_t bytes_coded, std::uint64_t total_bytes) {
    if (checks_at(bytes_coded)) check(bytes_coded, total_bytes);
  }

 private:
  void check(std::uint64_t bytes_coded, std::uint64_t total_bytes);
  // Gathers the regions that have filled (all, once whole_); true when
  // none is left.
  bool promote_regions();

  static constexpr std::uint32_t promoted = UINT32_MAX;

  const ZeroedBlock& tables_;
  std::uint64_t next_check_ = UINT64_MAX;
  // Regions: the large pages wholly inside the table, from first_region_.
  bool by_region_ = false;
  bool whole_ = false;  // the whole table is to have large pages
  unsigned char* first_region_ = nullptr;
  std::uint64_t region_bytes_ = 0;
  std::uint64_t regions_ = 0;
  std::unique_ptr<std::uint32_t[]> resident_;  // per region; UINT32_MAX once promoted
  std::uint64_t last_resident_ = 0;            // the table's, at the last check
  std::uint64_t last_check_ = 0;
};

}  // namespace mx
