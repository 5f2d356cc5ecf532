#include "models/model_table.h"

namespace mx {

namespace {

template <class M>
void* create_state(std::int32_t order) {
  return M::create(order);
}
template <class M>
Prob32 predict_state(void* state) {
  return static_cast<M*>(state)->predict();
}
template <class M>
void update_state(void* state, int bit) {
  static_cast<M*>(state)->update(bit != 0 ? 1 : 0);
}
template <class M>
void destroy_state(void* state) {
  delete static_cast<M*>(state);
}
template <class M>
constexpr ModelDescriptor row() {
  return ModelDescriptor{&create_state<M>, &predict_state<M>, &update_state<M>,
                         &destroy_state<M>, M::name};
}

}  // namespace

const ModelDescriptor model_table[model_count] = {
    row<BytewiseHashedModel>(),      row<SimpleBitwiseModel>(), row<AdaptiveBitwiseModel>(),
    row<IndexedBitwiseModelArray>(), row<HashedBitwiseModel>(), row<CombinedModel>(),
};

}  // namespace mx
