// The plain coding path: the reference that speed work is measured against.
//
// It codes exactly the same streams as the library's drivers, the plain way
// a first implementation of the format does:
//   - per bit, the model's predict and update are called through the
//     function pointers of model_table, and the coder step is one call to
//     an out-of-line function;
//   - per byte, the run-length transform is one call each way;
//   - at creation the model's table is written in full (every entry set to
//     its start value), as a table of initialised entries would be, instead
//     of being left as untouched zero pages.
// Nothing is prefetched and no state is kept in registers across calls.
// The benchmark runs it beside the library's drivers on the same data in
// the same run (moltavex_bench --path plain, bench/run.sh --baseline
// plain), so that their speed ratio is free of the machine's drift.
#pragma once

#include <cstdint>
#include <vector>

#include "moltavex/moltavex.hpp"

namespace mx::bench {

// Same contract as moltavex::compress and moltavex::decompress (`output` is
// replaced).
moltavex::Status plain_compress(const std::vector<std::uint8_t>& input,
                                std::vector<std::uint8_t>& output, int model, int order);
moltavex::Status plain_decompress(const std::vector<std::uint8_t>& input,
                                  std::vector<std::uint8_t>& output);

}  // namespace mx::bench
