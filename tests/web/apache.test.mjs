// The engine behind Apache (mod_cgid): answers a POST, refuses everything else of the site, and
// bounds a run-away request.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { call, decodeResponse, encodeRequest } from '../../client/scriptcgi.js';
import { startSite, http, APPS, SANITIZED } from './lib/servers.mjs';

const ECHO = path.join(APPS, 'echo');
let site;
before(async () => {
  site = await startSite('apache', ECHO, { cpu: 2, memory: 256, timeout: 300 });
});
after(async () => site && (await site.stop()));

test('a POST is answered with the records of the run', async () => {
  const params = { text: 'abc', empty: '', japanese: '緑茶', symbols: '100% & ~', caret: '^H000001', int: 7,
    negative: -7, big: 3000000000, real: 0.5, list: [1, ['x']], nested: { a: { b: [] } }, keyed: new Map([['k', 1]]) };
  const r = await call(site.engine, { modules: ['echo.js'], call: 'echo()', params });
  assert.equal(r.error, null);
  const { keyed, ...rest } = params;
  assert.deepEqual({ ...r.values, keyed: undefined }, { ...rest, keyed: undefined });
  assert.deepEqual(r.values.keyed, [['k'], [1]]);
  const thrown = await call(site.engine, { modules: ['echo.js'], call: 'fail()' });
  assert.deepEqual(thrown.error, { code: '', message: '失敗しました' });
});

test('the configuration, the modules and every method but POST are refused', async () => {
  assert.equal((await http(site.url)).status, 200);
  assert.equal((await http(site.url + 'scriptcgi.js')).status, 200);
  for (const p of ['cgi-bin/ZOLK.config', 'cgi-bin/', 'cgi-bin/modules/echo.js', 'modules/echo.js', 'var/journal.log',
    'cgi-bin/scriptcgi/../ZOLK.config', 'cgi-bin/%5a%4f%4c%4b.config', 'cgi-bin/scriptcgi/x']) {
    const r = await http(site.url + p);
    assert.ok(r.status >= 400 && r.status < 500, `${p}: ${r.status}`);
    assert.doesNotMatch(r.body.toString(), /MODULE_DIR|function echo/, p);
  }
  for (const method of ['GET', 'HEAD', 'PUT', 'DELETE', 'OPTIONS']) {
    const r = await http(site.engine, { method, body: method === 'PUT' ? 'x' : undefined });
    assert.equal(r.status, 403, method);
  }
});

test('a claimed address is dropped and the allowed network is enforced', async () => {
  const r = await call(site.engine, { modules: ['echo.js'], call: 'whoami()' }, {
    fetch: (url, init) => fetch(url, { ...init, headers: { ...init.headers, 'X-Forwarded-For': '10.9.8.7' } }),
  });
  assert.equal(r.values.client, '127.0.0.1');
  const closed = await startSite('apache', ECHO, { allow: '192.0.2.0/24' });
  try {
    const res = await http(closed.engine, { method: 'POST', body: encodeRequest({ modules: ['echo.js'], call: 'whoami()' }) });
    assert.equal(res.status, 403);
  } finally {
    await closed.stop();
  }
});

test('a run-away request is stopped by its CPU-time limit', async () => {
  const started = Date.now();
  const res = await http(site.engine, { method: 'POST', body: encodeRequest({ modules: ['echo.js'], call: 'spin()' }) });
  // The silence time-out is 300 s: only the CPU limit (2 s) ends it this soon, even on a busy machine.
  assert.ok(Date.now() - started < 90000, 'stopped by the CPU limit');
  assert.throws(() => decodeResponse(res.body), (e) => e.kind === 'truncated');
  const ok = await call(site.engine, { modules: ['echo.js'], call: 'whoami()' });
  assert.equal(ok.values.client, '127.0.0.1');
});

test('a request that asks for ever more memory is refused it', { skip: SANITIZED && 'the sanitizers reserve more address space than any limit' }, async () => {
  const res = await http(site.engine, { method: 'POST', body: encodeRequest({ modules: ['echo.js'], call: 'hog()' }) });
  let r;
  try {
    r = decodeResponse(res.body);
  } catch (e) {
    assert.equal(e.kind, 'truncated');
    return;
  }
  assert.equal(r.error.code, '1400');
});
