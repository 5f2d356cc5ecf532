// Types of moltavex/worker (worker.js).
import type { CompressOptions, DecompressOptions, TransformInfo } from './index.js';

export interface Job {
  op: 'compress' | 'decompress';
  input: Blob | BufferSource;
  options?: CompressOptions | DecompressOptions;
}

/** The work a worker does for one message, for use in a caller's own worker. */
export function run(
  job: Job,
  onProgress?: (bytesRead: number, total: number) => void,
): Promise<{ result: Blob; info: TransformInfo }>;

/** Messages a worker running this module posts back. */
export type Reply =
  | { id: unknown; progress: number; total: number }
  | { id: unknown; result: Blob; info: TransformInfo }
  | {
      id: unknown;
      error: { name: string; code?: string; status?: number; message: string; requiredBytes?: number };
    };
