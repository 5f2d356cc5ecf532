// The page's test in a real headless Chromium (Debian's, driven by
// playwright-core): serves the site from a loopback server, drops files on
// the page, and compares every download byte for byte with the native
// program's output (MOLTAVEX_PROGRAM) or the original. Fails when a
// request leaves the machine or anything is logged as an error; keeps a
// screenshot.
//   node web/test/page.mjs SITE SCREENSHOT TOOLS
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const [site, screenshot, tools] = process.argv.slice(2);
const { chromium } = createRequire(path.resolve(tools, 'package.json'))('playwright-core');
const program = process.env.MOLTAVEX_PROGRAM;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'moltavex-page-'));

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
const server = http.createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
  const file = path.join(site, name === '/' ? 'index.html' : name);
  if (!file.startsWith(path.resolve(site)) && !file.startsWith(site)) return response.writeHead(403).end();
  fs.readFile(file, (error, data) => {
    if (error) return response.writeHead(404).end();
    response.writeHead(200, { 'content-type': types[path.extname(file)] ?? 'application/octet-stream' });
    response.end(data);
  });
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

const context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
  executablePath: '/usr/bin/chromium',
  headless: true,
  acceptDownloads: true,
  args: [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
  ],
});
const outside = [];
const problems = [];
await context.route('**/*', (route) => {
  const url = route.request().url();
  if (url.startsWith(origin) || url.startsWith('blob:') || url.startsWith('data:')) return route.continue();
  outside.push(url);
  return route.abort();
});
context.on('request', (request) => {
  const url = request.url();
  if (!url.startsWith(origin) && !url.startsWith('blob:') && !url.startsWith('data:')) outside.push(url);
});
const page = context.pages()[0] ?? (await context.newPage());
page.on('console', (message) => {
  if (message.type() === 'error') problems.push(`console: ${message.text()}`);
});
page.on('pageerror', (error) => problems.push(`page: ${error.message}`));
page.on('worker', (worker) => worker.on('console', (m) => m.type() === 'error' && problems.push(m.text())));

await page.goto(`${origin}/`);
await page.getByLabel('Compression level').waitFor();

// Drops one file on the drop zone, as a user's drag would.
async function dropFile(name, bytes) {
  await page.evaluate(
    ({ name, data }) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], name));
      const zone = document.getElementById('drop');
      zone.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    },
    { name, data: Buffer.from(bytes).toString('base64') },
  );
}

// The download offered as `name`, once it is there.
async function download(name) {
  const link = page.locator(`a[download="${name}"]`).last();
  await link.waitFor({ timeout: 120000 });
  const [file] = await Promise.all([page.waitForEvent('download'), link.click()]);
  return fs.readFileSync(await file.path());
}

const native = (args) => execFileSync(program, args, { maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'pipe'] });
const sample = (name, fallback) => {
  const file = path.join('/work/shared/corpus', name);
  return fs.existsSync(file) ? fs.readFileSync(file) : fallback;
};
const text = sample('alice29.txt', Buffer.from('a page of text, '.repeat(20000)));
const binary = sample('kppkn.gtb', Buffer.from(Array.from({ length: 90000 }, (_, i) => (i * 131) >> 3)));
const big = Buffer.alloc(3 << 20, text); // several pieces and progress
const textFile = path.join(work, 'alice.txt');
fs.writeFileSync(textFile, text);

// Compressed at the default level, as the program writes; restored again.
await dropFile('alice.txt', text);
const packed = await download('alice.txt.mx');
if (program) assert.ok(packed.equals(native(['-c', textFile])), 'level 5 as the program writes');
await dropFile('alice.txt.mx', packed);
assert.ok((await download('alice.txt')).equals(text), 'restored');

// Levels 1 and 9 and the automatic choice, from the keyboard.
for (const [key, level] of [['1', '-1'], ['9', '-9'], ['a', '--auto']]) {
  await page.getByLabel('Compression level').focus();
  await page.keyboard.press(key);
  const name = `binary${level}.gtb`;
  const file = path.join(work, name);
  fs.writeFileSync(file, binary);
  await dropFile(name, binary);
  const got = await download(`${name}.mx`);
  if (program) assert.ok(got.equals(native(['-c', level, file])), `level ${level} as the program writes`);
}
await page.getByLabel('Compression level').selectOption('1');

// A large file in pieces, a classic stream, damage and foreign data.
await dropFile('big.bin', big);
const bigPacked = await download('big.bin.mx');
await dropFile('big.bin.mx', bigPacked);
assert.ok((await download('big.bin')).equals(big), 'large file restored');
if (program) {
  const classic = path.join(work, 'classic.mx');
  native(['c1', '16', textFile, classic]);
  await dropFile('classic.txt.mx', fs.readFileSync(classic));
  assert.ok((await download('classic.txt')).equals(text), 'classic stream restored');
}
const damaged = Buffer.from(packed);
damaged[damaged.length - 1] ^= 1;
await dropFile('damaged.mx', damaged);
await page.locator('.error', { hasText: 'The file is damaged' }).waitFor();
await dropFile('foreign.mx', Buffer.from([0xe5, 1, 2, 3]));
await page.locator('.error', { hasText: 'This is not a Moltavex stream.' }).waitFor();
await dropFile('huge.mx', Buffer.from([0xbf, 0, 0, 0]));
await page.locator('.error', { hasText: /needs \d+ MiB of memory/ }).waitFor();
// The first result's facts name the setting its stream's header names.
assert.match(
  await page.locator('.facts').first().innerText(),
  new RegExp(`^Model ${packed[0] >> 5} \\(.*\\), order ${packed[0] & 31};.*checksum written`),
);

await page.screenshot({ path: screenshot, fullPage: true });
await context.close();
server.close();
fs.rmSync(work, { recursive: true, force: true });
assert.deepEqual(outside, [], 'no request left the machine');
assert.deepEqual(problems, [], 'nothing logged as an error');
console.log('page test: all downloads byte for byte; no outside request; no error logged');
