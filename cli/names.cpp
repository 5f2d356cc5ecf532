// Suffixes and output names (see names.h).
#include "cli/names.h"

namespace mx::cli {

bool has_suffix(const std::string& name, const std::string& suffix) {
  return name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
         name[name.size() - suffix.size() - 1] != '/';
}

std::string compressed_name(const std::string& name, const std::string& suffix) {
  return name + suffix;
}

std::string restored_name(const std::string& name, const std::string& suffix) {
  return name.substr(0, name.size() - suffix.size());
}

}  // namespace mx::cli
