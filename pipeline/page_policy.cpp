// The table page policy of page_policy.h.
#include "pipeline/page_policy.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace mx {

namespace {

enum class Pages { policy, large, small };

#if defined(MOLTAVEX_TABLE_PAGES_LARGE)
constexpr Pages build_pages = Pages::large;
#elif defined(MOLTAVEX_TABLE_PAGES_SMALL)
constexpr Pages build_pages = Pages::small;
#else
constexpr Pages build_pages = Pages::policy;
#endif

bool full(std::uint64_t resident, std::uint64_t bytes) {
  return resident >= bytes / full_denominator * full_numerator;
}

}  // namespace

std::uint64_t projected_resident(std::uint64_t earlier_resident, std::uint64_t earlier_bytes,
                                 std::uint64_t resident, std::uint64_t bytes,
                                 std::uint64_t total_bytes, std::uint64_t table_bytes) {
  if (total_bytes <= bytes || resident == 0) return std::min(resident, table_bytes);
  double power = 1;
  if (earlier_resident != 0 && earlier_bytes != 0 && bytes > earlier_bytes) {
    power = std::log(static_cast<double>(resident) / static_cast<double>(earlier_resident)) /
            std::log(static_cast<double>(bytes) / static_cast<double>(earlier_bytes));
    power = std::clamp(power, 0.0, 1.0);
  }
  const double projected =
      static_cast<double>(resident) *
      std::pow(static_cast<double>(total_bytes) / static_cast<double>(bytes), power);
  return projected >= static_cast<double>(table_bytes) ? table_bytes
                                                       : static_cast<std::uint64_t>(projected);
}

TablePages::TablePages(const ZeroedBlock& tables, std::uint64_t expected_bytes) : tables_(tables) {
  const std::uint64_t size = tables.size();
  if (build_pages == Pages::large) {
    tables_.advise_huge_pages(false);
    return;
  }
  const std::uint64_t large_page = platform::large_page_bytes();
  if (build_pages == Pages::small || (large_page != 0 && size > whole_table_most)) {
    platform::advise_small_pages(tables.data(), size);
  }
  if (build_pages == Pages::small || large_page == 0) return;
  if (size <= whole_table_most) {
    if (large_pages_from_start(size, expected_bytes)) {
      tables_.advise_huge_pages(false);
    } else {
      next_check_ = large_pages_after_bytes(size);
    }
    return;
  }
  const auto start = reinterpret_cast<std::uintptr_t>(tables.data());
  const std::uintptr_t first = (start + large_page - 1) / large_page * large_page;
  const std::uint64_t lead = first - start;
  if (lead >= size) return;
  regions_ = (size - lead) / large_page;
  if (regions_ == 0) return;
  resident_.reset(new (std::nothrow) std::uint32_t[regions_]());
  if (!resident_) return;
  by_region_ = true;
  first_region_ = tables.data() + lead;
  region_bytes_ = large_page;
  next_check_ = std::max<std::uint64_t>(first_check_bytes(size), 1);
}

void TablePages::check(std::uint64_t bytes_coded, std::uint64_t total_bytes) {
  next_check_ = UINT64_MAX;
  if (!by_region_) {
    tables_.advise_huge_pages(true);
    return;
  }
  if (!whole_) {
    std::uint64_t resident = 0;
    for (std::uint64_t r = 0; r < regions_; ++r) {
      if (resident_[r] == promoted) {
        resident += region_bytes_;
        continue;
      }
      const std::uint64_t bytes =
          platform::resident_bytes(first_region_ + r * region_bytes_, region_bytes_);
      if (bytes == UINT64_MAX) return;  // the system cannot tell: small pages stay
      resident_[r] = static_cast<std::uint32_t>(bytes);
      resident += bytes;
    }
    const std::uint64_t table = regions_ * region_bytes_;
    // A projection needs the growth between two checks, and data enough
    // to fill the table even where its growth slows down.
    whole_ = total_bytes >= table / whole_table_data_share && last_check_ != 0 &&
             full(projected_resident(last_resident_, last_check_, resident, bytes_coded,
                                     total_bytes, table),
                  table);
    // Later faults anywhere in the table take large pages.
    if (whole_) tables_.advise_huge_pages(false);
    last_resident_ = resident;
    last_check_ = bytes_coded;
  }
  if (promote_regions()) return;
  // At least double: a check walks the page tables of the regions still in
  // small pages, which the coding between checks then far outweighs.
  next_check_ = bytes_coded > UINT64_MAX / 2 ? UINT64_MAX : 2 * bytes_coded;
}

bool TablePages::promote_regions() {
  bool all = true;
  for (std::uint64_t r = 0; r < regions_; ++r) {
    if (resident_[r] == promoted) continue;
    // One region a call: the system gives up on a range at the first
    // region it cannot gather (one only read so far, say), and such a
    // region is tried again at the next check.
    if ((whole_ || full(resident_[r], region_bytes_)) &&
        platform::advise_huge_pages(first_region_ + r * region_bytes_, region_bytes_, true)) {
      resident_[r] = promoted;
    } else {
      all = false;
    }
  }
  return all;
}

}  // namespace mx
