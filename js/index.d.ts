// Types of the moltavex package (index.js).

/** Bytes to compress or restore; a string is taken as UTF-8. */
export type Data = Uint8Array | ArrayBuffer | ArrayBufferView | string;

/** A byte count; Infinity (or 2n ** 64n - 1n) removes the limit. */
export type MemoryLimit = number | bigint;

export interface CompressOptions {
  /** 1 (fastest) to 9 (smallest); 5 when no setting is given. */
  level?: number;
  /** An exact setting: model 0–5 with order 0–31. */
  model?: number;
  order?: number;
  /** Let the library choose the model and order for the data. */
  auto?: boolean;
  /** Append the integrity record (default true, as the program writes). */
  checksum?: boolean;
  /** Most bytes of tables the job may take (MEMORY_LIMIT beyond). */
  memoryLimit?: MemoryLimit;
}

export interface DecompressOptions {
  /** Most bytes of tables (default: the library's, every order up to 26). */
  memoryLimit?: MemoryLimit;
}

export interface InitOptions {
  /**
   * Where moltavex.wasm comes from: a URL (or a string resolved against
   * the module), a fetch Response or its promise, the bytes, or a compiled
   * module. Default: the file beside the package's index.js.
   */
  wasm?: URL | string | Response | Promise<Response> | BufferSource | WebAssembly.Module;
}

/** What a stream holds (the program's -l). */
export interface StreamInfo {
  model: number;
  order: number;
  modelName: string;
  /** Bytes of tables its decompression takes. */
  memoryBytes: number;
  /** The stream's length, its record included. */
  compressedBytes: number;
  /** The length of the data it restores. */
  originalBytes: number;
  /** The stream ends with an integrity record. */
  checksum: boolean;
  /** The data was decoded and the record matched it. */
  verified: boolean;
}

/** What a stream pair made or restored, once it has closed. */
export interface TransformInfo {
  model: number;
  order: number;
  modelName: string;
  compressedBytes: number;
  originalBytes: number;
  /** A record was written, or (restoring) one was verified. */
  checksum: boolean;
}

export type StatusCode =
  | 'OUT_OF_MEMORY'
  | 'INVALID_STREAM'
  | 'TRUNCATED_STREAM'
  | 'INVALID_ARGUMENT'
  | 'OUTPUT_TOO_SMALL'
  | 'MEMORY_LIMIT'
  | 'INVALID_CALL'
  | 'CORRUPT'
  | (string & {});

/** A failure of the library. */
export class MoltavexError extends Error {
  readonly name: 'MoltavexError';
  /** The C status name without MVX_ (CORRUPT, MEMORY_LIMIT, ...). */
  readonly code: StatusCode;
  /** The C status number. */
  readonly status: number;
  /** MEMORY_LIMIT: the bytes of tables the stream or setting needs. */
  readonly requiredBytes?: number;
}

/** The library's version, as "2.1.0". */
export const VERSION: string;

/** Loads the module; needed once before the Sync functions. */
export function init(options?: InitOptions): Promise<void>;

export function compress(data: Data, options?: CompressOptions): Promise<Uint8Array>;
export function decompress(data: Data, options?: DecompressOptions): Promise<Uint8Array>;
export function compressSync(data: Data, options?: CompressOptions): Uint8Array;
export function decompressSync(data: Data, options?: DecompressOptions): Uint8Array;

/** The setting, sizes and memory of a stream (decodes it when it has no record). */
export function inspect(data: Data, options?: DecompressOptions): Promise<StreamInfo>;

/** Bytes of WebAssembly memory held (it grows to the largest job's and never shrinks). */
export function heapBytes(): number;

/** Compresses what is written to `writable`; shaped like CompressionStream. */
export interface CompressionStreamOptions extends CompressOptions {
  /**
   * Hold the whole input and compress it at its end, so that a level
   * chooses for its length and data as compress() does (and the program
   * does for a file); otherwise a level is its row, as for a pipe.
   */
  whole?: boolean;
}

export class MoltavexCompressionStream implements TransformStream<ArrayBufferView | ArrayBuffer, Uint8Array> {
  constructor(options?: CompressionStreamOptions);
  readonly readable: ReadableStream<Uint8Array>;
  readonly writable: WritableStream<ArrayBufferView | ArrayBuffer>;
  /** Resolves once the stream has closed (null if it failed). */
  readonly info: Promise<TransformInfo | null>;
}

/**
 * Restores what is written to `writable`. Act on the data only once
 * `readable` has closed: damage errors it after the data before it.
 */
export class MoltavexDecompressionStream implements TransformStream<ArrayBufferView | ArrayBuffer, Uint8Array> {
  constructor(options?: DecompressOptions);
  readonly readable: ReadableStream<Uint8Array>;
  readonly writable: WritableStream<ArrayBufferView | ArrayBuffer>;
  readonly info: Promise<TransformInfo | null>;
}
