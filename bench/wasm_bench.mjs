// Speed of the JavaScript package (moltavex.wasm) beside the native
// program, both ways, at some levels: in Node, and in headless Chromium
// when playwright-core is given (scripts/web.sh installs it in
// build-web/tools). Each figure is the best of --runs runs, in MB/s (10^6
// bytes of original data per second), the wasm's after a warm-up run; the
// streams are checked equal to the program's. Prints a Markdown table.
//   node bench/wasm_bench.mjs [--runs N] [--levels 1,5,6] [--tools DIR] PROGRAM FILE...
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import * as mx from '../js/index.js';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at < 0 ? fallback : args.splice(at, 2)[1];
};
const runs = Number(option('--runs', '5'));
const levels = option('--levels', '1,5,6').split(',').map(Number);
const tools = option('--tools', null);
const [program, ...files] = args;
const data = Buffer.concat(files.map((f) => fs.readFileSync(f)));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'moltavex-wasm-bench-'));
const input = path.join(work, 'data');
fs.writeFileSync(input, data);

const best = (times) => Math.min(...times);
const rate = (ms) => data.length / 1000 / ms; // MB/s

function native(level) {
  const packed = path.join(work, 'data.mx');
  const time = (argv, out) => {
    const started = performance.now();
    const r = spawnSync(program, argv, { stdio: ['ignore', fs.openSync(out, 'w'), 'inherit'] });
    assert.equal(r.status, 0);
    return performance.now() - started;
  };
  const c = [];
  const d = [];
  for (let i = 0; i < runs; i++) {
    c.push(time(['-c', `-${level}`, input], packed));
    d.push(time(['-d', '-c', packed], path.join(work, 'restored')));
  }
  return { c: best(c), d: best(d), stream: fs.readFileSync(packed) };
}

function inNode(level) {
  const c = [];
  const d = [];
  let stream;
  for (let i = 0; i <= runs; i++) {
    let t = performance.now();
    stream = mx.compressSync(data, { level });
    if (i > 0) c.push(performance.now() - t);
    t = performance.now();
    mx.decompressSync(stream);
    if (i > 0) d.push(performance.now() - t);
  }
  return { c: best(c), d: best(d), stream };
}

async function inChromium() {
  if (!tools) return null;
  const { chromium } = createRequire(path.resolve(tools, 'package.json'))('playwright-core');
  const root = path.resolve('js');
  const server = http.createServer((request, response) => {
    const name = new URL(request.url, 'http://x').pathname;
    if (name === '/') return response.writeHead(200, { 'content-type': 'text/html' }).end('<!doctype html>');
    if (name === '/data') return response.end(data);
    const file = path.join(root, name);
    const type = file.endsWith('.wasm') ? 'application/wasm' : 'text/javascript';
    fs.readFile(file, (e, body) => (e ? response.writeHead(404).end() : response.writeHead(200, { 'content-type': type }).end(body)));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] ?? (await context.newPage());
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  const results = await page.evaluate(
    async ({ levels, runs }) => {
      const mx = await import('/index.js');
      const data = new Uint8Array(await (await fetch('/data')).arrayBuffer());
      const out = {};
      for (const level of levels) {
        const c = [];
        const d = [];
        let size = 0;
        for (let i = 0; i <= runs; i++) {
          let t = performance.now();
          const stream = await mx.compress(data, { level });
          if (i > 0) c.push(performance.now() - t);
          t = performance.now();
          await mx.decompress(stream);
          if (i > 0) d.push(performance.now() - t);
          size = stream.length;
        }
        out[level] = { c: Math.min(...c), d: Math.min(...d), size };
      }
      return out;
    },
    { levels, runs },
  );
  await context.close();
  server.close();
  return results;
}

await mx.init();
const browser = await inChromium();
const f = (x) => x.toFixed(2);
console.log(`${files.map((p) => path.basename(p)).join(' + ')}, ${data.length} bytes, best of ${runs}\n`);
console.log('| level | native c MB/s | Node c | Chromium c | native d MB/s | Node d | Chromium d |');
console.log('| --- | --- | --- | --- | --- | --- | --- |');
for (const level of levels) {
  const n = native(level);
  const w = inNode(level);
  assert.ok(n.stream.equals(Buffer.from(w.stream)), `level ${level}: the same stream`);
  const b = browser?.[level];
  if (b) assert.equal(b.size, n.stream.length);
  const cell = (ms, base) => `${f(rate(ms))} (${f(base / ms)}×)`;
  console.log(
    `| ${level} | ${f(rate(n.c))} | ${cell(w.c, n.c)} | ${b ? cell(b.c, n.c) : '-'} | ` +
      `${f(rate(n.d))} | ${cell(w.d, n.d)} | ${b ? cell(b.d, n.d) : '-'} |`,
  );
}
fs.rmSync(work, { recursive: true, force: true });
