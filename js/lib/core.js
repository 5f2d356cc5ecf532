// One instance of moltavex.wasm and the calls the package makes on it.
//
// The module is the library's C API alone (bindings/wasm/CMakeLists.txt
// lists its exports); this file is the only one that knows its memory
// layout: the 32-bit pointers, the members of mvx_options, mvx_setting and
// mvx_stream_info, and the status numbers (header.js, generated from the
// header). Every block a call takes from malloc goes back before the call
// returns or throws; contexts are freed by their owners (streams.js).
import { STATUSES as statuses } from './header.js';
import { MoltavexError } from './error.js';

// mvx_options in wasm32: size_t size, then uint64 memory_limit at 8,
// uint64 size_hint at 16, int checksum at 24, int whole_input at 28, int
// durable at 32, int level at 36 (mvx_options_init writes all of it).
const OPTIONS_BYTES = 40;
const OPTIONS_LEVEL = 36;
// mvx_stream_info in wasm32 (set up by mvx_stream_info_init): uint64
// compressed_bytes at 16, uint64 original_bytes at 24.
const NO_MEMORY_LIMIT = 0xffffffffffffffffn;
// Tables beyond this cannot be held in wasm's 4 GiB beside the rest of the
// heap: a setting that needs more fails at once with MEMORY_LIMIT, as one
// beyond the caller's limit does, instead of failing its allocation.
export const WASM_TABLE_CAP = 3n * 2n ** 30n + 512n * 2n ** 20n;
// Piece size of the push contexts' buffers.
export const PIECE = 1 << 16;
const DECODE_PIECE = 1 << 20;

const OK = 0;
const MEMORY_LIMIT = statuses.indexOf('MEMORY_LIMIT');
const OUT_OF_MEMORY = statuses.indexOf('OUT_OF_MEMORY');

// What the module imports: it writes nothing and exits only on a fault.
function imports(core) {
  const nosys = () => 52; // WASI ENOSYS
  return {
    env: { emscripten_notify_memory_growth: () => core.refresh() },
    wasi_snapshot_preview1: {
      fd_write: nosys,
      fd_read: nosys,
      proc_exit: (code) => {
        throw new WebAssembly.RuntimeError(`moltavex.wasm exited with ${code}`);
      },
    },
  };
}

export class Core {
  static async create(module) {
    const core = new Core();
    const instance = await WebAssembly.instantiate(module, imports(core));
    core.attach(instance);
    return core;
  }

  // An instance of its own for one job or stream (see index.js).
  static createSync(module) {
    const core = new Core();
    core.attach(new WebAssembly.Instance(module, imports(core)));
    return core;
  }

  attach(instance) {
    this.x = instance.exports;
    this.memory = this.x.memory;
    this.refresh();
    this.x._initialize();
    // A small block for out-parameters, held for the instance's life.
    this.scratch = this.x.malloc(64) >>> 0;
    this.broken = false;
  }

  refresh() {
    this.u8 = new Uint8Array(this.memory.buffer);
    this.dv = new DataView(this.memory.buffer);
  }

  heap() {
    if (this.u8.buffer !== this.memory.buffer) this.refresh();
    return this.u8;
  }

  view() {
    if (this.dv.buffer !== this.memory.buffer) this.refresh();
    return this.dv;
  }

  // Runs fn; a trap (an allocation the library could not survive) leaves
  // the instance unusable, so it is marked for replacement.
  guard(fn) {
    if (this.broken) throw new Error('moltavex: the module failed earlier; call init() again');
    try {
      return fn();
    } catch (e) {
      if (e instanceof WebAssembly.RuntimeError) {
        this.broken = true;
        throw this.error(OUT_OF_MEMORY);
      }
      throw e;
    }
  }

  malloc(bytes) {
    const p = this.x.malloc(Math.max(bytes, 1)) >>> 0;
    if (p === 0) throw this.error(OUT_OF_MEMORY);
    return p;
  }

  free(p) {
    if (p) this.x.free(p);
  }

  string(p) {
    const u8 = this.heap();
    let end = p;
    while (u8[end] !== 0) end++;
    return new TextDecoder().decode(u8.subarray(p, end));
  }

  error(status, requiredBytes) {
    const message = this.string(this.x.mvx_status_message(status) >>> 0);
    return new MoltavexError(statuses[status] ?? `STATUS_${status}`, status, message, requiredBytes);
  }

  u32(p) {
    return this.view().getUint32(p, true);
  }

  i32(p) {
    return this.view().getInt32(p, true);
  }

  u64(p) {
    return Number(this.view().getBigUint64(p, true));
  }

  // Copies bytes into a new block.
  put(bytes) {
    const p = this.malloc(bytes.length);
    this.heap().set(bytes, p);
    return p;
  }

  take(p, n) {
    return this.heap().slice(p, p + n);
  }

  modelMemory(model, order) {
    return Number(BigInt.asUintN(64, this.x.mvx_model_memory(model, order)));
  }

  modelName(model) {
    return this.string(this.x.mvx_model_name(model) >>> 0);
  }

  // The setting of a header byte, or null when it names no model.
  header(byte) {
    const s = this.scratch;
    if (!this.x.mvx_read_header(byte, s, s + 4)) return null;
    return { model: this.i32(s), order: this.i32(s + 4) };
  }

  // A filled mvx_options block (free it with free()). `limit` is a BigInt
  // or null (the library's default), capped at what wasm can hold.
  options({ limit = null, sizeHint = 0, checksum = false, level = 0 }) {
    const p = this.malloc(OPTIONS_BYTES);
    this.x.mvx_options_init(p);
    const dv = this.view();
    const capped = limit === null ? 0n : limit > WASM_TABLE_CAP ? WASM_TABLE_CAP : limit;
    dv.setBigUint64(p + 8, capped, true);
    dv.setBigUint64(p + 16, BigInt(sizeHint), true);
    dv.setInt32(p + 24, checksum ? 1 : 0, true);
    dv.setInt32(p + OPTIONS_LEVEL, level, true);
    return p;
  }

  // The error of a failed call; MEMORY_LIMIT tells what the tables need.
  fail(status, setting) {
    const required =
      status === MEMORY_LIMIT && setting ? this.modelMemory(setting.model, setting.order) : undefined;
    return this.error(status, required);
  }

  // The setting of a level for an input of unknown length (a stream): its
  // row, lowered to fit `limit` (a BigInt, or null for the library's
  // default), from the library.
  levelSetting(level, limit) {
    const s = this.scratch;
    const capped = limit === null ? 0n : limit > WASM_TABLE_CAP ? WASM_TABLE_CAP : limit;
    const status = this.x.mvx_level_setting_within(level, capped, s);
    if (status !== OK) throw this.error(status);
    return { model: this.i32(s), order: this.i32(s + 4) };
  }

  compressBound(size) {
    const bound = this.x.mvx_compress_bound(size) >>> 0;
    if (bound === 0xffffffff) throw this.error(OUT_OF_MEMORY);
    return bound;
  }

  // One shot. `setting` null: the automatic choice; { level }: the level's
  // choice for these data, by the library. Returns the stream and the
  // setting it was made with.
  compress(data, setting, opts) {
    return this.guard(() => {
      let src = 0;
      let dst = 0;
      let options = 0;
      try {
        src = this.put(data);
        const capacity = this.compressBound(data.length);
        dst = this.malloc(capacity);
        const level = setting !== null && setting.level !== undefined ? setting.level : 0;
        options = this.options({ ...opts, sizeHint: data.length, level });
        const s = this.scratch;
        let status;
        let used = setting;
        if (setting === null || level !== 0) {
          status = this.x.mvx_compress_auto(src, data.length, dst, capacity, s, s + 8, 0, options);
          used = { model: this.i32(s + 8), order: this.i32(s + 12) };
        } else {
          status = this.x.mvx_compress_with(
            src, data.length, setting.model, setting.order, dst, capacity, s, options);
        }
        if (status !== OK) throw this.fail(status, setting);
        return { stream: this.take(dst, this.u32(s)), setting: used };
      } finally {
        this.free(src);
        this.free(dst);
        this.free(options);
      }
    });
  }

  // One shot. A stream that ends with its record says how long its data
  // is: one call into a buffer of that size. Any other is decoded by a
  // push context into pieces, in one pass too.
  decompress(data, opts) {
    return this.guard(() => {
      if (data.length === 0) throw this.error(statuses.indexOf('INVALID_STREAM'));
      const setting = this.header(data[0]);
      const described = this.describe(data[0], data.subarray(data.length - 32), data.length);
      let src = 0;
      let dst = 0;
      let options = 0;
      try {
        src = this.put(data);
        options = this.options(opts);
        if (described && described.originalBytes < 2 ** 31) {
          dst = this.malloc(described.originalBytes);
          const status = this.x.mvx_decompress_with(
            src, data.length, dst, described.originalBytes, this.scratch, options);
          if (status !== OK) throw this.fail(status, setting);
          return this.take(dst, this.u32(this.scratch));
        }
        return this.decodeInPieces(src, data.length, options, setting);
      } finally {
        this.free(src);
        this.free(dst);
        this.free(options);
      }
    });
  }

  decodeInPieces(src, size, options, setting) {
    const s = this.scratch;
    let context = 0;
    let dst = 0;
    const pieces = [];
    let total = 0;
    const check = (status) => {
      if (status !== OK) throw this.fail(status, setting);
      const written = this.u32(s + 4);
      if (written > 0) pieces.push(this.take(dst, written));
      total += written;
      return written;
    };
    try {
      let status = this.x.mvx_decompressor_create(s, options);
      if (status !== OK) throw this.fail(status, setting);
      context = this.u32(s);
      dst = this.malloc(DECODE_PIECE);
      for (let at = 0; ; ) {
        status = this.x.mvx_decompressor_decompress(
          context, src + at, size - at, s, dst, DECODE_PIECE, s + 4, s + 8);
        const consumed = this.u32(s);
        at += consumed;
        const written = check(status);
        if (this.heap()[s + 8] !== 0) break;
        if (at === size && written < DECODE_PIECE) break;
        // What is left begins like a record but ends the input: not the
        // stream's (finish decides).
        if (consumed === 0 && written === 0) break;
      }
      for (;;) {
        check(this.x.mvx_decompressor_finish(context, dst, DECODE_PIECE, s + 4, s + 8));
        if (this.heap()[s + 8] !== 0) break;
      }
    } finally {
      if (context) this.x.mvx_decompressor_free(context);
      this.free(dst);
    }
    const out = new Uint8Array(total);
    let at = 0;
    for (const p of pieces) {
      out.set(p, at);
      at += p.length;
    }
    return out;
  }

  // The lengths of a stream of `size` bytes, first byte `header`, from
  // its record alone; null when its last 32 bytes are no record of it.
  describe(header, last32, size) {
    if (size < 33 || last32.length !== 32) return null;
    let tail = 0;
    try {
      tail = this.put(last32);
      const info = this.scratch;
      this.x.mvx_stream_info_init(info);
      const status = this.x.mvx_describe_from_record(header, tail, BigInt(size), info);
      if (status !== OK) return null;
      return { compressedBytes: this.u64(info + 16), originalBytes: this.u64(info + 24) };
    } finally {
      this.free(tail);
    }
  }
}

export { NO_MEMORY_LIMIT, OK };
