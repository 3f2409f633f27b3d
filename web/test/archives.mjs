// Archives for the page's tests, written byte by byte so that they can hold
// what brq pack never writes: hostile names, deep trees, damage.
//
// A node is { name: string|Uint8Array, children: [...] } for a folder or
// { name, data: Uint8Array, size? } for a file (`size` overrides the
// recorded size, to damage it).
import { Buffer } from 'node:buffer';

const kHeader = 24;
const kEntry = 16;
const kSize = 12;

export function write_archive(top_level) {
  const entries = [];
  const visit = (node, parent_slot) => {
    const index = entries.length;
    const record = { node, next: -1, child: node.children ? 0 : -1 };
    entries.push(record);
    let previous = null;
    for (const child of node.children || []) {
      const child_index = visit(child, index);
      if (previous === null) record.child = child_index;
      else entries[previous].next = child_index;
      previous = child_index;
    }
    return index;
  };
  visit({ name: '', children: top_level }, -1);
  const names = entries.map(({ node }) => Buffer.from(node.name));
  const pool = Buffer.concat(names.flatMap((name) => [name, Buffer.alloc(1)]));
  const files = entries.filter(({ node }) => node.data);
  const index_size = kHeader + (kEntry + kSize) * entries.length + 4 * files.length + pool.length;
  const data_start = Math.ceil(index_size / 16) * 16;
  const out = Buffer.alloc(data_start + files.reduce((sum, f) => sum + Math.ceil(f.node.data.length / 16) * 16, 0));
  out.writeInt32LE(entries.length, 8);
  out.writeInt32LE(files.length, 12);
  out.writeInt32LE(pool.length, 16);
  let name_at = 0;
  let data_at = data_start;
  let file_ordinal = 0;
  const offsets_at = kHeader + (kEntry + kSize) * entries.length;
  entries.forEach(({ node, next, child }, i) => {
    const entry = kHeader + kEntry * i;
    out.writeInt32LE(next, entry);
    out.writeInt32LE(child, entry + 4);
    out.writeInt32LE(-1, entry + 8);
    out.writeInt32LE(name_at, entry + 12);
    name_at += names[i].length + 1;
    if (!node.data) return;
    out.writeInt32LE(node.size ?? node.data.length, kHeader + kEntry * entries.length + kSize * i + 4);
    out.writeInt32LE(data_at / 16, offsets_at + 4 * file_ordinal++);
    Buffer.from(node.data).copy(out, data_at);
    data_at += Math.ceil(node.data.length / 16) * 16;
  });
  pool.copy(out, offsets_at + 4 * files.length);
  return out;
}
