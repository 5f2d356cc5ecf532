#!/usr/bin/env bash
# Streams more data than any 32-bit count can hold through the program's
# standard input and output, and checks that it comes back bit for bit:
#
#   generator | moltavex cM O : : | moltavex d : : | sha256sum
#
# compared with sha256sum of the generator's output (a second, identical run
# of the deterministic generator). Not part of the test suite: at the
# default size each configuration runs for many minutes.
#
#   scripts/check.sh huge [SIZE] [MODEL:ORDER ...]
#
# SIZE is a byte count with an optional K, M or G suffix (binary units,
# decimals allowed: 5.5G); default 5.5G. A configuration `a` runs the
# automatic choice (moltavex a : :) instead. The default configurations are
#   2:16  the cheapest model per bit, so the most data per minute;
#   1:0   a single counter for every bit, whose total reaches its limit
#         after 2^32 bits (512 MiB of transformed data) and is halved, then
#         again every 2^31 bits after that.
# The program is $MOLTAVEX if set, else build/moltavex (built if missing).
# The corpus ($MOLTAVEX_CORPUS, default ../shared/corpus) supplies text
# when it is there; without it the text parts are synthetic.
set -euo pipefail
source "$(dirname "$0")/../lib/common.sh"
cd "$root"
need_xxhash

size_arg=${1:-5.5G}
shift || true
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(2:16 1:0)

size=$(awk -v s="$size_arg" 'BEGIN {
  n = s; u = toupper(substr(s, length(s)));
  m = 1;
  if (u == "K") m = 1024; else if (u == "M") m = 1048576; else if (u == "G") m = 1073741824;
  if (m > 1) n = substr(s, 1, length(s) - 1);
  if (n !~ /^[0-9]+(\.[0-9]+)?$/) { print "bad"; exit }
  printf "%.0f", n * m }')
[ "$size" != bad ] || { echo "bad size: $size_arg" >&2; exit 2; }

exe=${MOLTAVEX:-./build/moltavex}
if [ ! -x "$exe" ]; then
  cmake --preset release >/dev/null
  cmake --build build -j"$(nproc)" --target moltavex_program >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mx-huge.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The generator and byte counter, in C so that they outrun the compressor by
# far and need nothing beyond the compiler the project builds with.
cat >"$work/gen.c" <<'EOF'
/* gen SIZE [TEXTFILE...]: writes SIZE deterministic bytes to stdout, a
 * repeating mix of segments chosen by a xorshift generator: text (from the
 * given files, else synthetic words), pseudo-random bytes, runs of 0xF0
 * (the transform's escape byte, runs of 1..1200 cross the 255 limit of one
 * escape run), runs of zeros, and a low-entropy two-symbol stream.
 * count: copies stdin to stdout and prints the byte count to stderr. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint64_t state = 0x243F6A8885A308D3ull;
static uint64_t next(void) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

static unsigned char out[1 << 16];
static size_t out_len;
static unsigned long long remaining;

static void put(unsigned char c) {
  out[out_len++] = c;
  if (out_len == sizeof out) {
    if (fwrite(out, 1, out_len, stdout) != out_len) exit(1);
    out_len = 0;
  }
  --remaining;
}

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "count") == 0) {
    unsigned long long total = 0;
    size_t n;
    while ((n = fread(out, 1, sizeof out, stdin)) > 0) {
      if (fwrite(out, 1, n, stdout) != n) return 1;
      total += n;
    }
    fprintf(stderr, "%llu\n", total);
    return ferror(stdin) ? 1 : 0;
  }
  if (argc < 2) return 2;
  remaining = strtoull(argv[1], NULL, 10);
  unsigned char* text = NULL;
  size_t text_len = 0;
  for (int i = 2; i < argc; ++i) {
    FILE* f = fopen(argv[i], "rb");
    if (!f) continue;
    int c;
    while ((c = fgetc(f)) != EOF) {
      if (text_len % 65536 == 0) text = realloc(text, text_len + 65536);
      text[text_len++] = (unsigned char)c;
    }
    fclose(f);
  }
  if (text_len == 0) {
    static const char* words[] = {"the ", "stream ", "of ", "data ", "runs ",
                                  "through ", "a ", "model ", "and ", "back.\n"};
    text = malloc(1 << 20);
    while (text_len < (1u << 20) - 16) {
      const char* w = words[next() % 10];
      memcpy(text + text_len, w, strlen(w));
      text_len += strlen(w);
    }
  }
  size_t text_pos = 0;
  while (remaining > 0) {
    uint64_t r = next();
    unsigned long long n;
    switch (r % 8) {
      case 0: case 1: case 2: /* text, continuing where the last text stopped */
        n = 1 + (next() % 65536);
        while (n-- > 0 && remaining > 0) {
          put(text[text_pos]);
          if (++text_pos == text_len) text_pos = 0;
        }
        break;
      case 3: case 4: /* noise */
        n = 1 + (next() % 16384);
        while (n > 0 && remaining > 0) {
          uint64_t v = next();
          for (int k = 0; k < 8 && n > 0 && remaining > 0; ++k, --n) put((unsigned char)(v >> (8 * k)));
        }
        break;
      case 5: /* escape bytes */
        n = 1 + (next() % 1200);
        while (n-- > 0 && remaining > 0) put(0xF0);
        break;
      case 6: /* zeros */
        n = 1 + (next() % 100000);
        while (n-- > 0 && remaining > 0) put(0);
        break;
      default: /* skewed two-symbol data */
        n = 1 + (next() % 32768);
        while (n-- > 0 && remaining > 0) put((next() & 7) == 0 ? 'b' : 'a');
        break;
    }
  }
  if (out_len > 0 && fwrite(out, 1, out_len, stdout) != out_len) return 1;
  return fflush(stdout) == 0 ? 0 : 1;
}
EOF
${CC:-cc} -O2 -o "$work/gen" "$work/gen.c"

texts=()
for name in alice29.txt lcet10.txt plrabn12.txt html urls.10K; do
  [ -f "$corpus/$name" ] && texts+=("$corpus/$name")
done
gen() { "$work/gen" "$size" ${texts[@]+"${texts[@]}"}; }

now() { date +%s.%N; }
mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }

echo "size: $size bytes ($(mib "$size")); program: $exe; text from ${#texts[@]} corpus file(s)"
t0=$(now)
expected=$(gen | sha256sum | cut -d' ' -f1)
echo "generator output sha256 $expected ($(awk -v a="$t0" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'))"

failed=0
for config in "${configs[@]}"; do
  if [ "$config" = a ]; then
    command=(a)
    echo
    echo "automatic choice"
  else
    command=("c${config%%:*}" "${config##*:}")
    echo
    echo "model ${config%%:*}, order ${config##*:}"
  fi
  t0=$(now)
  set +e
  actual=$(gen | "$exe" "${command[@]}" : : 2>"$work/c.err" |
           "$work/gen" count 2>"$work/count" |
           "$exe" d : : 2>"$work/d.err" | sha256sum | cut -d' ' -f1
           exit_codes="${PIPESTATUS[*]}"; echo "$exit_codes" >"$work/codes")
  set -e
  t1=$(now)
  codes=$(cat "$work/codes")
  seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }')
  compressed=$(cat "$work/count" 2>/dev/null || echo 0)
  rate=$(awk -v s="$size" -v t="$seconds" 'BEGIN { r = 0; if (t > 0) r = s / 1048576 / t; printf "%.1f", r }')
  echo "  exit statuses (generator, compress, count, decompress, sha256sum, cut): $codes"
  echo "  compressed to $compressed bytes ($(mib "$compressed")), ratio $(awk -v c="$compressed" -v s="$size" 'BEGIN { r = 0; if (s > 0) r = c / s; printf "%.4f", r }')"
  echo "  time ${seconds} s for compress | decompress together, ${rate} MiB/s"
  if [ "$codes" = "0 0 0 0 0 0" ] && [ "$actual" = "$expected" ]; then
    echo "  PASS sha256 $actual"
  else
    echo "  FAIL sha256 $actual, expected $expected"
    echo "  compress stderr:"; sed 's/^/    /' "$work/c.err" | tr -d '\r'
    echo "  decompress stderr:"; sed 's/^/    /' "$work/d.err" | tr -d '\r'
    failed=1
  fi
done
exit "$failed"
