// The registry of the six models.
//
// The model number is stored in every compressed stream (header bits 7..5),
// so this numbering is part of the file format. `model_table` gives each
// model's display name and its operations behind plain function pointers,
// for callers that pick a model at run time and code a few bits (tests,
// tools). The drivers instead call with_model once per job, which hands a
// model class to a coding loop instantiated for it, so per bit there is no
// indirect call.
#pragma once

#include <cstdint>

#include "models/adaptive_bitwise.h"
#include "models/bytewise_hashed.h"
#include "models/combined.h"
#include "models/hashed_bitwise.h"
#include "models/indexed_bitwise_array.h"
#include "models/simple_bitwise.h"

namespace mx {

struct ModelDescriptor {
  void* (*create)(std::int32_t order);  // null when memory is short
  Prob32 (*predict)(void* state);
  void (*update)(void* state, int bit);  // any nonzero bit counts as 1
  void (*destroy)(void* state);
  const char* name;
};

inline constexpr int model_count = 6;
inline constexpr int default_model = 1;  // the usage text's "(default)"

extern const ModelDescriptor model_table[model_count];

template <class Model>
struct ModelTag {
  using type = Model;
};

// Calls f(ModelTag<M>{}) with the model class of number `model` (0..5).
template <class F>
decltype(auto) with_model(int model, F&& f) {
  switch (model) {
    case 0: return f(ModelTag<BytewiseHashedModel>{});
    case 1: return f(ModelTag<SimpleBitwiseModel>{});
    case 2: return f(ModelTag<AdaptiveBitwiseModel>{});
    case 3: return f(ModelTag<IndexedBitwiseModelArray>{});
    case 4: return f(ModelTag<HashedBitwiseModel>{});
    default: return f(ModelTag<CombinedModel>{});
  }
}

}  // namespace mx
