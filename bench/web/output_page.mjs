// The browser output page in headless Chromium: frames dropped while a 1080p60 H.264 clip plays for 10 s,
// and the time from a state broadcast to the first painted frame of a still's take.
// Run: OMBRY_OUTPUT_HARNESS=build/tests/web/ombry_output_harness OMBRY_OUTPUT_BUNDLE=resources/OutputBundle \
//      node bench/web/output_page.mjs
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { Harness, launchBrowser, state, cue, until } from '../../tests/web/harness.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'ombry-web-bench-'));
const file = (name) => path.join(work, name);
const ffmpeg = (...args) => execFileSync('ffmpeg', ['-hide_banner', '-loglevel', 'error', '-y', ...args]);
ffmpeg('-f', 'lavfi', '-i', 'testsrc2=s=1920x1080:r=60:d=12', '-c:v', 'libx264', '-preset', 'veryfast',
  '-pix_fmt', 'yuv420p', '-g', '60', file('clip.mp4'));
ffmpeg('-f', 'lavfi', '-i', 'color=c=0xff0000:s=1920x1080', '-frames:v', '1', file('red.png'));
ffmpeg('-f', 'lavfi', '-i', 'color=c=0x0000ff:s=1920x1080', '-frames:v', '1', file('blue.png'));

const browser = await launchBrowser();
const server = await Harness.start({ media: { clip: file('clip.mp4'), red: file('red.png'), blue: file('blue.png') } });
try {
  const page = await (await browser.newContext({ viewport: { width: 1920, height: 1080 } })).newPage();
  await page.goto(server.url);
  let rev = 1;

  // Still takes: broadcast → first frame of the new still on screen.
  const latencies = [];
  for (let i = 0; i < 20; i += 1) {
    const id = i % 2 ? 'blue' : 'red';
    const cueId = `still-${i}`;
    const sent = Date.now();
    server.send(state(rev++, { media: cue(id, 'image', { cueId }) }));
    const shown = await until(() => page.evaluate((c) => {
      const s = window.ombryOutput.shown;
      return s && s.cueId === c ? s.at : 0;
    }, cueId), 'the still shows');
    latencies.push(shown - sent);
  }
  latencies.sort((a, b) => a - b);
  console.log(`still take, broadcast to first painted frame: median ${latencies[10]} ms, worst ${latencies[19]} ms (goal < 100 ms)`);

  // 10 s of 1080p60 H.264.
  server.send(state(rev++, { media: cue('clip', 'video', { playing: true, transition: { type: 'cut', durationMs: 0 } }) }));
  await until(() => page.evaluate(() => {
    const v = document.querySelector('#layer-media video');
    return v && v.currentTime > 0.5;
  }), 'the clip plays');
  const start = await page.evaluate(() => (({ totalVideoFrames, droppedVideoFrames }) => ({ totalVideoFrames, droppedVideoFrames }))(document.querySelector('#layer-media video').getVideoPlaybackQuality()));
  await new Promise((resolve) => setTimeout(resolve, 10000));
  const end = await page.evaluate(() => (({ totalVideoFrames, droppedVideoFrames }) => ({ totalVideoFrames, droppedVideoFrames }))(document.querySelector('#layer-media video').getVideoPlaybackQuality()));
  const total = end.totalVideoFrames - start.totalVideoFrames;
  const dropped = end.droppedVideoFrames - start.droppedVideoFrames;
  console.log(`1080p60 H.264 for 10 s: ${dropped} of ${total} frames dropped (${(100 * dropped / Math.max(1, total)).toFixed(2)} %, goal < 2 %)`);
} finally {
  await server.stop();
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
}
