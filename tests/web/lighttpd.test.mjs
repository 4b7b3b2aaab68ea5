// The engine behind lighttpd: a round trip of every kind of value, the token over requests, what
// the server refuses, and the bounds of a run-away request.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { call, decodeResponse, encodeRequest, tokenDigest, forgetToken, keptToken } from '../../client/scriptcgi.js';
import { startSite, http, APPS, SANITIZED } from './lib/servers.mjs';

const ECHO = path.join(APPS, 'echo');
let site;
before(async () => {
  site = await startSite('lighttpd', ECHO, { cpu: 2, memory: 256, timeout: 300 });
});
after(async () => site && (await site.stop()));

const PARAMS = {
  text: 'abc', empty: '', japanese: '緑茶とりんご', symbols: '100% "quoted" <tag> & ~!\\', caret: '^A000001',
  int: 42, negative: -7, big: 3000000000, real: 2.5,
  list: [1, -2, 0.25, 'x', 'あ', [2, ['deep']], { k: 'v' }, ''],
  nested: { name: '名前', items: [{ id: 1, tags: ['a', 'b'] }, { id: 2, tags: [] }], n: -1.5 },
  keyed: new Map([[3, 'three'], ['k', 'ケー']]),
};

test('values of every kind go out as parameters and come back equal', async () => {
  const r = await call(site.engine, { modules: ['echo.js'], call: 'echo()', params: PARAMS });
  assert.equal(r.error, null);
  const { keyed, ...rest } = PARAMS;
  const { keyed: keyedBack, ...restBack } = r.values;
  assert.deepEqual(restBack, rest);
  assert.deepEqual(keyedBack, [[3, 'k'], ['three', 'ケー']]);
  assert.deepEqual(r.alerts, ['done 緑茶とりんご']);
  // s records: 9 scalars and the alert; A records: list and its two nested arrays, nested.items,
  // the two tags arrays, the keyed reply and its two
  assert.deepEqual(r.counts, { arrays: 9, hashes: 4, alerts: 10, queries: 0 });
});

test('errors come back as records: numbered, thrown, and a module that is missing', async () => {
  const thrown = await call(site.engine, { modules: ['echo.js'], call: 'fail()' });
  assert.deepEqual(thrown.error, { code: '', message: '失敗しました' });
  const missing = await call(site.engine, { modules: ['nothing.js'], call: 'f()' });
  assert.equal(missing.error.code, '1165');
  assert.match(missing.error.message, /ファイルオープン不正/);
  const unknown = await call(site.engine, { modules: ['echo.js'], call: 'nosuch()', params: { x: 1 } });
  assert.match(unknown.error.code, /^[0-9]+$/, 'an unknown function is a numbered error');
});

test('the request token goes round over three requests', async () => {
  // A site with a token key: the first token is made by the public rule for the client address.
  const tokenSite = await startSite('lighttpd', ECHO, {}, 'TOKEN_KEY=key1\nTIME_INTERVAL=60\n');
  try {
    const refused = await call(tokenSite.engine, { modules: ['echo.js'], call: 'whoami()' });
    assert.equal(refused.error.code, '1775');
    assert.deepEqual(refused.token, { ok: false });
    assert.equal(keptToken(tokenSite.engine), null);
    const now = Math.floor(Date.now() / 1000);
    const first = 'key1ABCDEFGH' + now.toString(16);
    let token = { token: first, digest: tokenDigest(first, now, '127.0.0.1') };
    const seen = [];
    for (let i = 0; i < 3; i++) {
      const r = await call(tokenSite.engine, { modules: ['echo.js'], call: 'whoami()', ...(i === 0 ? { token } : {}) });
      assert.equal(r.error, null, `request ${i + 1}`);
      assert.equal(r.values.client, '127.0.0.1');
      assert.equal(r.token.ok, true);
      assert.match(r.token.token, /^key1[A-Za-z0-9]{8}[0-9a-f]+$/);
      assert.equal(r.token.digest, tokenDigest(r.token.token, parseInt(r.token.token.slice(12), 16), '127.0.0.1'));
      assert.deepEqual(keptToken(tokenSite.engine), { token: r.token.token, digest: r.token.digest });
      seen.push(r.token);
    }
    // a forged digest is refused and the kept token forgotten
    const forged = await call(tokenSite.engine, { modules: ['echo.js'], call: 'whoami()', token: { token: first, digest: 'x' + token.digest.slice(1) } });
    assert.equal(forged.error.code, '1775');
    assert.equal(keptToken(tokenSite.engine), null);
  } finally {
    forgetToken(tokenSite.engine);
    await tokenSite.stop();
  }
});

test('the server hands out the pages and nothing else of the site', async () => {
  const page = await http(site.url);
  assert.equal(page.status, 200);
  const lib = await http(site.url + 'scriptcgi.js');
  assert.equal(lib.status, 200);
  assert.match(lib.headers.get('content-type'), /javascript/);
  const refused = ['cgi-bin/ZOLK.config', 'cgi-bin/', 'cgi-bin/modules/echo.js', 'modules/echo.js', 'echo.js',
    'var/journal.log', 'cgi-bin/../cgi-bin/ZOLK.config', 'cgi-bin/scriptcgi/ZOLK.config', 'cgi-bin/scriptcgi%2e'];
  for (const p of refused) {
    const r = await http(site.url + p);
    assert.ok(r.status === 403 || r.status === 404, `${p}: ${r.status}`);
    assert.doesNotMatch(r.body.toString(), /MODULE_DIR|function echo/, p);
  }
  // only POST reaches the engine
  for (const method of ['GET', 'HEAD', 'PUT', 'DELETE']) {
    const r = await http(site.engine, { method, body: method === 'PUT' ? 'x' : undefined });
    assert.equal(r.status, 403, method);
  }
});

test('a client cannot claim another address, and the allowed network is enforced', async () => {
  const r = await call(site.engine, { modules: ['echo.js'], call: 'whoami()' }, {
    fetch: (url, init) => fetch(url, { ...init, headers: { ...init.headers, 'X-Forwarded-For': '10.9.8.7' } }),
  });
  assert.equal(r.values.client, '127.0.0.1');
  const closed = await startSite('lighttpd', ECHO, { allow: '192.0.2.0/24' });
  try {
    const res = await http(closed.engine, { method: 'POST', body: encodeRequest({ modules: ['echo.js'], call: 'whoami()' }) });
    assert.equal(res.status, 403);
    assert.equal((await http(closed.url)).status, 200, 'the pages stay public');
  } finally {
    await closed.stop();
  }
});

test('a run-away request is stopped by its CPU-time limit', async () => {
  const started = Date.now();
  const res = await http(site.engine, { method: 'POST', body: encodeRequest({ modules: ['echo.js'], call: 'spin()' }) });
  // The silence time-out is 300 s: only the CPU limit (2 s) ends it this soon, even on a busy machine.
  assert.ok(Date.now() - started < 90000, 'stopped by the CPU limit');
  // The header went out before the loop: the answer ends early and reads as truncated.
  assert.throws(() => decodeResponse(res.body), (e) => e.kind === 'truncated');
  // the server goes on answering
  const ok = await call(site.engine, { modules: ['echo.js'], call: 'whoami()' });
  assert.equal(ok.values.client, '127.0.0.1');
});

test('a request that asks for ever more memory is bounded', { skip: SANITIZED && 'the sanitizers reserve more address space than any limit' }, async () => {
  const res = await http(site.engine, { method: 'POST', body: encodeRequest({ modules: ['echo.js'], call: 'hog()' }) });
  let r;
  try {
    r = decodeResponse(res.body);
  } catch (e) {
    assert.equal(e.kind, 'truncated'); // killed outright
    return;
  }
  assert.equal(r.error.code, '1400'); // or refused its memory, as a readable error
});
