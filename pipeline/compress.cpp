// Compression driver: header byte, then every transformed byte coded bit by
// bit (predict, encode, update), then the coder's finish.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "coder/arith.h"
#include "models/registry.h"
#include "pipeline/coding_jobs.h"
#include "pipeline/drivers.h"
#include "pipeline/header.h"
#include "pipeline/page_policy.h"
#include "pipeline/record.h"
#include "pipeline/run_length.h"

namespace mx {

namespace {

// The model's lookahead runs this many bytes ahead of the coder, asking for
// the table entries of their bits (see "Speed" below).
inline constexpr std::size_t lookahead_bytes = 3;

// Most bytes a coded byte can put out: eight steps of at most four.
inline constexpr std::size_t max_bytes_per_byte = 8 * max_bytes_per_bit;

// Codes block[begin, end) into `out`, which has room for max_bytes_per_byte
// per byte, and feeds the lookahead the bytes lookahead_bytes further on
// (up to the block's `count`). It calls nothing (see "Speed").
// kBelowLimit: the job will have coded fewer than bits_before_any_halving
// bits by the end of the stretch.
template <class Model, bool kPrefetch, bool kBelowLimit>
MX_NOINLINE std::uint8_t* encode_stretch(Model& shared_model, typename Model::Lookahead& lookahead,
                                         std::uint64_t& shared_low, std::uint64_t& shared_high,
                                         const std::uint8_t* block, std::size_t begin,
                                         std::size_t end, std::size_t count, std::uint8_t* out) {
  std::uint64_t low = shared_low;
  std::uint64_t high = shared_high;
  Model local = shared_model;  // the model's state in this frame (see model.h)
  for (std::size_t i = begin; i < end; ++i) {
    if (kPrefetch && i + lookahead_bytes < count)
      lookahead.touch(local, block[i + lookahead_bytes]);
    const int c = block[i];
    local.template code_byte<false, true, kBelowLimit>(
        [&](int k, Prob32 p) {
          encode_step_of_byte(low, high, static_cast<std::uint32_t>(c), k, p,
                              [&out](std::uint8_t byte) { *out++ = byte; });
          return (c >> k) & 1;
        },
        c);
  }
  shared_model = local;
  shared_low = low;
  shared_high = high;
  return out;
}

// The coding loop, instantiated once per model class: each block is coded
// in stretches that each fit the room left in the output buffer, which is
// drained between them.
template <class Model, bool kPrefetch>
class EncodeJobOf final : public EncodeJob {
 public:
  EncodeJobOf(std::unique_ptr<OwnedModel<Model>> model, ByteWriter& writer,
              std::uint64_t expected_bytes)
      : model_(std::move(model)),
        pages_(model_->tables(), expected_bytes),
        expected_bytes_(expected_bytes) {
    encoder_create(encoder, writer);
  }

  MX_NOINLINE bool code(const std::uint8_t* block, std::size_t count) override {
    ByteWriter& writer = *encoder.stream;
    Model& model = *model_;
    if (kPrefetch) {
      for (std::size_t i = 0; i < count && i < lookahead_bytes; ++i)
        lookahead_.touch(model, block[i]);
    }
    std::size_t done = 0;
    while (done < count) {
      StreamWindow<std::uint8_t> window = writer_window(writer);
      if (window.size < max_bytes_per_byte) {
        writer_drain(writer);
        // A failed write cannot recover: stop rather than code the rest.
        if (writer.failed) return false;
        window = writer_window(writer);
      }
      const std::size_t room = window.size / max_bytes_per_byte;
      if (room == 0) {
        // A writer buffer smaller than one byte's worst case (never the
        // library's own): this byte goes through the record's steps, which
        // drain the buffer as it fills.
        if (kPrefetch && done + lookahead_bytes < count)
          lookahead_.touch(model, block[done + lookahead_bytes]);
        for (int k = 7; k >= 0; --k) {
          const int bit = (block[done] >> k) & 1;
          encode_bit(encoder, bit, model.predict());
          model.update(bit);
        }
        if (writer.failed) return false;
        ++done;
        ++bytes_coded_;
        continue;
      }
      // A stretch ends at the tables' next page check, if that comes first.
      pages_.after(bytes_coded_, expected_bytes_);
      const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(
          std::min(count, done + room), done + pages_.bytes_to_check(bytes_coded_)));
      bytes_coded_ += end - done;
      std::uint8_t* const out =
          bytes_coded_ < bits_before_any_halving / 8
              ? encode_stretch<Model, kPrefetch, true>(model, lookahead_, encoder.low, encoder.high,
                                                       block, done, end, count, window.data)
              : encode_stretch<Model, kPrefetch, false>(model, lookahead_, encoder.low,
                                                        encoder.high, block, done, end, count,
                                                        window.data);
      const auto produced = static_cast<std::size_t>(out - window.data);
      writer_produce(writer, produced);
      encoder.bytes_out += produced;
      done = end;
    }
    return true;
  }

  unsigned char* tables() override { return model_->tables().data(); }

 private:
  std::unique_ptr<OwnedModel<Model>> model_;
  TablePages pages_;
  std::uint64_t expected_bytes_;  // 0: unknown
  typename Model::Lookahead lookahead_;
  std::uint64_t bytes_coded_ = 0;  // in this job, before the current stretch
};

}  // namespace

std::unique_ptr<EncodeJob> make_encode_job(int model, int order, ByteWriter& writer,
                                           std::uint64_t expected_bytes) {
  return make_job_of<EncodeJob, EncodeJobOf>(model, order, encode_prefetch_from_bytes, writer,
                                             expected_bytes);
}

Status stream_status(const ByteReader& reader, const ByteWriter& writer) {
  if (reader.interrupted || writer.interrupted) return Status::interrupted;
  if (reader.failed) return Status::read_failed;
  if (writer.failed) return Status::write_failed;
  return Status::ok;
}

Status finish_job(ByteReader& reader, ByteWriter& writer, const JobWatch& watch) {
  if (stream_status(reader, writer) != Status::ok) return stream_status(reader, writer);
  if (!writer_commit(writer)) return stream_status(reader, writer);
  report_progress(&watch);
  return Status::ok;
}

Status check_memory(int model, int order, std::uint64_t memory_limit) {
  const std::uint64_t bytes = model_table[model].info.table_bytes(order);
  return bytes > memory_limit ? Status::memory_limit : Status::ok;
}

void announce_start(const Observer* observer, bool decompressing, int model) {
  if (observer != nullptr && observer->started != nullptr) {
    observer->started(observer->context, decompressing, model_table[model].info.name);
  }
}

Status compress_streams(ByteReader& reader, ByteWriter& writer, int model, int order,
                        const Observer* observer, std::uint64_t memory_limit, bool checksum,
                        const TablesSeen* tables_seen) {
  if (find_model(model) == nullptr || !valid_order(order)) return Status::invalid_argument;
  const Status memory = check_memory(model, order, memory_limit);
  if (memory != Status::ok) return memory;
  // With the record, the input passes through a hashing reader.
  HashingSource source;
  source.from = &reader;
  ByteReader hashed;
  if (checksum) {
    const Status opened = reader_open_function(hashed, &HashingSource::read, &source);
    if (opened != Status::ok) return opened;
    hashed.expected_bytes = reader.expected_bytes;
  }
  ByteReader& in = checksum ? hashed : reader;
  const auto status_now = [&]() {
    const Status own = stream_status(reader, writer);
    return own != Status::ok ? own : stream_status(in, writer);
  };
  JobWatch watch;
  watch_streams(watch, observer, in, writer);
  // The reader behind the hashing one answers to the stop flag alone (a
  // blocked read gives up when it is raised); progress is the outer one's.
  mvx_observer stop_only{};
  stop_only.stop = observer != nullptr ? observer->stop : nullptr;
  JobWatch inner_watch;
  inner_watch.observer = &stop_only;
  inner_watch.reader = &reader;
  inner_watch.writer = &writer;
  const JobWatch* const caller_watch = reader.watch;
  if (checksum) reader.watch = &inner_watch;
  struct RestoreWatch {
    ByteReader& reader;
    const JobWatch* watch;
    ~RestoreWatch() { reader.watch = watch; }
  } restore{reader, caller_watch};
  announce_start(observer, false, model);

  writer_put(writer, header_byte(model, order));
  if (!writer_commit(writer)) return status_now();

  const std::unique_ptr<EncodeJob> job = make_encode_job(model, order, writer, in.expected_bytes);
  if (!job) return Status::out_of_memory;
  RunPacker packer;
  packer_create(packer, in);
  std::uint8_t block[block_bytes];
  for (;;) {
    const std::size_t count = packer_read(packer, block, block_bytes);
    if (count == 0) break;
    if (!job->code(block, count)) return status_now();
  }
  if (status_now() != Status::ok) return status_now();
  encoder_finish(job->encoder);
  if (tables_seen != nullptr) tables_seen->seen(tables_seen->context, job->tables());
  if (checksum) {
    Record record;
    record.stream_length = 1 + job->encoder.bytes_out + record_bytes;
    record.original_length = source.hash.length();
    record.checksum = source.hash.digest();
    std::uint8_t bytes[record_bytes];
    record_build(record, bytes);
    for (const std::uint8_t byte : bytes) writer_put(writer, byte);
  }
  if (status_now() != Status::ok) return status_now();
  return finish_job(in, writer, watch);
}

Status emit_stream(const std::vector<std::uint8_t>& stream, int model, ByteWriter& writer,
                   std::uint64_t bytes_in, const Observer* observer) {
  ByteReader reader;  // never read: it counts the input for the observer
  reader.bytes_read = bytes_in;
  JobWatch watch;
  watch_streams(watch, observer, reader, writer);
  announce_start(observer, false, model);
  std::size_t done = 0;
  while (done < stream.size() && !writer.failed) {
    StreamWindow<std::uint8_t> window = writer_window(writer);
    if (window.size == 0) {
      writer_drain(writer);
      continue;
    }
    const std::size_t n = std::min(window.size, stream.size() - done);
    std::memcpy(window.data, stream.data() + done, n);
    writer_produce(writer, n);
    done += n;
  }
  return finish_job(reader, writer, watch);
}

}  // namespace mx

// Speed
//
// - At high orders nearly every bit's table entry is a cache miss, and in
//   compression all of them are known in advance: the lookahead asks for
//   them lookahead_bytes ahead. Three bytes (up to 24 lines in flight, a
//   few hundred cycles of coding) cover a memory access; more ran slower at
//   order 22 (six bytes by 3-14%), the requests outrunning what the core
//   can keep outstanding.
// - The stretches call nothing and are kept out of line (MX_NOINLINE), so
//   that the bounds, the output position and the model's state stay in
//   registers for a whole stretch.
