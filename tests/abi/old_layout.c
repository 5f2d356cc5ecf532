/* A program built against the 2.0 layout of the caller-filled structures
 * (moltavex_2_0.h), run against today's library: its smaller structures
 * must be read as they were meant, and the library must fill no more of
 * its mvx_stream_info than that structure holds. Prints what it checked;
 * exits 1 on the first difference. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "moltavex_2_0.h"

#define CHECK(condition)                                       \
  do {                                                         \
    if (!(condition)) {                                        \
      fprintf(stderr, "old_layout: failed: %s\n", #condition); \
      return 1;                                                \
    }                                                          \
  } while (0)

struct memory {
  const uint8_t* data;
  size_t size, at;
};

static int64_t read_memory(void* context, uint8_t* buffer, size_t size) {
  struct memory* m = context;
  size_t n = m->size - m->at < size ? m->size - m->at : size;
  memcpy(buffer, m->data + m->at, n);
  m->at += n;
  return (int64_t)n;
}

static bool append(void* context, const uint8_t* data, size_t size) {
  struct memory* m = context;
  memcpy((uint8_t*)m->data + m->at, data, size);
  m->at += size;
  return true;
}

static int progress_calls = 0;
static void count_progress(void* context, uint64_t in, uint64_t out) {
  (void)context;
  (void)in;
  (void)out;
  ++progress_calls;
}

int main(void) {
  static uint8_t text[100000], packed[300000], restored[100000];
  for (size_t i = 0; i < sizeof text; ++i) text[i] = (uint8_t)("old layout "[i % 11]);
  CHECK(mvx_version_number() >= MVX_VERSION_NUMBER);

  /* Options: the limit is read where this layout puts it. */
  mvx_options options = MVX_OPTIONS_INIT;
  size_t written = 0;
  options.memory_limit = mvx_model_memory(3, 18) - 1;
  CHECK(mvx_compress_with(text, sizeof text, 3, 18, packed, sizeof packed, &written, &options) ==
        MVX_MEMORY_LIMIT);
  options.memory_limit = mvx_model_memory(3, 18);
  CHECK(mvx_compress_with(text, sizeof text, 3, 18, packed, sizeof packed, &written, &options) ==
        MVX_OK);
  const size_t packed_size = written;
  CHECK(mvx_decompress_with(packed, packed_size, restored, sizeof restored, &written, &options) ==
        MVX_OK);
  CHECK(written == sizeof text && memcmp(restored, text, sizeof text) == 0);
  options.size = 0; /* a size that makes no sense */
  CHECK(mvx_decompress_with(packed, packed_size, restored, sizeof restored, &written, &options) ==
        MVX_INVALID_CALL);

  /* The observer's hooks are found where this layout puts them. */
  mvx_observer observer = MVX_OBSERVER_INIT;
  observer.progress = count_progress;
  struct memory in = {text, sizeof text, 0}, out = {packed, 0, 0};
  CHECK(mvx_compress_stream(read_memory, &in, append, &out, 3, 18, &observer, NULL) == MVX_OK);
  CHECK(progress_calls > 0 && out.at == packed_size);

  /* The library writes no more than this mvx_stream_info holds. */
  struct {
    mvx_stream_info info;
    unsigned char guard[64];
  } held;
  memset(&held, 0xA5, sizeof held);
  held.info.size = sizeof held.info;
  struct memory stream = {packed, packed_size, 0};
  CHECK(mvx_test_stream(read_memory, &stream, &held.info, NULL, NULL) == MVX_OK);
  CHECK(held.info.model == 3 && held.info.order == 18);
  CHECK(held.info.compressed_bytes == packed_size && held.info.original_bytes == sizeof text);
  for (size_t i = 0; i < sizeof held.guard; ++i) CHECK(held.guard[i] == 0xA5);

  printf("old_layout: the 2.0 layout works against library %u\n", mvx_version_number());
  return 0;
}
