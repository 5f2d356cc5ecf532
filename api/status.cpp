// The fixed messages of the statuses, and the facts about the library that
// need no job: its version, the models, the header byte, the stream bound,
// the defaults of the caller's structures.
#include <limits>

#include "api/jobs.h"
#include "api/options.h"
#include "models/registry.h"
#include "pipeline/header.h"
#include "pipeline/record.h"

static_assert(MVX_DEFAULT_MEMORY_LIMIT == mx::CombinedModel::info.table_bytes(26),
              "the default limit admits every setting up to order 26");

extern "C" {

MVX_API const char* mvx_status_message(mvx_status status) {
  switch (status) {
#define MX_STATUS_MESSAGE_(value, name, message) \
  case value: return message;
    MVX_STATUS_LIST(MX_STATUS_MESSAGE_)
#undef MX_STATUS_MESSAGE_
  }
  return "Unknown error.";
}

MVX_API const char* mvx_version_string(void) { return MVX_VERSION_STRING; }
MVX_API unsigned mvx_version_number(void) { return MVX_VERSION_NUMBER; }

MVX_API const char* mvx_model_name(int model) {
  const mx::ModelDescriptor* descriptor = mx::find_model(model);
  return descriptor != nullptr ? descriptor->info.name : nullptr;
}

MVX_API uint64_t mvx_model_memory(int model, int order) {
  const mx::ModelDescriptor* descriptor = mx::find_model(model);
  if (descriptor == nullptr || !mx::valid_order(order)) return 0;
  return descriptor->info.table_bytes(order);
}

MVX_API bool mvx_read_header(uint8_t header, int* model, int* order) {
  int m = 0, o = 0;
  if (!mx::parse_header(header, m, o)) return false;
  if (model != nullptr) *model = m;
  if (order != nullptr) *order = o;
  return true;
}

MVX_API mvx_status mvx_describe_from_record(uint8_t header, const uint8_t tail[MVX_RECORD_SIZE],
                                            uint64_t input_size, mvx_stream_info* info) {
  if (tail == nullptr || !mx::api::info_size_ok(info)) return MVX_INVALID_CALL;
  mvx_stream_info found{};
  mx::Record record;
  if (!mx::parse_header(header, found.model, found.order) || tail[0] != mx::record_magic[0] ||
      !mx::record_parse(tail, record) || record.stream_length != input_size ||
      input_size < 1 + mx::record_bytes) {
    return MVX_INVALID_STREAM;
  }
  found.compressed_bytes = input_size;
  found.original_bytes = record.original_length;
  found.checksum = 1;
  return mx::c_status(mx::api::write_info(found, info));
}

MVX_API void mvx_options_init(mvx_options* options) {
  if (options != nullptr) *options = mvx_options MVX_OPTIONS_INIT;
}
MVX_API void mvx_observer_init(mvx_observer* observer) {
  if (observer != nullptr) *observer = mvx_observer MVX_OBSERVER_INIT;
}
MVX_API void mvx_stream_info_init(mvx_stream_info* info) {
  if (info != nullptr) *info = mvx_stream_info MVX_STREAM_INFO_INIT;
}

// The bound, for every model and order:
//   - The transform gives at most 4 bytes for 3 (F0 F0 x becomes
//     F0 F0 02 x), and 3 more (the end marker) and 2 (a run closed at the
//     end).
//   - Every model's probabilities come from counters that each learn as a
//     Laplace estimator (models 0, 1, 3, 4 and 5), or from the Adaptive
//     Bitwise Model's rule. A counter that sees m bits, whatever they are,
//     codes them in at most log2((m + 1) * C(m, m/2)) bits: at most 1.30
//     bits a bit (its worst, m = 2); the adaptive rule's worst average,
//     against an adversary that knows its state, is about 1.23 bits a bit
//     (at orders 30 and 31; nearer 1 below).
//   - The coder adds a fraction of a bit per bit only where its interval is
//     small, and its finish 4 to 7 bytes.
// So a stream takes at most about 1.3 * 8/6 = 1.73 bytes a byte and a few
// bytes more; 2 bytes a byte and 64 more hold with room to spare.
MVX_API size_t mvx_compress_bound(size_t size) {
  constexpr std::size_t fixed = 64;
  if (size > (std::numeric_limits<std::size_t>::max() - fixed) / 2) {
    return std::numeric_limits<std::size_t>::max();
  }
  return 2 * size + fixed;
}

}  // extern "C"
