// The model contract, and what the models share.
//
// A context model maps the bits coded so far to the probability (a Prob32)
// that the next bit is 0. For every coded bit in order the drivers call
// predict, then the coder, then update with the actual bit; calls strictly
// alternate, starting with predict, so a model may keep what predict found
// for the update. Compression and decompression make the identical
// sequence of calls, so both sides see identical probabilities: the stream
// carries no model data.
//
// A model M is a plain, trivially copyable struct holding its whole
// per-job state: pointers into its tables and a few registers of context.
// It provides
//   static constexpr ModelInfo info;           // number, name, table memory
//   M(unsigned char* tables, std::int32_t order);  // over zeroed tables
//   Prob32 predict() const;
//   void update(int bit);                      // bit is exactly 0 or 1
//   template <bool kPrefetch, bool kBitsKnown, bool kBelowLimit, class Code>
//   int code_byte(Code&& code, int known = 0);
//   struct Lookahead { template <class Ask> void touch(const M&, int byte, Ask&&); };
//
// code_byte codes the eight bits of one byte, from a byte boundary, as
// predict, the coder and update would bit by bit: for k = 7 down to 0 it
// calls code(k, p) with the prediction p, which codes bit k (compression)
// or decodes it (decompression) and returns it; the model learns the bit
// and goes on. It returns the byte.
//   - kBitsKnown: the bits are known in advance (compression). The byte is
//     given as `known` and code(k, p) returns its bit k. The model may then
//     run through the whole byte, each bit predicted and then learned in
//     turn exactly as bit by bit, and only afterwards hand the eight
//     probabilities to code: code never feeds the model, so the result is
//     the same.
//   - kPrefetch: the model asks for the entries of the next bits while the
//     current one is coded (decoding from large tables).
//   - kBelowLimit: fewer than bits_before_any_halving bits will have been
//     coded in the job by the end of the byte, so counter updates may leave
//     out the halving check.
// Lookahead::touch follows the data some bytes ahead of the coder during
// compression and hands ask(address) the address of every table entry the
// byte's bits will read (the drivers prefetch them).
//
// Tables come from one zeroed allocation per model (create_model), sized
// by the model's info, and are never filled: every field of an entry is
// stored as its offset from its start value, so all-zero bytes are a fresh
// entry. Memory grows only with the contexts actually touched, and
// creation takes constant time at any order.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "common/compiler.h"
#include "common/prob32.h"
#include "moltavex/moltavex.h"
#include "platform/zeroed_block.h"

namespace mx {

// Orders run from 0 to max_order: the header keeps five bits of it.
inline constexpr std::int32_t max_order = MVX_MAX_ORDER;

inline bool valid_order(std::int32_t order) { return order >= 0 && order <= max_order; }

// Mask of the low `order` bits, for orders 0..31.
inline std::uint32_t order_mask(std::int32_t order) {
  return static_cast<std::uint32_t>((std::uint64_t{1} << order) - 1);
}

// What a model states about itself. Its number is stored in every
// compressed stream (header bits 7..5); its tables take
// entry_bytes * 2^order + extra_bytes.
struct ModelInfo {
  int number;
  const char* name;
  std::uint32_t entry_bytes;
  std::uint32_t extra_bytes;

  constexpr std::uint64_t table_bytes(std::int32_t order) const {
    return (std::uint64_t{entry_bytes} << order) + extra_bytes;
  }
};

// A model's state together with the zeroed block its pointers point into.
// Copying the state out and back (`M local = model; ...; model.state() =
// local;`) moves the whole of it; the tables stay with their owner.
template <class M>
class OwnedModel : public M {
 public:
  OwnedModel(ZeroedBlock&& tables, std::int32_t order)
      : M(tables.data(), order), tables_(std::move(tables)) {}

  M& state() { return *this; }
  const ZeroedBlock& tables() const { return tables_; }

 private:
  ZeroedBlock tables_;
};

// A fresh model at `order`, or null when the order is invalid or the
// tables cannot be had.
template <class M>
std::unique_ptr<OwnedModel<M>> create_model(std::int32_t order) {
  static_assert(std::is_trivially_copyable_v<M>, "a model's state is copied whole");
  if (!valid_order(order)) return nullptr;
  ZeroedBlock tables;
  if (!tables.allocate(M::info.table_bytes(order))) return nullptr;
  return std::unique_ptr<OwnedModel<M>>(new (std::nothrow) OwnedModel<M>(std::move(tables), order));
}

// The contexts of models 1 to 3: the last `order` coded bits, the most
// recent in the lowest position, running straight across byte boundaries
// and starting at 0. The context after `bit`:
inline std::uint32_t next_context(std::uint32_t context, int bit, std::uint32_t mask) {
  return ((context << 1) | static_cast<std::uint32_t>(bit)) & mask;
}

// The same contexts for the bits of a byte known in advance: bit k's
// context is a window of the bits before the byte and the byte's bits
// above k, so no bit needs extracting and no context waits for the bit
// before it.
struct KnownByteContexts {
  std::uint64_t bits;  // the context before the byte, then the byte
  std::uint32_t mask;

  KnownByteContexts(std::uint32_t context, int byte, std::uint32_t context_mask)
      : bits(std::uint64_t{context} << 8 | static_cast<std::uint32_t>(byte)), mask(context_mask) {}

  std::uint32_t of_bit(int k) const { return static_cast<std::uint32_t>(bits >> (k + 1)) & mask; }
  std::uint32_t after_byte() const { return static_cast<std::uint32_t>(bits) & mask; }
};

// What the drivers' lookahead does with each address it is handed.
struct PrefetchLine {
  void operator()(const void* address) const { prefetch(address); }
};

}  // namespace mx

// Speed
//
// - The drivers instantiate their coding loops once per model class, so
//   code_byte and code inline into them; predict and update serve the paths
//   that code single bits.
// - code_byte keeps the model's state in local variables for the byte, so
//   that table stores (which might alias it) do not force it through
//   memory, and the bit positions are constants.
// - Running through a known byte before coding it (kBitsKnown) puts the
//   model's reads, divisions and stores before the coder's branches on
//   settled bytes, rather than between them, where a mispredicted settle
//   flushes whatever model work was issued after it. The counter models do
//   so (+3 to 8% at order 16); the Adaptive Bitwise Model, whose prediction
//   is one load, codes bit by bit.
// - The coding loops run each stretch of bytes on a copy of the model's
//   state in their own frame and copy it back after. code_byte stores its
//   state at the end of every byte; kept in the model object on the heap,
//   those stores beside the loop's own stack accesses made whole runs up
//   to a third slower, depending on where the stack happened to start (a store
//   and a later load whose addresses agree in their low 12 bits are
//   probably taken as dependent). A copy whose address never escapes lives
//   in registers instead.
