// The browser output page in real headless Chromium, served by the real output server (the harness
// program), fed program states the way the application feeds them.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { Harness, launchBrowser, state, cue, pixel, until } from './harness.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'ombry-web-'));
const media = {};
let browser;

function ffmpeg(...args) {
  execFileSync('ffmpeg', ['-hide_banner', '-loglevel', 'error', '-y', ...args]);
}

before(async () => {
  const file = (name) => path.join(work, name);
  ffmpeg('-f', 'lavfi', '-i', 'color=c=0xff0000:s=400x400', '-frames:v', '1', file('red.png'));
  ffmpeg('-f', 'lavfi', '-i', 'color=c=0x0000ff:s=400x400', '-frames:v', '1', file('blue.png'));
  ffmpeg('-f', 'lavfi', '-i', 'color=c=0x00ff00:s=400x400', '-frames:v', '1', file('green.png'));
  // A 4 s clip and a 1 s clip, VP9 in WebM with a keyframe every 10 frames so seeks land quickly.
  ffmpeg('-f', 'lavfi', '-i', 'testsrc2=s=320x240:r=25:d=4', '-c:v', 'libvpx-vp9', '-g', '10', '-b:v', '300k',
    '-deadline', 'realtime', '-cpu-used', '8', file('clip4s.webm'));
  ffmpeg('-f', 'lavfi', '-i', 'color=c=0x00ff00:s=320x240:r=25:d=1', '-c:v', 'libvpx-vp9', '-g', '5',
    '-deadline', 'realtime', '-cpu-used', '8', file('green1s.webm'));
  for (const name of ['red.png', 'blue.png', 'green.png', 'clip4s.webm', 'green1s.webm']) {
    media[name.replace(/\..*$/, '')] = file(name);
  }
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// Colours within a few steps: image decoding and scaling may round.
function assertColour(actual, expected, message = '') {
  for (const k of ['r', 'g', 'b', 'a']) {
    assert.ok(Math.abs(actual[k] - expected[k]) <= 4, `${message} ${JSON.stringify(actual)} is not ${JSON.stringify(expected)}`);
  }
}

async function withShow(fn, options = {}) {
  const server = await Harness.start({ media, ...options });
  const context = await browser.newContext({ viewport: { width: 960, height: 540 } });
  try {
    await fn(server, context);
  } finally {
    await context.close();
    await server.stop();
  }
}

async function openPage(context, server, query = '') {
  const page = await context.newPage();
  page.on('pageerror', (err) => { throw err; });
  await page.goto(`${server.url}${query}`);
  return page;
}

test('a still is placed on the stage as fit and fill place it', async () => {
  await withShow(async (server, context) => {
    const page = await openPage(context, server);
    // 960×540 window for a 1920×1080 stage: a 400×400 still fits as a 540×540 square in the middle.
    server.send(state(1, { background: '#0000ff', media: cue('red', 'image', { fillMode: 'fit' }) }));
    await until(async () => (await pixel(page, 480, 270)).r > 240, 'the still shows');
    assertColour(await pixel(page, 480, 270), { r: 255, g: 0, b: 0, a: 255 });
    assertColour(await pixel(page, 100, 270), { r: 0, g: 0, b: 255, a: 255 }, 'left of the fitted still: the stage colour');
    assertColour(await pixel(page, 220, 10), { r: 255, g: 0, b: 0, a: 255 }, 'the still spans the whole height');

    server.send(state(2, { background: '#0000ff', media: cue('red', 'image', { cueId: 'fill', fillMode: 'fill' }) }));
    await until(async () => (await pixel(page, 5, 270)).r > 240, 'the filled still reaches the edges');
    assertColour(await pixel(page, 5, 5), { r: 255, g: 0, b: 0, a: 255 });
  });
});

test('a transparent stage leaves the page transparent around and under the program', async () => {
  await withShow(async (server, context) => {
    const page = await openPage(context, server);
    server.send(state(1, { background: 'transparent', media: cue('red', 'image') }));
    await until(async () => (await pixel(page, 480, 270, true)).r > 240, 'the still shows');
    assert.equal((await pixel(page, 100, 270, true)).a, 0, 'the stage around the fitted still is transparent');
    assert.equal((await pixel(page, 480, 270, true)).a, 255);

    // An opaque colour stage is opaque everywhere, letterbox included.
    await page.setViewportSize({ width: 960, height: 700 });
    server.send(state(2, { background: '#1e90ff' }));
    await until(async () => (await pixel(page, 480, 350, true)).a === 255 && (await pixel(page, 480, 350, true)).b > 240,
      'the stage colour shows');
    const bar = await pixel(page, 480, 10, true);
    assert.equal(bar.a, 255, 'the letterbox bar is opaque');
    assertColour(bar, { r: 0, g: 0, b: 0, a: 255 }, 'the letterbox bar is black');
  });
});

test('the midpoint of a crossfade mixes the two clips as the native ease curve does', async () => {
  await withShow(async (server, context) => {
    const page = await openPage(context, server);
    server.send(state(1, { background: '#000000', media: cue('red', 'image', { fillMode: 'fill', transition: { type: 'cut', durationMs: 0 } }) }));
    await until(async () => (await pixel(page, 480, 270)).r > 240, 'red on air');
    server.send(state(2, { background: '#000000', media: cue('blue', 'image', { fillMode: 'fill', transition: { type: 'crossfade', durationMs: 1000 } }) }));
    // Freeze every animation half way through the 1000 ms crossfade.
    await until(() => page.evaluate(() => {
      const fades = document.getAnimations().filter((a) => a.effect.getTiming().duration === 1000);
      if (fades.length === 0) return false;
      for (const a of document.getAnimations()) { a.pause(); a.currentTime = 500; }
      return true;
    }), 'the crossfade starts');
    const mid = await pixel(page, 480, 270);
    // The old clip fades out on top: its opacity is 1 - ease(0.5) = 0.1976.
    assert.ok(Math.abs(mid.r - 0.1976 * 255) <= 6, `red ${mid.r}`);
    assert.ok(Math.abs(mid.b - 0.8024 * 255) <= 6, `blue ${mid.b}`);
  });
});

test('black covers the stage over 250 ms and reverses from where it stands', async () => {
  await withShow(async (server, context) => {
    const page = await openPage(context, server);
    server.send(state(1, { background: '#ffffff', media: cue('red', 'image', { fillMode: 'fill', transition: { type: 'cut', durationMs: 0 } }) }));
    await until(async () => (await pixel(page, 480, 270)).r > 240 && (await pixel(page, 480, 270)).g < 10, 'red on air');
    server.send(state(2, { background: '#ffffff', black: true, media: cue('red', 'image', { fillMode: 'fill', transition: { type: 'cut', durationMs: 0 } }) }));
    const timing = await until(() => page.evaluate(() => {
      const a = document.getAnimations().find((x) => x.effect.target && x.effect.target.id === 'black');
      return a ? { duration: a.effect.getTiming().duration, easing: a.effect.getTiming().easing } : null;
    }), 'black starts to fade');
    assert.deepEqual(timing, { duration: 250, easing: 'ease' });
    await until(async () => { const p = await pixel(page, 480, 270); return p.r < 3 && p.g < 3 && p.b < 3; }, 'black covers the stage');

    // Off again half way through: the fade-out starts from the opacity reached.
    server.send(state(3, { background: '#ffffff', black: false, media: cue('red', 'image', { fillMode: 'fill' }) }));
    server.send(state(4, { background: '#ffffff', black: true, media: cue('red', 'image', { fillMode: 'fill' }) }));
    const from = await until(() => page.evaluate(() => {
      const a = document.getAnimations().find((x) => x.effect.target && x.effect.target.id === 'black');
      return a ? Number(a.effect.getKeyframes()[0].opacity) : null;
    }), 'black turns back');
    assert.ok(from > 0, `the reversed fade starts at ${from}, not at 0`);
  });
});

test('a video plays, follows transport messages, and a looping clip starts again', async () => {
  await withShow(async (server, context) => {
    const page = await openPage(context, server);
    const videoTime = () => page.evaluate(() => {
      const v = document.querySelector('#layer-media video');
      return v ? v.currentTime : -1;
    });
    server.send(state(1, { media: cue('clip4s', 'video', { playing: true }) }));
    await until(async () => (await videoTime()) > 0.3, 'the video plays');

    server.send({ type: 'transport', layer: 'media', action: 'pause' });
    server.send({ type: 'transport', layer: 'media', action: 'seek', time: 2.5 });
    await until(async () => Math.abs((await videoTime()) - 2.5) < 0.05, 'the seek lands');
    assert.equal(await page.evaluate(() => document.querySelector('#layer-media video').paused), true);

    // The same cue in a newer state is not reloaded: same element, same playhead.
    await page.evaluate(() => { document.querySelector('#layer-media video').dataset.mark = 'kept'; });
    server.send(state(2, { masterVolume: 0.5, media: cue('clip4s', 'video', { playing: false }) }));
    await until(() => page.evaluate(() => document.querySelector('#layer-media video').volume === 0.5), 'the master volume applies');
    assert.equal(await page.evaluate(() => document.querySelector('#layer-media video').dataset.mark), 'kept');
    assert.ok(Math.abs((await videoTime()) - 2.5) < 0.05);

    server.send(state(3, { media: cue('green1s', 'video', { cueId: 'loop', playing: true, loop: true, endAction: 'loop' }) }));
    // A 1 s clip that loops is seen to jump back to its start while still playing.
    const wrapped = await until(() => page.evaluate(() => new Promise((resolve) => {
      const v = [...document.querySelectorAll('#layer-media video')].find((x) => x.src.endsWith('/media/green1s'));
      if (!v || v.paused) return resolve(false);
      let last = v.currentTime;
      const started = performance.now();
      const tick = () => {
        if (v.currentTime + 0.2 < last) return resolve(true);
        last = v.currentTime;
        if (performance.now() - started > 3000) return resolve(false);
        requestAnimationFrame(tick);
      };
      requestAnimationFrame(tick);
    })), 'the loop restarts');
    assert.equal(wrapped, true);
  });
});

test('a clip that ends with clear empties its layer', async () => {
  await withShow(async (server, context) => {
    const page = await openPage(context, server);
    // Taken paused, so that it is seen before it runs to its end; then started by a transport message.
    server.send(state(1, { background: '#0000ff', media: cue('green1s', 'video', { playing: false, fillMode: 'fill', endAction: 'clear', transition: { type: 'cut', durationMs: 0 } }) }));
    await until(async () => (await pixel(page, 480, 270)).g > 200, 'the clip shows');
    server.send({ type: 'transport', layer: 'media', action: 'play' });
    await until(async () => {
      const p = await pixel(page, 480, 270);
      return p.b > 240 && p.g < 20;
    }, 'the layer is empty at the end', 8000);
    // The hidden clip is let go once its sound has ramped down.
    await until(() => page.evaluate(() => document.querySelectorAll('#layer-media video').length === 0), 'the clip is let go');
  });
});

test('the page reconnects to a restarted server and shows its newest state', async () => {
  const server = await Harness.start({ media });
  const context = await browser.newContext({ viewport: { width: 960, height: 540 } });
  let second;
  try {
    const page = await openPage(context, server);
    server.send(state(7, { media: cue('red', 'image', { fillMode: 'fill' }) }));
    await until(async () => (await pixel(page, 480, 270)).r > 240, 'red on air');
    const port = server.port;
    await server.stop();
    // The last picture stays while the server is away.
    assertColour(await pixel(page, 480, 270), { r: 255, g: 0, b: 0, a: 255 });
    second = await Harness.start({ media, port });
    second.send(state(1, { media: cue('green', 'image', { fillMode: 'fill' }) }));
    await until(async () => (await pixel(page, 480, 270)).g > 240, 'the new state shows', 15000);
  } finally {
    await context.close();
    if (second) await second.stop();
  }
});

test('a preview page is not counted as an output', async () => {
  await withShow(async (server, context) => {
    await openPage(context, server, '?role=preview');
    // Every hello is followed by a count report: the preview's reports 0.
    assert.equal(await server.nextCount(), 0);
    await openPage(context, server);
    assert.equal(await server.nextCount(), 1);
  });
});
