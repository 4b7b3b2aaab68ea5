// What `cmake --install` and CPack put on a machine: the programs, the client library and the
// configuration templates, laid out so that the installed scriptcgi-site makes a working site.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { call } from '../../client/scriptcgi.js';
import { freePort, BIN, SANITIZED, LIGHTTPD } from './lib/servers.mjs';

const BUILD = process.env.SCRIPTCGI_BUILD ?? BIN;
const FILES = ['lib/scriptcgi/scriptcgi', 'lib/scriptcgi/scriptcgi-debug', 'lib/scriptcgi/scriptcgi-limits',
  'bin/scriptcgi-site', 'share/scriptcgi/client/scriptcgi.js', 'share/scriptcgi/deploy/lighttpd/scriptcgi.conf.in',
  'share/scriptcgi/deploy/apache/scriptcgi-site.conf.in', 'share/scriptcgi/deploy/apache/httpd.conf.in',
  'share/scriptcgi/deploy/ZOLK.config.in', 'share/scriptcgi/examples/shop/modules/shop.js',
  'share/scriptcgi/examples/shop/htdocs/index.html', 'share/scriptcgi/examples/shop/ZOLK.config.in'];

test('cmake --install lays out a prefix from which scriptcgi-site makes a working site', async () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'scriptcgi-install-'));
  fs.chmodSync(tmp, 0o755);
  let server;
  try {
    const prefix = path.join(tmp, 'usr');
    execFileSync('cmake', ['--install', BUILD, '--prefix', prefix], { stdio: 'ignore' });
    for (const f of FILES) assert.ok(fs.existsSync(path.join(prefix, f)), f);
    const port = await freePort();
    const extra = SANITIZED ? ['--memory', '0', '--env', 'ASAN_OPTIONS=detect_leaks=0'] : [];
    const site = execFileSync(path.join(prefix, 'bin/scriptcgi-site'), ['--port', String(port), ...extra, path.join(tmp, 'site')]).toString().trim();
    server = spawn(LIGHTTPD, ['-D', '-f', path.join(site, 'lighttpd.conf')], { stdio: 'ignore' });
    const url = `http://127.0.0.1:${port}/cgi-bin/scriptcgi`;
    let r;
    for (let i = 0; i < 100 && !r; i++) {
      r = await call(url, { modules: ['shop.js'], call: 'catalog(200)' }).catch(() => new Promise((res) => setTimeout(res, 100)));
    }
    assert.equal(r.error, null);
    assert.deepEqual(r.queries.products.rows.map((row) => row[1]), ['りんご']);
  } finally {
    if (server) {
      const exited = new Promise((res) => server.once('exit', res));
      server.kill('SIGTERM');
      await exited;
    }
    fs.rmSync(tmp, { recursive: true, force: true });
  }
});

test('CPack builds a Debian package of the same files', () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'scriptcgi-cpack-'));
  try {
    execFileSync('cpack', ['-G', 'DEB', '-B', tmp, '--config', path.join(BUILD, 'CPackConfig.cmake')], { stdio: 'ignore', cwd: BUILD });
    const deb = fs.readdirSync(tmp).find((f) => f.endsWith('.deb'));
    assert.ok(deb, 'a .deb is made');
    const listing = execFileSync('dpkg-deb', ['-c', path.join(tmp, deb)]).toString();
    for (const f of FILES) assert.match(listing, new RegExp(`\\./usr/${f.replace(/[.]/g, '\\.')}\\n`), f);
    const info = execFileSync('dpkg-deb', ['-f', path.join(tmp, deb), 'Package', 'Architecture']).toString();
    assert.match(info, /Package: scriptcgi\nArchitecture: amd64/);
  } finally {
    fs.rmSync(tmp, { recursive: true, force: true });
  }
});
