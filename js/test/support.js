// Shared by the package tests: the native program to compare with (its
// path in MOLTAVEX_PROGRAM, as scripts/web.sh builds it; tests that need
// it skip without it), sample data, and helpers over Web Streams.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const program = process.env.MOLTAVEX_PROGRAM;
export const needsProgram = program && fs.existsSync(program) ? {} : { skip: 'MOLTAVEX_PROGRAM not set' };

const corpus = '/work/shared/corpus';
const corpusFile = (name, bytes) => {
  const file = path.join(process.env.MOLTAVEX_CORPUS ?? corpus, name);
  return fs.existsSync(file) ? fs.readFileSync(file).subarray(0, bytes) : null;
};

// Text, binary and runs of 0xF0 (the escape of the run-length transform).
function pseudoRandom(n, seed) {
  const out = new Uint8Array(n);
  let x = seed;
  for (let i = 0; i < n; i++) {
    x = (x * 1103515245 + 12345) >>> 0;
    out[i] = x >>> 24;
  }
  return out;
}
const runs = new Uint8Array(3000).map((_, i) => (i % 700 < 300 ? 0xf0 : i & 0x0f));
const text = new TextEncoder().encode('the quick brown fox jumps over the lazy dog; '.repeat(300));
export const samples = {
  text: corpusFile('alice29.txt', 20000) ?? text,
  binary: corpusFile('kppkn.gtb', 12000) ?? pseudoRandom(12000, 7),
  runs,
  empty: new Uint8Array(0),
};

let scratch;
export function tempFile(name, data) {
  scratch ??= fs.mkdtempSync(path.join(os.tmpdir(), 'moltavex-js-'));
  const file = path.join(scratch, name);
  if (data) fs.writeFileSync(file, data);
  return file;
}

// The program's standard output for `args` (file names made by tempFile).
// The native program's output; `input`, when given, is its standard input
// through a pipe.
export function native(args, input) {
  const options = { maxBuffer: 1 << 30 };
  if (input !== undefined) options.input = input;
  return new Uint8Array(execFileSync(program, args, options));
}

// Writes `data` into a TransformStream-shaped pair in pieces of the sizes
// `cuts` gives in turn, and gathers the readable's bytes.
export async function through(pair, data, cuts = [data.length || 1]) {
  const writing = (async () => {
    const writer = pair.writable.getWriter();
    for (let at = 0, i = 0; at < data.length; i++) {
      const n = Math.max(1, cuts[i % cuts.length]);
      await writer.write(data.slice(at, at + n));
      at += n;
    }
    await writer.close();
  })();
  const parts = [];
  let error = null;
  try {
    for await (const part of pair.readable) parts.push(part);
  } catch (e) {
    error = e;
  }
  await writing.catch(() => {});
  const out = Buffer.concat(parts);
  if (error) {
    error.delivered = new Uint8Array(out);
    throw error;
  }
  return new Uint8Array(out);
}

export const equal = (a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b)) === 0;
