// The anchor of the click benchmark: Playwright's page.click() (its
// actionability checks, then a trusted click) on the same page and the same
// Chromium, over the browser's pipe. Prints one JSON line.
import { chromium } from 'playwright-core';

const [executablePath = '/usr/bin/chromium', countText = '1000', url] = process.argv.slice(2);
const count = Number(countText);

const browser = await chromium.launch({
  executablePath,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync'],
});

try {
  const page = await browser.newPage();
  await page.goto(url);
  for (let i = 0; i < 50; ++i) await page.click('#b');
  const times = [];
  for (let i = 0; i < count; ++i) {
    const start = process.hrtime.bigint();
    await page.click('#b');
    times.push(Number(process.hrtime.bigint() - start) / 1000);
  }
  times.sort((a, b) => a - b);
  const clicks = await page.evaluate(() => window.clicks);
  console.log(JSON.stringify({ click_us: times[Math.floor(times.length / 2)], clicks }));
} finally {
  await browser.close();
}
