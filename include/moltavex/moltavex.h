/* Moltavex: an exact compressor built on bitwise context models and a
 * binary arithmetic coder, as a library with a C API. It compiles as C99
 * and as C++; C++ callers may prefer <moltavex/moltavex.hpp>, a thin layer
 * over the same functions.
 *
 * FORMAT
 *
 * A compressed stream is one header byte followed by an arithmetic-coded
 * body:
 *
 *   offset 0   header: model * 32 + order (bits 7..5 the model 0..5,
 *              bits 4..0 the order 0..31)
 *   offset 1   body, to the end of the stream
 *
 * Before coding, the data passes through an escape run-length transform:
 * bytes other than 0xF0 pass unchanged, a 0xF0 followed by another byte
 * stays as it is, every run of two or more 0xF0 becomes escape runs
 * F0 F0 n (n = 1..255 bytes 0xF0), and the data ends with the marker
 * F0 F0 00. Every byte of the transformed data is then coded bit by bit,
 * most significant bit first, by a binary arithmetic coder under the
 * probability that the chosen context model predicts for it; the coder's
 * finishing bytes (four to seven) close the body. The end of the data is
 * the end marker. Decompression takes the model and order from the header,
 * so it needs no options. An optional integrity record may follow the
 * body; other bytes after the body (or after the record) are not part of
 * the stream.
 *
 * INTEGRITY RECORD
 *
 * With mvx_options.checksum set, compression appends 32 bytes to the body
 * (all integers little-endian):
 *
 *   offset 0   magic C5 4D 56 58 (0xC5 is no header byte, so a record is
 *              never taken for the start of another stream)
 *   offset 4   version: 01
 *   offset 5   reserved: 00 00 00
 *   offset 8   the stream's length, header, body and record (uint64)
 *   offset 16  the original data's length (uint64)
 *   offset 24  XXH64 of the original data, seed 0 (uint64)
 *
 * "hello" under model 1 at order 8 with the record (44 bytes):
 *
 *   28 8F BC 62 69 C7 43 19 22 EE FF FF                header and body
 *   C5 4D 56 58 01 00 00 00  2C 00 00 00 00 00 00 00   magic, version, 44
 *   05 00 00 00 00 00 00 00  A3 6D 9F 88 7D 82 C7 26   5, XXH64 26C7827D889F6DA3
 *
 * The stream without its last 32 bytes is the stream without the record, which
 * older readers, stopping at the end marker, restore. What follows the body
 * (past the finishing bytes) is a record when it begins with the whole magic
 * C5 4D 56 58, which a push decompressor needs to see to decide; the record
 * must then follow in full (else MVX_TRUNCATED_STREAM) and match: version,
 * reserved bytes, both lengths and the checksum of the data restored (else
 * MVX_CORRUPT). Anything else after the body, a part of the magic among it, is
 * not the stream's, as for the format's readers
 * (mvx_stream_info.trailing_data). Damage can also move the end marker: a
 * decoder that has the whole input (mvx_decompress, a named regular file,
 * mvx_options.whole_input) takes a valid record that ends the input, of a
 * stream as long as the input, for the stream's own, so that a body that ends
 * before it or runs on into it is MVX_CORRUPT. A matching record right after
 * the body is success, whatever follows. The record's bytes count as the
 * stream's (mvx_stream_info.compressed_bytes, the push decompressor's
 * `consumed`). A failure leaves a named output as it was; data already handed
 * to a caller's function or buffer cannot be called back.
 *
 * MODELS
 *
 *   0  Bytewise Hashed Model        hash of the last 4 bytes + known bits    8 * 2^order bytes
 *   1  Simple Bitwise Model         the last `order` bits, direct index      8 * 2^order bytes
 *   2  Adaptive Bitwise Model       as 1, probabilities with a fixed rate    4 * 2^order bytes
 *   3  Indexed Bitwise Model Array  as 1, plus the context's previous bit   17 * 2^order bytes
 *   4  Hashed Bitwise Model         running hash of all bytes, bit window    8 * 2^order bytes
 *   5  Combined Model               as 4 with pairs, then a second stage    17 * 2^order + 128 KiB
 *
 * Tables are zero-filled memory from the system, only the pages the data
 * touches used (on Linux a table the data will touch nearly all over gets
 * 2 MiB pages). Tables that cannot be had fail the job with
 * MVX_OUT_OF_MEMORY, tables beyond mvx_options.memory_limit with
 * MVX_MEMORY_LIMIT, before any coding. A stream's header alone sets the
 * memory its decompression takes (up to 34 GiB), so decompression refuses
 * by default what needs more than MVX_DEFAULT_MEMORY_LIMIT: a caller that
 * trusts its streams raises the limit or removes it (MVX_NO_MEMORY_LIMIT).
 *
 * ERRORS AND THREADS
 *
 * Every function returns a status and never prints, aborts or exits; a
 * job that fails leaves a named output file as it was. The library keeps
 * no state between calls: any number of jobs and contexts may run on
 * different threads at once. A context (mvx_compressor, mvx_decompressor)
 * is used by one thread at a time, and a failed context keeps returning
 * its status. Null pointers where the call needs an object, and sizes
 * that make no sense, give MVX_INVALID_CALL.
 *
 * VERSIONS AND GROWTH
 *
 * MVX_VERSION_NUMBER and mvx_version_number() tell the header's and the
 * library's versions apart. The structures a caller fills (mvx_options,
 * mvx_observer, mvx_stream_info) begin with their own size, so that a
 * later version can add members without breaking programs built against
 * an earlier header: start each from its _INIT macro. Version 2.1 added
 * the integrity record: mvx_options.checksum and .whole_input,
 * mvx_stream_info.checksum and .trailing_data, MVX_CORRUPT,
 * mvx_decompress_stream_info and mvx_describe_from_record. Version 2.2
 * added levels that follow the input (mvx_options.level,
 * mvx_level_setting_within), NULL names for the standard streams in the
 * file jobs, their errno, mvx_decompress_file_info, mvx_options.durable,
 * mvx_decompressor_may_end, MVX_RECORD_SIZE and MVX_STATUS_LIST.
 *   if (mvx_version_number() < MVX_VERSION_NUMBER) ...  // an older library
 *
 * EXAMPLES
 *
 *   // One shot.
 *   const char text[] = "hello, hello, hello";
 *   size_t capacity = mvx_compress_bound(sizeof text), written;
 *   unsigned char* packed = malloc(capacity);
 *   mvx_status s = mvx_compress(text, sizeof text, 1, 16, packed, capacity, &written);
 *   if (s != MVX_OK) fprintf(stderr, "%s\n", mvx_status_message(s));
 *
 *   // Pieces as they come (a socket, say): see mvx_compressor_compress.
 *
 * The test suite compiles and runs the examples (tests/consumer/).
 */
#ifndef MOLTAVEX_MOLTAVEX_H
#define MOLTAVEX_MOLTAVEX_H

/* The library's version, written only here (the build takes it from here).
 * MVX_VERSION_NUMBER is major * 10000 + minor * 100 + patch: compare it
 * with mvx_version_number() to learn if the library in use is as new. */
#define MVX_VERSION_MAJOR 2
#define MVX_VERSION_MINOR 2
#define MVX_VERSION_PATCH 0
#define MVX_VERSION_NUMBER (MVX_VERSION_MAJOR * 10000 + MVX_VERSION_MINOR * 100 + MVX_VERSION_PATCH)
#define MVX_VERSION_STRING          \
  MVX_STRINGIZE_(MVX_VERSION_MAJOR) \
  "." MVX_STRINGIZE_(MVX_VERSION_MINOR) "." MVX_STRINGIZE_(MVX_VERSION_PATCH)
#define MVX_STRINGIZE_(x) MVX_STRINGIZE2_(x)
#define MVX_STRINGIZE2_(x) #x

#define MVX_MODEL_COUNT 6
#define MVX_MAX_ORDER 31

#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

/* Marks the functions a shared library exports. */
#if defined(_WIN32) && defined(MOLTAVEX_SHARED_BUILD)
#define MVX_API __declspec(dllexport)
#elif defined(_WIN32) && defined(MOLTAVEX_SHARED)
#define MVX_API __declspec(dllimport)
#elif (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define MVX_API __attribute__((visibility("default")))
#else
#define MVX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The outcome of a call, listed once: X(value, short name, the line
 * mvx_status_message gives and the program prints). The C++ wrapper and
 * the bindings derive their names from this list. */
#define MVX_STATUS_LIST(X)                                                                         \
  X(MVX_OK, ok, "")                                                                                \
  X(MVX_OPEN_INPUT_FAILED, open_input_failed, "Could not open input file.")                        \
  X(MVX_CREATE_OUTPUT_FAILED, create_output_failed, "Could not create output file.")               \
  X(MVX_READ_FAILED, read_failed, "Could not read input file.")                                    \
  X(MVX_WRITE_FAILED, write_failed, "Could not write output file.")                                \
  X(MVX_OUT_OF_MEMORY, out_of_memory, "Out of memory.")                 /* an allocation failed */ \
  X(MVX_INVALID_STREAM, invalid_stream, "Not a valid compressed file.") /* model 6, 7 */           \
  X(MVX_TRUNCATED_STREAM, truncated_stream, "Unexpected end of compressed data.")                  \
  X(MVX_INVALID_ARGUMENT, invalid_argument, "Invalid model or order.")                             \
  X(MVX_INTERRUPTED, interrupted, "Interrupted.") /* the observer's stop flag */                   \
  X(MVX_OUTPUT_TOO_SMALL, output_too_small, "Output buffer too small.")                            \
  X(MVX_MEMORY_LIMIT, memory_limit, "Memory limit exceeded.") /* tables pass the limit */          \
  X(MVX_INVALID_CALL, invalid_call, "Invalid call: a null pointer or an impossible size.")         \
  X(MVX_CORRUPT, corrupt, "Compressed data is corrupt.") /* the record disagrees */
#define MVX_STATUS_VALUE_(value, name, message) value,
typedef enum mvx_status { MVX_STATUS_LIST(MVX_STATUS_VALUE_) } mvx_status;
#undef MVX_STATUS_VALUE_

/* The fixed one-line message of a status, without line end ("" for MVX_OK). */
MVX_API const char* mvx_status_message(mvx_status status);

/* MVX_VERSION_STRING and MVX_VERSION_NUMBER of the library in use (which
 * may be newer than the header a program was built with). */
MVX_API const char* mvx_version_string(void);
MVX_API unsigned mvx_version_number(void);

/* The display name of a model ("Simple Bitwise Model"); NULL outside 0..5. */
MVX_API const char* mvx_model_name(int model);

/* Bytes of tables a model reserves at an order; 0 for an invalid one. */
MVX_API uint64_t mvx_model_memory(int model, int order);

/* The model and order a stream's first byte names; false when it names no
 * model (6 or 7). */
MVX_API bool mvx_read_header(uint8_t header, int* model, int* order);

/* The default table limit of decompression and of the automatic choice:
 * every setting up to order 26, about 1.06 GiB. A stream whose header
 * asks for more is refused with MVX_MEMORY_LIMIT before any memory is
 * touched, unless the caller allows more. */
#define MVX_DEFAULT_MEMORY_LIMIT (((uint64_t)17 << 26) + ((uint64_t)128 << 10))
/* A memory_limit that removes the limit. */
#define MVX_NO_MEMORY_LIMIT UINT64_MAX

/* Settings of a job or context. Start from MVX_OPTIONS_INIT (or
 * mvx_options_init), then set what you need; NULL means the defaults. The
 * library reads what a caller's `size` covers, takes the defaults for the
 * rest, and refuses (MVX_INVALID_CALL) a size below the first version's or
 * members it does not know that are not zero. */
typedef struct mvx_options {
  size_t size; /* sizeof(mvx_options) as the caller was built */
  /* The most bytes of model tables (mvx_model_memory) a job may reserve.
   * 0: the default, which is no limit when compressing with a given
   * setting, and MVX_DEFAULT_MEMORY_LIMIT when decompressing or choosing a
   * setting; MVX_NO_MEMORY_LIMIT: none. */
  uint64_t memory_limit;
  /* The input's size, when the caller knows it (0: unknown), for the
   * tables' pages; and for a level's choice (see Levels) in the streaming
   * forms, the only streams it changes. */
  uint64_t size_hint;
  /* Nonzero: compression writes the integrity record after the body (see
   * INTEGRITY RECORD). Decompression verifies a record whenever one is
   * there, whatever this says. */
  int checksum;
  /* Nonzero: a decompression job's input (standard input, a caller's read
   * function) is all the stream's, as a pipe read to its end: the job reads
   * it to its end and checks it as it checks a buffer or a named regular
   * file, always (see INTEGRITY RECORD); push contexts never see the end. */
  int whole_input;
  /* Nonzero: a file job syncs a named output's data to its device before
   * the name takes it, and the directory after (before removing an input,
   * say). */
  int durable;
  /* MVX_LEVEL_MIN..MVX_LEVEL_MAX: the automatic choice's functions choose
   * as that level does (see Levels); 0: among all settings. Other
   * functions ignore it; outside 0..MVX_LEVEL_MAX, MVX_INVALID_ARGUMENT. */
  int level;
} mvx_options;
#define MVX_OPTIONS_INIT \
  { sizeof(mvx_options), 0, 0, 0, 0, 0, 0 }
MVX_API void mvx_options_init(mvx_options* options);

/* The largest stream that compressing `size` bytes can give, with any
 * model and order; SIZE_MAX when that does not fit a size_t. */
MVX_API size_t mvx_compress_bound(size_t size);

/* One shot, memory to memory: the stream (or the restored data) goes to
 * dst[0, capacity), `written` receives its length. MVX_OUTPUT_TOO_SMALL
 * when it does not fit (dst then holds a part of it). mvx_decompress reads
 * one stream from src and ignores any bytes after it. The _with forms take
 * options (NULL: the defaults). */
MVX_API mvx_status mvx_compress(const void* src, size_t size, int model, int order, void* dst,
                                size_t capacity, size_t* written);
MVX_API mvx_status mvx_decompress(const void* src, size_t size, void* dst, size_t capacity,
                                  size_t* written);
MVX_API mvx_status mvx_compress_with(const void* src, size_t size, int model, int order, void* dst,
                                     size_t capacity, size_t* written, const mvx_options* options);
MVX_API mvx_status mvx_decompress_with(const void* src, size_t size, void* dst, size_t capacity,
                                       size_t* written, const mvx_options* options);

/* Push-style streaming, compression. A context is fed the data in pieces of
 * any size and hands out the stream as it goes; the stream is the same
 * whatever the pieces. mvx_compressor_compress takes input from
 * src[0, size) (`consumed` receives how much; less than all only while
 * output is waiting for room) and puts output into dst[0, capacity)
 * (`written`). A call that fills dst may leave more output waiting: call
 * again, with the rest of the input or none. After the last piece,
 * mvx_compressor_finish puts out the rest; call it until `done`. */
typedef struct mvx_compressor mvx_compressor;
MVX_API mvx_status mvx_compressor_create(mvx_compressor** compressor, int model, int order,
                                         const mvx_options* options);
MVX_API mvx_status mvx_compressor_compress(mvx_compressor* compressor, const void* src, size_t size,
                                           size_t* consumed, void* dst, size_t capacity,
                                           size_t* written);
MVX_API mvx_status mvx_compressor_finish(mvx_compressor* compressor, void* dst, size_t capacity,
                                         size_t* written, bool* done);
MVX_API void mvx_compressor_free(mvx_compressor* compressor);

/* Push-style streaming, decompression. mvx_decompressor_decompress takes input
 * from src[0, size) (`consumed`) and puts restored data into dst[0, capacity)
 * (`written`). It takes nothing past the end of the stream: once `ended` is
 * set (the end marker is decoded, the stream's last byte taken and all data
 * handed out), the input from `consumed` on is not the stream's. Until then it
 * stops only when dst is full (then more data may be waiting: call again) or
 * when it has taken all of src but up to 3 bytes after the body that begin the
 * record's magic (then it waits for more input: call again with any such bytes
 * first). With no more input, mvx_decompressor_finish decodes what is left
 * (call it until `done`) and gives MVX_TRUNCATED_STREAM when the stream ended
 * before its end marker; bytes it was not given are not the stream's. The
 * restored size is not known in advance: the stream has no length. A record
 * shows in the 4 bytes after the body: `ended` is set once they decide (left
 * unconsumed when they begin no record), a record is taken whole, or at
 * mvx_decompressor_finish. The record is checked after all data is handed out,
 * so MVX_CORRUPT comes after the data: as with zstd's checksum, do not act on
 * the data before the stream has ended. Never seeing the end of its input, a
 * push decompressor cannot tell when damage moved the end marker. The result
 * does not depend on how the input is cut into pieces. */
typedef struct mvx_decompressor mvx_decompressor;
MVX_API mvx_status mvx_decompressor_create(mvx_decompressor** decompressor,
                                           const mvx_options* options);
MVX_API mvx_status mvx_decompressor_decompress(mvx_decompressor* decompressor, const void* src,
                                               size_t size, size_t* consumed, void* dst,
                                               size_t capacity, size_t* written, bool* ended);
MVX_API mvx_status mvx_decompressor_finish(mvx_decompressor* decompressor, void* dst,
                                           size_t capacity, size_t* written, bool* done);
/* Whether the stream may end where the input has reached: the end marker
 * decoded, the body's finishing bytes taken, all data handed out and no
 * record begun, so that mvx_decompressor_finish would succeed now. */
MVX_API mvx_status mvx_decompressor_may_end(const mvx_decompressor* decompressor, bool* may_end);
MVX_API void mvx_decompressor_free(mvx_decompressor* decompressor);

/* Optional hooks into a running job. Start from MVX_OBSERVER_INIT (or
 * mvx_observer_init), which sets `size`; null members do nothing. */
typedef struct mvx_observer {
  size_t size; /* sizeof(mvx_observer) as the caller was built */
  /* Once, before the first byte is written: after the input is open and
   * the model is known (from the header, or after the choice). */
  void (*started)(void* context, bool decompressing, const char* model_name);
  /* After every block (64 KiB) read or written, and once more at the end
   * of a job that succeeded: the bytes read and written so far. */
  void (*progress)(void* context, uint64_t bytes_in, uint64_t bytes_out);
  void* context;
  /* When this flag becomes nonzero (from a signal handler, say) the job
   * stops at its next block (or gives up waiting to open a FIFO), leaves a
   * named output as it was, and returns MVX_INTERRUPTED. */
  const volatile sig_atomic_t* stop;
} mvx_observer;
#define MVX_OBSERVER_INIT \
  { sizeof(mvx_observer), NULL, NULL, NULL, NULL }
MVX_API void mvx_observer_init(mvx_observer* observer);

/* A caller's data source: fills `buffer` with up to `size` bytes and
 * returns their number, 0 at the end of the data, or -1 on a read error. */
typedef int64_t (*mvx_read_function)(void* context, uint8_t* buffer, size_t size);
/* A caller's data sink: takes all `size` bytes, or returns false. */
typedef bool (*mvx_write_function)(void* context, const uint8_t* data, size_t size);

/* Through the caller's functions, which the library calls as it goes. */
MVX_API mvx_status mvx_compress_stream(mvx_read_function read, void* read_context,
                                       mvx_write_function write, void* write_context, int model,
                                       int order, const mvx_observer* observer,
                                       const mvx_options* options);
MVX_API mvx_status mvx_decompress_stream(mvx_read_function read, void* read_context,
                                         mvx_write_function write, void* write_context,
                                         const mvx_observer* observer, const mvx_options* options);

/* Named files, the names used as they are; a NULL name is the standard
 * input or output. The input is opened first (a missing input never
 * touches the output); an output that is the input file itself, under any
 * name, is refused. An output name that holds a regular file, a symbolic link
 * or nothing is written through a new owner-only file in its directory (on
 * Linux one with no name, which even a killed process leaves nowhere; else, or
 * with MOLTAVEX_NO_TMPFILE=1 in the environment, a temporary file created
 * exclusively), which replaces the name only once the job has succeeded: a
 * failed or interrupted job leaves whatever stood there untouched and no file
 * behind, and a symbolic link is itself replaced, never written through. The
 * new file takes the permission bits (without setuid, setgid and sticky) of a
 * regular input file, its group where allowed, and its access and modification
 * times; otherwise 0666 less the umask. Other outputs (devices, FIFOs) are
 * written in place. A named-file job (these, mvx_test_file and
 * mvx_compress_file_auto) failing with MVX_OPEN_INPUT_FAILED,
 * MVX_CREATE_OUTPUT_FAILED, MVX_READ_FAILED or MVX_WRITE_FAILED sets errno to
 * the system's reason, last (0: none, as for an output that is the input). */
MVX_API mvx_status mvx_compress_file(const char* input_name, const char* output_name, int model,
                                     int order, const mvx_observer* observer,
                                     const mvx_options* options);
MVX_API mvx_status mvx_decompress_file(const char* input_name, const char* output_name,
                                       const mvx_observer* observer, const mvx_options* options);

/* What a stream holds. Start from MVX_STREAM_INFO_INIT (or
 * mvx_stream_info_init): the library fills what `size` covers. */
typedef struct mvx_stream_info {
  size_t size; /* sizeof(mvx_stream_info) as the caller was built */
  int model;
  int order;
  uint64_t compressed_bytes; /* the stream's length, its record included; bytes after it not
                                counted */
  uint64_t original_bytes;   /* the data it restores */
  int checksum;              /* 1: a record was verified; 0: none (an old stream) */
  int trailing_data;         /* 1: the input goes on after the stream (told only by a decoder
                                that has the whole input) */
} mvx_stream_info;
#define MVX_STREAM_INFO_INIT \
  { sizeof(mvx_stream_info), 0, 0, 0, 0, 0, 0 }
MVX_API void mvx_stream_info_init(mvx_stream_info* info);

/* As mvx_decompress_stream and mvx_decompress_file; `info` (if not NULL)
 * describes the stream. */
MVX_API mvx_status mvx_decompress_file_info(const char* input_name, const char* output_name,
                                            mvx_stream_info* info, const mvx_observer* observer,
                                            const mvx_options* options);
MVX_API mvx_status mvx_decompress_stream_info(mvx_read_function read, void* read_context,
                                              mvx_write_function write, void* write_context,
                                              mvx_stream_info* info, const mvx_observer* observer,
                                              const mvx_options* options);

/* Describes a stream from its integrity record, without decoding: for an
 * input of `input_size` bytes, first byte `header`, last 32 bytes `tail`,
 * MVX_OK when `tail` is a record of a stream of `input_size` bytes; `info`
 * then gets the header's setting, both lengths and checksum 1 (only
 * decoding verifies it). Else MVX_INVALID_STREAM: decode to describe. */
#define MVX_RECORD_SIZE 32 /* the integrity record's bytes */
MVX_API mvx_status mvx_describe_from_record(uint8_t header, const uint8_t tail[MVX_RECORD_SIZE],
                                            uint64_t input_size, mvx_stream_info* info);

/* Decodes the named stream, or the stream `read` yields, to its end and
 * discards the data: MVX_OK when it decodes to its end marker (and a
 * record, if one follows, matches), and `info` (if not NULL) describes it;
 * otherwise the status decompression would give. Without a record, only a
 * cut stream and an invalid header are detected. */
MVX_API mvx_status mvx_test_file(const char* input_name, mvx_stream_info* info,
                                 const mvx_observer* observer, const mvx_options* options);
MVX_API mvx_status mvx_test_stream(mvx_read_function read, void* read_context,
                                   mvx_stream_info* info, const mvx_observer* observer,
                                   const mvx_options* options);

/* Automatic choice of model and order.
 *
 * The library tries settings on the data itself and keeps the one that
 * gives the shortest stream, an ordinary stream: byte for byte what
 * mvx_compress gives with that setting. It depends on the data, its
 * length, the memory limit and options.level alone, never on timing. Ties
 * go to the smaller tables, then the lower model and order. Without a
 * level the candidates are the six models at every order whose tables fit
 * mvx_options.memory_limit (by default MVX_DEFAULT_MEMORY_LIMIT, so that
 * every chosen stream decompresses with the defaults); the trials run two
 * at a time and together never reserve more than the limit. Its cost:
 * trials on samples, then one pass; up to 1 MiB within about ten times one
 * compression with the chosen setting, on long inputs close to one. The
 * streaming forms read up to 16 MiB ahead before they choose (not for a
 * level without size_hint); a longer input is taken to be
 * mvx_options.size_hint bytes long (the file jobs give the file's size),
 * else as long as what was read. */
typedef struct mvx_setting {
  int model;
  int order;
} mvx_setting;

/* Levels: from fastest (MVX_LEVEL_MIN) to smallest (MVX_LEVEL_MAX), shared
 * by the program's -1 .. -9 and the bindings. A level's row is its setting
 * for an input of unknown length; its ceiling, the most its stream's
 * tables take (decompression too), is the largest row up to it:
 *
 *   level  row   ceiling          level  row   ceiling
 *     1    1:12   32 KiB            6    5:20   32 MiB
 *     2    1:16  512 KiB            7    5:21   34 MiB + 128 KiB
 *     3    1:18    2 MiB            8    5:22   68 MiB + 128 KiB
 *     4    1:20    8 MiB            9    5:23  136 MiB + 128 KiB
 *     5    1:22   32 MiB  (MVX_LEVEL_DEFAULT)
 *
 * With mvx_options.level the automatic choice's functions follow the
 * input's length (a buffer's, a file's, else options.size_hint): orders
 * are capped by it, so that no level reserves tables its input cannot
 * fill, and a level tries the rows up to it on the input (or a sample),
 * keeping the smallest: sizes fall as the level rises. Under memory_limit
 * a level lowers its orders rather than refusing. See bench/README.md. */
#define MVX_LEVEL_MIN 1
#define MVX_LEVEL_MAX 9
#define MVX_LEVEL_DEFAULT 5

/* A level's row, in `*setting`; MVX_INVALID_ARGUMENT for a level outside
 * MVX_LEVEL_MIN..MVX_LEVEL_MAX. */
MVX_API mvx_status mvx_level_setting(int level, mvx_setting* setting);
/* As the level does on an input of unknown length (a push compressor's):
 * its row, the order lowered until the tables fit `memory_limit` (as in
 * mvx_options; 0: the default); MVX_MEMORY_LIMIT when none fits. */
MVX_API mvx_status mvx_level_setting_within(int level, uint64_t memory_limit, mvx_setting* setting);

/* The setting mvx_compress_auto would choose for the data, in `*chosen`. */
MVX_API mvx_status mvx_choose_setting(const void* src, size_t size, mvx_setting* chosen,
                                      const mvx_options* options);

/* Compresses with the chosen setting into dst[0, capacity), as mvx_compress
 * does; `*chosen` (when not NULL) gets it before observer->started. */
MVX_API mvx_status mvx_compress_auto(const void* src, size_t size, void* dst, size_t capacity,
                                     size_t* written, mvx_setting* chosen,
                                     const mvx_observer* observer, const mvx_options* options);

/* As mvx_compress_stream and mvx_compress_file, with the chosen setting;
 * nothing is written (and the file job's output is not opened) before the
 * choice is made. */
MVX_API mvx_status mvx_compress_stream_auto(mvx_read_function read, void* read_context,
                                            mvx_write_function write, void* write_context,
                                            mvx_setting* chosen, const mvx_observer* observer,
                                            const mvx_options* options);
MVX_API mvx_status mvx_compress_file_auto(const char* input_name, const char* output_name,
                                          mvx_setting* chosen, const mvx_observer* observer,
                                          const mvx_options* options);

#ifdef __cplusplus
}
#endif

#endif /* MOLTAVEX_MOLTAVEX_H */
