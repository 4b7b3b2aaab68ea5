// Test sites behind real web servers: a site made by scriptcgi-site, lighttpd or Apache on a
// free loopback port, started and stopped by the test, with bounded waits.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
export const BIN = path.resolve(process.env.SCRIPTCGI_BIN ?? path.join(ROOT, 'build/release'));
export const SANITIZED = process.env.SCRIPTCGI_SANITIZED === '1';
export const APPS = path.join(ROOT, 'tests/web/apps');
// The servers live in /usr/sbin, which a PATH need not hold.
export const LIGHTTPD = fs.existsSync('/usr/sbin/lighttpd') ? '/usr/sbin/lighttpd' : 'lighttpd';

export function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

async function waitForPort(port, child, logFile, ms = 15000) {
  const until = Date.now() + ms;
  while (Date.now() < until) {
    if (child.exitCode !== null) break;
    const ok = await new Promise((resolve) => {
      const c = net.connect(port, '127.0.0.1', () => (c.destroy(), resolve(true)));
      c.on('error', () => resolve(false));
    });
    if (ok) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  const log = fs.existsSync(logFile) ? fs.readFileSync(logFile, 'utf8') : '';
  throw new Error(`server on port ${port} did not come up (exit ${child.exitCode}): ${log}`);
}

/**
 * Makes a site of app (a folder with modules/, htdocs/, ZOLK.config.in) in a fresh temporary
 * directory and starts `server` ('lighttpd' or 'apache') for it. Options go to scriptcgi-site;
 * extraConfig lines are added to the site's ZOLK.config.
 * Returns {site, port, url, engine, stop()}.
 */
export async function startSite(server, app, options = {}, extraConfig = '') {
  const site = fs.mkdtempSync(path.join(os.tmpdir(), `scriptcgi-${server}-`));
  const port = await freePort();
  const args = ['--app', app, '--port', String(port), '--engine', path.join(BIN, 'scriptcgi'),
    '--limits', path.join(BIN, 'scriptcgi-limits')];
  if (SANITIZED) args.push('--memory', '0', '--env', 'ASAN_OPTIONS=detect_leaks=0');
  // The sanitizers reserve far more address space than any memory limit allows.
  for (const [k, v] of Object.entries(options)) if (!(SANITIZED && k === 'memory')) args.push(`--${k}`, String(v));
  execFileSync(path.join(ROOT, 'deploy/make-site.sh'), [...args, site], { stdio: ['ignore', 'ignore', 'inherit'] });
  if (extraConfig) fs.appendFileSync(path.join(site, 'cgi-bin/ZOLK.config'), extraConfig);
  const [cmd, cmdArgs, log] = server === 'lighttpd'
    ? [LIGHTTPD, ['-D', '-f', path.join(site, 'lighttpd.conf')], path.join(site, 'run/lighttpd-error.log')]
    : ['/usr/sbin/apache2', ['-f', path.join(site, 'apache.conf'), '-DFOREGROUND'], path.join(site, 'run/apache-error.log')];
  const child = spawn(cmd, cmdArgs, { stdio: ['ignore', 'ignore', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (d) => (stderr += d));
  try {
    await waitForPort(port, child, log);
  } catch (e) {
    child.kill('SIGKILL');
    throw new Error(`${e.message}\n${stderr}`);
  }
  const base = `http://127.0.0.1:${port}`;
  return {
    site,
    port,
    url: `${base}/`,
    engine: `${base}/cgi-bin/scriptcgi`,
    journal: path.join(site, 'var/journal.log'),
    async stop() {
      if (child.exitCode === null) {
        const exited = new Promise((r) => child.once('exit', r));
        // Apache stops gracefully on SIGTERM (its children and the CGI daemon with it).
        child.kill('SIGTERM');
        const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
        await exited;
        clearTimeout(timer);
      }
      fs.rmSync(site, { recursive: true, force: true });
    },
  };
}

/** A raw HTTP exchange: {status, headers, body (Buffer)}. */
export async function http(url, { method = 'GET', body, headers = {} } = {}) {
  const res = await fetch(url, { method, body, headers, redirect: 'manual' });
  return { status: res.status, headers: res.headers, body: Buffer.from(await res.arrayBuffer()) };
}
