// The anchor side of the browser benchmark: the same page and operations
// driven through puppeteer-core over the browser's pipe. Prints one JSON line.
import puppeteer from 'puppeteer-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [executablePath = '/usr/bin/chromium', countText = '1000', url] = process.argv.slice(2);
const count = Number(countText);
const profile = mkdtempSync(join(tmpdir(), 'tolvar-bench-pptr-'));

const browser = await puppeteer.launch({
  executablePath,
  pipe: true,
  headless: true,
  userDataDir: profile,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync'],
});

async function median(op) {
  for (let i = 0; i < 50; ++i) await op();
  const times = [];
  for (let i = 0; i < count; ++i) {
    const start = process.hrtime.bigint();
    await op();
    times.push(Number(process.hrtime.bigint() - start) / 1000);
  }
  times.sort((a, b) => a - b);
  return times[Math.floor(times.length / 2)];
}

try {
  const pages = await browser.pages();
  const page = pages.length ? pages[0] : await browser.newPage();
  await page.goto(url);
  const evaluateUs = await median(() => page.evaluate(() => 1));
  const textUs = await median(() => page.$eval('#t', e => e.innerText));
  console.log(JSON.stringify({ evaluate_us: evaluateUs, text_us: textUs }));
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
}
