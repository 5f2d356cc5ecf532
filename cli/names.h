// Suffixes and output names of the conventional interface: compressing
// FILE gives FILE.mx (the -S suffix); decompressing FILE.mx gives FILE. A
// name is suffixed only when something stands before the suffix in its
// last component.
#pragma once

#include <string>

namespace mx::cli {

bool has_suffix(const std::string& name, const std::string& suffix);

// FILE + suffix.
std::string compressed_name(const std::string& name, const std::string& suffix);

// FILE.mx without the suffix; the name must have it.
std::string restored_name(const std::string& name, const std::string& suffix);

}  // namespace mx::cli
