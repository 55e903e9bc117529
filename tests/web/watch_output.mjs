// Opens an output page in headless Chromium and waits for the page to reveal a take of one clip; prints
// one JSON line: {"layer","cueId","mediaId","pixel"} (the colour in the middle of the page), or {"error"}.
// Used by the end-to-end show test, which runs the real servers in its own process.
//   node watch_output.mjs <output page URL> <media id> [limit in ms]
import { launchBrowser, pixel, until } from './harness.mjs';

const [url, mediaId, limitText] = process.argv.slice(2);
const limitMs = Number(limitText) || 60000;
const width = 640;
const height = 360;

let browser;
try {
  browser = await launchBrowser();
  const page = await browser.newPage({ viewport: { width, height } });
  const errors = [];
  page.on('pageerror', (err) => errors.push(String(err)));
  await page.goto(url);
  // The take is revealed, and its layer has settled on it.
  const shown = await until(() => page.evaluate((id) => {
    const out = window.ombryOutput;
    const last = out && out.shown;
    if (!last) return null;
    const current = out.layers[last.layer].current;
    if (!current || current.cueId !== last.cueId || current.mediaId !== id) return null;
    return { layer: last.layer, cueId: last.cueId, mediaId: current.mediaId };
  }, mediaId), `the page shows ${mediaId}`, limitMs);
  if (errors.length) throw new Error(`the page failed: ${errors.join('; ')}`);
  shown.pixel = await pixel(page, width / 2, height / 2);
  process.stdout.write(`${JSON.stringify(shown)}\n`);
} catch (err) {
  process.stdout.write(`${JSON.stringify({ error: String(err && err.message ? err.message : err) })}\n`);
  process.exitCode = 1;
} finally {
  if (browser) await browser.close();
}
