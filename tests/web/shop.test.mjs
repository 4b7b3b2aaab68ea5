// The shop page in headless Chromium against lighttpd: the product list, a change and its
// result, an alert, an error shown as a readable message, and the token over the requests.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { decodeResponse } from '../../client/scriptcgi.js';
import { startSite, ROOT } from './lib/servers.mjs';

const require = createRequire(import.meta.url);
let puppeteer;
try {
  puppeteer = require('puppeteer-core');
} catch {
  throw new Error('puppeteer-core is missing: run scripts/install-deps.sh');
}
const CHROMIUM = process.env.CHROMIUM ?? '/usr/bin/chromium';

let site;
let browser;
let page;
const exchanges = []; // each engine request body and its decoded answer, in order

before(async () => {
  site = await startSite('lighttpd', path.join(ROOT, 'examples/shop'));
  browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
    protocolTimeout: 30000,
  });
  page = await browser.newPage();
  page.setDefaultTimeout(15000);
  // Entries in the order the requests leave; answers fill in as they arrive.
  const byRequest = new Map();
  page.on('request', (req) => {
    if (!req.url().endsWith('/cgi-bin/scriptcgi')) return;
    const entry = { body: req.postData(), answer: null };
    byRequest.set(req, entry);
    exchanges.push(entry);
  });
  page.on('response', async (res) => {
    const entry = byRequest.get(res.request());
    if (entry) entry.answer = decodeResponse(await res.buffer());
  });
});
after(async () => {
  await browser?.close();
  await site?.stop();
});

const ready = () => page.waitForFunction(() => document.getElementById('status').textContent === 'ready');
const rows = () => page.$$eval('#products tbody tr', (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent)));
const text = (sel) => page.$eval(sel, (e) => e.textContent);

async function submit(form, fields) {
  for (const [id, value] of Object.entries(fields)) {
    await page.$eval(id, (e, v) => (e.value = v), String(value));
  }
  await page.$eval('#status', (e) => (e.textContent = 'busy'));
  await page.click(`${form} button`);
  await ready();
}

test('the page lists the products, restocks one and shows the change', async () => {
  await page.goto(site.url, { waitUntil: 'load' });
  await ready();
  assert.equal(await text('#shop-name'), 'サンプル商店');
  assert.deepEqual(await rows(), [
    ['1', 'りんご', '120', '30'], ['2', 'Coffee beans', '980.5', '12'], ['3', '緑茶', '450', '0'], ['4', 'Notebook', '300', '45']]);
  assert.match(await text('#summary'), /4 件 \(JPY\) ・ 最安: りんご 120/);
  await submit('#restock', { '#restock-id': 3, '#restock-count': 20 });
  assert.deepEqual((await rows())[2], ['3', '緑茶', '450', '20']);
  assert.equal(await text('#error'), '');
});

test('an alert of the script is shown', async () => {
  await submit('#restock', { '#restock-id': 99, '#restock-count': 1 });
  assert.deepEqual(await page.$$eval('#alerts li', (li) => li.map((e) => e.textContent)), ['no product 99']);
});

test('an error record is shown as a readable message', async () => {
  await submit('#order', { '#order-id': 2, '#order-count': 500 });
  assert.equal(await text('#error'), 'エラー: 在庫が足りません: Coffee beans (在庫 12)');
  assert.equal((await rows())[1][3], '12', 'nothing changed');
  await submit('#order', { '#order-id': 2, '#order-count': 2 });
  assert.equal(await text('#error'), '');
  assert.equal((await rows())[1][3], '10');
});

test('each request sends the token that the previous response handed out', async () => {
  assert.ok(exchanges.length >= 3, `${exchanges.length} requests`);
  for (let i = 0; i < exchanges.length; i++) {
    const { answer } = exchanges[i];
    assert.equal(answer.token?.ok, true, `response ${i + 1} hands out a token`);
    if (i === 0) continue;
    const prev = exchanges[i - 1].answer.token;
    const field = (t) => String.fromCharCode(48 + String(t.length).length) + t.length + t;
    assert.ok(exchanges[i].body.endsWith('Q' + field(prev.token) + field(prev.digest)), `request ${i + 1} carries token ${i}`);
  }
  // a token that has run out is refused with a readable message, and the next call starts afresh
  await page.evaluate(async () => {
    const { call } = await import('./scriptcgi.js');
    const url = 'cgi-bin/scriptcgi';
    const old = Math.floor(Date.now() / 1000) - 3600;
    const r = await call(url, { modules: ['shop.js'], call: 'catalog(0)', token: { token: 'x', digest: String(old & 0xffff).padStart(5, '0') } });
    document.getElementById('error').textContent = `エラー ${r.error.code}: ${r.error.message}`;
  });
  assert.match(await text('#error'), /^エラー 1775: EVAL ERROR 1775 .*タイムアウト$/);
  await submit('#filter', { '#max-price': 500 });
  assert.equal(await text('#error'), '');
  assert.deepEqual((await rows()).map((r) => r[0]), ['1', '3', '4']);
  await page.screenshot({ path: path.join(site.site, 'run/shop.png') });
  assert.ok(fs.statSync(path.join(site.site, 'run/shop.png')).size > 1000);
});
