// Push-style streaming: compression and decompression contexts that are fed
// input in pieces of any size and hand out output as it comes.
//
// They run the same coding jobs as the pull drivers (pipeline/coding_jobs.h), so the
// streams are the same whatever the pieces.
//   - Compression transforms each piece (packer_push, which keeps an open
//     run as a count between pieces) in blocks and codes them into a writer
//     whose output waits in `pending` for the caller's buffers. New input is
//     taken only while less than pending_limit bytes wait, so the memory a
//     context holds stays bounded however little room the caller gives.
//   - Decompression decodes straight from the caller's piece, which a
//     reader's window points at, into a writer whose buffer the caller's
//     buffers drain. The decoding job takes every byte it is given (a bit's
//     renormalisation may owe bytes until the next piece) and stops at the
//     end marker, so nothing past the stream is consumed: the finishing
//     bytes left after the marker are passed over as they come, then the
//     next 4 bytes decide whether a record follows (record.h): a piece
//     that ends within a beginning of the magic leaves those bytes
//     untaken until more input (or the finish) decides. The data is hashed
//     as it is handed out, and checked once the record is whole.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "api/options.h"
#include "models/registry.h"
#include "pipeline/coding_jobs.h"
#include "pipeline/drivers.h"
#include "pipeline/header.h"
#include "pipeline/record.h"

namespace {

using mx::c_status;
using mx::Status;

constexpr std::size_t pending_limit = std::size_t{1} << 16;

// Copies what waits in from[at, size) into dst[0, capacity); returns how
// much.
std::size_t hand_out(const std::uint8_t* from, std::size_t& at, std::size_t size, void* dst,
                     std::size_t capacity) {
  const std::size_t n = std::min(size - at, capacity);
  if (n != 0) std::memcpy(dst, from + at, n);
  at += n;
  return n;
}

}  // namespace

struct mvx_compressor {
  mx::ByteWriter writer;  // drains into `pending`
  mx::RunPacker packer;
  std::unique_ptr<mx::EncodeJob> job;
  std::vector<std::uint8_t> pending;
  std::size_t handed_out = 0;  // of `pending`
  mvx_status failed = MVX_OK;
  bool finished = false;
  bool checksum = false;  // the record follows the body
  mx::DataHash hash;      // of the input taken
  std::uint8_t block[mx::block_bytes];

  static bool keep(void* context, const std::uint8_t* data, std::size_t size) {
    auto* self = static_cast<mvx_compressor*>(context);
    try {
      self->pending.insert(self->pending.end(), data, data + size);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  std::size_t waiting() const {
    return pending.size() - handed_out + static_cast<std::size_t>(writer.length);
  }

  // Codes `count` transformed bytes of `block`; a sink that cannot grow is
  // out of memory.
  bool code(std::size_t count) {
    if (count == 0 || job->code(block, count)) return true;
    failed = MVX_OUT_OF_MEMORY;
    return false;
  }

  std::size_t hand_out_to(void* dst, std::size_t capacity) {
    mx::writer_drain(writer);
    if (writer.failed) failed = MVX_OUT_OF_MEMORY;
    const std::size_t n = hand_out(pending.data(), handed_out, pending.size(), dst, capacity);
    if (handed_out == pending.size()) {
      pending.clear();
      handed_out = 0;
    }
    return n;
  }
};

struct mvx_decompressor {
  std::uint64_t memory_limit = 0;  // none
  std::uint64_t size_hint = 0;
  mx::ByteWriter writer;  // its buffer waits for the caller's buffers
  std::unique_ptr<mx::DecodeJob> job;
  std::size_t handed_out = 0;  // of the writer's buffer
  std::uint64_t skip = 0;      // finishing bytes after the end marker still to pass over
  bool skip_known = false;
  mvx_status failed = MVX_OK;
  // After the body: whether what follows has decided (the stream has
  // therefore ended, or a record begun), and the record's bytes so far.
  bool after_body_seen = false;
  bool has_record = false;
  std::size_t record_taken = 0;
  std::uint8_t record[mx::record_bytes];
  mx::DataHash hash;  // of the data handed out

  static bool refuse(void*, const std::uint8_t*, std::size_t) { return false; }

  std::size_t hand_out_to(void* dst, std::size_t capacity) {
    const std::size_t from = handed_out;
    const std::size_t n =
        hand_out(writer.buffer, handed_out, static_cast<std::size_t>(writer.length), dst, capacity);
    hash.update(writer.buffer + from, n);
    if (handed_out == static_cast<std::size_t>(writer.length)) {
      writer.length = 0;
      handed_out = 0;
    }
    return n;
  }

  bool all_handed_out() const { return writer.length == 0; }

  // The stream has ended: its finishing bytes passed, what follows them
  // decided (or the input finished), a record taken whole, and all data
  // out.
  bool ended() const {
    return failed == MVX_OK && skip_known && skip == 0 && after_body_seen &&
           (!has_record || record_taken == mx::record_bytes) && all_handed_out();
  }

  // After the finishing bytes: takes the record's bytes from in[0, size),
  // if a record begins there, and returns how many. Bytes that begin no
  // record are not taken; nor is a beginning of the magic that the piece
  // cuts short, until more input shows whether it is one. `final`: no
  // input follows (what is left undecided then is not the stream's).
  std::size_t take_trailer(const std::uint8_t* in, std::size_t size, bool final) {
    std::size_t n = 0;
    if (!after_body_seen) {
      constexpr std::size_t magic = sizeof mx::record_magic;
      const std::size_t seen = std::min(size, magic);
      const bool begins = seen == 0 || std::memcmp(in, mx::record_magic, seen) == 0;
      if (begins && seen < magic && !final) return 0;
      after_body_seen = true;
      has_record = begins && seen == magic;
    }
    if (!has_record) return 0;
    while (record_taken < mx::record_bytes && n < size) record[record_taken++] = in[n++];
    if (record_taken < mx::record_bytes) {
      if (final) failed = MVX_TRUNCATED_STREAM;
    }
    return n;
  }

  // Once the record is whole and all data handed out: whether it matches.
  void verify() {
    if (failed != MVX_OK || !has_record || record_taken != mx::record_bytes || !all_handed_out())
      return;
    mx::Record parsed;
    if (!mx::record_parse(record, parsed) ||
        !mx::record_matches(parsed, mx::stream_length(*job), hash)) {
      failed = MVX_CORRUPT;
    }
  }

  // After the end marker: how many of the stream's finishing bytes the
  // decoder has not read.
  void learn_skip() {
    if (skip_known || job->unpacker.end == 0) return;
    // The decoder has read the header, four priming bytes and bytes_in.
    skip = mx::stream_length(*job) - (1 + 4 + job->coder.bytes_in);
    skip_known = true;
  }

  // Decodes from in[0, size) into the writer and dst, as far as it can.
  // Returns the input bytes taken.
  std::size_t run(const std::uint8_t* in, std::size_t size, bool final, void* dst,
                  std::size_t capacity, std::size_t& written) {
    std::size_t taken = 0;
    written += hand_out_to(dst, capacity);
    if (job == nullptr) {
      if (size == 0) return 0;
      int model = 0, order = 0;
      if (!mx::parse_header(in[0], model, order)) {
        failed = MVX_INVALID_STREAM;
        return 0;
      }
      taken = 1;
      const Status memory = mx::check_memory(model, order, memory_limit);
      if (memory != Status::ok) {
        failed = c_status(memory);
        return taken;
      }
      job = mx::make_decode_job(model, order, writer, size_hint);
      if (!job) {
        failed = MVX_OUT_OF_MEMORY;
        return taken;
      }
    }
    for (;;) {
      learn_skip();
      if (skip_known) {
        const std::uint64_t n = std::min<std::uint64_t>(skip, size - taken);
        skip -= n;
        taken += static_cast<std::size_t>(n);
        if (skip == 0) taken += take_trailer(in + taken, size - taken, final);
        return taken;
      }
      // A reader's window over the piece, at most 1 GiB at a time (its
      // counts are 32 bits).
      mx::ByteReader window;
      const std::size_t chunk = std::min<std::size_t>(size - taken, std::size_t{1} << 30);
      window.buffer = const_cast<std::uint8_t*>(in + taken);
      window.count = static_cast<std::uint32_t>(chunk);
      const mx::DecodeJob::Stop stop = job->decode(window, final && chunk == size - taken);
      taken += window.position;
      written += hand_out_to(static_cast<std::uint8_t*>(dst) + written, capacity - written);
      if (stop == mx::DecodeJob::Stop::needs_room) {
        if (!all_handed_out()) return taken;  // the caller's buffer is full
        continue;
      }
      if (stop == mx::DecodeJob::Stop::needs_input && taken < size) continue;
      if (stop == mx::DecodeJob::Stop::ended) {
        learn_skip();
        if (skip_known) continue;
      }
      return taken;
    }
  }
};

extern "C" {

MVX_API mvx_status mvx_compressor_create(mvx_compressor** compressor, int model, int order,
                                         const mvx_options* options) {
  if (compressor == nullptr) return MVX_INVALID_CALL;
  *compressor = nullptr;
  mx::api::CallSettings settings;
  const Status read =
      mx::api::read_settings(options, nullptr, mx::api::LimitDefault::none, settings);
  if (read != Status::ok) return c_status(read);
  if (mx::find_model(model) == nullptr || !mx::valid_order(order)) return MVX_INVALID_ARGUMENT;
  const Status memory = mx::check_memory(model, order, settings.memory_limit);
  if (memory != Status::ok) return c_status(memory);
  std::unique_ptr<mvx_compressor> c(new (std::nothrow) mvx_compressor);
  if (!c || mx::writer_open_function(c->writer, &mvx_compressor::keep, c.get()) != Status::ok) {
    return MVX_OUT_OF_MEMORY;
  }
  c->checksum = settings.options.checksum != 0;
  mx::writer_put(c->writer, mx::header_byte(model, order));
  c->job = mx::make_encode_job(model, order, c->writer, settings.options.size_hint);
  if (!c->job) return MVX_OUT_OF_MEMORY;
  *compressor = c.release();
  return MVX_OK;
}

MVX_API mvx_status mvx_compressor_compress(mvx_compressor* c, const void* src, size_t size,
                                           size_t* consumed, void* dst, size_t capacity,
                                           size_t* written) {
  if (consumed != nullptr) *consumed = 0;
  if (written != nullptr) *written = 0;
  if (c == nullptr || consumed == nullptr || written == nullptr || (src == nullptr && size != 0) ||
      (dst == nullptr && capacity != 0)) {
    return MVX_INVALID_CALL;
  }
  if (c->failed != MVX_OK) return c->failed;
  if (c->finished) return MVX_INVALID_CALL;
  const auto* in = static_cast<const std::uint8_t*>(src);
  auto* out = static_cast<std::uint8_t*>(dst);
  std::size_t taken = 0;
  std::size_t given = c->hand_out_to(out, capacity);
  while (taken < size && c->waiting() < pending_limit && c->failed == MVX_OK) {
    std::size_t used = 0;
    const std::size_t n =
        mx::packer_push(c->packer, in + taken, size - taken, used, c->block, mx::block_bytes);
    if (c->checksum) c->hash.update(in + taken, used);
    taken += used;
    if (!c->code(n)) break;
    given += c->hand_out_to(out + given, capacity - given);
  }
  *consumed = taken;
  *written = given;
  return c->failed;
}

MVX_API mvx_status mvx_compressor_finish(mvx_compressor* c, void* dst, size_t capacity,
                                         size_t* written, bool* done) {
  if (written != nullptr) *written = 0;
  if (done != nullptr) *done = false;
  if (c == nullptr || written == nullptr || done == nullptr || (dst == nullptr && capacity != 0)) {
    return MVX_INVALID_CALL;
  }
  if (c->failed != MVX_OK) return c->failed;
  if (!c->finished) {
    // The close of an open run and the end marker, then the coder's finish.
    while (c->packer.end == 0 || c->packer.pending_count != 0) {
      if (!c->code(mx::packer_finish(c->packer, c->block, mx::block_bytes))) return c->failed;
    }
    mx::encoder_finish(c->job->encoder);
    if (c->checksum) {
      mx::Record record;
      record.stream_length = 1 + c->job->encoder.bytes_out + mx::record_bytes;
      record.original_length = c->hash.length();
      record.checksum = c->hash.digest();
      std::uint8_t bytes[mx::record_bytes];
      mx::record_build(record, bytes);
      for (const std::uint8_t byte : bytes) mx::writer_put(c->writer, byte);
    }
    c->finished = true;
  }
  *written = c->hand_out_to(dst, capacity);
  *done = c->failed == MVX_OK && c->waiting() == 0;
  return c->failed;
}

MVX_API void mvx_compressor_free(mvx_compressor* compressor) { delete compressor; }

MVX_API mvx_status mvx_decompressor_create(mvx_decompressor** decompressor,
                                           const mvx_options* options) {
  if (decompressor == nullptr) return MVX_INVALID_CALL;
  *decompressor = nullptr;
  mx::api::CallSettings settings;
  const Status read =
      mx::api::read_settings(options, nullptr, mx::api::LimitDefault::safe, settings);
  if (read != Status::ok) return c_status(read);
  std::unique_ptr<mvx_decompressor> d(new (std::nothrow) mvx_decompressor);
  if (!d || mx::writer_open_function(d->writer, &mvx_decompressor::refuse, nullptr) != Status::ok) {
    return MVX_OUT_OF_MEMORY;
  }
  d->memory_limit = settings.memory_limit;
  d->size_hint = settings.options.size_hint;
  *decompressor = d.release();
  return MVX_OK;
}

MVX_API mvx_status mvx_decompressor_decompress(mvx_decompressor* d, const void* src, size_t size,
                                               size_t* consumed, void* dst, size_t capacity,
                                               size_t* written, bool* ended) {
  if (consumed != nullptr) *consumed = 0;
  if (written != nullptr) *written = 0;
  if (ended != nullptr) *ended = false;
  if (d == nullptr || consumed == nullptr || written == nullptr || ended == nullptr ||
      (src == nullptr && size != 0) || (dst == nullptr && capacity != 0)) {
    return MVX_INVALID_CALL;
  }
  if (d->failed != MVX_OK) return d->failed;
  *consumed = d->run(static_cast<const std::uint8_t*>(src), size, false, dst, capacity, *written);
  d->verify();
  *ended = d->ended();
  return d->failed;
}

MVX_API mvx_status mvx_decompressor_finish(mvx_decompressor* d, void* dst, size_t capacity,
                                           size_t* written, bool* done) {
  if (written != nullptr) *written = 0;
  if (done != nullptr) *done = false;
  if (d == nullptr || written == nullptr || done == nullptr || (dst == nullptr && capacity != 0)) {
    return MVX_INVALID_CALL;
  }
  if (d->failed != MVX_OK) return d->failed;
  if (d->job == nullptr) return d->failed = MVX_INVALID_STREAM;  // no header came
  (void)d->run(nullptr, 0, true, dst, capacity, *written);
  d->verify();
  if (d->failed != MVX_OK) return d->failed;
  if (d->job->unpacker.end == 0 && d->all_handed_out()) {
    // Decoded as far as the input went, and no end marker.
    return d->failed = MVX_TRUNCATED_STREAM;
  }
  *done = d->all_handed_out();
  return MVX_OK;
}

MVX_API mvx_status mvx_decompressor_may_end(const mvx_decompressor* d, bool* may_end) {
  if (d == nullptr || may_end == nullptr) return MVX_INVALID_CALL;
  *may_end = d->failed == MVX_OK && d->job != nullptr && d->skip_known && d->skip == 0 &&
             !d->has_record && d->all_handed_out();
  return MVX_OK;
}

MVX_API void mvx_decompressor_free(mvx_decompressor* decompressor) { delete decompressor; }

}  // extern "C"
