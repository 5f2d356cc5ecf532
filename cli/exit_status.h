// The program's exit statuses, shared by both interfaces: 0 success, 1 an
// error, 2 a usage error (classic) or warnings only (conventional, as xz),
// 128 + n when signal n stopped the run.
#pragma once

namespace mx::cli {

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;    // classic: the command line cannot be used
inline constexpr int exit_warning = 2;  // conventional: warnings only

}  // namespace mx::cli
