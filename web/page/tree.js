// The archive's tree as the page shows it, built from the worker's columns
// (the extraction plan in walk order): a folder merged into an earlier one
// of its name shows as that one, and each folder knows the files and bytes
// an extraction writes from it.
'use strict';

const kFile = 1;
const kFolder = 2;
const kWritten = 1;
const kMerged = 2;
const kReplaced = 3;
const kLeftOut = 4;

// What a player reads for each reason an entry is left out.
const kReasonWords = {
  1: 'damaged in the archive',
  2: 'its name can\u2019t be used as a file name',
  3: 'too deep in folders',
  4: 'its path is too long',
  5: 'a file already has its name',
  6: 'a folder already has its name',
  7: 'a file already has this name in another case',
};

// Control characters shown as visible escapes, so that a name can't rewrite
// what is around it (the page puts names in with textContent only).
function visible_name(name) {
  // eslint-disable-next-line no-control-regex
  return name.replace(/[\u0000-\u001f\u007f-\u009f]/g,
    (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'));
}

class Node {
  constructor(index, name, path, kind, parent) {
    this.index = index;   // in the worker's columns; -1 for the root
    this.name = name;
    this.path = path;
    this.kind = kind;
    this.parent = parent;
    this.depth = parent ? parent.depth + 1 : 0;
    this.children = [];
    this.size = 0;
    this.files = 0;       // files an extraction writes from here
    this.bytes = 0;       // and their bytes
    this.fate = kWritten;
    this.reason = 0;
    this.inside = 0;
    this.message = '';
    this.open = false;
  }

  get is_folder() { return this.kind === kFolder; }
  get left_out() { return this.fate === kLeftOut; }
}

function build_tree(entries) {
  const root = new Node(-1, '', '', kFolder, null);
  root.open = true;
  const stack = [root];
  const folders_by_parent = new Map([[root, new Map()]]);
  for (let i = 0; i < entries.names.length; i++) {
    const depth = entries.depths[i];
    if (depth === 0) continue;  // the root itself
    // A depth past the folder above (which the plan never gives) is read
    // as inside the deepest folder open.
    stack.length = Math.min(depth, stack.length);
    const parent = stack[stack.length - 1];
    const path = entries.names[i];
    // After the folder's path: a name may hold a '/' of its own, which
    // the plan leaves out as a name that can't stand on disk.
    const name = parent.path && path.startsWith(parent.path + '/') ? path.slice(parent.path.length + 1)
      : parent.path ? path.slice(path.lastIndexOf('/') + 1) : path;
    const fate = entries.fates[i];
    if (entries.kinds[i] === kFolder && fate === kMerged) {
      // Into the earlier folder of its name, or, without a name, its parent.
      stack.push(folders_by_parent.get(parent).get(name) || parent);
      continue;
    }
    const node = new Node(i, name, path, entries.kinds[i], parent);
    node.size = entries.sizes[i];
    node.fate = fate;
    node.reason = entries.reasons[i];
    node.inside = entries.inside[i];
    node.message = entries.messages[i] || '';
    if (parent.left_out && !node.left_out) {
      node.fate = kLeftOut;
      node.reason = parent.reason;
    }
    parent.children.push(node);
    if (node.is_folder) {
      folders_by_parent.set(node, new Map());
      if (!folders_by_parent.get(parent).has(name)) folders_by_parent.get(parent).set(name, node);
      stack.push(node);
    } else if (node.fate === kWritten) {
      for (let up = parent; up; up = up.parent) {
        up.files++;
        up.bytes += node.size;
      }
    }
  }
  return root;
}

// The rows shown: the open folders' children, depth first.
function visible_rows(root) {
  const rows = [];
  const pending = root.children.slice().reverse();
  while (pending.length) {
    const node = pending.pop();
    rows.push(node);
    if (node.is_folder && node.open) {
      for (let i = node.children.length - 1; i >= 0; i--) pending.push(node.children[i]);
    }
  }
  return rows;
}

// Every node below `nodes` (themselves included), depth first.
function each_below(nodes, visit) {
  const pending = nodes.slice().reverse();
  while (pending.length) {
    const node = pending.pop();
    visit(node);
    for (let i = node.children.length - 1; i >= 0; i--) pending.push(node.children[i]);
  }
}

// What an extraction of `chosen` writes: folders and the files that stay,
// each once, in the walk's order (items for the worker).
function extraction_items(chosen) {
  const items = [];
  const seen = new Set();
  each_below(chosen, (node) => {
    if (seen.has(node) || node.left_out || node.fate === kReplaced) return;
    seen.add(node);
    items.push({ index: node.index, folder: node.is_folder, size: node.is_folder ? 0 : node.size });
  });
  return items;
}

function count_of(count, thing) {
  return `${count} ${thing}${count === 1 ? '' : 's'}`;
}

function human_size(bytes) {
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB'];
  let unit = 0;
  while (bytes >= 1024 && unit < units.length - 1) {
    bytes /= 1024;
    unit++;
  }
  return unit === 0 ? `${bytes} ${bytes === 1 ? 'byte' : 'bytes'}` : `${bytes.toFixed(1)} ${units[unit]}`;
}
