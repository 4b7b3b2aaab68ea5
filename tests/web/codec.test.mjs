// The client library's encoder and decoder against the engine's request and record formats.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { encodeRequest, decodeResponse, tokenDigest, ResponseError } from '../../client/scriptcgi.js';

// The request body, byte for byte, for each kind of parameter and field form.
test('encodeRequest writes the commands and field forms the engine reads', () => {
  const table = [
    [{ modules: ['m.js'], call: 'f()' }, 'M11' + '16' + '14m.js' + 'P13f()'],
    [{ modules: 'a.js', call: 'f()' }, 'M11161' + '4a.jsP13f()'],
    [{ modules: ['a.js', 'sub/b.js'], call: 'g(x)' }, 'M12' + '216' + '14a.js' + '18sub/b.js' + 'P14g(x)'],
    // texts: plain when every byte is safe, percent-encoded (A + digit count) otherwise
    [{ call: 'f()', params: { s: 'abc' } }, 'P13f()S11' + '18' + '11s13abc'],
    [{ call: 'f()', params: { s: 'a b' } }, 'P13f()S11' + '210' + '11sB5a%20b'],
    [{ call: 'f()', params: { s: 'あ' } }, 'P13f()S11' + '214' + '11sB9%E3%81%82'],
    [{ call: 'f()', params: { s: '' } }, 'P13f()S11' + '15' + '11s10'],
    [{ call: 'f()', params: { s: '^A000001' } }, 'P13f()S11' + '216' + '11sC10%5EA000001'],
    // integers as signed fields, other numbers as raw decimal texts
    [{ call: 'f()', params: { n: 42 } }, 'P13f()I11' + '16' + '11n242'],
    [{ call: 'f()', params: { n: -7 } }, 'P13f()I11' + '16' + '11n2-7'],
    [{ call: 'f()', params: { n: 2147483647 } }, 'P13f()I11' + '214' + '11n:2147483647'], // k = 10 is the prefix "0" + 10,
    [{ call: 'f()', params: { n: -2147483648 } }, 'P13f()D11' + '217' + '11n211-2147483648'],
    [{ call: 'f()', params: { x: 2.5 } }, 'P13f()D11' + '18' + '11x132.5'],
    [{ call: 'f()', params: { x: 1e21 } }, 'P13f()D11' + '210' + '11x151e+21'],
    // containers: arrays (A), objects (H), Maps (I); nested ones are temporaries defined first
    [{ call: 'f()', params: { a: [1, 'x', -1.5] } }, 'P13f()A11' + '217' + 'A13' + '11a' + 'O1' + '11x' + 'b4-1.5'],
    [{ call: 'f()', params: { h: { k: 3 } } }, 'P13f()A11' + '211' + 'H11' + '11h' + '11kO3'],
    [{ call: 'f()', params: { m: new Map([[5, 'v'], ['k', 0]]) } }, 'P13f()A11' + '216' + 'I12' + '11m' + 'O5' + '11v' + '11k' + 'O0'],
    [{ call: 'f()', params: { a: [[2], { k: [] }] } },
      'P13f()A14' + '280' +
      'a11' + '18^A000001' + 'O2' +
      'a10' + '18^A000003' +
      'h11' + '18^H000002' + '11k' + '18^A000003' +
      'A12' + '11a' + '18^A000001' + '18^H000002'],
    // the token, and a call text that needs escaping
    [{ call: 'f("a b")', token: { token: 'k1AB', digest: 'xyz00042' } }, 'PC14f(%22a%20b%22)Q14k1AB18xyz00042'],
    [{ call: 'f()', token: { ok: false } }, 'P13f()'],
  ];
  for (const [request, body] of table) assert.equal(encodeRequest(request), body, JSON.stringify(request, (k, v) => (v instanceof Map ? [...v] : v)));
});

test('encodeRequest measures lengths in UTF-8 bytes', () => {
  // a module name is a raw field: its bytes as they are
  assert.equal(encodeRequest({ modules: ['商品.js'] }), 'M11' + '211' + '19商品.js');
});

test('encodeRequest refuses what has no form', () => {
  const bad = [{ b: true }, { n: null }, { u: undefined }, { x: NaN }, { x: Infinity }, { d: new Date(0) },
    { a: [true] }, { m: new Map([[-1, 'x']]) }, { m: new Map([[1.5, 'x']]) }];
  for (const params of bad) assert.throws(() => encodeRequest({ call: 'f()', params }), TypeError, JSON.stringify(params));
  const loop = [];
  loop.push(loop);
  assert.throws(() => encodeRequest({ call: 'f()', params: { loop } }), /holds itself/);
  const shared = [1];
  // the same container twice is sent twice, each copy its own temporary
  assert.match(encodeRequest({ call: 'f()', params: { a: [shared, shared] } }), /\^A000001.*\^A000002/);
});

// Each record kind and field prefix of the response.
test('decodeResponse reads every record kind', () => {
  const r = decodeResponse(
    's11v' + 'O5' +                               // integer field
    's11w' + 'Q-12' +                             // negative integer
    's11f' + 'd2.5' + 's11g' + 'e-inf' + 's11e' + 'f1e+20' + // float fields
    's11t' + 'B9%E3%81%82' +                      // encoded text
    's11u' + '10' +                               // the empty field
    's11n' + '14null' +
    's219XYZBCA_ALERT_ABCZYX' + 'B8a%20%21b' +     // an alert
    'A11' + '18^A000001' + 'O2' +                 // a nested array first
    'H12' + '18^H000002' + '11k' + '11x' + '12id' + 'O7' +
    'A13' + 'B6l%20st' + 'O1' + '18^A000001' + '18^H000002' +
    'Z12' + '12' + '11q' + 'O1' + 'B9%E7%B7%91' + 'O2' + '10' +
    'Y12' + '11' + '11r' + '12id' + '14name' + 'O1' + '11x' +
    // a driver's texts of number columns: a decimal, an exponent, an integer beyond 2^53
    'Z15' + '11' + '11d' + 'e3.50' + 'f1E+20' + 'b' + '-1234567890123456789' + 'a1234567890123456789' + 'b5' +
    'C12' + '11' + '19' + '13' + 'X' + '19key1abcde' + '17abcdefg');
  assert.deepEqual(r.values, { v: 5, w: -12, f: 2.5, g: -Infinity, e: 1e20, t: 'あ', u: '', n: 'null', 'l st': [1, [2], { k: 'x', id: 7 }] });
  assert.deepEqual(r.alerts, ['a !b']);
  assert.deepEqual(r.queries, {
    q: { columns: null, rows: [[1, '緑'], [2, '']] }, r: { columns: ['id', 'name'], rows: [[1, 'x']] },
    d: { columns: null, rows: [[3.5, 1e20, '-1234567890123456789', '1234567890123456789', 5]] } });
  assert.deepEqual(r.counts, { arrays: 2, hashes: 1, alerts: 9, queries: 3 });
  assert.deepEqual(r.token, { ok: true, token: 'key1abcde', digest: 'abcdefg' });
  assert.equal(r.error, null);
});

test('decodeResponse reads error, thrown, fatal, NG and journal-failure records', () => {
  const table = [
    ['S141800' + 'B9%E3%81%82', { code: '1800', message: 'あ' }, null, null],
    ['S10' + '13abc' + 'X12NG12NG', { code: '', message: 'abc' }, { ok: false }, null],
    ['S1010', { code: '', message: '' }, null, null],
    // the fatal record carries its message unencoded, as bytes
    ['S148555' + '215受信データ', { code: '8555', message: '受信データ', fatal: true }, null, null],
    ['C10101010' + 'S149999' + '227open&lock of jounal file(j)', null, null, 'open&lock of jounal file(j)'],
    ['S148555' + '13abc' + 'S149999' + '11j', { code: '8555', message: 'abc', fatal: true }, null, 'j'],
  ];
  for (const [text, error, token, journal] of table) {
    const r = decodeResponse(text);
    assert.deepEqual(r.error, error, text);
    assert.deepEqual(r.token, token, text);
    assert.equal(r.journalError, journal, text);
  }
  // bytes and the whole program output (with its CGI header) read the same
  const bytes = new TextEncoder().encode('Content-type: text/plane;charset=UTF-8\n\ns11x13abcC10101110');
  assert.deepEqual(decodeResponse(bytes).values, { x: 'abc' });
  assert.deepEqual(decodeResponse(bytes.buffer).values, { x: 'abc' });
});

test('a truncated or malformed response is reported, never half-read', () => {
  const truncated = ['', 's11x', 's11x13ab', 'A12' + '11a' + 'O1', 's11x13abc', 'Z11' + '11' + '11q', 'C1010'];
  for (const text of truncated) {
    assert.throws(() => decodeResponse(text), (e) => e instanceof ResponseError && e.kind === 'truncated', JSON.stringify(text));
  }
  const malformed = [
    'X02NG02NG',                      // the token line must be fields
    'C10101010X02NG02NG',
    'q11x',                           // unknown record
    's11x' + 'O1x' + 'C10101110',     // an integer field that is not a number
    's11x' + 'c1e' + 'C10101110',     // a float field that is not one
    'A11' + '11a' + '18^A000009' + 'C11101010', // a reference to no record
    's11x' + 'B2%4' + 'C10101110',    // a cut escape
    's11x13abc' + 'C10101010',        // counts that disagree with the stream
    'C10101010' + 's11x13abc',        // a record after the end
    'C10101010C10101010',
    'S10' + '13abc' + 'C10101010',
    's11x' + 'O1' + 'C10101110' + 'X12NG12NG' + 'X12NG12NG',
    'S148555' + '13abc' + 'X12NG12NG', // nothing but the journal failure follows a fatal record
    'C10101010' + 'S149999' + '11j' + 'S149999' + '11j',
  ];
  for (const text of malformed) {
    assert.throws(() => decodeResponse(text), (e) => e instanceof ResponseError && e.kind === 'malformed', JSON.stringify(text));
  }
  try {
    decodeResponse('s11x13abcs11y');
  } catch (e) {
    assert.deepEqual(e.partial.values, { x: 'abc' }); // what came before, for a diagnosis
  }
});

// The same digests as the engine's token test computes on its own.
test('tokenDigest follows the public rule', () => {
  assert.equal(tokenDigest('', 70000), '04464');
  const d = tokenDigest('key1ABCDEFGH5f3e', 12345, '10.1.2.3');
  assert.match(d, /^[jklmnopqrstuvwxyz0-9A-Za-i]+12345$/);
  assert.equal(d.length, 4 * 6 + 16 + 5);
  assert.notEqual(tokenDigest('key1ABCDEFGH5f3e', 12345, '10.1.2.4'), d);
  assert.equal(tokenDigest('abcde', 1, '1.2.3.4').length, 6 + 2 + 16 + 5); // 2 × (5 mod 4) letters for the rest
});
