#include "pipeline/run_length.h"

#include <algorithm>
#include <cstring>

namespace mx {

namespace {

// Takes input byte c, or the end of the input (c = -1), into the transform:
// what it completes becomes pending. Called with nothing pending.
void take(RunPacker& p, int c) {
  int n = 0;
  p.emit_index = 0;
  if (c < 0) {
    // End of input: close the open run, if any, then the end marker.
    if (p.run >= 1) {
      p.pending[n++] = escape_byte;
      p.pending[n++] = static_cast<std::uint8_t>(p.run);
    }
    p.pending[n++] = escape_byte;
    p.pending[n++] = escape_byte;
    p.pending[n++] = 0x00;
    p.previous = -1;
    p.end = 1;
    p.run = 0;
  } else if (c == escape_byte) {
    if (p.previous == escape_byte) {
      if (p.run + 1 < 255) {
        ++p.run;  // held back as a count
      } else {
        // A full run of 255: F0 (already out) F0 FF.
        p.pending[n++] = escape_byte;
        p.pending[n++] = 0xFF;
        p.previous = -1;
        p.run = 0;
      }
    } else {
      // First F0 of a run goes out at once.
      p.pending[n++] = escape_byte;
      p.previous = escape_byte;
      p.run = 1;
    }
  } else if (p.run >= 2) {
    // A run of 2..254 closed by c: F0 (already out) F0 n, then c.
    p.pending[n++] = escape_byte;
    p.pending[n++] = static_cast<std::uint8_t>(p.run);
    p.pending[n++] = static_cast<std::uint8_t>(c);
    p.previous = c;
    p.run = 0;
  } else {
    // A literal, or the byte of a lone escape F0 c.
    p.pending[n++] = static_cast<std::uint8_t>(c);
    p.previous = c;
    p.run = 0;
  }
  p.pending_count = n;
}

std::size_t emit_pending(RunPacker& p, std::uint8_t* out, std::size_t max) {
  const std::size_t n = std::min(static_cast<std::size_t>(p.pending_count), max);
  if (n == 0) return 0;
  std::memcpy(out, p.pending + p.emit_index, n);
  p.pending_count -= static_cast<std::int32_t>(n);
  p.emit_index += static_cast<std::int32_t>(n);
  p.current = out[n - 1];
  return n;
}

}  // namespace

std::size_t packer_push(RunPacker& p, const std::uint8_t* in, std::size_t size,
                        std::size_t& consumed, std::uint8_t* out, std::size_t max) {
  std::size_t n = 0;
  std::size_t i = 0;
  for (;;) {
    n += emit_pending(p, out + n, max - n);
    if (n == max || p.end != 0 || i == size) break;
    if (p.run < 2) {
      // Outside a run every byte up to the next escape is a literal.
      const std::size_t available = std::min(size - i, max - n);
      const void* const escape = std::memchr(in + i, escape_byte, available);
      const std::size_t literals =
          escape != nullptr
              ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(escape) - (in + i))
              : available;
      if (literals != 0) {
        std::memcpy(out + n, in + i, literals);
        i += literals;
        n += literals;
        p.current = out[n - 1];
        p.previous = p.current;
        p.run = 0;
        continue;
      }
    }
    take(p, in[i++]);
  }
  consumed = i;
  return n;
}

std::size_t packer_finish(RunPacker& p, std::uint8_t* out, std::size_t max) {
  std::size_t n = emit_pending(p, out, max);
  if (p.pending_count == 0 && p.end == 0) {
    take(p, -1);
    n += emit_pending(p, out + n, max - n);
  }
  return n;
}

std::size_t packer_read(RunPacker& p, std::uint8_t* out, std::size_t max) {
  std::size_t n = 0;
  while (n < max) {
    const auto window = reader_window(*p.stream);
    std::size_t consumed = 0;
    n += packer_push(p, window.data, window.size, consumed, out + n, max - n);
    reader_consume(*p.stream, consumed);
    if (n == max) break;
    if (p.end != 0) {
      if (p.pending_count == 0) break;
      continue;
    }
    // The window is used up: refill it, or end the stream at the end of
    // the input (or at a read error, which the job reports).
    if (reader_peek(*p.stream) < 0) n += packer_finish(p, out + n, max - n);
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
