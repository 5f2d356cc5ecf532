// The registry: maps a model number (header bits 7..5 of every stream) to
// its model.
//
// `Models` lists the six model classes once, in number order; everything
// else is derived from it and checked at compile time. with_model hands
// the class of a number to a job's coding loop, which the drivers
// instantiate once per class, so per bit there is no indirect call.
// `model_table` gives each model's descriptor and its operations behind
// plain function pointers, for callers that pick a model at run time and
// code a few bits (tests, tools).
#pragma once

#include <array>
#include <cstdint>

#include "models/adaptive_bitwise.h"
#include "models/bytewise_hashed.h"
#include "models/combined.h"
#include "models/hashed_bitwise.h"
#include "models/indexed_bitwise_array.h"
#include "models/simple_bitwise.h"
#include "moltavex/moltavex.h"

namespace mx {

template <class... Ms>
struct ModelList {
  static constexpr int size = static_cast<int>(sizeof...(Ms));

  // Each model's number is its place in the list.
  static constexpr bool numbered_in_order() {
    int place = 0;
    return ((Ms::info.number == place++) && ...);
  }
};

using Models = ModelList<BytewiseHashedModel, SimpleBitwiseModel, AdaptiveBitwiseModel,
                         IndexedBitwiseModelArray, HashedBitwiseModel, CombinedModel>;

// Model numbers run from 0 to model_count - 1 (header bits 7..5).
inline constexpr int model_count = MVX_MODEL_COUNT;
static_assert(Models::size == model_count, "one class per model number");
static_assert(Models::numbered_in_order(), "the list is in model number order");

struct ModelDescriptor {
  ModelInfo info;
  void* (*create)(std::int32_t order);  // null when the order is invalid or memory short
  Prob32 (*predict)(void* state);
  void (*update)(void* state, int bit);  // any nonzero bit counts as 1
  void (*destroy)(void* state);
};

extern const std::array<ModelDescriptor, model_count> model_table;

// The descriptor of model `model`, or null outside 0..model_count - 1.
inline const ModelDescriptor* find_model(int model) {
  return model >= 0 && model < model_count ? &model_table[model] : nullptr;
}

template <class Model>
struct ModelTag {
  using type = Model;
};

namespace detail {
template <class... Ms, class F>
bool dispatch(ModelList<Ms...>, int model, F& f) {
  return ((model == Ms::info.number ? (f(ModelTag<Ms>{}), true) : false) || ...);
}
}  // namespace detail

// Calls f(ModelTag<M>{}) for the class M of model number `model`; false
// (and no call) for a number that names no model.
template <class F>
bool with_model(int model, F&& f) {
  return detail::dispatch(Models{}, model, f);
}

}  // namespace mx
