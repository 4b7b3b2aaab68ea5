// Requests per second of the engine through lighttpd on loopback, beside a minimal C CGI program
// that answers the same bytes through the same server configuration (limits launcher included).
//   node bench/web/web_bench.mjs [--requests N] [--clients N] [--rounds N] [--bin DIR]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const arg = (name, fallback) => {
  const i = process.argv.indexOf(`--${name}`);
  return i > 0 ? process.argv[i + 1] : fallback;
};
if (arg('bin')) process.env.SCRIPTCGI_BIN = path.resolve(arg('bin'));
const { startSite, APPS, BIN } = await import('../../tests/web/lib/servers.mjs');
const { encodeRequest } = await import('../../client/scriptcgi.js');
const REQUESTS = Number(arg('requests', 1000));
const CLIENTS = Number(arg('clients', 8));
const ROUNDS = Number(arg('rounds', 3));
const body = encodeRequest({ modules: ['echo.js'], call: 'work(7)' });

async function post(url) {
  const res = await fetch(url, { method: 'POST', body });
  return Buffer.from(await res.arrayBuffer());
}

async function rate(url, count) {
  let next = 0;
  const started = process.hrtime.bigint();
  await Promise.all(Array.from({ length: CLIENTS }, async () => {
    while (next < count) {
      next++;
      await post(url);
    }
  }));
  return count / (Number(process.hrtime.bigint() - started) / 1e9);
}

const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'scriptcgi-bench-'));
const engine = await startSite('lighttpd', path.join(APPS, 'echo'), { timeout: 60 });
let minimal;
try {
  const answer = (await post(engine.engine)).toString('latin1');
  const literal = '"' + [...answer].map((c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0')).join('') + '"';
  const program = path.join(tmp, 'minimal_cgi');
  execFileSync('cc', ['-O2', `-DANSWER=${literal}`, '-o', program, path.join(here, 'minimal_cgi.c')]);
  minimal = await startSite('lighttpd', path.join(APPS, 'echo'), { timeout: 60, engine: program });
  const same = (await post(minimal.engine)).toString('latin1');
  if (same !== answer) throw new Error(`the two programs answer differently: ${JSON.stringify(answer)} / ${JSON.stringify(same)}`);
  console.log(`request: ${body}`);
  console.log(`answer:  ${answer}`);
  console.log(`engine:  ${path.join(BIN, 'scriptcgi')}; ${CLIENTS} clients, ${REQUESTS} requests a round, ${ROUNDS} rounds, ${os.cpus().length} cores`);
  await rate(engine.engine, 200);
  await rate(minimal.engine, 200);
  const e = [];
  const m = [];
  for (let i = 0; i < ROUNDS; i++) {
    e.push(await rate(engine.engine, REQUESTS));
    m.push(await rate(minimal.engine, REQUESTS));
    console.log(`round ${i + 1}: engine ${e[i].toFixed(0)} req/s, minimal C CGI ${m[i].toFixed(0)} req/s`);
  }
  const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];
  const ratio = median(e) / median(m);
  console.log(`median: engine ${median(e).toFixed(0)} req/s, minimal C CGI ${median(m).toFixed(0)} req/s, ratio ${(100 * ratio).toFixed(1)}% (target >= 90%)`);
} finally {
  await engine.stop();
  await minimal?.stop();
  fs.rmSync(tmp, { recursive: true, force: true });
}
