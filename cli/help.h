// The conventional interface's --help text: every line within 80 columns;
// the level table is the library's (mvx_level_setting, mvx_model_memory).
#pragma once

#include <string>

namespace mx::cli {

std::string help_text();

}  // namespace mx::cli
