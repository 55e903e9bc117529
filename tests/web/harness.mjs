// Shared pieces of the browser-page tests: the harness processes around the output server and the
// remote-control server, Debian's Chromium through playwright-core, program-state builders and pixel reads.
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';
import path from 'node:path';
import zlib from 'node:zlib';
import { chromium } from 'playwright-core';

const harnessProgram = process.env.OMBRY_OUTPUT_HARNESS;
const bundleDir = process.env.OMBRY_OUTPUT_BUNDLE;

// Polls until fn gives a truthy value and returns it; the limit only guards against a hang.
export async function until(fn, what, limitMs = 10000) {
  const end = Date.now() + limitMs;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting until ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 40));
  }
}

// A harness program: JSON operations written to its standard input, JSON lines read from its output. It
// prints {"port":N} or {"error":...} first.
class LineProcess {
  static async spawn(Kind, program, args, what) {
    const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'inherit'] });
    const h = new Kind(child);
    const first = await h.next((m) => 'port' in m || 'error' in m);
    if (first.error) throw new Error(`${what} did not start: ${first.error}`);
    h.port = first.port;
    h.url = `http://127.0.0.1:${first.port}/`;
    return h;
  }

  constructor(child) {
    this.child = child;
    this.lines = [];
    this.waiters = [];
    this.exited = new Promise((resolve) => child.on('exit', resolve));
    createInterface({ input: child.stdout }).on('line', (line) => {
      let message;
      try { message = JSON.parse(line); } catch (_) { return; }
      this.lines.push(message);
      this.flush();
    });
  }

  flush() {
    for (const w of [...this.waiters]) {
      const i = this.lines.findIndex(w.match);
      if (i >= 0) {
        const [m] = this.lines.splice(i, 1);
        this.waiters.splice(this.waiters.indexOf(w), 1);
        w.resolve(m);
      }
    }
  }

  next(match, limitMs = 10000) {
    return new Promise((resolve, reject) => {
      const w = { match, resolve };
      const timer = setTimeout(() => {
        this.waiters.splice(this.waiters.indexOf(w), 1);
        reject(new Error('the harness did not answer'));
      }, limitMs);
      w.resolve = (m) => { clearTimeout(timer); resolve(m); };
      this.waiters.push(w);
      this.flush();
    });
  }

  write(obj) { this.child.stdin.write(`${JSON.stringify(obj)}\n`); }

  async stop() {
    if (this.child.exitCode !== null) return;
    this.child.kill('SIGTERM');
    await this.exited;
  }
}

// One output server in its own process.
export class Harness extends LineProcess {
  static async start({ media = {}, port = 0 } = {}) {
    if (!harnessProgram || !bundleDir) throw new Error('OMBRY_OUTPUT_HARNESS and OMBRY_OUTPUT_BUNDLE must be set');
    const h = await LineProcess.spawn(Harness, harnessProgram, ['--bundle', bundleDir, '--port', String(port)],
      'the output server');
    const index = {};
    for (const [id, file] of Object.entries(media)) index[id] = path.resolve(file);
    h.write({ op: 'media', index });
    return h;
  }

  async nextCount() { return (await this.next((m) => 'outputs' in m)).outputs; }

  send(message) {
    if (message.type === 'transport') this.write({ op: 'transport', message });
    else this.write({ op: 'state', state: message });
  }
}

// One remote-control server in its own process, with uploads and a recording intake.
export class ControlHarness extends LineProcess {
  static async start({ incoming, token = null, enabled = true, playlists = [] } = {}) {
    const program = process.env.OMBRY_CONTROL_HARNESS;
    const page = process.env.OMBRY_UPLOAD_PAGE;
    if (!program || !page) throw new Error('OMBRY_CONTROL_HARNESS and OMBRY_UPLOAD_PAGE must be set');
    const h = await LineProcess.spawn(ControlHarness, program, ['--page', page, '--incoming', incoming],
      'the control server');
    await h.apply({ op: 'upload', enabled, token });
    await h.apply({ op: 'playlists', playlists });
    return h;
  }

  // Sends an operation and waits until the server has taken it.
  async apply(operation) {
    this.write(operation);
    await this.next((m) => m.done === operation.op);
  }

  // The next file handed to the intake.
  async nextIngest(limitMs) { return (await this.next((m) => 'ingest' in m, limitMs)).ingest; }
}

export async function launchBrowser() {
  // playwright starts Chromium on a new empty profile of its own.
  return chromium.launch({
    executablePath: process.env.OMBRY_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required',
    ],
  });
}

const LAYERS = ['background', 'media', 'overlay', 'audio'];

// A program state; layers given by name hold their cue.
export function state(rev, { background = '#000000', black = false, masterVolume = 1, width = 1920, height = 1080, ...cues } = {}) {
  const layers = {};
  for (const id of LAYERS) layers[id] = cues[id] ? { id, active: cues[id] } : { id };
  return { rev, stage: { width, height, fps: 60, background }, layers, black, masterVolume };
}

export function cue(mediaId, kind, options = {}) {
  const c = {
    cueId: options.cueId || mediaId,
    mediaId,
    kind,
    src: `/media/${mediaId}`,
    playing: options.playing ?? false,
    loop: options.loop ?? false,
    volume: options.volume ?? 1,
    endAction: options.endAction || 'hold',
    transition: options.transition || { type: 'cut', durationMs: 0 },
  };
  for (const k of ['fillMode', 'trimStart', 'trimEnd']) if (options[k] !== undefined) c[k] = options[k];
  return c;
}

// One pixel of the page in CSS pixels, read from a screenshot; with transparent true the page's own
// background is left out, so transparency shows as alpha.
export async function pixel(page, x, y, transparent = false) {
  const png = await page.screenshot({ clip: { x, y, width: 1, height: 1 }, omitBackground: transparent });
  return decodeOnePixel(png);
}

function decodeOnePixel(png) {
  let offset = 8;
  let colourType = 0;
  const data = [];
  while (offset < png.length) {
    const length = png.readUInt32BE(offset);
    const type = png.toString('latin1', offset + 4, offset + 8);
    const body = png.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      if (body[8] !== 8) throw new Error('only 8-bit screenshots are read');
      colourType = body[9];
    } else if (type === 'IDAT') {
      data.push(body);
    }
    offset += 12 + length;
  }
  // A single pixel row: whatever the filter, its neighbours are all zero, so the bytes are the pixel.
  const raw = zlib.inflateSync(Buffer.concat(data));
  if (colourType === 6) return { r: raw[1], g: raw[2], b: raw[3], a: raw[4] };
  if (colourType === 2) return { r: raw[1], g: raw[2], b: raw[3], a: 255 };
  throw new Error(`unexpected PNG colour type ${colourType}`);
}
