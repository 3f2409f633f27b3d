// A zip of stored (uncompressed) entries, written as the files are read:
// each file's bytes go out as they come, its local header is filled in once
// its CRC-32 is known (the parts are kept apart until the end, as Blobs,
// which the browser may keep on disk), and ZIP64 records appear only where
// a size, an offset or the count outgrows the classic fields.
'use strict';

const kCrcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(crc, bytes) {
  let c = ~crc >>> 0;
  for (let i = 0; i < bytes.length; i++) c = kCrcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return ~c >>> 0;
}

const kMax32 = 0xffffffff;
const kMax16 = 0xffff;
// Stored, in a name that is UTF-8 (bit 11), by a writer that knows ZIP64.
const kVersionZip64 = 45;
const kVersionPlain = 20;
const kDosDate = 0x21;  // 1980-01-01: the archive keeps no dates

// Little-endian fields into a fresh array.
class Fields {
  constructor(size) {
    this.bytes = new Uint8Array(size);
    this.view = new DataView(this.bytes.buffer);
    this.at = 0;
  }
  u16(v) { this.view.setUint16(this.at, v, true); this.at += 2; return this; }
  u32(v) { this.view.setUint32(this.at, v >>> 0, true); this.at += 4; return this; }
  u64(v) { this.u32(v % 0x100000000); return this.u32(Math.floor(v / 0x100000000)); }
  raw(b) { this.bytes.set(b, this.at); this.at += b.length; return this; }
}

class ZipWriter {
  constructor() {
    this.parts = [];
    this.offset = 0;
    this.central = [];
  }

  // A folder: `name` the path's bytes, without the trailing '/'.
  add_folder(name, utf8) {
    const slot = this.#begin();
    this.#end(slot, this.#with_slash(name), utf8, 0, 0, true);
  }

  // A file of `size` bytes: then data() with its bytes, and end_file().
  begin_file(name, utf8, size) {
    this.file = { slot: this.#begin(), name, utf8, size, crc: 0, written: 0 };
    this.offset += ZipWriter.#local_size(name, size);
  }

  data(bytes) {
    this.file.crc = crc32(this.file.crc, bytes);
    this.file.written += bytes.length;
    this.offset += bytes.length;
    this.parts.push(new Blob([bytes]));
  }

  end_file() {
    const f = this.file;
    if (f.written !== f.size) throw new Error('a file ended before its size');
    this.#end(f.slot, f.name, f.utf8, f.size, f.crc, false);
    this.file = null;
  }

  // The whole zip, once every entry is in.
  finish() {
    const start = this.offset;
    for (const record of this.central) {
      this.parts.push(record);
      this.offset += record.length;
    }
    const size = this.offset - start;
    const count = this.central.length;
    if (count >= kMax16 || start >= kMax32 || size >= kMax32) {
      const end64 = this.offset;
      const record = new Fields(56 + 20);
      record.u32(0x06064b50).u64(44).u16(kVersionZip64).u16(kVersionZip64).u32(0).u32(0)
        .u64(count).u64(count).u64(size).u64(start);
      record.u32(0x07064b50).u32(0).u64(end64).u32(1);
      this.parts.push(record.bytes);
    }
    const end = new Fields(22);
    end.u32(0x06054b50).u16(0).u16(0).u16(Math.min(count, kMax16)).u16(Math.min(count, kMax16))
      .u32(Math.min(size, kMax32)).u32(Math.min(start, kMax32)).u16(0);
    this.parts.push(end.bytes);
    return new Blob(this.parts, { type: 'application/zip' });
  }

  #with_slash(name) {
    const named = new Uint8Array(name.length + 1);
    named.set(name);
    named[name.length] = 0x2f;
    return named;
  }

  #begin() {
    this.parts.push(null);
    return { index: this.parts.length - 1, offset: this.offset };
  }

  static #local_size(name, size) { return 30 + name.length + (size >= kMax32 ? 20 : 0); }

  #end(slot, name, utf8, size, crc, folder) {
    const big = size >= kMax32;
    const flags = utf8 ? 0x800 : 0;
    const version = big || slot.offset >= kMax32 ? kVersionZip64 : kVersionPlain;
    const local = new Fields(ZipWriter.#local_size(name, size));
    local.u32(0x04034b50).u16(version).u16(flags).u16(0).u16(0).u16(kDosDate).u32(crc)
      .u32(big ? kMax32 : size).u32(big ? kMax32 : size).u16(name.length).u16(big ? 20 : 0).raw(name);
    if (big) local.u16(1).u16(16).u64(size).u64(size);
    this.parts[slot.index] = local.bytes;
    if (folder) this.offset += local.bytes.length;

    const far = slot.offset >= kMax32;
    const extra = (big ? 16 : 0) + (far ? 8 : 0);
    const record = new Fields(46 + name.length + (extra ? extra + 4 : 0));
    // Made on Unix, so that unzip gives the modes below.
    const attributes = folder ? (0o40755 * 0x10000 + 0x10) : 0o100644 * 0x10000;
    record.u32(0x02014b50).u16(0x300 | kVersionZip64).u16(version).u16(flags).u16(0).u16(0)
      .u16(kDosDate).u32(crc).u32(big ? kMax32 : size).u32(big ? kMax32 : size)
      .u16(name.length).u16(extra ? extra + 4 : 0).u16(0).u16(0).u16(0).u32(attributes)
      .u32(far ? kMax32 : slot.offset).raw(name);
    if (extra) {
      record.u16(1).u16(extra);
      if (big) record.u64(size).u64(size);
      if (far) record.u64(slot.offset);
    }
    this.central.push(record.bytes);
  }
}
