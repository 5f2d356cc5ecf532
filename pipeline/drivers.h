// The compression and decompression drivers: one job each, between two
// open streams.
//
// A compression job writes the header byte (model * 32 + order), then
// codes every byte of the transformed data (run_length.h), end marker
// included, bit by bit, most significant first, each bit under the
// probability its model predicts; then the coder's finishing bytes. A
// decompression job reads the header, creates the model it names and
// decodes until the transform's end marker. The model is created fresh for
// every job and both sides make the identical sequence of predictions and
// updates. The stream format is stated in full in the public header.
//
// A job reports its outcome as a Status and prints nothing. An optional
// observer hears when coding starts (after the streams are open and, for
// decompression, the header has named a model), gets progress after every
// block, and can stop the job with its flag. A failed job leaves its output
// unpublished (see ByteWriter).
#pragma once

#include <cstdint>

#include "io/status.h"
#include "io/streams.h"

namespace mx {

using Observer = mvx_observer;

// The C API's view of a status, and what a job's optional arguments say.
inline mvx_status c_status(Status status) { return static_cast<mvx_status>(status); }
inline std::uint64_t memory_limit_of(const mvx_options* options) {
  return options != nullptr ? options->memory_limit : 0;
}
inline std::uint64_t size_hint_of(const mvx_options* options) {
  return options != nullptr ? options->size_hint : 0;
}
inline bool checksum_of(const mvx_options* options) {
  return options != nullptr && options->checksum != 0;
}
inline bool whole_input_of(const mvx_options* options) {
  return options != nullptr && options->whole_input != 0;
}
inline platform::StopFlag stop_flag_of(const mvx_observer* observer) {
  return observer != nullptr ? observer->stop : nullptr;
}

// A regular file opened by name (the reader owns its handle; standard
// input, which may go on after the stream, is not owned): a decoder reads
// it whole and checks its end.
inline bool whole_named_file(const ByteReader& reader) {
  if (!reader.owns_handle) return false;
  const platform::FileId id = platform::identify(reader.handle);
  return id.valid && id.regular;
}

inline std::uint8_t header_byte(int model, int order) {
  return static_cast<std::uint8_t>((model << 5) | order);
}

// Tables up to these sizes stay in the caches of one core, where asking
// for entries ahead only costs instructions: the coding loops prefetch only
// from larger ones. Decoding waits on every entry it reads, bit after bit,
// so it starts lower, at about a core's second-level cache; compression
// keeps its throughput for tables that still fit the shared cache.
inline constexpr std::uint64_t encode_prefetch_from_bytes = std::uint64_t{2} << 20;
inline constexpr std::uint64_t decode_prefetch_from_bytes = std::uint64_t{1} << 20;

// The tables of `model` at `order` within `memory_limit` bytes (0: no
// limit): ok, or out_of_memory. The model must be valid.
Status check_memory(int model, int order, std::uint64_t memory_limit);

// Compresses everything `reader` yields into `writer` with model 0..5 at
// order 0..31, then commits, closes and publishes the output. `checksum`:
// the integrity record (record.h) follows the body.
Status compress_streams(ByteReader& reader, ByteWriter& writer, int model, int order,
                        const Observer* observer = nullptr, std::uint64_t memory_limit = 0,
                        bool checksum = false);

// Restores the data of the compressed stream that `reader` yields into
// `writer`, then commits, closes and publishes the output. On success,
// `info` (if given) receives the stream's model, order and exact length
// (its record included; bytes after the stream are not counted), the
// restored size and whether a record was verified. A record after the body
// is verified (corrupt when it does not match, truncated_stream when cut
// short). `whole_input`: the reader yields the whole input (a buffer, a
// regular file, a pipe read to its end), which is then read to its end
// when no record follows the body, and a record that closes it makes the
// stream corrupt: damage moved the end marker (see read_trailer).
Status decompress_streams(ByteReader& reader, ByteWriter& writer,
                          const Observer* observer = nullptr, std::uint64_t memory_limit = 0,
                          mvx_stream_info* info = nullptr, bool whole_input = false);

// The status of a job whose streams failed or were stopped, or ok.
Status stream_status(const ByteReader& reader, const ByteWriter& writer);

}  // namespace mx
