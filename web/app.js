// The page: takes dropped or chosen files, restores .mx files and
// compresses others in a Worker (worker.js, the package's moltavex/worker),
// and offers each result as a download named as the program names its
// outputs. Files are handled one after another.
const drop = document.getElementById('drop');
const input = document.getElementById('files');
const level = document.getElementById('level');
const status = document.getElementById('status');
const results = document.getElementById('results');

const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
const waiting = new Map();
let nextId = 0;
worker.addEventListener('message', ({ data }) => {
  const job = waiting.get(data.id);
  if (!job) return;
  if ('progress' in data) {
    job.onProgress(data.progress, data.total);
    return;
  }
  waiting.delete(data.id);
  job.resolve(data);
});

function work(op, file, options, onProgress) {
  return new Promise((resolve) => {
    const id = nextId++;
    waiting.set(id, { resolve, onProgress });
    worker.postMessage({ id, op, input: file, options });
  });
}

const MiB = 2 ** 20;
function size(bytes) {
  if (bytes < 1024) return `${bytes} bytes`;
  if (bytes < MiB) return `${(bytes / 1024).toFixed(1)} KiB`;
  return `${(bytes / MiB).toFixed(1)} MiB`;
}

// Errors in plain words; the library's line when there is nothing plainer.
function plain(error) {
  switch (error.code) {
    case 'CORRUPT':
      return 'The file is damaged: its contents do not match its checksum.';
    case 'TRUNCATED_STREAM':
      return 'The file is damaged or cut short.';
    case 'INVALID_STREAM':
      return 'This is not a Moltavex stream.';
    case 'MEMORY_LIMIT':
      return `Restoring it needs ${Math.ceil(error.requiredBytes / MiB)} MiB of memory, more than this page allows.`;
    case 'OUT_OF_MEMORY':
      return 'There is not enough memory for this file.';
    default:
      return error.message || 'Something went wrong.';
  }
}

async function handle(file) {
  const restoring = file.name.endsWith('.mx');
  const outName = restoring ? file.name.slice(0, -3) || 'restored' : `${file.name}.mx`;
  const item = document.createElement('li');
  const name = document.createElement('div');
  name.className = 'name';
  name.textContent = `${restoring ? 'Restoring' : 'Compressing'} ${file.name}`;
  const bar = document.createElement('progress');
  bar.max = file.size || 1;
  bar.value = 0;
  bar.setAttribute('aria-label', `Progress of ${file.name}`);
  item.append(name, bar);
  results.append(item);
  status.textContent = `${restoring ? 'Restoring' : 'Compressing'} ${file.name}…`;

  const options = restoring
    ? {}
    : level.value === 'auto'
      ? { auto: true }
      : { level: Number(level.value) };
  const reply = await work(restoring ? 'decompress' : 'compress', file, options, (done) => {
    bar.value = done;
  });
  bar.remove();
  if (reply.error) {
    name.textContent = file.name;
    const message = document.createElement('div');
    message.className = 'error';
    message.textContent = plain(reply.error);
    item.append(message);
    status.textContent = `${file.name}: ${plain(reply.error)}`;
    return;
  }
  const { result, info } = reply;
  const link = document.createElement('a');
  link.href = URL.createObjectURL(result);
  link.download = outName;
  link.textContent = `${outName} (${size(result.size)})`;
  name.textContent = '';
  name.append(link);
  const facts = document.createElement('div');
  facts.className = 'facts';
  const ratio = info.originalBytes ? (info.compressedBytes / info.originalBytes) * 100 : 100;
  const check = restoring
    ? info.checksum
      ? 'checksum verified'
      : 'no checksum in the file'
    : info.checksum
      ? 'checksum written'
      : 'no checksum';
  facts.textContent =
    `Model ${info.model} (${info.modelName}), order ${info.order}; ` +
    `${size(info.originalBytes)} ↔ ${size(info.compressedBytes)}, ${ratio.toFixed(1)}%; ${check}.`;
  item.append(facts);
  status.textContent = `${file.name}: done.`;
}

let queue = Promise.resolve();
function take(files) {
  for (const file of files) queue = queue.then(() => handle(file));
}

input.addEventListener('change', () => {
  take([...input.files]);
  input.value = '';
});
for (const type of ['dragenter', 'dragover']) {
  drop.addEventListener(type, (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
}
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  take([...event.dataTransfer.files]);
});
