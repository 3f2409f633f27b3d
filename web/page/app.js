// The viewer: opens a dropped or chosen archive in the worker, shows its
// tree a folder at a time, previews and downloads files, and extracts a
// selection as a zip or into a folder. Every name from the archive goes in
// as text (textContent), never as markup.
'use strict';

const kPreviewBytes = 1024 * 1024;
const kImageBytes = 16 * 1024 * 1024;
const kHexBytes = 64 * 1024;
// Rows drawn at once: a folder of more shows a note instead of the rest.
const kMostRows = 5000;
const kIndentLevels = 40;
const kImageTypes = [
  { type: 'image/png', magic: [0x89, 0x50, 0x4e, 0x47] },
  { type: 'image/jpeg', magic: [0xff, 0xd8, 0xff] },
  { type: 'image/gif', magic: [0x47, 0x49, 0x46, 0x38] },
  { type: 'image/bmp', magic: [0x42, 0x4d] },
  { type: 'image/webp', magic: [0x52, 0x49, 0x46, 0x46], at8: [0x57, 0x45, 0x42, 0x50] },
];

const $ = (id) => document.getElementById(id);

const state = {
  root: null,
  entries: null,
  rows: [],
  current: 0,
  chosen: new Set(),
  filter: null,   // the nodes the filter names, or null
  row_tops: [],   // under a filter, the named node each row lies in
  job: null,      // the running long job's id
  archive_name: '',
};

// ---- The worker ----

const worker = new Worker(URL.createObjectURL(new Blob([kWorkerSource], { type: 'text/javascript' })));
let next_id = 1;
const waiting = new Map();

worker.onmessage = (event) => {
  const answer = event.data;
  const job = waiting.get(answer.id);
  if (!job) return;
  if (answer.progress) {
    job.progress(answer);
    return;
  }
  waiting.delete(answer.id);
  job.resolve(answer);
};

function ask(request, progress = () => {}) {
  const id = next_id++;
  return { id, answer: new Promise((resolve) => {
    waiting.set(id, { resolve, progress });
    worker.postMessage({ id, ...request });
  }) };
}

// ---- Opening ----

function element(tag, text, class_name) {
  const made = document.createElement(tag);
  if (text !== undefined) made.textContent = text;
  if (class_name) made.className = class_name;
  return made;
}

function show_problem(words, details) {
  const box = $('problem');
  box.replaceChildren(element('p', words));
  if (details) {
    const more = element('details');
    more.append(element('summary', 'Details'), element('p', details));
    box.append(more);
  }
  box.hidden = false;
}

// The engine's kinds (kelvarin.h: 4 BAD_ARCHIVE, 8 ENDED_EARLY, 9 NO_MEMORY,
// 13 IO) in a player's words.
const kOpenProblems = {
  4: 'This file isn\u2019t a Kelvarin archive, or it is damaged: its table of contents can\u2019t be read, so nothing in it can be shown.',
  8: 'This archive is cut short: it ends before the end of its table of contents. It may not have finished downloading or copying.',
  9: 'There isn\u2019t enough memory to open this archive.',
  13: 'The file can\u2019t be read any more: was it moved or changed since it was chosen?',
};

async function open_file(file) {
  $('hint').hidden = true;
  $('problem').hidden = true;
  $('browser').hidden = true;
  $('preview').replaceChildren();
  state.archive_name = file.name;
  $('archive-name').textContent = `Opening ${file.name}…`;
  const started = performance.now();
  const { answer } = ask({ type: 'open', file });
  const opened = await answer;
  if (!opened.ok) {
    $('archive-name').textContent = file.name;
    show_problem(kOpenProblems[opened.kind] || 'This archive can\u2019t be opened.', opened.message);
    return;
  }
  state.entries = opened.entries;
  state.root = build_tree(opened.entries);
  state.chosen.clear();
  state.filter = null;
  state.current = 0;
  $('filter').value = '';
  $('archive-name').textContent = file.name;
  $('browser').hidden = false;
  const total = opened.entries.total;
  const left_out = count_left_out(state.root);
  let totals = `${count_of(state.root.files, 'file')}, ${human_size(state.root.bytes)}`;
  if (left_out) totals += `; ${left_out} left out`;
  if (total > opened.entries.names.length) {
    totals += `; only the first ${opened.entries.names.length} of ${total} entries are shown`;
  }
  $('totals').textContent = totals;
  render();
  $('tree').focus();
  // For the tests' log: how long until the tree showed, and the memory.
  document.body.dataset.openedIn = String(Math.round(performance.now() - started));
  document.body.dataset.workerHeap = String(opened.heap);
}

function count_left_out(root) {
  let count = 0;
  each_below(root.children, (node) => { count += node.left_out && !node.parent.left_out; });
  return count;
}

// ---- The tree ----

function row_for(node, index) {
  const row = element('div', undefined, 'row');
  row.setAttribute('role', 'treeitem');
  row.setAttribute('aria-level', String(node.depth));
  row.dataset.row = String(index);
  // Under a filter, from the entry it names, which shows its whole path.
  const indent = node.depth - (state.filter ? state.row_tops[index].depth : 1);
  row.style.paddingLeft = `${Math.min(indent, kIndentLevels) * 1.2 + 0.4}em`;
  if (node.is_folder) row.setAttribute('aria-expanded', String(node.open));
  if (state.chosen.has(node)) {
    row.classList.add('chosen');
    row.setAttribute('aria-selected', 'true');
  }
  if (node.left_out) row.classList.add('left-out');
  if (node.fate === kReplaced) row.classList.add('replaced');
  const mark = node.is_folder ? (node.open ? '\u25be' : '\u25b8') : '';
  const label = state.filter ? node.path : node.name;
  row.append(element('span', mark, 'mark'), element('span', visible_name(label) || '(no name)', 'name'));
  if (node.is_folder) {
    row.append(element('span', `${count_of(node.files, 'file')}, ${human_size(node.bytes)}`, 'size'));
  } else {
    row.append(element('span', human_size(node.size), 'size'));
  }
  if (node.left_out && !node.parent.left_out) {
    let why = `left out: ${kReasonWords[node.reason] || 'it can\u2019t be extracted'}`;
    if (node.inside) why += ` (with ${node.inside} inside)`;
    const note = element('span', why, 'why');
    if (node.message) note.title = node.message;
    row.append(note);
  } else if (node.fate === kReplaced) {
    row.append(element('span', 'replaced by a later file of this name', 'why'));
  }
  return row;
}

function shown_rows() {
  if (!state.filter) return visible_rows(state.root);
  const rows = [];
  state.row_tops = [];
  for (const node of state.filter) {
    rows.push(node);
    if (node.is_folder && node.open) rows.push(...visible_rows(node));
    while (state.row_tops.length < rows.length) state.row_tops.push(node);
  }
  return rows;
}

function render() {
  const rows = shown_rows();
  state.rows = rows.slice(0, kMostRows);
  state.current = Math.max(0, Math.min(state.current, state.rows.length - 1));
  const tree = $('tree');
  const made = state.rows.map(row_for);
  if (rows.length > kMostRows) {
    made.push(element('div', `${rows.length - kMostRows} more rows not shown: close a folder or filter.`, 'more'));
  }
  if (!rows.length) made.push(element('div', state.filter ? 'Nothing matches the filter.' : 'The archive is empty.', 'more'));
  tree.replaceChildren(...made);
  mark_current();
  update_buttons();
}

function mark_current() {
  const tree = $('tree');
  tree.querySelector('.row.current')?.classList.remove('current');
  const row = tree.children[state.current];
  if (row && row.dataset.row !== undefined) {
    row.classList.add('current');
    row.scrollIntoView({ block: 'nearest' });
  }
}

function current_node() { return state.rows[state.current]; }

function toggle(node) {
  node.open = !node.open;
  render();
}

function move_to(index) {
  state.current = Math.max(0, Math.min(index, state.rows.length - 1));
  mark_current();
  update_buttons();
}

function activate(node) {
  if (!node) return;
  if (node.is_folder) toggle(node);
  else preview(node);
}

function choose(node) {
  if (state.chosen.has(node)) state.chosen.delete(node);
  else state.chosen.add(node);
  render();
}

$('tree').addEventListener('click', (event) => {
  const row = event.target.closest('.row');
  if (!row) return;
  move_to(Number(row.dataset.row));
  if (event.ctrlKey || event.metaKey) choose(current_node());
  else activate(current_node());
});

$('tree').addEventListener('keydown', (event) => {
  const node = current_node();
  const keys = {
    ArrowDown: () => move_to(state.current + 1),
    ArrowUp: () => move_to(state.current - 1),
    Home: () => move_to(0),
    End: () => move_to(state.rows.length - 1),
    ArrowRight: () => node?.is_folder && !node.open && toggle(node),
    ArrowLeft: () => {
      if (node?.is_folder && node.open) toggle(node);
      else if (node?.parent && state.rows.includes(node.parent)) move_to(state.rows.indexOf(node.parent));
    },
    Enter: () => activate(node),
    ' ': () => node && choose(node),
  };
  if (!keys[event.key]) return;
  event.preventDefault();
  keys[event.key]();
});

// ---- The filter ----

$('filter').addEventListener('input', apply_filter);
$('ignore-case').addEventListener('change', apply_filter);

function apply_filter() {
  const texts = $('filter').value.split(/\s+/).filter((text) => text);
  if (!texts.length) {
    state.filter = null;
  } else {
    const named = make_selection(texts, $('ignore-case').checked);
    const found = [];
    // The topmost entries named: a folder brings what it holds.
    const pending = state.root.children.slice().reverse();
    while (pending.length) {
      const node = pending.pop();
      if (named(node.name, node.path)) {
        found.push(node);
      } else {
        for (let i = node.children.length - 1; i >= 0; i--) pending.push(node.children[i]);
      }
    }
    state.filter = found;
  }
  state.current = 0;
  render();
}

// ---- Preview ----

function image_type(bytes) {
  const starts = (magic, at = 0) => magic.every((b, i) => bytes[at + i] === b);
  const found = kImageTypes.find((kind) => starts(kind.magic) && (!kind.at8 || starts(kind.at8, 8)));
  return found?.type;
}

function looks_like_text(bytes) {
  const kSample = 4096;
  const sample = bytes.subarray(0, kSample);
  if (sample.includes(0)) return false;
  try {
    // A character cut at the end of a sample shorter than the file is no
    // reason to refuse (a stream's decoder waits for the rest).
    new TextDecoder('utf-8', { fatal: true }).decode(sample, { stream: bytes.length > kSample });
    return true;
  } catch (e) {
    return false;
  }
}

function hex_view(bytes) {
  const lines = [];
  for (let at = 0; at < bytes.length; at += 16) {
    const row = bytes.subarray(at, at + 16);
    const hex = Array.from(row, (b) => b.toString(16).padStart(2, '0')).join(' ');
    const text = Array.from(row, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.')).join('');
    lines.push(`${at.toString(16).padStart(8, '0')}  ${hex.padEnd(47)}  ${text}`);
  }
  return lines.join('\n');
}

let shown_image = null;

async function preview(node) {
  const pane = $('preview');
  pane.replaceChildren(element('h2', visible_name(node.path)),
    element('p', human_size(node.size), 'note'));
  if (node.left_out) {
    pane.append(element('p', `Left out: ${kReasonWords[node.reason] || ''}. ${node.message}`, 'note'));
    return;
  }
  const read_start = async (count) => (await ask({ type: 'preview', index: node.index, count }).answer);
  let read = await read_start(Math.min(node.size, kPreviewBytes));
  // An image is shown whole, up to a larger cap.
  if (read.ok && node.size > kPreviewBytes && node.size <= kImageBytes && image_type(new Uint8Array(read.bytes))) {
    read = await read_start(node.size);
  }
  if (current_node() !== node) return;
  if (!read.ok) {
    pane.append(element('p', `This file can\u2019t be read: ${read.message}`, 'note'));
    return;
  }
  const bytes = new Uint8Array(read.bytes);
  const count = bytes.length;
  const partial = count < node.size ? `The first ${human_size(count)} of ${human_size(node.size)}.` : '';
  if (shown_image) URL.revokeObjectURL(shown_image);
  shown_image = null;
  const type = image_type(bytes);
  if (type && !partial) {
    shown_image = URL.createObjectURL(new Blob([bytes], { type }));
    const image = element('img');
    image.alt = visible_name(node.name);
    image.src = shown_image;
    pane.append(image);
  } else if (looks_like_text(bytes)) {
    pane.append(element('pre', new TextDecoder().decode(bytes), 'text'));
    if (partial) pane.append(element('p', partial, 'note'));
  } else {
    pane.append(element('pre', hex_view(bytes.subarray(0, kHexBytes)), 'hex'));
    if (node.size > kHexBytes) {
      pane.append(element('p', `The first ${human_size(kHexBytes)} of ${human_size(node.size)}, in hex.`, 'note'));
    }
  }
}

// ---- Downloads and extraction ----

function update_buttons() {
  const node = current_node();
  const busy = state.job !== null;
  $('download').disabled = busy || !node || node.is_folder || node.left_out;
  $('zip-selected').disabled = busy || chosen_nodes().length === 0;
  $('zip-all').disabled = busy;
  $('folder-selected').disabled = $('zip-selected').disabled;
  $('folder-all').disabled = busy;
}

// The chosen nodes (or, with none chosen, the filter's), less those inside
// another, in the walk's order.
function chosen_nodes() {
  const nodes = state.chosen.size ? [...state.chosen] : (state.filter || []);
  const inside = (node) => {
    for (let up = node.parent; up; up = up.parent) if (state.chosen.has(up)) return true;
    return false;
  };
  return nodes.filter((node) => !inside(node)).sort((a, b) => a.index - b.index);
}

function save(blob, name) {
  const link = element('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

async function run_job(request, words) {
  const progress = $('progress');
  progress.hidden = false;
  $('progress-bar').value = 0;
  $('progress-text').textContent = words;
  const job = ask(request, ({ done, total }) => {
    $('progress-bar').value = total ? done / total : 1;
    $('progress-text').textContent = `${words} ${human_size(done)} of ${human_size(total)}`;
  });
  state.job = job.id;
  update_buttons();
  const answer = await job.answer;
  state.job = null;
  progress.hidden = true;
  // For the tests, which wait for a job to end and ask how.
  document.body.dataset.jobsDone = String(Number(document.body.dataset.jobsDone || 0) + 1);
  document.body.dataset.lastJob = answer.cancelled ? 'cancelled' : answer.ok ? 'done' : 'failed';
  update_buttons();
  if (!answer.ok && !answer.cancelled) show_problem('That didn\u2019t work.', answer.message);
  return answer;
}

$('cancel').addEventListener('click', () => {
  if (state.job !== null) worker.postMessage({ type: 'cancel', cancel: state.job });
});

$('download').addEventListener('click', async () => {
  const node = current_node();
  const answer = await run_job({ type: 'download', index: node.index, size: node.size }, 'Reading');
  if (answer.ok) save(answer.blob, node.name || 'file');
});

function zip_name(all) {
  const base = state.archive_name.replace(/\.brq$/i, '') || 'archive';
  return all ? `${base}.zip` : `${base} (part).zip`;
}

async function zip(nodes, all) {
  const items = extraction_items(nodes);
  const answer = await run_job({ type: 'zip', items, utf8: state.entries.utf8 }, 'Zipping');
  if (answer.ok) save(answer.blob, zip_name(all));
}

$('zip-selected').addEventListener('click', () => zip(chosen_nodes(), false));
$('zip-all').addEventListener('click', () => zip(state.root.children, true));

async function into_folder(nodes) {
  let folder;
  try {
    folder = await window.showDirectoryPicker({ mode: 'readwrite' });
  } catch (e) {
    return;  // the user closed the picker
  }
  const items = extraction_items(nodes);
  const answer = await run_job({ type: 'extract_to_folder', items, folder }, 'Extracting');
  if (answer.ok && answer.failed.length) {
    show_problem(`${answer.failed.length} of the files couldn\u2019t be written there.`,
      answer.failed.map((f) => `${visible_name(state.entries.names[f.index])}: ${f.message}`).join('\n'));
  }
}

if (window.showDirectoryPicker) {
  $('folder-selected').hidden = false;
  $('folder-all').hidden = false;
  $('folder-selected').addEventListener('click', () => into_folder(chosen_nodes()));
  $('folder-all').addEventListener('click', () => into_folder(state.root.children));
}

// ---- Choosing a file ----

$('file').addEventListener('change', () => {
  if ($('file').files.length) open_file($('file').files[0]);
});

// Anywhere on the page: a file dropped beside the zone would otherwise
// make the browser leave the page for it.
const drop = $('drop');
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('dragging');
});
document.addEventListener('dragleave', () => drop.classList.remove('dragging'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('dragging');
  const file = event.dataTransfer.files[0];
  if (file) open_file(file);
});
