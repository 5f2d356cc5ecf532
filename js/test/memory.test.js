// Tables in wasm cost the pages the data touches, and memory used before
// reads as zero when it is used again. Its own file: a fresh process, so
// that the resident size is this test's.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import * as mx from '../index.js';
import { equal, samples } from './support.js';

const wasm = fs.readFileSync(new URL('../moltavex.wasm', import.meta.url));

test('a small stream at a high order costs the pages it touches, not its table', async () => {
  await mx.init();
  const rss = process.memoryUsage().rss;
  // Model 3 at order 26: 1088 MiB of tables.
  const stream = mx.compressSync('hello', { model: 3, order: 26 });
  assert.equal(new TextDecoder().decode(mx.decompressSync(stream)), 'hello');
  const grown = process.memoryUsage().rss - rss;
  assert.ok(mx.heapBytes() < 64 << 20, 'the shared instance kept its size');
  assert.ok(grown < 200 << 20, `resident memory grew by ${grown >> 20} MiB`);
});

test('memory used before is zero again for the next tables', async () => {
  // Tables of several sizes, freed and taken again, split and merged.
  const jobs = [
    [samples.text, { model: 4, order: 22 }],
    [samples.binary, { model: 5, order: 20 }],
    [samples.text, { model: 1, order: 21 }],
    [samples.runs, { model: 3, order: 23 }],
    [samples.binary, { model: 0, order: 20 }],
  ];
  await mx.init({ wasm });
  const used = jobs.map(([data, options]) => mx.compressSync(data, options));
  for (const [i, [data, options]] of jobs.entries()) {
    await mx.init({ wasm }); // a fresh instance: fresh memory
    assert.ok(equal(mx.compressSync(data, options), used[i]), `job ${i}`);
  }
});
