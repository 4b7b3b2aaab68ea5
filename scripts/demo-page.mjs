// The demo's browser: loads the shop page in headless Chromium, lists the products, restocks
// one, orders too much (an error) and too little of another, prints what the page shows after
// each step and saves a screenshot.   node scripts/demo-page.mjs URL SCREENSHOT
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const puppeteer = createRequire(path.join(root, 'tests/web/package.json'))('puppeteer-core');
const [url, shot] = process.argv.slice(2);

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
});
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(15000);
  await page.setViewport({ width: 900, height: 640 });
  const ready = () => page.waitForFunction(() => document.getElementById('status').textContent === 'ready');
  const show = async (title) => {
    console.log(`== page: ${title}`);
    const text = await page.$eval('body', (b) => b.innerText);
    console.log(text.replace(/\n{2,}/g, '\n').trim());
    console.log();
  };
  const submit = async (form, fields) => {
    for (const [id, v] of Object.entries(fields)) await page.$eval(id, (e, x) => (e.value = x), String(v));
    await page.$eval('#status', (e) => (e.textContent = 'busy'));
    await page.click(`${form} button`);
    await ready();
  };
  await page.goto(url, { waitUntil: 'load' });
  await ready();
  await show(`loaded ${url}`);
  await submit('#restock', { '#restock-id': 3, '#restock-count': 20 });
  await show('restocked product 3 with 20');
  await submit('#order', { '#order-id': 2, '#order-count': 500 });
  await show('ordered 500 of product 2 (more than in stock)');
  await submit('#order', { '#order-id': 2, '#order-count': 2 });
  await submit('#restock', { '#restock-id': 99, '#restock-count': 1 });
  await show('ordered 2 of product 2, then restocked product 99 (an alert)');
  await page.screenshot({ path: shot });
  console.log(`== screenshot: ${shot}`);
} finally {
  await browser.close();
}
