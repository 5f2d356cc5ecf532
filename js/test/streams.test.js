// Web Streams in any pieces, failures and their codes, memory limits,
// inspect, and the heap over many calls.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import * as mx from '../index.js';
import { equal, samples, through } from './support.js';

await mx.init();

test('streams in uneven pieces give the one-shot stream and restore', async () => {
  for (const cuts of [[1], [3, 1000, 17], [65537, 5], [200000]]) {
    const choices = cuts.length === 3 ? [{ auto: true }] : [];
    for (const options of [{ level: 2 }, { model: 5, order: 12, checksum: false }, ...choices]) {
      const whole = mx.compressSync(samples.text, options);
      const streamed = await through(new mx.MoltavexCompressionStream(options), samples.text, cuts);
      assert.ok(equal(streamed, whole), `compress ${JSON.stringify(options)} in ${cuts}`);
      const pair = new mx.MoltavexDecompressionStream();
      assert.ok(equal(await through(pair, whole, cuts), samples.text), `decompress in ${cuts}`);
      const info = await pair.info;
      assert.equal(info.compressedBytes, whole.length);
      assert.equal(info.originalBytes, samples.text.length);
      assert.equal(info.checksum, options.checksum ?? true);
    }
  }
});

test('bytes after a stream are not its own', async () => {
  // Padding after a stream without the record, some of it beginning like
  // the record's magic (C5 4D 56 58), cut anywhere: the data, every time.
  const bare = mx.compressSync(samples.runs, { level: 1, checksum: false });
  for (const tail of [[1, 2, 3, 0xc5, 9], [0xc5], [0xc5, 0x4d], [0xc5, 0x4d, 0x56], [0xc5, 0x4d, 0x56, 0x59]]) {
    const joined = new Uint8Array([...bare, ...tail]);
    assert.ok(equal(mx.decompressSync(joined), samples.runs), `tail ${tail}`);
    for (const cut of [[100], [bare.length], [bare.length - 1, 1], [7, 13]]) {
      const restored = await through(new mx.MoltavexDecompressionStream(), joined, cut);
      assert.ok(equal(restored, samples.runs), `tail ${tail}, pieces ${cut}`);
    }
  }
});

test('damage is CORRUPT, and a stream delivers what came before it', async () => {
  const stream = mx.compressSync(samples.text, { level: 3 });
  // Damage in the body garbles what follows it; the decoder then misses the
  // end marker, as the program does.
  const damaged = stream.slice();
  damaged[damaged.length - 400] ^= 0x10;
  assert.throws(() => mx.decompressSync(damaged), (e) => e instanceof mx.MoltavexError);
  const record = stream.slice();
  record[record.length - 1] ^= 1; // the checksum itself
  assert.throws(() => mx.decompressSync(record), { code: 'CORRUPT', name: 'MoltavexError' });
  await assert.rejects(through(new mx.MoltavexDecompressionStream(), record, [999]), (e) => {
    assert.equal(e.code, 'CORRUPT');
    assert.ok(equal(e.delivered, samples.text), 'the data came before the error');
    return true;
  });
});

test('cut, empty and foreign input say so', async () => {
  const stream = mx.compressSync(samples.text, { level: 1, checksum: false });
  assert.throws(() => mx.decompressSync(stream.subarray(0, 100)), { code: 'TRUNCATED_STREAM' });
  await assert.rejects(through(new mx.MoltavexDecompressionStream(), stream.subarray(0, 100)), {
    code: 'TRUNCATED_STREAM',
  });
  assert.throws(() => mx.decompressSync(new Uint8Array(0)), { code: 'INVALID_STREAM' });
  assert.throws(() => mx.decompressSync(Uint8Array.of(0xe0, 1, 2)), (e) => {
    assert.equal(e.code, 'INVALID_STREAM');
    assert.equal(e.status, 6);
    assert.equal(e.message, 'Not a valid compressed file.');
    return true;
  });
  assert.throws(() => mx.compressSync('x', { level: 10 }), RangeError);
  assert.throws(() => mx.compressSync('x', { level: 3, auto: true }), TypeError);
});

test('a header naming order 31 fails at once with MEMORY_LIMIT and what it needs', async () => {
  const heap = mx.heapBytes();
  const started = performance.now();
  for (const model of [1, 3, 5]) {
    const stream = Uint8Array.of(model * 32 + 31, 0, 0, 0, 0, 0, 0);
    const needs = { 1: 8 * 2 ** 31, 3: 17 * 2 ** 31, 5: 17 * 2 ** 31 + 131072 }[model];
    assert.throws(() => mx.decompressSync(stream), { code: 'MEMORY_LIMIT', requiredBytes: needs });
    // Beyond what wasm can hold even when the caller lifts the limit.
    assert.throws(() => mx.decompressSync(stream, { memoryLimit: Infinity }), {
      code: 'MEMORY_LIMIT',
      requiredBytes: needs,
    });
    await assert.rejects(through(new mx.MoltavexDecompressionStream(), stream), { code: 'MEMORY_LIMIT' });
    assert.throws(() => mx.compressSync('x', { model, order: 31 }), { code: 'MEMORY_LIMIT' });
  }
  // Order 26 is within the default; a limit below it refuses.
  assert.throws(() => mx.decompressSync(Uint8Array.of(32 + 26, 0), { memoryLimit: 1 << 20 }), {
    code: 'MEMORY_LIMIT',
    requiredBytes: 8 * 2 ** 26,
  });
  assert.ok(performance.now() - started < 5000, 'refused before touching memory');
  assert.equal(mx.heapBytes(), heap, 'nothing was reserved');
});

test('inspect tells the setting, sizes, record and memory', async () => {
  const stream = mx.compressSync(samples.text, { model: 3, order: 10 });
  const info = await mx.inspect(stream);
  assert.deepEqual(info, {
    model: 3,
    order: 10,
    modelName: 'Indexed Bitwise Model Array',
    memoryBytes: 17 * 1024,
    compressedBytes: stream.length,
    originalBytes: samples.text.length,
    checksum: true,
    verified: false,
  });
  const plain = mx.compressSync(samples.text, { model: 3, order: 10, checksum: false });
  const old = await mx.inspect(new Uint8Array([...plain, 7, 7]));
  assert.equal(old.compressedBytes, plain.length);
  assert.equal(old.checksum, false);
});

test('calls and streams give their memory back', async () => {
  // Reach the heap's working size first; then it must not grow.
  const streamOf = () => mx.compressSync(samples.text, { level: 3 });
  const cycle = async (i) => {
    const stream = streamOf();
    mx.decompressSync(stream);
    if (i % 50 === 0) {
      await through(new mx.MoltavexDecompressionStream(), stream, [3000]);
      const broken = stream.slice(0, 500);
      await through(new mx.MoltavexDecompressionStream(), broken).catch(() => {});
      const pair = new mx.MoltavexCompressionStream({ level: 3 });
      const writer = pair.writable.getWriter();
      writer.write(samples.text).catch(() => {});
      await writer.abort(new Error('stop'));
    }
  };
  for (let i = 0; i < 3; i++) await cycle(i * 50);
  const before = mx.heapBytes();
  for (let i = 0; i < 1000; i++) await cycle(i);
  assert.equal(mx.heapBytes(), before);
});

test('the package states the header\'s version and loads from given bytes', async () => {
  const pkg = JSON.parse(fs.readFileSync(new URL('../package.json', import.meta.url)));
  assert.equal(pkg.version, mx.VERSION);
  await mx.init({ wasm: fs.readFileSync(new URL('../moltavex.wasm', import.meta.url)) });
  assert.ok(equal(mx.decompressSync(mx.compressSync('again')), new TextEncoder().encode('again')));
});

test('the worker\'s run reads a Blob in pieces and gives a Blob back', async () => {
  const { run } = await import('../worker.js');
  const seen = [];
  // Past 16 MiB, where the output is folded into Blobs.
  const big = new Uint8Array(18 << 20).map((_, i) => (i * 31) ^ (i >> 12));
  const packed = await run({ op: 'compress', input: new Blob([big]), options: { level: 1 } }, (n) =>
    seen.push(n),
  );
  assert.ok(equal(new Uint8Array(await packed.result.arrayBuffer()), mx.compressSync(big, { level: 1 })));
  assert.equal(seen.at(-1), big.length, 'progress to the end');
  assert.deepEqual(packed.info, {
    model: 1,
    order: 12,
    modelName: 'Simple Bitwise Model',
    compressedBytes: packed.result.size,
    originalBytes: big.length,
    checksum: true,
  });
  const restored = await run({ op: 'decompress', input: packed.result });
  assert.ok(equal(new Uint8Array(await restored.result.arrayBuffer()), big));
  assert.equal(restored.info.checksum, true);
  await assert.rejects(run({ op: 'decompress', input: Uint8Array.of(0xe0, 1) }), { code: 'INVALID_STREAM' });
});
