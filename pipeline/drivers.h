// Compression and decompression jobs.
//
// Compressed stream format:
//   offset 0: header byte, model * 32 + order (bits 7..5 the model 0..5,
//             bits 4..0 the order 0..31)
//   offset 1: coded body, to the end of the stream: the arithmetic coder's
//             output for every byte of the transformed data (escape
//             run-length transform, end marker included), eight bits each,
//             most significant first, each under the probability the model
//             predicts at that point; then the coder's finishing bytes.
// There is no magic number, length or checksum: the end of the data is the
// end marker inside the transformed stream. The model is created fresh for
// every job and learns from every coded bit; decompression repeats the same
// predictions and updates, so the stream carries no model data.
//
// A job reports its outcome as a Status and prints nothing. An optional
// observer hears when coding starts (after the streams are open and, for
// decompression, the header has named a model), gets progress after every
// block, and can stop the job with its flag. A failed job leaves its output
// incomplete, and a writer that created a named file removes it.
#pragma once

#include <cstdint>

#include "io/status.h"
#include "io/streams.h"

namespace mx {

using moltavex::Observer;

inline std::uint8_t header_byte(int model, int order) {
  return static_cast<std::uint8_t>((model << 5) | order);
}

// Compresses everything `reader` yields into `writer` with model 0..5 at
// order 0..31, then commits and closes both. On success the writer's
// output is marked complete.
Status compress_streams(ByteReader& reader, ByteWriter& writer, int model, int order,
                        const Observer* observer = nullptr);

// Opens the named streams (":" for the standard ones) and compresses.
Status compress_file(const char* input_name, const char* output_name, int model, int order,
                     const Observer* observer = nullptr);

// The status of a job whose streams failed or were stopped, or ok.
Status stream_status(const ByteReader& reader, const ByteWriter& writer);

// Restores the data of the compressed stream that `reader` yields into
// `writer`, then commits and closes both.
Status decompress_file(ByteReader& reader, ByteWriter& writer,
                       const Observer* observer = nullptr);

}  // namespace mx
