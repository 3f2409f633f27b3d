// The page's worker: the engine (the module above this script in the same
// Blob) opens the archive, reading the user's File a range at a time, lists
// its plan, and reads, zips or extracts files, so that the page never waits
// on it. One archive at a time; every request answers with its `id`.
'use strict';

// Worth a read of its own beyond this; smaller reads (the index, a name)
// are served from one block read ahead.
const kBlockBytes = 256 * 1024;
const kChunkBytes = 1024 * 1024;
// A hostile index can't make the page hold more entries than this.
const kMostEntries = 500000;

let engine = null;   // the module, once loaded
let archive = 0;     // the open handle
let file = null;     // the user's File
let paths = [];      // each entry's path, its exact bytes
const cancelled = new Set();

const reader = new FileReaderSync();
let block = { start: 0, bytes: new Uint8Array(0) };

function read_file(position, count) {
  return new Uint8Array(reader.readAsArrayBuffer(file.slice(position, position + count)));
}

// Called by the module (archive_reader.c) for the engine's reads.
function read_archive(position, buffer, count) {
  try {
    let bytes;
    if (count >= kBlockBytes) {
      bytes = read_file(position, count);
    } else {
      if (position < block.start || position + count > block.start + block.bytes.length) {
        block = { start: position, bytes: read_file(position, kBlockBytes) };
      }
      const from = position - block.start;
      bytes = block.bytes.subarray(from, Math.min(from + count, block.bytes.length));
    }
    engine.HEAPU8.set(bytes, buffer);
    return bytes.length;
  } catch (e) {
    return -1;
  }
}

async function load_engine() {
  if (!engine) engine = await createKelvarin({ readArchive: read_archive });
  return engine;
}

function failure(kind) {
  return { ok: false, kind, message: c_string(engine._kelvarin_error_message(archive)) };
}

function c_string(pointer) {
  const heap = engine.HEAPU8;
  let end = pointer;
  while (heap[end]) end++;
  return new TextDecoder().decode(heap.subarray(pointer, end));
}

// The plan's entries as columns, which the page turns into its tree.
function list_entries() {
  const layout = new Uint32Array(engine.HEAPU8.buffer, engine._kelvarin_web_entry_layout(), 11);
  const [struct_size, , depth_at, path_at, path_size_at, kind_at, size_at, fate_at,
    reason_at, inside_at, message_at] = layout;
  const total = engine._kelvarin_entry_count(archive);
  const count = Math.min(total, kMostEntries);
  const entry = engine._malloc(struct_size);
  const columns = {
    total, names: new Array(count), depths: new Uint32Array(count),
    kinds: new Uint8Array(count), sizes: new Float64Array(count), fates: new Uint8Array(count),
    reasons: new Uint8Array(count), inside: new Float64Array(count), messages: {}, utf8: new Uint8Array(count),
  };
  const decoder = new TextDecoder('utf-8', { fatal: true });
  const lossy = new TextDecoder();
  paths = new Array(count);
  for (let i = 0; i < count; i++) {
    const kind = engine._kelvarin_entry_at(archive, i, entry);
    if (kind !== 0) {
      engine._free(entry);
      throw failure(kind);
    }
    const heap = engine.HEAPU8;
    const view = new DataView(heap.buffer);
    const at = (offset) => view.getUint32(entry + offset, true);
    const u64 = (offset) => at(offset) + at(offset + 4) * 0x100000000;
    const path_bytes = heap.slice(at(path_at), at(path_at) + at(path_size_at));
    paths[i] = path_bytes;
    try {
      columns.names[i] = decoder.decode(path_bytes);
      columns.utf8[i] = 1;
    } catch (e) {
      columns.names[i] = lossy.decode(path_bytes);
    }
    columns.depths[i] = at(depth_at);
    columns.kinds[i] = at(kind_at);
    columns.sizes[i] = u64(size_at);
    columns.fates[i] = at(fate_at);
    columns.reasons[i] = at(reason_at);
    columns.inside[i] = u64(inside_at);
    const message = at(message_at);
    if (message && heap[message]) columns.messages[i] = c_string(message);
  }
  engine._free(entry);
  return columns;
}

async function open(request) {
  await load_engine();
  if (archive) engine._kelvarin_archive_free(archive);
  archive = engine._kelvarin_archive_new();
  file = request.file;
  block = { start: 0, bytes: new Uint8Array(0) };
  paths = [];
  const kind = engine._kelvarin_web_open(archive, file.size);
  if (kind !== 0) return failure(kind);
  const entries = list_entries();
  return { ok: true, entries, heap: engine.HEAPU8.length, transfer: [entries.depths.buffer,
      entries.kinds.buffer, entries.sizes.buffer, entries.fates.buffer, entries.reasons.buffer,
      entries.inside.buffer, entries.utf8.buffer] };
}

// Reads an entry's bytes from `offset` in chunks into `take`, at most
// `count` of them; answers how many came.
async function read_entry(index, offset, count, take, id) {
  const path = paths[index];
  const name = engine._malloc(path.length + 1);
  engine.HEAPU8.set(path, name);
  engine.HEAPU8[name + path.length] = 0;
  const buffer = engine._malloc(kChunkBytes);
  const done_at = engine._malloc(4);
  let got = 0;
  try {
    while (got < count) {
      const ask = Math.min(kChunkBytes, count - got);
      // A 64-bit argument reaches the module as two 32-bit halves, low first
      // (it is built without BigInt).
      const at = offset + got;
      const kind = engine._kelvarin_read(archive, name, at % 0x100000000, Math.floor(at / 0x100000000),
        buffer, ask, done_at);
      if (kind !== 0) throw failure(kind);
      const done = new DataView(engine.HEAPU8.buffer).getUint32(done_at, true);
      if (done === 0) break;
      await take(engine.HEAPU8.slice(buffer, buffer + done));
      got += done;
      if (id !== undefined) {
        await yield_to_messages();
        if (cancelled.has(id)) throw { ok: false, cancelled: true };
      }
    }
  } finally {
    engine._free(name);
    engine._free(buffer);
    engine._free(done_at);
  }
  return got;
}

// Lets a cancel request in between two chunks of a long job. A message
// channel, as timers nested this deep wait 4 ms each.
function yield_to_messages() {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = resolve;
    channel.port2.postMessage(0);
  });
}

async function preview(request) {
  const parts = [];
  await read_entry(request.index, 0, request.count, (bytes) => parts.push(bytes));
  const bytes = new Blob(parts);
  return { ok: true, bytes: await bytes.arrayBuffer() };
}

async function download(request) {
  const parts = [];
  const size = request.size;
  let done = 0;
  await read_entry(request.index, 0, size, (bytes) => {
    parts.push(new Blob([bytes]));
    done += bytes.length;
    postMessage({ id: request.id, progress: true, done, total: size });
  }, request.id);
  return { ok: true, blob: new Blob(parts) };
}

// request.items: [{index, folder, size}] in the walk's order.
async function zip(request) {
  const writer = new ZipWriter();
  const total = request.items.reduce((sum, item) => sum + item.size, 0);
  let done = 0;
  for (const item of request.items) {
    const utf8 = request.utf8[item.index] === 1;
    if (item.folder) {
      writer.add_folder(paths[item.index], utf8);
      continue;
    }
    writer.begin_file(paths[item.index], utf8, item.size);
    await read_entry(item.index, 0, item.size, (bytes) => {
      writer.data(bytes);
      done += bytes.length;
      postMessage({ id: request.id, progress: true, done, total });
    }, request.id);
    writer.end_file();
  }
  return { ok: true, blob: writer.finish() };
}

// Into a folder the user picked (a FileSystemDirectoryHandle): what can't
// be made there is counted, and the rest goes on.
async function extract_to_folder(request) {
  const folders = new Map([['', request.folder]]);
  const lossy = new TextDecoder();
  async function folder_of(names) {
    let path = '';
    let handle = request.folder;
    for (const name of names) {
      path += '/' + name;
      if (!folders.has(path)) folders.set(path, await handle.getDirectoryHandle(name, { create: true }));
      handle = folders.get(path);
    }
    return handle;
  }
  const total = request.items.reduce((sum, item) => sum + item.size, 0);
  let done = 0;
  const failed = [];
  for (const item of request.items) {
    const names = lossy.decode(paths[item.index]).split('/');
    try {
      if (item.folder) {
        await folder_of(names);
        continue;
      }
      const parent = await folder_of(names.slice(0, -1));
      const handle = await parent.getFileHandle(names[names.length - 1], { create: true });
      const out = await handle.createWritable();
      try {
        await read_entry(item.index, 0, item.size, async (bytes) => {
          await out.write(bytes);
          done += bytes.length;
          postMessage({ id: request.id, progress: true, done, total });
        }, request.id);
      } finally {
        await out.close();
      }
    } catch (e) {
      if (e && e.cancelled) throw e;
      failed.push({ index: item.index, message: String(e && e.message || e) });
    }
  }
  return { ok: true, failed };
}

const handlers = { open, preview, download, zip, extract_to_folder };

onmessage = async (event) => {
  const request = event.data;
  if (request.type === 'cancel') {
    cancelled.add(request.cancel);
    return;
  }
  let answer;
  try {
    answer = await handlers[request.type](request);
  } catch (e) {
    answer = e && e.ok === false ? e : { ok: false, message: String(e && e.message || e) };
    if (e instanceof WebAssembly.RuntimeError) {
      // The module stopped (it aborts on what it can't survive): the next
      // archive gets a fresh one.
      engine = null;
      archive = 0;
    }
  }
  cancelled.delete(request.id);
  const transfer = answer.transfer || [];
  delete answer.transfer;
  if (answer.bytes) transfer.push(answer.bytes);
  postMessage({ id: request.id, ...answer }, transfer);
};
