// moltavex/worker: compression and restoring off the main thread.
//
// Imported by a module Worker, it answers messages
//   { id, op: 'compress' | 'decompress', input: Blob | BufferSource, options }
// with { id, progress: bytesRead, total } now and then, and at the end
// { id, result: Blob, info } or { id, error: { code, status, message,
// requiredBytes } }. The input is read in pieces and the result is a Blob
// of pieces, so a file is never held whole twice (the automatic choice
// needs its whole input). `run` is the same work for a caller's own
// worker.
import { MoltavexCompressionStream, MoltavexDecompressionStream, init } from './index.js';

const PROGRESS_EVERY = 1 << 20;
// Up to this size a file to compress at a level is held whole, so that the
// level chooses for its length and data as the program does for a file;
// a larger one streams, and its level is its row, as for a pipe.
const WHOLE_UP_TO = 256 << 20;
const FOLD_EVERY = 16 << 20;

export async function run({ op, input, options = {} }, onProgress = () => {}) {
  await init();
  const blob = input instanceof Blob ? input : new Blob([input]);
  const pair =
    op === 'compress'
      ? new MoltavexCompressionStream({
          ...options,
          whole: options.model === undefined && blob.size <= WHOLE_UP_TO,
        })
      : op === 'decompress'
        ? new MoltavexDecompressionStream(options)
        : null;
  if (!pair) throw new TypeError(`moltavex/worker: unknown op ${op}`);
  let read = 0;
  let told = 0;
  const counting = new TransformStream({
    transform(chunk, controller) {
      read += chunk.byteLength;
      if (read - told >= PROGRESS_EVERY) {
        told = read;
        onProgress(read, blob.size);
      }
      controller.enqueue(chunk);
    },
  });
  // The output's pieces are folded into Blobs as they come, which the
  // browser may keep on disk: the result is a Blob of Blobs, never one
  // array.
  const blobs = [];
  let pieces = [];
  let pending = 0;
  const reading = blob.stream().pipeThrough(counting).pipeTo(pair.writable);
  reading.catch(() => {});
  for await (const piece of pair.readable) {
    pieces.push(piece);
    pending += piece.length;
    if (pending >= FOLD_EVERY) {
      blobs.push(new Blob(pieces));
      pieces = [];
      pending = 0;
    }
  }
  await reading;
  onProgress(blob.size, blob.size);
  return { result: new Blob([...blobs, ...pieces]), info: await pair.info };
}

function describe(error) {
  const { name, code, status, message, requiredBytes } = error;
  return { name, code, status, message, requiredBytes };
}

const inWorker =
  typeof WorkerGlobalScope !== 'undefined' && globalThis instanceof WorkerGlobalScope;
if (inWorker) {
  globalThis.addEventListener('message', async ({ data }) => {
    const { id } = data;
    try {
      const done = await run(data, (progress, total) => postMessage({ id, progress, total }));
      postMessage({ id, ...done });
    } catch (error) {
      postMessage({ id, error: describe(error) });
    }
  });
}
