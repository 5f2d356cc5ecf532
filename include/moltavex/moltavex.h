// Moltavex: an exact compressor built on bitwise context models and a
// binary arithmetic coder, as a library.
//
// FORMAT
//
// A compressed stream is one header byte followed by an arithmetic-coded
// body:
//
//   offset 0   header: model * 32 + order (bits 7..5 the model 0..5,
//              bits 4..0 the order 0..31)
//   offset 1   body, to the end of the stream
//
// Before coding, the data passes through an escape run-length transform:
// bytes other than 0xF0 pass unchanged, a 0xF0 followed by another byte
// stays as it is, every run of two or more 0xF0 becomes escape runs
// F0 F0 n (n = 1..255 bytes 0xF0), and the data ends with the marker
// F0 F0 00. Every byte of the transformed data is then coded bit by bit,
// most significant bit first, by a binary arithmetic coder under the
// probability that the chosen context model predicts for it; the coder's
// finishing bytes close the body. There is no magic number, length or
// checksum: the end of the data is the end marker. Decompression takes the
// model and order from the header, so it needs no options. Bytes after the
// end of the body are ignored.
//
// MODELS
//
//   0  Bytewise Hashed Model        hash of the last 4 bytes + known bits    8 * 2^order bytes
//   1  Simple Bitwise Model         the last `order` bits, direct index      8 * 2^order bytes
//   2  Adaptive Bitwise Model       as 1, probabilities with a fixed rate    4 * 2^order bytes
//   3  Indexed Bitwise Model Array  as 1, plus the context's previous bit   17 * 2^order bytes
//   4  Hashed Bitwise Model         running hash of all bytes, bit window    8 * 2^order bytes
//   5  Combined Model               as 4 with pairs, then a second stage    17 * 2^order + 128 KiB
//
// Tables are zero-filled memory from the system and only the pages that
// the data touches are used, so high orders work on small inputs (on
// Linux, tables of 4 to 256 MiB get 2 MiB pages for speed, so there a small
// input can make the whole table resident). A table that cannot be
// allocated at all makes the job fail with out_of_memory.
//
// ERRORS
//
// Every function returns a Status and never prints, throws or exits. A job
// that fails leaves a named output file as it was before the job.
//
// EXAMPLES
//
//   // Memory to memory.
//   std::vector<std::uint8_t> packed, restored;
//   const char text[] = "hello, hello, hello";
//   if (moltavex::compress(text, sizeof text - 1, 1, 16, packed) != moltavex::Status::ok) ...
//   moltavex::Status s = moltavex::decompress(packed.data(), packed.size(), restored);
//
//   // Files; ":" names standard input or output.
//   moltavex::Status s = moltavex::compress_file("book.txt", "book.txt.mx", 3, 16);
//   if (s != moltavex::Status::ok) std::fprintf(stderr, "%s\n", moltavex::status_message(s));
//
//   // Your own streams.
//   std::int64_t my_read(void* context, std::uint8_t* buffer, std::size_t size);
//   bool my_write(void* context, const std::uint8_t* data, std::size_t size);
//   moltavex::compress_stream(&my_read, &source, &my_write, &sink, 0, 22);
//
// The examples are compiled and run by the test suite (tests/test_api.cpp).
#pragma once

// The library's version, the one place it is written (the build and the
// program's banner take it from here).
#define MVX_VERSION_MAJOR 1
#define MVX_VERSION_MINOR 9
#define MVX_VERSION_STRING MVX_STRINGIZE_(MVX_VERSION_MAJOR) "." MVX_STRINGIZE_(MVX_VERSION_MINOR)
#define MVX_STRINGIZE_(x) MVX_STRINGIZE2_(x)
#define MVX_STRINGIZE2_(x) #x

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace moltavex {

// Outcome of a job. status_message gives the line the program prints.
enum class Status : int {
  ok = 0,
  open_input_failed,     // "Could not open input file."
  create_output_failed,  // "Could not create output file." (also: the output is the input)
  read_failed,           // "Could not read input file."
  write_failed,          // "Could not write output file."
  out_of_memory,         // "Out of memory."
  invalid_stream,        // "Not a valid compressed file." (no header, or model 6 or 7)
  truncated_stream,      // "Unexpected end of compressed data."
  invalid_argument,      // "Invalid model or order." (model outside 0..5, order outside 0..31)
  interrupted,           // "Interrupted." (the observer's stop flag was raised)
};

// The fixed one-line message of a status, without line end ("" for ok).
const char* status_message(Status status);

inline constexpr int model_count = 6;
inline constexpr int max_order = 31;
inline constexpr int default_model = 1;

// The display name of a model ("Simple Bitwise Model"), or null outside 0..5.
const char* model_name(int model);

// Bytes of table memory a model reserves at an order (the most it can use),
// or 0 for an invalid model or order.
std::uint64_t model_memory(int model, int order);

// The model and order a stream's first byte names; false when it names no
// model (6 or 7).
bool read_header(std::uint8_t header, int* model, int* order);

// A caller's data source: fills `buffer` with up to `size` bytes and
// returns their number, 0 at the end of the data, or -1 on a read error.
using ReadFunction = std::int64_t (*)(void* context, std::uint8_t* buffer, std::size_t size);
// A caller's data sink: takes all `size` bytes, or returns false.
using WriteFunction = bool (*)(void* context, const std::uint8_t* data, std::size_t size);

// Optional hooks into a running job. Every member may be left null.
struct Observer {
  // Once, when coding starts: after the streams are open and, when
  // decompressing, after the header has named the model.
  void (*started)(void* context, bool decompressing, const char* model_name) = nullptr;
  // After every block of input read and of output written (64 KiB), with
  // the bytes read from the input and written to the output so far.
  void (*progress)(void* context, std::uint64_t bytes_in, std::uint64_t bytes_out) = nullptr;
  void* context = nullptr;
  // When this flag becomes nonzero (from a signal handler, say) the job
  // stops at its next block (or gives up waiting to open a FIFO), leaves a
  // named output as it was, and returns Status::interrupted.
  const volatile std::sig_atomic_t* stop = nullptr;
};

// Settings of a job; a null Options* means the defaults.
struct Options {
  // The most bytes of model tables (model_memory) a job may reserve; 0 for
  // no limit. A job whose tables would need more fails with out_of_memory
  // before it creates or touches its output; decompression checks the
  // stream's header against it first.
  std::uint64_t memory_limit = 0;
};

// Memory to memory. `out` is replaced by the compressed stream (or by the
// restored data).
Status compress(const void* data, std::size_t size, int model, int order,
                std::vector<std::uint8_t>& out, const Observer* observer = nullptr,
                const Options* options = nullptr);
Status decompress(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                  const Observer* observer = nullptr, const Options* options = nullptr);

// Named files. A name starting with ':' selects standard input or output.
// The input is opened first (a missing input never touches the output); an
// output that is the input file itself, under any name, is refused.
//
// An output name that holds a regular file, a symbolic link or nothing is
// written through a new temporary file in the same directory (created
// exclusively, owner-only), which replaces the name only once the job has
// succeeded: a failed or interrupted job leaves whatever stood there
// untouched and no temporary file behind, and a symbolic link is itself
// replaced, never written through. The new file takes the permission bits
// (without setuid, setgid and sticky) of a regular input file, its group
// where allowed, and its access and modification times; from standard
// input, 0666 less the umask. Other outputs (devices, FIFOs) are written
// in place.
Status compress_file(const char* input_name, const char* output_name, int model, int order,
                     const Observer* observer = nullptr, const Options* options = nullptr);
Status decompress_file(const char* input_name, const char* output_name,
                       const Observer* observer = nullptr, const Options* options = nullptr);

// Through the caller's functions.
Status compress_stream(ReadFunction read, void* read_context, WriteFunction write,
                       void* write_context, int model, int order,
                       const Observer* observer = nullptr, const Options* options = nullptr);
Status decompress_stream(ReadFunction read, void* read_context, WriteFunction write,
                         void* write_context, const Observer* observer = nullptr,
                         const Options* options = nullptr);

// Automatic choice of model and order.
//
// The library tries settings on the data itself and keeps the one that
// gives the shortest stream; the stream made with it is an ordinary one,
// byte for byte what compress() gives with that model and order, so every
// decoder restores it. The choice depends on the data (and the memory
// limit) alone, never on timing: the same input gives the same stream.
// Ties go to the smaller tables, then to the lower model, then to the
// lower order.
//
// Candidates are the six models at every order whose tables fit
// Options::memory_limit, which therefore also bounds decompression; the
// trials run two at a time (two threads), and together never reserve more
// than the limit. Trials on a first sample rank the models, and trials on
// a second one choose among the best few: on inputs of up to 1 MiB the
// first quarter and the whole input (up to 64 KiB, one search on the
// whole input; the best trial's stream is the result), on longer ones the
// first 256 KiB and the first 1 MiB. There
// the order then rises by one for every fourfold of the input beyond
// 1 MiB if it rose from the first sample to the second (the tables need
// room for more contexts), and one pass codes the whole input.
struct Setting {
  int model = 0;
  int order = 0;
};

// The setting compress_auto would choose for the data, in `*chosen`.
Status choose_setting(const void* data, std::size_t size, Setting* chosen,
                      const Options* options = nullptr);

// Compresses with the chosen setting, stored in `*chosen` (when not null)
// before observer->started is called, so that the hook can name it.
Status compress_auto(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                     Setting* chosen = nullptr, const Observer* observer = nullptr,
                     const Options* options = nullptr);

// As compress_file, with the chosen setting; the output is opened only once
// the choice is made. The choice reads up to 16 MiB ahead; the length of a
// longer input is taken from its file size, and from a pipe (whose length
// is unknown) as the 16 MiB read.
Status compress_file_auto(const char* input_name, const char* output_name,
                          Setting* chosen = nullptr, const Observer* observer = nullptr,
                          const Options* options = nullptr);

// MVX_VERSION_STRING of the library built.
const char* version();

}  // namespace moltavex
