// Load through lighttpd on loopback: 8 clients at once, 2,000 requests, no failure, and exactly
// one whole journal entry for each request.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { decodeResponse, encodeRequest } from '../../client/scriptcgi.js';
import { startSite, APPS } from './lib/servers.mjs';

const CLIENTS = 8;
const REQUESTS = 2000;
let site;
before(async () => {
  site = await startSite('lighttpd', path.join(APPS, 'echo'), { timeout: 60 });
});
after(async () => site && (await site.stop()));

const expectedSum = (n) => 19900 * n; // the sum of i * n for i below 200

test(`${CLIENTS} clients, ${REQUESTS} requests: every answer whole, one journal entry each`, { timeout: 600000 }, async () => {
  let next = 0;
  const failures = [];
  const deadline = Date.now() + 540000;
  async function client() {
    while (next < REQUESTS && Date.now() < deadline) {
      const n = ++next;
      try {
        const res = await fetch(site.engine, {
          method: 'POST', body: encodeRequest({ modules: ['echo.js'], call: `work(${n})` }), signal: AbortSignal.timeout(60000),
        });
        const r = decodeResponse(new Uint8Array(await res.arrayBuffer()));
        if (res.status !== 200 || r.error || r.values.sum !== expectedSum(n)) failures.push(`${n}: ${res.status} ${JSON.stringify(r)}`);
      } catch (e) {
        failures.push(`${n}: ${e.message}`);
      }
    }
  }
  await Promise.all(Array.from({ length: CLIENTS }, client));
  assert.equal(next, REQUESTS, 'all requests sent within the bound');
  assert.deepEqual(failures.slice(0, 5), []);

  // The journal is the entries one after another, each whole: start line, the request's own
  // line, end line. Each request's line appears in exactly one entry.
  const journal = fs.readFileSync(site.journal, 'utf8');
  const entry = /-----  start : \d{4}\/\d\d\/\d\d \d\d:\d\d:\d\d  -----\n\(L\) "work (\d+) (\d+)"\n\n=====  end : \d{4}\/\d\d\/\d\d \d\d:\d\d:\d\d  ===== \n/y;
  const seen = new Set();
  let m;
  while ((m = entry.exec(journal))) {
    const n = Number(m[1]);
    assert.equal(Number(m[2]), expectedSum(n), `entry of request ${n}`);
    assert.ok(!seen.has(n), `request ${n} has one entry`);
    seen.add(n);
    if (entry.lastIndex === journal.length) break;
  }
  assert.equal(entry.lastIndex, journal.length, `the journal reads as whole entries up to its end (stopped at byte ${entry.lastIndex})`);
  assert.equal(seen.size, REQUESTS);
});
