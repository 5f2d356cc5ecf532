#include "models/registry.h"

namespace mx {

namespace {

template <class M>
void* create_state(std::int32_t order) {
  return create_model<M>(order).release();
}
template <class M>
Prob32 predict_state(void* state) {
  return static_cast<OwnedModel<M>*>(state)->predict();
}
template <class M>
void update_state(void* state, int bit) {
  static_cast<OwnedModel<M>*>(state)->update(bit != 0 ? 1 : 0);
}
template <class M>
void destroy_state(void* state) {
  delete static_cast<OwnedModel<M>*>(state);
}

template <class... Ms>
constexpr std::array<ModelDescriptor, sizeof...(Ms)> rows_of(ModelList<Ms...>) {
  return {{{Ms::info, &create_state<Ms>, &predict_state<Ms>, &update_state<Ms>,
            &destroy_state<Ms>}...}};
}

}  // namespace

const std::array<ModelDescriptor, model_count> model_table = rows_of(Models{});

}  // namespace mx
