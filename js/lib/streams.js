// TransformStreams over the push contexts (mvx_compressor_*,
// mvx_decompressor_*), shaped like the platform's CompressionStream.
//
// A context, its options and its two piece buffers live in wasm memory
// from the stream's start until it closes, errors or is cancelled; a
// FinalizationRegistry frees what a stream dropped unfinished holds. Output
// is enqueued as it comes; a failure errors the readable only once the
// output before it has been read, so a reader gets every byte that came
// before the damage and then the error.
import { OK, PIECE } from './core.js';

const leaked = new FinalizationRegistry((release) => release());

// Holds a context's memory and frees it exactly once.
class Context {
  constructor(core, kind) {
    this.core = core;
    this.kind = kind; // 'compressor' or 'decompressor'
    this.blocks = [];
    this.token = {};
    // Bytes taken and given, and the last 32 taken (a record, when the
    // stream ends with one).
    this.consumed = 0;
    this.written = 0;
    this.tail = new Uint8Array(0);
    this.input = core.malloc(PIECE);
    this.blocks.push(this.input);
    try {
      this.output = core.malloc(PIECE);
    } catch (e) {
      core.free(this.input);
      throw e;
    }
    this.blocks.push(this.output);
    const blocks = this.blocks;
    const self = { handle: 0 };
    this.cell = self;
    leaked.register(this, () => Context.free(core, kind, self, blocks), this.token);
  }

  static free(core, kind, cell, blocks) {
    if (cell.handle) core.x[`mvx_${kind}_free`](cell.handle);
    cell.handle = 0;
    for (const b of blocks.splice(0)) core.free(b);
  }

  took(bytes) {
    if (bytes.length === 0) return;
    if (this.consumed === 0) this.first = bytes[0];
    this.consumed += bytes.length;
    const joined = new Uint8Array(Math.min(32, this.tail.length + bytes.length));
    const fromNew = Math.min(bytes.length, joined.length);
    joined.set(this.tail.subarray(this.tail.length - (joined.length - fromNew)), 0);
    joined.set(bytes.subarray(bytes.length - fromNew), joined.length - fromNew);
    this.tail = joined;
  }

  release() {
    leaked.unregister(this.token);
    Context.free(this.core, this.kind, this.cell, this.blocks);
  }
}

// Waits until the reader has taken what was enqueued (or has gone).
async function drained(controller) {
  while (controller.desiredSize !== null && controller.desiredSize < 0) {
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
}

// The transformer shared by both directions. `getCore(first)` gives the
// instance to run on, once the stream's first byte is known (undefined
// for an empty input); `open(core)` makes the context; `step(ctx, src,
// size)` and `finish(ctx)` run one call each and return {status, consumed,
// written, done}.
//
// A decompressor that has taken all of a piece but up to 3 bytes after the
// body that begin the record's magic waits to see what follows them: they
// are given again with the next piece, or the next chunk; at the end they
// are not the stream's.
function transformer(getCore, open, step, finish, onEnd) {
  let ctx = null;
  let ended = false;
  let held = new Uint8Array(0);
  const opened = async (first) => {
    if (!ctx) ctx = open(await getCore(first));
    return ctx;
  };
  const fail = async (controller, status) => {
    const error = ctx.core.fail(status, ctx.setting);
    ctx.release();
    await drained(controller);
    throw error;
  };
  const emit = (controller, written) => {
    if (written > 0) controller.enqueue(ctx.core.take(ctx.output, written));
    ctx.written += written;
  };
  return {
    async transform(chunk, controller) {
      let bytes = toBytes(chunk);
      if (bytes.length === 0) return;
      if (held.length > 0) {
        const joined = new Uint8Array(held.length + bytes.length);
        joined.set(held);
        joined.set(bytes, held.length);
        bytes = joined;
        held = new Uint8Array(0);
      }
      const { core } = await opened(bytes[0]);
      for (let at = 0; at < bytes.length && !ended; ) {
        const piece = Math.min(PIECE, bytes.length - at);
        core.heap().set(bytes.subarray(at, at + piece), ctx.input);
        let taken = 0;
        let waiting = false;
        for (;;) {
          const r = core.guard(() => step(ctx, ctx.input + taken, piece - taken));
          emit(controller, r.written);
          if (r.status !== OK) return fail(controller, r.status);
          ctx.took(bytes.subarray(at + taken, at + taken + r.consumed));
          taken += r.consumed;
          if (r.done) {
            ended = true; // the rest is not the stream's
            break;
          }
          if (taken === piece && r.written < PIECE) break;
          if (r.consumed === 0 && r.written === 0) {
            waiting = true; // bytes that may begin a record: see what follows
            break;
          }
        }
        if (waiting && at + piece >= bytes.length) {
          held = bytes.slice(at + taken);
          break;
        }
        at += waiting ? taken : piece;
      }
    },
    async flush(controller) {
      await opened(undefined);
      for (;;) {
        const r = ctx.core.guard(() => finish(ctx));
        emit(controller, r.written);
        if (r.status !== OK) return fail(controller, r.status);
        if (r.done) break;
      }
      if (onEnd) onEnd(ctx);
      ctx.release();
    },
    cancel() {
      if (ctx) ctx.release();
    },
  };
}

export function toBytes(data) {
  if (data instanceof Uint8Array) return data;
  if (typeof data === 'string') return new TextEncoder().encode(data);
  if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  throw new TypeError('moltavex: data must be a Uint8Array, an ArrayBuffer, a view or a string');
}

// Reads the four out-values of a push call from the scratch block.
function results(core, status, doneAt) {
  const s = core.scratch;
  return {
    status,
    consumed: core.u32(s),
    written: core.u32(s + 4),
    done: doneAt === undefined ? false : core.heap()[s + doneAt] !== 0,
  };
}

// A context of `kind` made by create(options) into core.scratch; a failure
// frees what was made and throws the library's error.
function openContext(core, kind, setting, optionsOf, create) {
  const ctx = new Context(core, kind);
  ctx.setting = setting;
  const options = core.options(optionsOf());
  try {
    const status = create(options);
    if (status !== OK) {
      const error = core.fail(status, setting);
      ctx.release();
      throw error;
    }
    ctx.cell.handle = core.u32(core.scratch);
  } finally {
    core.free(options);
  }
  return ctx;
}

export function compressionTransformer(getCore, settingOf, optionsOf, onEnd) {
  return transformer(
    getCore,
    (core) => {
      const setting = settingOf(core);
      return openContext(core, 'compressor', setting, optionsOf, (options) =>
        core.x.mvx_compressor_create(core.scratch, setting.model, setting.order, options));
    },
    (ctx, src, size) => {
      const { core } = ctx;
      const s = core.scratch;
      const status = core.x.mvx_compressor_compress(ctx.cell.handle, src, size, s, ctx.output, PIECE, s + 4);
      return results(core, status);
    },
    (ctx) => {
      const { core } = ctx;
      const s = core.scratch;
      const status = core.x.mvx_compressor_finish(ctx.cell.handle, ctx.output, PIECE, s + 4, s + 8);
      return results(core, status, 8);
    },
    onEnd,
  );
}

export function decompressionTransformer(getCore, optionsOf, onEnd) {
  let header = -1;
  return transformer(
    getCore,
    (core) => {
      return openContext(core, 'decompressor', null, optionsOf, (options) =>
        core.x.mvx_decompressor_create(core.scratch, options));
    },
    (ctx, src, size) => {
      const { core } = ctx;
      if (header < 0 && size > 0) {
        header = core.heap()[src];
        ctx.setting = core.header(header);
      }
      const s = core.scratch;
      const status = core.x.mvx_decompressor_decompress(
        ctx.cell.handle, src, size, s, ctx.output, PIECE, s + 4, s + 8);
      return results(core, status, 8);
    },
    (ctx) => {
      const { core } = ctx;
      const s = core.scratch;
      const status = core.x.mvx_decompressor_finish(ctx.cell.handle, ctx.output, PIECE, s + 4, s + 8);
      return results(core, status, 8);
    },
    onEnd,
  );
}
