// moltavex: the Moltavex compressor for JavaScript, over the library's
// WebAssembly build. Streams are byte for byte the native program's.
//
//   await compress(data, { level })  /  decompress(stream)
//   compressSync / decompressSync    (after `await init()`)
//   inspect(stream)                  the setting, sizes and memory of a stream
//   new MoltavexCompressionStream()  / MoltavexDecompressionStream()
//
// One module instance serves the calls and streams whose tables are small.
// Wasm memory never shrinks, so a job with large tables (or the automatic
// choice, which tries many) runs on an instance of its own, dropped when
// it ends: its memory is fresh, so it costs only the pages the data
// touches, and it goes back to the system with the instance. Node reads the
// .wasm beside this file; browsers fetch it relative to it; init({ wasm })
// gives another source (a URL, a Response, bytes or a compiled module).
import { Core, NO_MEMORY_LIMIT } from './lib/core.js';
import { MoltavexError } from './lib/error.js';
import {
  LEVEL_DEFAULT,
  LEVEL_MAX,
  LEVEL_MIN,
  MAX_ORDER,
  MODEL_COUNT,
  STATUSES,
  VERSION,
} from './lib/header.js';
import { compressionTransformer, decompressionTransformer, toBytes } from './lib/streams.js';

export { MoltavexError, VERSION };

let ready = null; // Promise<Core>
let core = null;

async function load(wasm) {
  if (wasm instanceof WebAssembly.Module) return wasm;
  if (wasm instanceof ArrayBuffer || ArrayBuffer.isView(wasm)) return WebAssembly.compile(wasm);
  if (wasm === undefined) wasm = new URL('./moltavex.wasm', import.meta.url);
  if (typeof wasm === 'string') wasm = new URL(wasm, import.meta.url);
  if (wasm instanceof URL && wasm.protocol === 'file:') {
    // Node: read the file (the name is kept out of bundlers' sight).
    const fsName = 'node:fs/promises';
    const fs = await import(/* @vite-ignore */ fsName);
    return WebAssembly.compile(await fs.readFile(wasm));
  }
  const response = await (wasm instanceof URL ? fetch(wasm) : wasm);
  if (!response.ok) throw new Error(`moltavex: cannot load the module (${response.status})`);
  if (WebAssembly.compileStreaming && /wasm/.test(response.headers.get('content-type') ?? '')) {
    return WebAssembly.compileStreaming(response);
  }
  return WebAssembly.compile(await response.arrayBuffer());
}

let compiled = null;

// Loads the module once; again after a failure left it unusable.
export function init(options = {}) {
  if (ready && !(core && core.broken) && options.wasm === undefined) return ready.then(() => {});
  ready = (async () => {
    if (!compiled || options.wasm !== undefined) compiled = await load(options.wasm);
    core = await Core.create(compiled);
    return core;
  })();
  ready.catch(() => {
    ready = null;
  });
  return ready.then(() => {});
}

// Tables from this size on get an instance of their own.
const OWN_INSTANCE_FROM = 64 * 2 ** 20;

function coreFor(tableBytes) {
  return tableBytes >= OWN_INSTANCE_FROM ? Core.createSync(compiled) : core;
}

// The instance to restore a stream whose first byte is `first` on.
function decompressingCore(c, first) {
  const setting = first === undefined ? null : c.header(first);
  return setting ? coreFor(c.modelMemory(setting.model, setting.order)) : c;
}

function synced() {
  if (!core) throw new Error('moltavex: call `await init()` before the Sync functions');
  return core;
}

async function loaded() {
  await init();
  return core;
}

function limitOf(value, fallback) {
  if (value === undefined || value === null) return fallback;
  if (value === Infinity) return NO_MEMORY_LIMIT;
  if (typeof value === 'bigint') return value;
  if (!Number.isSafeInteger(value) || value < 0) {
    throw new TypeError('moltavex: memoryLimit must be a byte count (or Infinity)');
  }
  return BigInt(value);
}

function integer(value, name, low, high) {
  if (!Number.isInteger(value) || value < low || value > high) {
    throw new RangeError(`moltavex: ${name} must be an integer from ${low} to ${high}`);
  }
  return value;
}

// What to compress with: a setting, or null for the automatic choice.
// `size` is the input's length when known (one-shot calls), so that the
// level's setting can follow it; streams pass undefined.
function settingOf(c, options, size) {
  const given =
    (options.level !== undefined) +
    (options.model !== undefined || options.order !== undefined) +
    Boolean(options.auto);
  if (given > 1) throw new TypeError('moltavex: give one of level, model with order, or auto');
  if (options.auto) return null;
  if (options.model !== undefined || options.order !== undefined) {
    return {
      model: integer(options.model, 'model', 0, MODEL_COUNT - 1),
      order: integer(options.order, 'order', 0, MAX_ORDER),
    };
  }
  const level = integer(options.level ?? LEVEL_DEFAULT, 'level', LEVEL_MIN, LEVEL_MAX);
  // A whole input: the library chooses as the level does for it, as the
  // program does for a file; a stream: the level's row within the limit,
  // as the program does for a pipe.
  if (size !== undefined) return { level };
  return c.levelSetting(level, limitOf(options.memoryLimit, null));
}

function compressOptions(options, auto) {
  return {
    // A given setting has no limit of its own (the wasm cap applies); the
    // automatic choice keeps the library's default.
    limit: limitOf(options.memoryLimit, auto ? null : NO_MEMORY_LIMIT),
    checksum: options.checksum ?? true,
  };
}

export function compressSync(data, options = {}) {
  const c = synced();
  const bytes = toBytes(data);
  const setting = settingOf(c, options, bytes.length);
  const on = coreFor(
    setting && setting.level === undefined ? c.modelMemory(setting.model, setting.order) : Infinity,
  );
  return on.compress(bytes, setting, compressOptions(options, setting === null || setting.level !== undefined)).stream;
}

export function decompressSync(data, options = {}) {
  const bytes = toBytes(data);
  const on = decompressingCore(synced(), bytes[0]);
  return on.decompress(bytes, { limit: limitOf(options.memoryLimit, null) });
}

export async function compress(data, options = {}) {
  await loaded();
  return compressSync(data, options);
}

export async function decompress(data, options = {}) {
  await loaded();
  return decompressSync(data, options);
}

// Describes a stream: its setting, the table memory its decompression
// needs, its lengths, and whether it carries a record. The lengths come
// from the record when the data ends with one (nothing decoded, `verified`
// false); otherwise the stream is decoded (within memoryLimit) and, when
// it has a record, verified.
export async function inspect(data, options = {}) {
  const c = await loaded();
  const bytes = toBytes(data);
  const setting = bytes.length > 0 ? c.header(bytes[0]) : null;
  if (!setting) throw c.error(STATUSES.indexOf('INVALID_STREAM'));
  const base = {
    model: setting.model,
    order: setting.order,
    modelName: c.modelName(setting.model),
    memoryBytes: c.modelMemory(setting.model, setting.order),
  };
  const described = c.describe(bytes[0], bytes.subarray(Math.max(0, bytes.length - 32)), bytes.length);
  if (described) return { ...base, ...described, checksum: true, verified: false };
  const stream = new MoltavexDecompressionStream(options);
  const writer = stream.writable.getWriter();
  writer.write(bytes).catch(() => {});
  writer.close().catch(() => {});
  for await (const _ of stream.readable);
  const info = await stream.info;
  return { ...base, ...info, verified: info.checksum };
}

function streamPair(t, infoOf) {
  let resolveInfo;
  const info = new Promise((resolve) => {
    resolveInfo = resolve;
  });
  const transform = new TransformStream(t(resolveInfo));
  return { readable: transform.readable, writable: transform.writable, info };
}

// Compresses what is written to `writable` into `readable`. Options as
// compress(); `auto: true`, or `whole: true` with a level, holds the whole
// input and chooses at its end as compress() does for a whole buffer;
// otherwise a level is its row, as for a pipe.
// `info` resolves at the end with the stream's setting and lengths (null
// when the stream failed).
export class MoltavexCompressionStream {
  constructor(options = {}) {
    const pair =
      options.auto || options.whole
      ? wholePair(options)
      : streamPair((done) => {
          const t = compressionTransformer(
            async () => {
              const c = await loaded();
              const setting = settingOf(c, options, undefined);
              return coreFor(c.modelMemory(setting.model, setting.order));
            },
            (c) => settingOf(c, options, undefined),
            () => compressOptions(options, false),
            (ctx) =>
              done({
                model: ctx.setting.model,
                order: ctx.setting.order,
                modelName: ctx.core.modelName(ctx.setting.model),
                compressedBytes: ctx.written,
                originalBytes: ctx.consumed,
                checksum: options.checksum ?? true,
              }),
          );
          return withFailure(t, done);
        });
    this.readable = pair.readable;
    this.writable = pair.writable;
    this.info = pair.info;
  }
}

// Restores what is written to `writable` into `readable`; bytes after the
// stream are ignored. Act on the data only once `readable` has closed: a
// damaged stream errors it (CORRUPT) after the data before the damage.
export class MoltavexDecompressionStream {
  constructor(options = {}) {
    const pair = streamPair((done) => {
      const t = decompressionTransformer(
        async (first) => decompressingCore(await loaded(), first),
        () => ({ limit: limitOf(options.memoryLimit, null) }),
        (ctx) => {
          const record = ctx.core.describe(ctx.first, ctx.tail, ctx.consumed);
          done({
            model: ctx.setting.model,
            order: ctx.setting.order,
            modelName: ctx.core.modelName(ctx.setting.model),
            compressedBytes: ctx.consumed,
            originalBytes: ctx.written,
            checksum: record !== null,
          });
        },
      );
      return withFailure(t, done);
    });
    this.readable = pair.readable;
    this.writable = pair.writable;
    this.info = pair.info;
  }
}

// Resolves `info` with null when the stream fails or is cancelled.
function withFailure(t, done) {
  const wrap = (f) =>
    async (...args) => {
      try {
        return await f(...args);
      } catch (e) {
        done(null);
        throw e;
      }
    };
  return {
    transform: wrap(t.transform),
    flush: wrap(t.flush),
    cancel: (...args) => {
      done(null);
      return t.cancel(...args);
    },
  };
}

// The automatic choice needs the whole input: it is gathered, then
// compressed in one call.
// A compression stream that holds its whole input and compresses it at its
// end, as a whole buffer (a file of that length) is compressed: the
// automatic choice, and a level with `whole: true`.
function wholePair(options) {
  const parts = [];
  return streamPair((done) => ({
    async start() {
      await loaded();
    },
    transform(chunk) {
      parts.push(toBytes(chunk).slice());
    },
    flush(controller) {
      try {
        const total = parts.reduce((n, p) => n + p.length, 0);
        const all = new Uint8Array(total);
        let at = 0;
        for (const p of parts.splice(0)) {
          all.set(p, at);
          at += p.length;
        }
        const on = coreFor(Infinity);
        const chosen = settingOf(on, options, total);
        const choosing = chosen === null || chosen.level !== undefined;
        const { stream, setting } = on.compress(all, chosen, compressOptions(options, choosing));
        controller.enqueue(stream);
        done({
          ...setting,
          modelName: on.modelName(setting.model),
          compressedBytes: stream.length,
          originalBytes: total,
          checksum: options.checksum ?? true,
        });
      } catch (e) {
        done(null);
        throw e;
      }
    },
    cancel() {
      parts.length = 0;
      done(null);
    },
  }));
}

// The bytes of the module's memory. WebAssembly memory only grows: this is
// what the largest job so far has needed, held until the page or process
// ends.
export function heapBytes() {
  return core ? core.memory.buffer.byteLength : 0;
}
