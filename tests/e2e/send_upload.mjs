// Sends one file from the browser upload page in headless Chromium into a playlist chosen by its name;
// prints one JSON line: {"notice","rows"} as the page shows them once it has settled, or {"error"}.
// Used by the operator acceptance test against the installed application.
//   node send_upload.mjs <upload page URL> <playlist name> <file> [limit in ms]
import { launchBrowser, until } from '../web/harness.mjs';

const [url, playlistName, file, limitText] = process.argv.slice(2);
const limitMs = Number(limitText) || 60000;

let browser;
try {
  browser = await launchBrowser();
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (err) => errors.push(String(err)));
  const response = await page.goto(url);
  if (response.status() !== 200) throw new Error(`the page answered ${response.status()}`);
  await page.waitForSelector('#form', { state: 'visible', timeout: limitMs });
  const value = await until(() => page.$$eval('#playlist option', (options, name) => {
    const o = options.find((x) => x.textContent === name);
    return o ? o.value : null;
  }, playlistName), `the page offers "${playlistName}"`, limitMs);
  await page.selectOption('#playlist', value);
  await page.setInputFiles('#picker', [file]);
  await page.click('#send');
  const notice = await until(async () => {
    const text = (await page.textContent('#notice')).trim();
    return /^Every file was added\.$|not added\.$/.test(text) ? text : null;
  }, 'the page says how the upload went', limitMs);
  const rows = await page.$$eval('#files li', (items) => items.map((li) => ({
    state: li.className,
    text: li.querySelector('.state').textContent,
    message: li.querySelector('.message').textContent,
  })));
  if (errors.length) throw new Error(`the page failed: ${errors.join('; ')}`);
  process.stdout.write(`${JSON.stringify({ notice, rows })}\n`);
} catch (err) {
  process.stdout.write(`${JSON.stringify({ error: String(err && err.message ? err.message : err) })}\n`);
  process.exitCode = 1;
} finally {
  if (browser) await browser.close();
}
