/* The C API's caller-filled structures as version 2.0 of the library laid
 * them out, the first layout with a leading size, kept frozen here with the
 * declarations that use them: old_layout.c is built against this copy and
 * run against the library of today, as a program built years ago would be.
 * Never edit it to follow the public header; that is the point. */
#ifndef MOLTAVEX_2_0_H
#define MOLTAVEX_2_0_H

#include <signal.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

typedef enum mvx_status {
  MVX_OK = 0,
  MVX_INVALID_STREAM = 6,
  MVX_TRUNCATED_STREAM = 7,
  MVX_MEMORY_LIMIT = 11,
  MVX_INVALID_CALL = 12
} mvx_status;

#define MVX_VERSION_NUMBER 20000
#define MVX_NO_MEMORY_LIMIT UINT64_MAX

typedef struct mvx_options {
  size_t size;
  uint64_t memory_limit;
  uint64_t size_hint;
} mvx_options;
#define MVX_OPTIONS_INIT \
  { sizeof(mvx_options), 0, 0 }

typedef struct mvx_observer {
  size_t size;
  void (*started)(void* context, bool decompressing, const char* model_name);
  void (*progress)(void* context, uint64_t bytes_in, uint64_t bytes_out);
  void* context;
  const volatile sig_atomic_t* stop;
} mvx_observer;
#define MVX_OBSERVER_INIT \
  { sizeof(mvx_observer), NULL, NULL, NULL, NULL }

typedef struct mvx_stream_info {
  size_t size;
  int model;
  int order;
  uint64_t compressed_bytes;
  uint64_t original_bytes;
} mvx_stream_info;
#define MVX_STREAM_INFO_INIT \
  { sizeof(mvx_stream_info), 0, 0, 0, 0 }

typedef int64_t (*mvx_read_function)(void* context, uint8_t* buffer, size_t size);
typedef bool (*mvx_write_function)(void* context, const uint8_t* data, size_t size);

unsigned mvx_version_number(void);
uint64_t mvx_model_memory(int model, int order);
size_t mvx_compress_bound(size_t size);
mvx_status mvx_compress_with(const void* src, size_t size, int model, int order, void* dst,
                             size_t capacity, size_t* written, const mvx_options* options);
mvx_status mvx_decompress_with(const void* src, size_t size, void* dst, size_t capacity,
                               size_t* written, const mvx_options* options);
mvx_status mvx_compress_stream(mvx_read_function read, void* read_context, mvx_write_function write,
                               void* write_context, int model, int order,
                               const mvx_observer* observer, const mvx_options* options);
mvx_status mvx_test_stream(mvx_read_function read, void* read_context, mvx_stream_info* info,
                           const mvx_observer* observer, const mvx_options* options);

#endif
