// The coding state of one job, kept between calls so that data can come and
// go in pieces: the model with its tables, the coder, and where the job
// stands. Both the pull drivers (compress_streams, decompress_streams) and
// the push contexts (api/push.cpp) run their jobs through these.
//
// Each job is made for its model class once, behind one virtual call per
// block or piece; per coded bit there is no indirect call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "coder/arith.h"
#include "io/streams.h"
#include "models/registry.h"
#include "pipeline/run_length.h"

namespace mx {

// The run-length transform hands the coder blocks of at most this many
// bytes.
inline constexpr std::size_t block_bytes = 4096;

// Compression: codes transformed bytes into the writer of its encoder.
class EncodeJob {
 public:
  virtual ~EncodeJob() = default;

  // Codes block[0, count) (count <= block_bytes), draining the writer as it
  // fills; false once a drain has failed.
  virtual bool code(const std::uint8_t* block, std::size_t count) = 0;

  // The model's tables, for a last look once coding is done.
  virtual unsigned char* tables() = 0;

  ArithEncoder encoder;
};

// A job for model 0..5 at order 0..31 coding into `writer`, with tables
// paged for about `expected_bytes` of data (0: unknown); null when the
// tables cannot be had.
std::unique_ptr<EncodeJob> make_encode_job(int model, int order, ByteWriter& writer,
                                           std::uint64_t expected_bytes);

// Decompression: decodes from a reader's window into an unpacker.
class DecodeJob {
 public:
  virtual ~DecodeJob() = default;

  enum class Stop {
    ended,        // the end marker, or the end of the input, was reached
    needs_input,  // the window is used up; more input may follow
    needs_room,   // the unpacker's writer has too little room for a byte
  };

  // Decodes from the window of `input` (consuming it) while it can.
  // `final`: no input follows what the window holds, so a missing byte is
  // the end of the input. Before each byte that may write more than the
  // writer's window holds (max_unit_bytes), it asks for room, unless the
  // writer is empty.
  virtual Stop decode(ByteReader& input, bool final) = 0;

  // Decoded bytes in this job.
  std::uint64_t bytes_decoded = 0;
  // The coder's state, current whenever decode() has returned.
  DecoderRegisters coder{0, 0xFFFFFFFFu, 0, 0, 0};
  // Bytes the last renormalisation still has to shift into the code value
  // (body bytes not yet read).
  unsigned owed = 0;
  RunUnpacker unpacker;
};

// Most bytes one transformed byte can make the unpacker write.
inline constexpr std::size_t max_unit_bytes = 255;

// The length of the stream a job that has reached its end marker decoded,
// header, owed and finishing bytes included: the bytes after it are not its
// own.
std::uint64_t stream_length(const DecodeJob& job);

// A job for model 0..5 at order 0..31 writing through `writer`; null when
// the tables cannot be had.
std::unique_ptr<DecodeJob> make_decode_job(int model, int order, ByteWriter& writer,
                                           std::uint64_t expected_bytes);

// Makes JobOf<M, kPrefetch> for the class M of model `model` at `order`
// (kPrefetch when its tables reach `prefetch_from` bytes), passing the
// model and `args` to its constructor; null when the tables or the job
// cannot be had.
template <class Job, template <class, bool> class JobOf, class... Args>
std::unique_ptr<Job> make_job_of(int model, int order, std::uint64_t prefetch_from,
                                 Args&&... args) {
  std::unique_ptr<Job> job;
  (void)with_model(model, [&](auto tag) {
    using M = typename decltype(tag)::type;
    auto state = create_model<M>(order);
    if (!state) return Status::out_of_memory;
    if (state->tables().size() >= prefetch_from) {
      job.reset(new (std::nothrow) JobOf<M, true>(std::move(state), args...));
    } else {
      job.reset(new (std::nothrow) JobOf<M, false>(std::move(state), args...));
    }
    return Status::ok;
  });
  return job;
}

}  // namespace mx
