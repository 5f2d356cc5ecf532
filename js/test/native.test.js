// The package's streams are the native program's, byte for byte, and the
// program's streams (the classic command's included) restore here.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import * as mx from '../index.js';
import { equal, native, needsProgram, samples, tempFile, through } from './support.js';

const settings = [];
for (let model = 0; model <= 5; model++) {
  for (const order of [0, 9, 16, 22]) settings.push({ model, order });
}

test('every model at several orders, with and without the record, as the program writes', needsProgram, async () => {
  for (const [name, data] of Object.entries(samples)) {
    const file = tempFile(name, data);
    for (const { model, order } of settings) {
      for (const checksum of [true, false]) {
        const args = [`--model=${model}`, `--order=${order}`, '-c', ...(checksum ? [] : ['--no-check']), file];
        const expected = native(args);
        const got = await mx.compress(data, { model, order, checksum });
        assert.ok(equal(got, expected), `${name} model ${model} order ${order} checksum ${checksum}`);
        assert.ok(equal(await mx.decompress(expected), data), `restore ${name} ${model}/${order}`);
      }
    }
  }
});

// A one-shot call knows its input's length, as the program does for a
// file; a stream does not, as for a pipe (unless it holds its input whole).
test('levels, one shot and streamed, as the program writes', needsProgram, async () => {
  const file = tempFile('text', samples.text);
  for (const level of [1, 5, 6, 9]) {
    const expected = native(['-c', `-${level}`, file]);
    assert.ok(equal(await mx.compress(samples.text, { level }), expected), `level ${level}`);
    const piped = native(['-c', `-${level}`], samples.text);
    const streamed = await through(new mx.MoltavexCompressionStream({ level }), samples.text, [4096]);
    assert.ok(equal(streamed, piped), `streamed level ${level}`);
    const whole = await through(
      new mx.MoltavexCompressionStream({ level, whole: true }), samples.text, [4096]);
    assert.ok(equal(whole, expected), `streamed whole level ${level}`);
  }
  assert.ok(equal(await mx.compress(samples.text), native(['-c', file])), 'default level');
});

test('the automatic choice is the program\'s', needsProgram, async () => {
  const file = tempFile('auto', samples.binary.subarray(0, 4000));
  const expected = native(['-c', '--auto', file]);
  assert.ok(equal(await mx.compress(samples.binary.subarray(0, 4000), { auto: true }), expected));
});

test('classic streams restore, whole and in pieces', needsProgram, async () => {
  for (const [model, order] of [[1, 16], [0, 12], [5, 20]]) {
    const input = tempFile('classic-in', samples.text);
    const output = tempFile(`classic-${model}.mx`);
    native([`c${model}`, String(order), input, output]);
    const stream = new Uint8Array((await import('node:fs')).readFileSync(output));
    assert.equal(stream[0], model * 32 + order);
    assert.ok(equal(await mx.decompress(stream), samples.text));
    const restored = await through(new mx.MoltavexDecompressionStream(), stream, [1, 7, 300]);
    assert.ok(equal(restored, samples.text));
  }
});
