// The page in headless Chromium, opened from disk as a user would: the
// tree against `brq list --json`, previews, a download and a zip against
// `brq extract`, hostile and damaged archives, and the time a large archive
// takes to show. Environment: KELVARIN_PAGE (the built page's folder),
// KELVARIN_BRQ (the native brq; without it the tests skip), KELVARIN_SHOTS
// (where screenshots go), KELVARIN_LARGE (a large archive to time, made
// with brq pack when missing).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { createServer } from 'node:http';
import { extname, join, resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
import puppeteer from 'puppeteer-core';

import { write_archive } from './archives.mjs';

const page_dir = resolve(process.env.KELVARIN_PAGE || 'build-web/page');
const brq = process.env.KELVARIN_BRQ;
const shots = process.env.KELVARIN_SHOTS || join(page_dir, '..', 'screenshots');
const sample = new URL('../../examples/sample.brq', import.meta.url).pathname;
const skip = !brq || !existsSync(brq) ? `the native brq is not built (${brq || 'KELVARIN_BRQ unset'})` : false;

// A 2x1 PNG, red and blue.
const kPng = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAIAAAABCAIAAAB7QOjdAAAAEElEQVR4nGP4z8DAwMDAAAAPBAH/+z3lyQAAAABJRU5ErkJggg==', 'base64');

const run_brq = (...args) => execFileSync(brq, args, { maxBuffer: 1 << 28 });

// Every folder and file below `root`: "<dir>" for a folder, else the bytes.
function snapshot(root, prefix = '') {
  const tree = {};
  for (const name of readdirSync(join(root, prefix)).sort()) {
    const path = prefix ? `${prefix}/${name}` : name;
    if (statSync(join(root, path)).isDirectory()) Object.assign(tree, { [path]: '<dir>' }, snapshot(root, path));
    else tree[path] = readFileSync(join(root, path)).toString('base64');
  }
  return tree;
}

describe('the archive viewer', { skip }, () => {
  let browser;
  let page;
  let downloads;
  const dialogs = [];
  const errors = [];

  let scratch;

  before(async () => {
    scratch = mkdtempSync(join(tmpdir(), 'kelvarin-web-'));
    mkdirSync(shots, { recursive: true });
    browser = await puppeteer.launch({
      executablePath: process.env.KELVARIN_CHROMIUM || '/usr/bin/chromium',
      headless: true,
      args: ['--no-sandbox', '--enable-precise-memory-info'],
    });
    page = await browser.newPage();
    await page.setViewport({ width: 1100, height: 700 });
    page.on('dialog', async (dialog) => {
      dialogs.push(dialog.message());
      await dialog.dismiss();
    });
    page.on('pageerror', (error) => errors.push(String(error)));
    page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
    downloads = mkdtempSync(join(scratch, 'downloads-'));
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    await page.goto(`file://${page_dir}/index.html`);
  });

  after(async () => {
    await browser?.close();
    if (scratch) rmSync(scratch, { recursive: true, force: true });
  });

  async function open(path) {
    await page.evaluate(() => { document.body.dataset.openedIn = ''; });
    const input = await page.$('#file');
    await input.uploadFile(path);
    await page.waitForFunction(() => document.body.dataset.openedIn || !document.getElementById('problem').hidden);
  }

  // The rows shown, as [level, name, size text, note].
  const rows = () => page.$$eval('#tree .row', (all) => all.map((row) => [
    Number(row.getAttribute('aria-level')), row.querySelector('.name').textContent,
    row.querySelector('.size').textContent, row.querySelector('.why')?.textContent || '']));

  async function open_all_folders() {
    for (;;) {
      const closed = await page.$('#tree .row[aria-expanded="false"]');
      if (!closed) return;
      await closed.click();
    }
  }

  async function click_row(name) {
    const found = await page.$$('#tree .row');
    for (const row of found) {
      if (await row.$eval('.name', (n, want) => n.textContent === want, name)) return row.click();
    }
    throw new Error(`no row ${name}`);
  }

  // The next file to land in the downloads folder.
  async function next_download(action) {
    const before_names = new Set(readdirSync(downloads));
    await action();
    for (;;) {
      const fresh = readdirSync(downloads).filter((n) => !before_names.has(n) && !n.endsWith('.crdownload'));
      if (fresh.length) return join(downloads, fresh[0]);
      await new Promise((r) => setTimeout(r, 50));
    }
  }

  async function job_ended(action) {
    const done = await page.evaluate(() => Number(document.body.dataset.jobsDone || 0));
    await action();
    await page.waitForFunction((before) => Number(document.body.dataset.jobsDone || 0) > before, {}, done);
  }

  const shot = (name) => page.screenshot({ path: join(shots, `${name}.png`) });

  test('shows the sample archive\'s tree as brq lists it, with sizes and totals', async () => {
    await open(sample);
    await open_all_folders();
    const listed = JSON.parse(run_brq('list', '--json', sample)).entries.filter((e) => e.path);
    const shown = await rows();
    const paths = [];
    const stack = [];
    for (const [level, name] of shown) {
      stack.length = level - 1;
      stack.push(name);
      paths.push(stack.join('/'));
    }
    assert.deepEqual(paths, listed.map((e) => e.path));
    const sizes = await page.evaluate((entries) => entries.map((e) => (e.kind === 'file' ? human_size(e.size) : null)), listed);
    shown.forEach(([, , size], i) => sizes[i] !== null && assert.equal(size, sizes[i]));
    assert.match(await page.$eval('#totals', (t) => t.textContent), /^5 files, 5\.2 KiB$/);
    // The keyboard: down three rows past the two maps, Enter shows the file.
    await page.focus('#tree');
    for (const key of ['Home', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'Enter']) await page.keyboard.press(key);
    await page.waitForSelector('#preview pre.text');
    assert.equal(await page.$eval('#preview pre', (p) => p.textContent), run_brq('cat', sample, 'readme.txt').toString());
    await page.screenshot({ path: join(shots, 'sample.png'), clip: { x: 0, y: 0, width: 1100, height: 320 } });
  });

  test('the filter names what brq list names, by the same paths and patterns', async () => {
    // Every folder is open (above), so the rows are all that is named.
    const filters = ['*.map', 'sounds/**/*.ogg', 'MAPS', 'textures [r]eadme.*', '/maps/../readme.txt',
      '?aps/level[!1].*', 'sounds/**', '**/w*', '[a-m]*', 'nothing*', 're[*', '*.[!m]*', '**/[a-s]*/**'];
    for (const ignore_case of [false, true]) {
      if (ignore_case) await page.click('#ignore-case');
      for (const filter of filters) {
        await page.$eval('#filter', (box, text) => { box.value = text; box.dispatchEvent(new Event('input')); }, filter);
        const options = ignore_case ? ['--ignore-case'] : [];
        const listed = spawnSync(brq, ['list', '--json', ...options, sample, ...filter.split(' ')]);
        const want = JSON.parse(listed.stdout).entries.map((e) => e.path);
        assert.deepEqual((await rows()).map(([, path]) => path), want, `${filter} ${options}`);
      }
    }
    await page.click('#ignore-case');
    await page.$eval('#filter', (box) => { box.value = ''; box.dispatchEvent(new Event('input')); });
  });

  describe('a packed archive', () => {
    let archive;
    before(() => {
      const source = join(scratch, 'source');
      mkdirSync(join(source, 'art/icons'), { recursive: true });
      mkdirSync(join(source, 'empty'));
      writeFileSync(join(source, 'art/icons/dot.png'), kPng);
      writeFileSync(join(source, 'art/notes.txt'), 'Ünïcode notes\n'.repeat(100));
      writeFileSync(join(source, 'data.bin'), Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) % 256)));
      archive = join(scratch, 'packed.brq');
      run_brq('pack', source, archive);
    });

    test('previews an image and, for other bytes, a hex view', async () => {
      await open(archive);
      await open_all_folders();
      await click_row('dot.png');
      await page.waitForFunction(() => document.querySelector('#preview img')?.complete);
      assert.equal(await page.$eval('#preview img', (img) => img.naturalWidth), 2);
      await shot('image');
      await click_row('data.bin');
      await page.waitForSelector('#preview pre.hex');
      assert.match(await page.$eval('#preview pre', (p) => p.textContent), /^00000000  00 07 0e 15/);
    });

    test('downloads a file and zips a selection, byte for byte as brq extracts them', async () => {
      await click_row('notes.txt');
      const downloaded = await next_download(() => page.click('#download'));
      assert.deepEqual(readFileSync(downloaded), run_brq('cat', archive, 'art/notes.txt'));

      // Space chooses the current row: 'art' (the first) and 'empty'.
      await page.focus('#tree');
      await page.keyboard.press('Home');
      await page.keyboard.press(' ');
      await click_row('empty');
      await page.keyboard.press(' ');
      const zip = await next_download(() => page.click('#zip-selected'));
      const unzipped = mkdtempSync(join(scratch, 'unzipped-'));
      execFileSync('bsdtar', ['-xf', zip, '-C', unzipped]);
      const extracted = join(scratch, 'extracted');
      run_brq('extract', archive, extracted, 'art', 'empty');
      assert.deepEqual(snapshot(unzipped), snapshot(extracted));
    });
  });

  test('a hostile archive shows its names as text, and runs nothing', async () => {
    const markup = '<img src=x onerror=alert(1)>';
    const deep = { name: 'deepest.txt', data: Buffer.from('down here\n') };
    let chain = deep;
    for (let level = 0; level < 999; level++) chain = { name: `d${level}`, children: [chain] };
    const long_name = 'n'.repeat(1020) + '.txt';
    const archive = join(scratch, 'hostile.brq');
    writeFileSync(archive, write_archive([
      { name: markup, children: [{ name: '<script>alert(2)</script>', data: Buffer.from('x') }] },
      { name: 'bell\x07and\x1b[31mescape', data: Buffer.from('y') },
      { name: long_name, data: Buffer.from('z') },
      { name: 'broken.dat', data: Buffer.from('broken'), size: -6 },
      chain,
    ]));
    await open(archive);
    await click_row(markup);
    const shown = await rows();
    assert.deepEqual(shown.slice(0, 6).map(([, name]) => name), [
      markup, '<script>alert(2)</script>', 'bell\\x07and\\x1b[31mescape', long_name, 'broken.dat', 'd998']);
    assert.match(shown[4][3], /left out: damaged/);
    await shot('hostile');
    // 1,000 folders down, the filter reaches the one left out as too deep.
    await page.$eval('#filter', (box) => { box.value = '**/d486'; box.dispatchEvent(new Event('input')); });
    const [[, deepest, , why]] = await rows();
    assert.match(why, /too deep/);
    assert.ok(deepest.split('/').length > 500, deepest);
    assert.equal(await page.$$eval('#tree img, #tree script', (found) => found.length), 0);
    assert.deepEqual(dialogs, []);
  });

  test('names given twice: folders merged and files replaced, zipped as brq extracts them', async () => {
    const archive = join(scratch, 'twice.brq');
    const text = (t) => Buffer.from(t);
    writeFileSync(archive, write_archive([
      { name: 'maps', children: [{ name: 'a.txt', data: text('a') }] },
      { name: 'c.txt', data: text('first') },
      { name: 'maps', children: [{ name: 'b.txt', data: text('b') }] },
      { name: 'c.txt', data: text('second') },
    ]));
    await open(archive);
    await open_all_folders();
    assert.deepEqual((await rows()).map(([level, name, , why]) => [level, name, why]), [
      [1, 'maps', ''], [2, 'a.txt', ''], [2, 'b.txt', ''],
      [1, 'c.txt', 'replaced by a later file of this name'], [1, 'c.txt', '']]);
    const zip = await next_download(() => page.click('#zip-all'));
    const unzipped = mkdtempSync(join(scratch, 'unzipped-'));
    execFileSync('bsdtar', ['-xf', zip, '-C', unzipped]);
    const extracted = join(scratch, 'twice');
    run_brq('extract', archive, extracted);
    assert.deepEqual(snapshot(unzipped), snapshot(extracted));
  });

  test('a damaged archive is explained in a player\'s words', async () => {
    const archive = join(scratch, 'cut.brq');
    writeFileSync(archive, readFileSync(sample).subarray(0, 100));
    await open(archive);
    assert.match(await page.$eval('#problem', (p) => p.textContent),
      /isn\u2019t a Kelvarin archive, or it is damaged/);
    assert.equal(await page.$eval('#browser', (b) => b.hidden), true);
    await shot('damaged');
  });

  test('a large archive shows its tree quickly (the time is logged, not judged)', async () => {
    let large = process.env.KELVARIN_LARGE || join(scratch, 'large.brq');
    // Links and names Windows can't hold are left out (status 2).
    if (!existsSync(large)) spawnSync(brq, ['pack', '--allow-unportable', '-o', large, '-C', '/usr', 'include', 'share/doc']);
    const heap_before = await page.evaluate(() => performance.memory?.usedJSHeapSize);
    await open(large);
    const figures = await page.evaluate(() => ({ ...document.body.dataset, page_heap: performance.memory?.usedJSHeapSize }));
    const entries = await page.evaluate(() => state.entries.names.length);
    // The index ends where the first file's data begin (or before).
    const listed = spawnSync(brq, ['list', '--json', large], { maxBuffer: 1 << 28 }).stdout;
    const index_end = JSON.parse(listed).entries.reduce((end, e) => (e.offset === null ? end : Math.min(end, e.offset)), Infinity);
    const mib = (bytes) => (bytes / 2 ** 20).toFixed(1);
    console.log(`# ${entries} entries, ${mib(statSync(large).size)} MiB, index at most ${mib(index_end)} MiB: ` +
      `tree shown in ${figures.openedIn} ms; worker's wasm memory ${mib(figures.workerHeap)} MiB, ` +
      `page's JS heap ${mib(figures.page_heap)} MiB (${mib(figures.page_heap - heap_before)} MiB more than before)`);
    assert.equal(await page.$eval('#browser', (b) => b.hidden), false);

    // Cancel stops a zip of it all, without a complaint.
    await job_ended(async () => {
      await page.click('#zip-all');
      await page.click('#cancel');
    });
    assert.equal(await page.evaluate(() => document.body.dataset.lastJob), 'cancelled');
    assert.equal(await page.$eval('#problem', (p) => p.hidden), true);
  });

  test('served over HTTP, it extracts into a folder as brq does', async () => {
    const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
    const server = createServer((request, response) => {
      const path = join(page_dir, new URL(request.url, 'http://x').pathname);
      if (!existsSync(path) || !path.startsWith(page_dir)) return response.writeHead(404).end();
      response.writeHead(200, { 'Content-Type': types[extname(path)] || 'application/octet-stream' });
      response.end(readFileSync(path));
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    try {
      await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
      await open(sample);
      assert.deepEqual((await rows()).map(([, name]) => name), ['maps', 'readme.txt', 'sounds', 'textures']);
      // The folder picked is one of the origin's private file system, which
      // needs no dialog.
      await page.evaluate(() => {
        window.showDirectoryPicker = async () =>
          (await navigator.storage.getDirectory()).getDirectoryHandle('out', { create: true });
      });
      await job_ended(() => page.click('#folder-all'));
      assert.equal(await page.evaluate(() => document.body.dataset.lastJob), 'done');
      const written = await page.evaluate(async () => {
        const tree = {};
        const walk = async (folder, prefix) => {
          for await (const [name, handle] of folder.entries()) {
            const path = prefix + name;
            if (handle.kind === 'directory') {
              tree[path] = '<dir>';
              await walk(handle, `${path}/`);
            } else {
              const bytes = new Uint8Array(await (await handle.getFile()).arrayBuffer());
              tree[path] = btoa(String.fromCharCode(...bytes));
            }
          }
        };
        await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle('out'), '');
        return tree;
      });
      const extracted = join(scratch, 'whole');
      run_brq('extract', sample, extracted);
      const want = snapshot(extracted);
      assert.deepEqual(Object.keys(written).sort(), Object.keys(want));
      for (const path of Object.keys(want)) assert.equal(written[path], want[path], path);
    } finally {
      server.close();
    }
  });

  test('nothing failed in the page', () => {
    assert.deepEqual(errors, []);
    assert.deepEqual(dialogs, []);
  });
});
