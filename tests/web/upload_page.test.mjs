// The browser upload page in real headless Chromium, served by the real remote-control server (the harness
// program), whose intake records every file it is handed.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { ControlHarness, launchBrowser, until } from './harness.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'ombry-upload-'));
const incoming = path.join(work, 'incoming');
let browser;

before(async () => {
  fs.mkdirSync(incoming);
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// A file of random bytes on disk, with what the intake should receive.
function makeFile(name, bytes) {
  const file = path.join(work, name);
  const data = crypto.randomBytes(bytes);
  fs.writeFileSync(file, data);
  return { file, name, size: bytes, sha256: crypto.createHash('sha256').update(data).digest('hex'), head: data.subarray(0, 16).toString('hex') };
}

async function withServer(options, fn) {
  const server = await ControlHarness.start({ incoming, ...options });
  const context = await browser.newContext();
  try {
    await fn(server, context);
  } finally {
    await context.close();
    await server.stop();
  }
}

// Opens the page by its link and waits until it has asked the server for its playlists.
async function openUploadPage(context, server, query) {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (err) => errors.push(err));
  const response = await page.goto(`${server.url}upload${query}`);
  assert.equal(response.status(), 200);
  await page.waitForSelector('#form', { state: 'visible' });
  page.errors = errors;
  return page;
}

// Chooses the files through the page's file input and sends them.
async function send(page, files, { playlist = '', newPlaylist } = {}) {
  await page.selectOption('#playlist', playlist);
  if (newPlaylist !== undefined) await page.fill('#newName', newPlaylist);
  await page.setInputFiles('#picker', files.map((f) => f.file));
  await page.click('#send');
}

async function notice(page) { return (await page.textContent('#notice')).trim(); }

// Each file's row: its state class, state text and message.
async function rows(page) {
  return page.$$eval('#files li', (items) => items.map((li) => ({
    state: li.className,
    text: li.querySelector('.state').textContent,
    message: li.querySelector('.message').textContent,
  })));
}

async function settled(page, expected) {
  return until(async () => (await notice(page)) === expected, `the page says "${expected}" (it says "${await notice(page)}")`, 30000);
}

function assertReceived(ingest, file) {
  assert.equal(ingest.originalFilename, file.name);
  assert.equal(ingest.size, file.size);
  assert.equal(ingest.head, file.head);
  assert.equal(ingest.sha256, file.sha256);
}

test('a chosen file reaches the intake byte for byte, in the chosen playlist, and the page says it was added', async () => {
  const playlists = [{ id: 'p1', name: 'Walk-in' }, { id: 'p2', name: 'Show' }];
  await withServer({ token: 'tok-1', playlists }, async (server, context) => {
    const page = await openUploadPage(context, server, '?k=tok-1');
    const offered = await page.$$eval('#playlist option', (options) => options.map((o) => o.textContent));
    assert.deepEqual(offered.slice(0, 3), ['No playlist', 'Walk-in', 'Show']);

    // A space in the name must arrive as a space; several MiB cross in many pieces.
    const clip = makeFile('Opening clip.mp4', 5 * 1024 * 1024 + 123);
    await send(page, [clip], { playlist: 'p2' });
    const ingest = await server.nextIngest(30000);
    assertReceived(ingest, clip);
    assert.equal(ingest.playlistId, 'p2');
    assert.equal(ingest.newPlaylistName, null);
    assert.equal(ingest.displayName, null);
    assert.ok(ingest.tempPath.startsWith(incoming), ingest.tempPath);

    await settled(page, 'Every file was added.');
    assert.deepEqual(await rows(page), [{ state: 'ok', text: 'Added', message: 'In Ombry as “Opening clip.mp4”.' }]);
    assert.deepEqual(page.errors, []);
  });
});

test('the token of the link is read as the server reads it, plus signs included', async () => {
  for (const query of ['?k=Ab+cd/e=', '?k=Ab%2Bcd%2Fe%3D']) {
    await withServer({ token: 'Ab+cd/e=' }, async (server, context) => {
      const page = await openUploadPage(context, server, query);
      const photo = makeFile('photo.png', 2000);
      await send(page, [photo]);
      assertReceived(await server.nextIngest(), photo);
      await settled(page, 'Every file was added.');
    });
  }
});

test('files sent into a new playlist all land in the playlist the first one made, even beside one of the same name', async () => {
  await withServer({ token: 't', playlists: [{ id: 'p1', name: 'Encore' }] }, async (server, context) => {
    const page = await openUploadPage(context, server, '?k=t');
    const first = makeFile('one.mp3', 3000);
    const second = makeFile('two.wav', 4000);
    await send(page, [first, second], { playlist: '\u0000new', newPlaylist: '  Encore  ' });

    const a = await server.nextIngest();
    assertReceived(a, first);
    assert.equal(a.newPlaylistName, 'Encore');
    assert.equal(a.playlistId, null);
    const b = await server.nextIngest();
    assertReceived(b, second);
    assert.equal(b.playlistId, 'new-1', 'the second file went elsewhere than the playlist the first one made');
    assert.equal(b.newPlaylistName, null);
    await settled(page, 'Every file was added.');
  });
});

test('a refusal shows the server\'s own reason on the file, and nothing of it reaches the intake', async () => {
  await withServer({ token: 'tok-2' }, async (server, context) => {
    // No token: the server's own page of refusal.
    const bare = await context.newPage();
    const refused = await bare.goto(`${server.url}upload`);
    assert.equal(refused.status(), 401);
    assert.equal((await bare.textContent('body')).trim(), 'Upload link invalid, or uploads are disabled in Ombry\'s settings.');

    // Uploads switched off while the page is open.
    const page = await openUploadPage(context, server, '?k=tok-2');
    await server.apply({ op: 'upload', enabled: false, token: 'tok-2' });
    const refusedFile = makeFile('refused.mov', 300 * 1024);
    await send(page, [refusedFile]);
    await settled(page, '1 file was not added.');
    assert.deepEqual(await rows(page), [{ state: 'failed', text: 'Not added', message: 'bad or missing token' }]);

    // Switched on again, the next file is the first the intake sees.
    await server.apply({ op: 'upload', enabled: true, token: 'tok-2' });
    const accepted = makeFile('accepted.mov', 1000);
    await send(page, [accepted]);
    assertReceived(await server.nextIngest(), accepted);
  });
});

test('a file the intake refuses shows the intake\'s reason', async () => {
  await withServer({ token: 'tok-3' }, async (server, context) => {
    await server.apply({ op: 'ingest', ok: false, message: 'This file could not be read as a video.' });
    const page = await openUploadPage(context, server, '?k=tok-3');
    const broken = makeFile('broken.mp4', 10000);
    await send(page, [broken]);
    assertReceived(await server.nextIngest(), broken);
    await settled(page, '1 file was not added.');
    assert.deepEqual(await rows(page), [{ state: 'failed', text: 'Not added', message: 'This file could not be read as a video.' }]);
  });
});

test('an empty file is refused on the page with a reason, and the others of the choice are sent', async () => {
  await withServer({ token: 'tok-4' }, async (server, context) => {
    const page = await openUploadPage(context, server, '?k=tok-4');
    const empty = makeFile('empty.mp4', 0);
    const full = makeFile('full.mp4', 1000);
    await send(page, [empty, full]);
    assertReceived(await server.nextIngest(), full);
    await settled(page, '1 file was not added.');
    assert.deepEqual((await rows(page))[0], { state: 'failed', text: 'Not added', message: 'empty.mp4 is empty.' });
  });
});
