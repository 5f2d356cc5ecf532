// Escape run-length transform.
//
// Before coding, the data passes through a byte-level transform whose
// output ends with an in-band end marker, so that the compressed stream
// needs no length field. 0xF0 is the escape byte. Read from the front, the
// transformed stream is a sequence of units:
//
//   literal       x            (x != 0xF0)    the byte x
//   lone escape   F0 x         (x != 0xF0)    the bytes F0 x
//   escape run    F0 F0 n      (n = 01..FF)   n bytes F0
//   end marker    F0 F0 00                    end of the data
//
// Every run of two or more 0xF0 becomes escape runs (at most 255 each), so
// the end marker cannot arise from the data. Other byte values pass through
// unchanged, runs of them included. Note that a count byte may itself be
// F0 (a run of 240), so F0 F0 00 can appear before the end marker across
// unit boundaries: only reading unit by unit finds the end.
//
// The RunPacker takes data bytes, pushed in pieces of any size or pulled
// from a ByteReader, and hands out transformed bytes; the first 0xF0 of a
// run goes out at once, the rest is kept as a count until the run closes. The RunUnpacker takes
// transformed bytes one at a time and writes data bytes to a ByteWriter, setting `end` on the byte
// that completes the end marker. Neither reads ahead, and both use constant memory whatever the run
// lengths.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/streams.h"

namespace mx {

inline constexpr int escape_byte = 0xF0;

struct RunPacker {
  ByteReader* stream = nullptr;
  std::int32_t current = 0;    // last byte read, then last transformed byte handed out
  std::int32_t previous = -1;  // 0xF0 inside a run, else the last literal (-1 after a run)
  std::int32_t end = 0;        // the input has ended
  std::int32_t run = 0;        // 0xF0 bytes in the open run
  std::uint8_t pending[258] = {};
  std::int32_t pending_count = 0;
  std::int32_t emit_index = 0;
};

struct RunUnpacker {
  ByteWriter* stream = nullptr;
  std::int32_t current = 0;    // last transformed byte taken
  std::int32_t previous = -1;  // 0xF0 while an escape is open
  std::int32_t end = 0;        // the end marker has been taken
  std::int32_t run = 0;        // -1 after F0 F0: a count or the end marker follows
  std::uint8_t pending[258] = {};
  std::int32_t pending_count = 0;
  std::int32_t emit_index = 0;
};

inline void packer_create(RunPacker& packer, ByteReader& reader) {
  packer = RunPacker{};
  packer.stream = &reader;
}

inline void unpacker_create(RunUnpacker& unpacker, ByteWriter& writer) {
  unpacker = RunUnpacker{};
  unpacker.stream = &writer;
}

// The transform's push side: takes input bytes from in[0, size) and puts
// transformed bytes into out[0, max); `consumed` receives the input bytes
// taken. It stops when `out` is full or the input is used up; a run still
// open at the end of `in` is kept, as a count, for the next call.
std::size_t packer_push(RunPacker& packer, const std::uint8_t* in, std::size_t size,
                        std::size_t& consumed, std::uint8_t* out, std::size_t max);

// After the last input byte: puts the close of an open run and the end
// marker into out[0, max) and returns how many bytes it put; call again
// while packer.end == 0 or bytes are pending (when `out` was too small).
std::size_t packer_finish(RunPacker& packer, std::uint8_t* out, std::size_t max);

// The pull side, over the packer's reader. Fills out[0, max) with the next
// transformed bytes and returns how many it wrote: max, or fewer once the
// stream (end marker included) is complete.
std::size_t packer_read(RunPacker& packer, std::uint8_t* out, std::size_t max);

// The next transformed byte (0..255), or -1 once the whole stream, end
// marker included, has been handed out; -1 again on every later call.
inline int packer_get(RunPacker& packer) {
  // Most bytes are literals outside any run, and pass straight through
  // from the reader's buffer; escapes, runs, the end and refills go the
  // long way.
  if (packer.pending_count == 0 && packer.run < 2 && packer.end == 0) {
    const auto window = reader_window(*packer.stream);
    if (window.size != 0 && window.data[0] != escape_byte) {
      const int c = window.data[0];
      reader_consume(*packer.stream, 1);
      packer.current = c;
      packer.previous = c;
      packer.run = 0;
      return c;
    }
  }
  std::uint8_t byte;
  return packer_read(packer, &byte, 1) == 1 ? byte : -1;
}

void unpacker_escape(RunUnpacker& unpacker, int byte);

// Takes one transformed byte and writes the data bytes it completes.
inline void unpacker_put(RunUnpacker& unpacker, int byte) {
  unpacker.current = byte;
  if (unpacker.previous != escape_byte && byte != escape_byte) {
    writer_put(*unpacker.stream, static_cast<std::uint8_t>(byte));
    unpacker.previous = byte;
    unpacker.run = 0;
    return;
  }
  unpacker_escape(unpacker, byte);
}

}  // namespace mx
