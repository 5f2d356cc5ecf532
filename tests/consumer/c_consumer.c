/* A C99 program that uses an installed Moltavex through its C API: the
 * header's examples (one shot, and pieces through the push contexts), and
 * a round trip of every model. Built by scripts/check.sh install against
 * the shared and the static library; exits 1 on any mismatch. */
#include <moltavex/moltavex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "c_consumer: %s\n", what);
    ++failures;
  }
}

/* Compresses `text` in pieces of 7 bytes into `out` (room `capacity`). */
static size_t compress_in_pieces(const char* text, size_t size, unsigned char* out,
                                 size_t capacity) {
  mvx_compressor* c;
  size_t length = 0;
  bool done = false;
  check(mvx_compressor_create(&c, 3, 20, NULL) == MVX_OK, "compressor_create");
  for (size_t at = 0; at < size;) {
    size_t piece = size - at < 7 ? size - at : 7, consumed, written;
    check(mvx_compressor_compress(c, text + at, piece, &consumed, out + length, capacity - length,
                                  &written) == MVX_OK,
          "compressor_compress");
    at += consumed;
    length += written;
  }
  while (!done) {
    size_t written;
    check(mvx_compressor_finish(c, out + length, capacity - length, &written, &done) == MVX_OK,
          "compressor_finish");
    length += written;
  }
  mvx_compressor_free(c);
  return length;
}

int main(void) {
  const char text[] = "A C program, built against an installed library, hello, hello, hello.";
  const size_t capacity = mvx_compress_bound(sizeof text);
  unsigned char* packed = malloc(capacity);
  unsigned char* pieces = malloc(capacity);
  char restored[sizeof text];
  size_t written, restored_size;
  int model;
  printf("moltavex %s (header %s)\n", mvx_version_string(), MVX_VERSION_STRING);
  for (model = 0; model < MVX_MODEL_COUNT; ++model) {
    mvx_status s = mvx_compress(text, sizeof text, model, 12, packed, capacity, &written);
    if (s == MVX_OK) s = mvx_decompress(packed, written, restored, sizeof restored, &restored_size);
    check(s == MVX_OK && restored_size == sizeof text && memcmp(restored, text, sizeof text) == 0,
          mvx_status_message(s));
    printf("%s: %zu -> %zu bytes\n", mvx_model_name(model), sizeof text, written);
  }
  /* The pieces give the one-shot stream. */
  check(mvx_compress(text, sizeof text, 3, 20, packed, capacity, &written) == MVX_OK, "compress");
  check(compress_in_pieces(text, sizeof text, pieces, capacity) == written &&
            memcmp(pieces, packed, written) == 0,
        "pieces differ from the one-shot stream");
  check(mvx_decompress(packed, written, restored, 3, &restored_size) == MVX_OUTPUT_TOO_SMALL,
        "too small");
  /* The header's example of versions and options. */
  {
    mvx_options options = MVX_OPTIONS_INIT;
    check(mvx_version_number() >= MVX_VERSION_NUMBER, "an older library");
    options.memory_limit = (uint64_t)4 << 30; /* trust streams up to 4 GiB */
    check(mvx_decompress_with(packed, written, restored, sizeof restored, &restored_size,
                              &options) == MVX_OK,
          "decompress_with");
  }
  free(packed);
  free(pieces);
  puts(failures == 0 ? "c_consumer: all good" : "c_consumer: FAILED");
  return failures == 0 ? 0 : 1;
}
