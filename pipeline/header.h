// The header byte that starts every stream: the model number in bits 7..5
// and the order in bits 4..0 (model * 32 + order). Built and read only
// here. Model numbers 6 and 7 name no model: such a byte starts no stream.
#pragma once

#include <cstdint>

#include "models/registry.h"

namespace mx {

inline std::uint8_t header_byte(int model, int order) {
  return static_cast<std::uint8_t>((model << 5) | order);
}

// The model and order `header` names; false (and nothing stored) when it
// names no model.
inline bool parse_header(std::uint8_t header, int& model, int& order) {
  if (find_model(header >> 5) == nullptr) return false;
  model = header >> 5;
  order = header & 0x1F;
  return true;
}

}  // namespace mx
