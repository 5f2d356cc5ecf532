// WebAssembly implementation of zero-filled memory (platform.h's
// alloc_zeroed, free_memory and the large-page calls); platform_posix.cpp
// has the rest.
//
// Wasm has no pages to map lazily: emscripten's calloc and mmap write every
// byte of a block, so a table costs its whole size in time and resident
// memory, however little of it the data touches. Memory above the heap's
// break, fresh from memory.grow, is zero and costs nothing until touched,
// and the break never falls (dlmalloc here is built with
// MORECORE_CANNOT_TRIM). So blocks of 1 MiB and more are cut from fresh
// memory above the break, on 64 KiB boundaries. A freed block is kept as a
// free span (merged with free neighbours), and a block taken from it again
// is cleared over the bytes asked for (in V8 even reading a page makes it
// resident, so nothing cheaper tells which pages the last table touched);
// a free span that ends at the break is extended from fresh memory, and
// only its old part is cleared. So a table costs the pages its data
// touches the first time its memory is used; the JavaScript package gives
// large tables an instance of their own for that reason. Smaller blocks
// come from calloc. There are no threads here.
#if defined(__EMSCRIPTEN__)

#if defined(__EMSCRIPTEN_PTHREADS__)
#error "memory_wasm.cpp keeps its free spans without a lock"
#endif

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace mx::platform {

namespace {

constexpr std::uint64_t fresh_from = std::uint64_t{1} << 20;
constexpr std::uintptr_t wasm_page = std::uintptr_t{1} << 16;
// sbrk takes a signed 32-bit step.
constexpr std::uintptr_t largest_step = std::uintptr_t{1} << 30;

struct Span {
  std::uintptr_t begin;
  std::uintptr_t bytes;
};

// Free spans by address, never adjacent (they are merged). Blocks of 1 MiB
// or more are few, so a small table is enough; a span that finds it full
// is dropped (its memory stays unused) rather than failing a free.
constexpr int max_spans = 256;
Span spans[max_spans];
int span_count = 0;

std::uintptr_t round_up(std::uint64_t bytes) {
  return static_cast<std::uintptr_t>((bytes + wasm_page - 1) & ~std::uint64_t{wasm_page - 1});
}

std::uintptr_t current_break() { return reinterpret_cast<std::uintptr_t>(::sbrk(0)); }

// Moves the break up by `bytes`; false (having moved it as far as it
// could, the part already had added as a free span) when memory runs out.
bool raise_break(std::uintptr_t bytes) {
  const std::uintptr_t begin = current_break();
  std::uintptr_t raised = 0;
  while (raised < bytes) {
    const std::uintptr_t step = bytes - raised < largest_step ? bytes - raised : largest_step;
    if (::sbrk(static_cast<intptr_t>(step)) == reinterpret_cast<void*>(-1)) {
      if (raised > 0) free_memory(reinterpret_cast<void*>(begin), raised);
      return false;
    }
    raised += step;
  }
  return true;
}

void remove_span(int i) {
  std::memmove(&spans[i], &spans[i + 1],
               sizeof(Span) * static_cast<std::size_t>(span_count - i - 1));
  --span_count;
}

void* take_fresh(std::uint64_t bytes, std::uintptr_t size) {
  // A free span at the break grows into fresh memory: only its old part
  // is dirty.
  if (span_count > 0) {
    Span& last = spans[span_count - 1];
    if (last.begin + last.bytes == current_break() && last.bytes < size) {
      const Span old = last;
      if (!raise_break(size - old.bytes)) return nullptr;
      remove_span(span_count - 1);
      std::memset(reinterpret_cast<void*>(old.begin), 0, old.bytes);
      return reinterpret_cast<void*>(old.begin);
    }
  }
  const std::uintptr_t pad = (wasm_page - current_break() % wasm_page) % wasm_page;
  if (pad > 0 && !raise_break(pad)) return nullptr;
  const std::uintptr_t begin = current_break();
  if (!raise_break(size)) return nullptr;
  (void)bytes;
  return reinterpret_cast<void*>(begin);
}

}  // namespace

void* alloc_zeroed(std::uint64_t bytes) {
  if (bytes > SIZE_MAX) return nullptr;
  if (bytes < fresh_from) return std::calloc(1, bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
  if (bytes > UINTPTR_MAX - wasm_page) return nullptr;
  const std::uintptr_t size = round_up(bytes);
  // The smallest free span that holds the block.
  int best = -1;
  for (int i = 0; i < span_count; ++i) {
    if (spans[i].bytes >= size && (best < 0 || spans[i].bytes < spans[best].bytes)) best = i;
  }
  if (best < 0) return take_fresh(bytes, size);
  const std::uintptr_t begin = spans[best].begin;
  if (spans[best].bytes == size) {
    remove_span(best);
  } else {
    spans[best].begin += size;
    spans[best].bytes -= size;
  }
  std::memset(reinterpret_cast<void*>(begin), 0, static_cast<std::size_t>(bytes));
  return reinterpret_cast<void*>(begin);
}

// Wasm has one page size.
std::uint64_t large_page_bytes() { return 0; }
bool advise_huge_pages(void*, std::uint64_t, bool) { return true; }
void advise_small_pages(void*, std::uint64_t) {}
std::uint64_t resident_bytes(const void*, std::uint64_t) { return UINT64_MAX; }

void free_memory(void* block, std::uint64_t bytes) {
  if (block == nullptr) return;
  if (bytes < fresh_from) {
    std::free(block);
    return;
  }
  Span span{reinterpret_cast<std::uintptr_t>(block), round_up(bytes)};
  int at = 0;
  while (at < span_count && spans[at].begin < span.begin) ++at;
  if (at > 0 && spans[at - 1].begin + spans[at - 1].bytes == span.begin) {
    span.begin = spans[at - 1].begin;
    span.bytes += spans[at - 1].bytes;
    remove_span(--at);
  }
  if (at < span_count && span.begin + span.bytes == spans[at].begin) {
    span.bytes += spans[at].bytes;
    remove_span(at);
  }
  if (span_count == max_spans) return;
  std::memmove(&spans[at + 1], &spans[at],
               sizeof(Span) * static_cast<std::size_t>(span_count - at));
  spans[at] = span;
  ++span_count;
}

}  // namespace mx::platform

#endif
