// The compression and decompression drivers: one job each, between two
// open streams.
//
// A compression job writes the header byte (pipeline/header.h), then
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
// block, and can stop the job with its flag. A job that succeeds has
// handed all its output to the writer's sink (and flushed a handle); what
// becomes of a file output then (kept, renamed into place) is the caller's
// business (platform/files.h).
//
// Memory limits here are plain byte counts, no_memory_limit for none (the C API's
// defaults are resolved before a job starts, in api/).
#pragma once

#include <cstdint>
#include <vector>

#include "io/status.h"
#include "io/streams.h"

namespace mx {

using Observer = mvx_observer;

inline constexpr std::uint64_t no_memory_limit = UINT64_MAX;  // the same as MVX_NO_MEMORY_LIMIT

// Tables up to these sizes stay in the caches of one core, where asking
// for entries ahead only costs instructions: the coding loops prefetch only
// from larger ones. Decoding waits on every entry it reads, bit after bit,
// so it starts lower, at about a core's second-level cache; compression
// keeps its throughput for tables that still fit the shared cache.
inline constexpr std::uint64_t encode_prefetch_from_bytes = std::uint64_t{2} << 20;
inline constexpr std::uint64_t decode_prefetch_from_bytes = std::uint64_t{1} << 20;

// The tables of `model` at `order` within `memory_limit` bytes (no_memory_limit: no
// limit): ok, or memory_limit. The model must be valid.
Status check_memory(int model, int order, std::uint64_t memory_limit);

// A compression job's last look at its model's tables: once every byte is
// coded, and before they are freed, the job calls seen(context, tables),
// which may change them. The choice among model 1's orders reads a
// trial's counters there (choose/plain_costs.h).
struct TablesSeen {
  void (*seen)(void* context, unsigned char* tables);
  void* context;
};

// Compresses everything `reader` yields into `writer` with model 0..5 at
// order 0..31. `checksum`: the integrity record (record.h) follows the
// body.
Status compress_streams(ByteReader& reader, ByteWriter& writer, int model, int order,
                        const Observer* observer = nullptr,
                        std::uint64_t memory_limit = no_memory_limit, bool checksum = false,
                        const TablesSeen* tables_seen = nullptr);

// Hands a finished stream of `setting` (the automatic choice's trial on
// the whole input, its record already appended when asked for) to
// `writer` as compress_streams would have written it: the observer hears
// the start and the progress, with `bytes_in` as the input's count.
Status emit_stream(const std::vector<std::uint8_t>& stream, int model, ByteWriter& writer,
                   std::uint64_t bytes_in, const Observer* observer = nullptr);

// Restores the data of the compressed stream that `reader` yields into
// `writer`. On success, `info` (if given) receives the stream's model,
// order and exact length (its record included; bytes after the stream are
// not counted), the restored size and whether a record was verified. A
// record after the body (its whole magic there) is verified (corrupt when
// it does not match, truncated_stream when cut short); other bytes there
// are not the stream's. `whole_input`: the reader yields the whole input
// (a buffer, a regular file, a pipe read to its end), which is then read
// to its end when no record follows the body, and a record that closes it
// makes the stream corrupt: damage moved the end marker (see
// read_trailer), or made the body run on into the record (corrupt rather
// than truncated_stream).
Status decompress_streams(ByteReader& reader, ByteWriter& writer,
                          const Observer* observer = nullptr,
                          std::uint64_t memory_limit = no_memory_limit,
                          mvx_stream_info* info = nullptr, bool whole_input = false);

// The status of a job whose streams failed or were stopped, or ok.
Status stream_status(const ByteReader& reader, const ByteWriter& writer);

// Tells the observer that coding starts, with the model's name.
void announce_start(const Observer* observer, bool decompressing, int model);

// The end of every job: the streams' status, then all output handed to
// the sink and flushed, then the final progress report.
Status finish_job(ByteReader& reader, ByteWriter& writer, const JobWatch& watch);

}  // namespace mx
