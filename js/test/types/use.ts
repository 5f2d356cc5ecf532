// Compiled (never run) by scripts/web.sh --test against the installed
// tarball: the types let an app make the calls the README shows.
import {
  compress,
  compressSync,
  decompress,
  heapBytes,
  init,
  inspect,
  MoltavexCompressionStream,
  MoltavexDecompressionStream,
  MoltavexError,
} from 'moltavex';
import { run } from 'moltavex/worker';

export async function uses(file: Blob): Promise<number> {
  await init({ wasm: new URL('./moltavex.wasm', import.meta.url) });
  const packed: Uint8Array = await compress('hello', { level: 5, checksum: false });
  const restored = await decompress(packed, { memoryLimit: 1n << 30n });
  const info = await inspect(compressSync(restored, { model: 5, order: 20 }));
  const roundTrip: ReadableStream<Uint8Array> = file
    .stream()
    .pipeThrough(new MoltavexCompressionStream({ auto: true }))
    .pipeThrough(new MoltavexDecompressionStream({ memoryLimit: Infinity }));
  const made = await new MoltavexCompressionStream().info;
  try {
    await decompress(new Uint8Array([0xbf]));
  } catch (e) {
    if (e instanceof MoltavexError && e.code === 'MEMORY_LIMIT') return e.requiredBytes ?? 0;
  }
  const { result } = await run({ op: 'compress', input: file }, (read, total) => read / total);
  return info.memoryBytes + heapBytes() + result.size + (made?.compressedBytes ?? 0) + (roundTrip ? 1 : 0);
}
