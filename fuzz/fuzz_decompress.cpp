// Decompression of arbitrary bytes, every header value included.
//
// Beyond "no crash, no sanitizer report, no leak", each run checks what a
// decoder owes any input:
//   - the status is one the stream can explain: invalid_stream for no header
//     or a model of 6 or 7 (and then nothing is written), truncated_stream,
//     ok, write_failed only when the output cap refused a write, and
//     out_of_memory only for a table of gigabytes (and then nothing is
//     written);
//   - after ok, bytes appended to the stream change nothing (decoding stops
//     at the end marker), and the output survives a round trip;
//   - a decoder that knows the input to be whole gives the same, except
//     that it may find the input corrupt (a record at its end);
//   - the output's stream with the integrity record restores it, through
//     either decoder; with one bit of it flipped (where the input says) a
//     decoder with the whole input fails or restores the very same data,
//     never other data; the record cut short fails as a cut stream;
//   - the coder and the model stay in step with the encoder on any bytes:
//     the bits decoded from the body, encoded again with a fresh model of
//     the same kind, make the encoder emit the very bytes the decoder read
//     (it walks the same intervals, and a settled byte of the interval is a
//     byte of the code value). This is checked on the bits, not through a
//     second compression of the output: a body may decode to a transformed
//     stream that the packer would never write (a run split in two, F0 F0
//     01 for a lone escape), and the same data packed again codes other
//     bits.
//
// Memory. A header can name order 31, whose table is 8, 16 or 34 GiB. The
// tables are lazily zeroed, so in the program they cost only the pages the
// data touches; how this target treats them depends on the build:
//   - With AddressSanitizer (the fuzz stage's main build) a huge table
//     cannot be had cheaply: ASan poisons the shadow of the whole block on
//     free (a gigabyte of shadow writes for an 8 GiB table), libFuzzer's
//     malloc limit reports the request as an out-of-memory finding, and
//     RLIMIT_AS is unusable since ASan reserves terabytes of shadow address
//     space up front. So when the header's table would pass a cap (16 MiB,
//     MOLTAVEX_FUZZ_TABLE_MB to change) the order is lowered to the highest
//     that fits (19 for models 3 and 5, 21 for 0, 1 and 4, 22 for 2), and
//     the body is decoded at that order: every decoder path is still
//     reached, only the width of the table index is bounded. (Each table of
//     many megabytes costs ASan milliseconds to map and poison, which is
//     why the cap is not higher.)
//   - Without ASan (the UBSan-only build the fuzz stage also runs) every
//     header is decoded as it stands, under RLIMIT_AS of 16 GiB
//     (MOLTAVEX_FUZZ_AS_GB): tables of 8 GiB are taken and used lazily,
//     those of 16 GiB and more fail, and the job must then end cleanly
//     with out_of_memory.
//
// Output. A few input bytes can stand for megabytes of output (an escape
// run is 255 bytes, and a model that has learnt a context codes a bit in
// far less than a bit). Decoding runs at some ten million bits a second in
// this build, so the sink refuses writes past 64 KiB, handed over in 4 KiB
// blocks, and the job ends with write_failed; every path of the decoder is
// reached long before. Past a 64 MiB table the cap is 16 KiB, because there
// every decoded bit may touch a page of its own (model 5 takes its
// probability from the second stage, so a fresh first-stage entry can cost
// almost no input), and the pages touched must stay well inside the RSS
// limit.
#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "coder/arith.h"
#include "fuzz_support.h"
#include "models/registry.h"
#include "pipeline/header.h"
#include "pipeline/record.h"

namespace {

using mx::Status;
using mx::fuzz::Bytes;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MX_FUZZ_WITH_ASAN 1
#endif
#endif
#if !defined(MX_FUZZ_WITH_ASAN) && defined(__SANITIZE_ADDRESS__)
#define MX_FUZZ_WITH_ASAN 1
#endif

constexpr std::size_t output_cap = std::size_t{64} << 10;
constexpr std::size_t big_table_output_cap = std::size_t{16} << 10;
constexpr std::uint64_t big_table = std::uint64_t{64} << 20;
// Bits decoded and encoded again for the lockstep check: far more than the
// coder's state holds (its interval is renewed every few bytes), far fewer
// than a skewed model could draw from a few kilobytes.
constexpr std::size_t lockstep_bits = std::size_t{1} << 16;
constexpr std::size_t lockstep_bits_big_table = std::size_t{1} << 14;
// A table this large may be refused; a smaller one never is.
constexpr std::uint64_t may_be_refused = std::uint64_t{1} << 30;

#ifdef MX_FUZZ_WITH_ASAN
std::uint64_t table_cap = std::uint64_t{16} << 20;
#else
std::uint64_t table_cap = UINT64_MAX;
#endif

// Decodes up to `bit_cap` bits of `body` with a fresh Model, stopping after
// the bit that ran into the end of the input, as the driver does; then
// encodes them with another fresh Model and compares what the encoder
// emitted with what the decoder read.
template <class Model>
void check_coder_lockstep(const Bytes& body, int order, std::size_t bit_cap) {
  // Priming reads four bytes; with fewer, the missing ones read as all ones
  // and the code value is no longer a window of the input.
  if (body.size() < 4) return;
  Bytes bits;
  std::uint64_t bytes_in = 0;
  bool ran_out = false;
  {
    auto model = mx::create_model<Model>(order);
    if (!model) return;  // a table the address-space limit refuses
    mx::MemorySource source{body.data(), body.size()};
    mx::ByteReader reader;
    mx::reader_open_function(reader, &mx::MemorySource::read, &source);
    mx::ArithDecoder decoder;
    mx::decoder_create(decoder, reader);
    while (bits.size() < bit_cap && decoder.end_of_input == 0) {
      const int bit = mx::decode_bit(decoder, model->predict());
      MX_FUZZ_CHECK(bit == 0 || bit == 1);
      model->update(bit);
      bits.push_back(static_cast<std::uint8_t>(bit));
    }
    bytes_in = decoder.bytes_in;
    ran_out = decoder.end_of_input != 0;
  }
  auto model = mx::create_model<Model>(order);
  if (!model) return;
  Bytes coded;
  mx::VectorSink sink{&coded};
  mx::ByteWriter writer;
  mx::writer_open_function(writer, &mx::VectorSink::write, &sink);
  mx::ArithEncoder encoder;
  mx::encoder_create(encoder, writer);
  for (std::uint8_t bit : bits) {
    mx::encode_bit(encoder, bit, model->predict());
    model->update(bit);
  }
  mx::writer_drain(writer);
  MX_FUZZ_CHECK(coded.size() == encoder.bytes_out);
  // Every renormalisation shifts one byte out of the encoder and one into
  // the decoder, except those the decoder cut short at the end of input.
  if (ran_out) {
    MX_FUZZ_CHECK(bytes_in <= encoder.bytes_out);
  } else {
    MX_FUZZ_CHECK(bytes_in == encoder.bytes_out);
  }
  const std::size_t n = std::min(coded.size(), body.size());
  for (std::size_t i = 0; i < n; ++i) MX_FUZZ_CHECK(coded[i] == body[i]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
#ifdef MX_FUZZ_WITH_ASAN
  if (const char* mb = std::getenv("MOLTAVEX_FUZZ_TABLE_MB")) {
    const long long value = std::atoll(mb);
    if (value > 0) table_cap = static_cast<std::uint64_t>(value) << 20;
  }
#else
  long long gib = 16;
  if (const char* text = std::getenv("MOLTAVEX_FUZZ_AS_GB")) gib = std::atoll(text);
  if (gib > 0) {
    const rlimit limit{static_cast<rlim_t>(gib) << 30, static_cast<rlim_t>(gib) << 30};
    if (setrlimit(RLIMIT_AS, &limit) != 0) {
      std::perror("setrlimit(RLIMIT_AS)");
      std::abort();
    }
  }
#endif
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    const auto r = mx::fuzz::decompress_memory(data, size, output_cap);
    MX_FUZZ_CHECK(r.status == Status::invalid_stream);
    MX_FUZZ_CHECK(r.output.empty());
    return 0;
  }

  Bytes stream(data, data + size);
  const int model = stream[0] >> 5;
  int order = stream[0] & 0x1F;
  if (model < mx::model_count && mx::model_table[model].info.table_bytes(order) > table_cap) {
    order = mx::fuzz::highest_order_within(model, table_cap);
    stream[0] = mx::header_byte(model, order);
  }

  // Small reads for some inputs, so that refills land inside the coder's
  // priming and renormalisation too; the choice depends only on the input.
  const std::size_t chunk = size % 3 == 0 ? 1 + size % 13 : SIZE_MAX;
  const std::uint64_t table =
      model < mx::model_count ? mx::model_table[model].info.table_bytes(order) : 0;
  const bool big = table > big_table;
  const std::size_t cap = big ? big_table_output_cap : output_cap;
  const std::int32_t block = 4096;
  const auto r = mx::fuzz::decompress_memory(stream.data(), stream.size(), cap, chunk, block);

  if (model >= mx::model_count) {
    MX_FUZZ_CHECK(r.status == Status::invalid_stream);
    MX_FUZZ_CHECK(r.output.empty());
    return 0;
  }
  MX_FUZZ_CHECK(r.output.size() <= cap);
  switch (r.status) {
    case Status::ok:
    case Status::truncated_stream:
    case Status::corrupt: break;  // an end marker before the record's magic
    case Status::write_failed: MX_FUZZ_CHECK(r.sink_refused); break;
    case Status::out_of_memory:
      MX_FUZZ_CHECK(table >= may_be_refused);
      MX_FUZZ_CHECK(r.output.empty());
      return 0;
    default: MX_FUZZ_CHECK(!"unexpected status");
  }
  const auto whole = mx::fuzz::decompress_memory(stream.data(), stream.size(), cap, chunk, block,
                                                 /*whole_input*/ true);
  if (whole.status != r.status) {
    // The whole input can end in a record that no decoded body reached,
    // whether the body ended early or ran on into it.
    MX_FUZZ_CHECK((r.status == Status::ok || r.status == Status::truncated_stream) &&
                  whole.status == Status::corrupt);
  } else if (r.status == Status::ok) {
    MX_FUZZ_CHECK(whole.output == r.output);
  }
  // In step on the bits, whatever the status.
  const Bytes body(stream.begin() + 1, stream.end());
  mx::with_model(model, [&](auto tag) {
    using Model = typename decltype(tag)::type;
    check_coder_lockstep<Model>(body, order, big ? lockstep_bits_big_table : lockstep_bits);
    return Status::ok;
  });

  if (r.status != Status::ok) return 0;
  const auto again = mx::fuzz::compress_memory(r.output.data(), r.output.size(), model, order);
  MX_FUZZ_CHECK(again.status == Status::ok);
  MX_FUZZ_CHECK(again.output[0] == stream[0]);
  const auto back = mx::fuzz::decompress_memory(again.output.data(), again.output.size(), SIZE_MAX);
  MX_FUZZ_CHECK(back.status == Status::ok);
  MX_FUZZ_CHECK(back.output == r.output);

  // The same stream with the record: whole, damaged where the input says,
  // and cut short.
  Bytes with = again.output;
  mx::append_record(with, r.output.data(), r.output.size());
  for (const bool whole_input : {false, true}) {
    const auto checked = mx::fuzz::decompress_memory(with.data(), with.size(), SIZE_MAX, chunk,
                                                     mx::stream_buffer_size, whole_input);
    MX_FUZZ_CHECK(checked.status == Status::ok);
    MX_FUZZ_CHECK(checked.output == r.output);
  }
  Bytes damaged = with;
  const std::size_t at = 1 + (size * 131 + data[size / 2]) % (damaged.size() - 1);
  damaged[at] ^= static_cast<std::uint8_t>(1u << (data[size - 1] & 7));
  const auto flipped = mx::fuzz::decompress_memory(damaged.data(), damaged.size(), cap, chunk,
                                                   block, /*whole_input*/ true);
  if (flipped.status == Status::ok) MX_FUZZ_CHECK(flipped.output == r.output);
  // Cut within the record: after its whole magic, a cut stream; within the
  // magic, a stream without the record followed by bytes not its own.
  const std::size_t cut_at = 1 + data[0] % (mx::record_bytes - 1);
  const std::size_t keep = again.output.size() + cut_at;
  const auto cut = mx::fuzz::decompress_memory(with.data(), keep, SIZE_MAX, chunk);
  if (cut_at >= sizeof mx::record_magic) {
    MX_FUZZ_CHECK(cut.status == Status::truncated_stream);
  } else {
    MX_FUZZ_CHECK(cut.status == Status::ok);
    MX_FUZZ_CHECK(cut.output == r.output);
  }

  // Whatever follows the stream stays unread.
  Bytes longer = stream;
  longer.insert(longer.end(), {0x00, 0xF0, 0xFF, 0x00, 0x5A, 0xA5, 0xF0, 0xF0});
  const auto extended =
      mx::fuzz::decompress_memory(longer.data(), longer.size(), cap, SIZE_MAX, block);
  MX_FUZZ_CHECK(extended.status == Status::ok);
  MX_FUZZ_CHECK(extended.output == r.output);
  // So does a beginning of the record's magic that the magic does not end.
  Bytes padded = stream;
  padded.insert(padded.end(), {0xC5, 0x4D, 0x56, 0x59});
  padded.resize(stream.size() + 1 + data[0] % 4);
  const auto stray = mx::fuzz::decompress_memory(padded.data(), padded.size(), cap, chunk, block);
  MX_FUZZ_CHECK(stray.status == Status::ok);
  MX_FUZZ_CHECK(stray.output == r.output);
  return 0;
}
