// The page's zip writer against Python's zipfile, which checks every CRC:
// folders, files of several chunks, non-UTF-8 names, and more entries than
// the classic end record can count (ZIP64).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import vm from 'node:vm';

const source = readFileSync(new URL('../page/zip_writer.js', import.meta.url), 'utf8');
const { ZipWriter } = vm.runInThisContext(`(() => { ${source}; return { ZipWriter }; })()`);

async function written(fill) {
  const writer = new ZipWriter();
  fill(writer);
  const path = join(mkdtempSync(join(tmpdir(), 'kelvarin-zip-')), 'out.zip');
  writeFileSync(path, Buffer.from(await writer.finish().arrayBuffer()));
  const script = 'import sys, zipfile, json\nz = zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n' +
    'print(json.dumps([[i.orig_filename if i.flag_bits & 0x800 else i.filename.encode("cp437").hex(), ' +
    'z.read(i).hex()] for i in z.infolist()]))';
  const entries = JSON.parse(execFileSync('python3', ['-c', script, path], { maxBuffer: 1 << 28 }));
  // zipfile reads the central directory by its size, whatever the count.
  entries.zip64 = readFileSync(path).includes(Buffer.from('PK\x06\x06', 'latin1'));
  return entries;
}

const bytes = (text) => new TextEncoder().encode(text);

test('folders, files in chunks and raw names read back whole', async () => {
  const entries = await written((zip) => {
    zip.add_folder(bytes('maps'), true);
    zip.begin_file(bytes('maps/level1.map'), true, 7);
    zip.data(bytes('lev'));
    zip.data(bytes('el 1'));
    zip.end_file();
    zip.begin_file(Uint8Array.of(0x6e, 0xe9), false, 0);
    zip.end_file();
  });
  assert.equal(entries.zip64, false);
  assert.deepEqual([...entries], [['maps/', ''], ['maps/level1.map', Buffer.from('level 1').toString('hex')], ['6ee9', '']]);
});

test('a file whose bytes fall short of its size is refused', () => {
  const zip = new ZipWriter();
  zip.begin_file(bytes('a'), true, 2);
  zip.data(bytes('x'));
  assert.throws(() => zip.end_file());
});

test('more entries than 65,535 take the ZIP64 end records', async () => {
  const count = 70000;
  const entries = await written((zip) => {
    for (let i = 0; i < count; i++) {
      zip.begin_file(bytes(`f${i}`), true, 1);
      zip.data(Uint8Array.of(i & 0xff));
      zip.end_file();
    }
  });
  assert.equal(entries.length, count);
  assert.equal(entries.zip64, true);
  assert.deepEqual(entries.at(-1), [`f${count - 1}`, ((count - 1) & 0xff).toString(16).padStart(2, '0')]);
});
