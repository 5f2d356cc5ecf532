#include "pipeline/run_length.h"

#include <algorithm>
#include <cstring>

namespace mx {

// Reads input bytes until the transform has something to hand out, then
// hands out the first pending byte.
int packer_fill(RunPacker& p) {
  while (p.pending_count == 0) {
    p.emit_index = 0;
    const int c = reader_get(*p.stream);
    p.current = c;
    if (c < 0) {
      // End of input: close the open run, if any, then the end marker.
      int n = 0;
      if (p.run >= 1) {
        p.pending[n++] = escape_byte;
        p.pending[n++] = static_cast<std::uint8_t>(p.run);
      }
      p.pending[n++] = escape_byte;
      p.pending[n++] = escape_byte;
      p.pending[n++] = 0x00;
      p.pending_count = n;
      p.previous = -1;
      p.end = 1;
      p.run = 0;
    } else if (c == escape_byte) {
      if (p.previous == escape_byte) {
        if (p.run + 1 < 255) {
          ++p.run;  // held back as a count
        } else {
          // A full run of 255: F0 (already out) F0 FF.
          p.pending[0] = escape_byte;
          p.pending[1] = 0xFF;
          p.pending_count = 2;
          p.previous = -1;
          p.run = 0;
        }
      } else {
        // First F0 of a run goes out at once.
        p.pending[0] = escape_byte;
        p.pending_count = 1;
        p.previous = escape_byte;
        p.run = 1;
      }
    } else if (p.run >= 2) {
      // A run of 2..254 closed by c: F0 (already out) F0 n, then c.
      p.pending[0] = escape_byte;
      p.pending[1] = static_cast<std::uint8_t>(p.run);
      p.pending[2] = static_cast<std::uint8_t>(c);
      p.pending_count = 3;
      p.previous = c;
      p.run = 0;
    } else {
      // A literal, or the byte of a lone escape F0 c.
      p.pending[0] = static_cast<std::uint8_t>(c);
      p.pending_count = 1;
      p.previous = c;
      p.run = 0;
    }
  }
  const int byte = p.pending[p.emit_index];
  --p.pending_count;
  ++p.emit_index;
  p.current = byte;
  return byte;
}

std::size_t packer_read(RunPacker& p, std::uint8_t* out, std::size_t max) {
  std::size_t n = 0;
  while (n < max) {
    const auto window = reader_window(*p.stream);
    if (p.pending_count == 0 && p.run < 2 && p.end == 0 && window.size != 0) {
      // Outside a run every byte up to the next escape is a literal.
      const std::uint8_t* const from = window.data;
      const std::size_t available = std::min(window.size, max - n);
      const void* const escape = std::memchr(from, escape_byte, available);
      const std::size_t literals =
          escape != nullptr
              ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(escape) - from)
              : available;
      if (literals != 0) {
        std::memcpy(out + n, from, literals);
        reader_consume(*p.stream, literals);
        n += literals;
        p.current = from[literals - 1];
        p.previous = p.current;
        p.run = 0;
        continue;
      }
    }
    const int c = packer_get(p);
    if (c < 0) break;
    out[n++] = static_cast<std::uint8_t>(c);
  }
  return n;
}

// The unpacker's states other than a plain literal: an escape open
// (previous F0, run 0) or a count expected (previous F0, run -1).
void unpacker_escape(RunUnpacker& u, int byte) {
  int n = 0;
  if (u.previous != escape_byte) {
    // byte is F0: open an escape.
    u.previous = escape_byte;
    u.run = 0;
  } else if (u.run == 0) {
    if (byte != escape_byte) {
      u.pending[n++] = escape_byte;  // lone escape F0 x
      u.pending[n++] = static_cast<std::uint8_t>(byte);
      u.previous = byte;
      u.run = 0;
    } else {
      u.run = -1;  // F0 F0: a count or the end marker follows
    }
  } else if (byte == 0x00) {
    u.end = 1;
    u.previous = -1;
    u.run = 0;
  } else {
    for (u.current = byte; u.current > 0; --u.current) u.pending[n++] = escape_byte;
    u.previous = -1;
    u.run = 0;
  }
  u.pending_count = n;
  for (u.emit_index = 0; u.pending_count > 0; --u.pending_count, ++u.emit_index) {
    writer_put(*u.stream, u.pending[u.emit_index]);
  }
}

}  // namespace mx
