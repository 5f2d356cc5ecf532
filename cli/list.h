// -l: what each compressed file holds, one row per stream (model, order,
// both sizes, ratio, check; with -v the table memory that decompression
// needs), and a totals line for several.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/plan.h"

namespace mx::cli {

// A regular file of `size` bytes that ends in its stream's record: the
// header and the record describe the stream without decoding it (false:
// decode it).
bool describe_from_record(const std::string& name, std::uint64_t size, moltavex::StreamInfo& info);

// The table of the listed jobs, on standard output.
void print_list(const std::vector<Job>& jobs, bool verbose);

}  // namespace mx::cli
