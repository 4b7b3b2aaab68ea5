// Browser and node client of the scriptcgi record protocol: request bodies, responses, calls.
//
// One ES module, no dependencies. The request body is a stream of one-letter commands with
// length-prefixed fields; the response is a stream of self-delimiting records. Lengths count
// UTF-8 bytes, so the decoder works on bytes and the encoder measures every text in bytes.

const utf8 = new TextEncoder();
const utf8Decoder = new TextDecoder('utf-8');

// Bytes sent as they are in a text field; every other byte is written as %XY.
const SAFE = new Uint8Array(256);
for (const c of '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz;,/?:@&=+$-_.*\'()#')
  SAFE[c.charCodeAt(0)] = 1;
const HEX = '0123456789ABCDEF';

function byteLength(text) {
  return utf8.encode(text).length;
}

// Percent-encodes the UTF-8 bytes of text; returns [encodedText, anyEscaped].
function escapeText(text) {
  const bytes = utf8.encode(text);
  let out = '';
  let escaped = false;
  for (const b of bytes) {
    if (SAFE[b]) {
      out += String.fromCharCode(b);
    } else {
      out += '%' + HEX[b >> 4] + HEX[b & 15];
      escaped = true;
    }
  }
  return [out, escaped];
}

// ---- request ----

// A number field: "0" + digit count, then the digits.
function numberField(n) {
  const s = String(n);
  return String.fromCharCode(48 + s.length) + s;
}

// A text field: plain ("0" + k) when no byte needs escaping, else percent-encoded ("A" + k).
// The request reader takes at most 12 length digits in the encoded form, far beyond any body.
function textField(text) {
  const [enc, escaped] = escapeText(text);
  const len = String(enc.length);
  return String.fromCharCode((escaped ? 65 : 48) + len.length) + len + enc;
}

// A field taken as its bytes (module names, float texts): plain prefix, byte length, text.
function rawField(text) {
  const len = String(byteLength(text));
  return String.fromCharCode(48 + len.length) + len + text;
}

// A block: the block's byte length as a field prefix, then its content.
function block(content) {
  return rawField(content);
}

// Value fields inside containers: an integer as "N" + digit count + digits, a real as
// "a" + length digit count + length + text.
function integerField(n) {
  const s = String(n);
  return String.fromCharCode(78 + s.length) + s;
}

function realField(t) {
  const len = String(t.length);
  return String.fromCharCode(97 + len.length) + len + t;
}

// The signed-integer field of the I command holds at most 10 characters and a 32-bit value.
function fitsSignedField(n) {
  return Number.isInteger(n) && n >= -999999999 && n <= 2147483647;
}

function checkedNumberText(n, where) {
  if (!Number.isFinite(n)) throw new TypeError(`${where}: ${n} cannot be sent (no form for it)`);
  return String(n);
}

function kindOf(v) {
  if (typeof v === 'string') return 'string';
  if (typeof v === 'number') return 'number';
  if (Array.isArray(v)) return 'array';
  if (v instanceof Map) return 'map';
  if (v !== null && typeof v === 'object' && (Object.getPrototypeOf(v) === Object.prototype || Object.getPrototypeOf(v) === null))
    return 'object';
  return 'other';
}

// Container definitions of the A command. Nested containers become temporaries (lower-case
// kind, a name ^A000001 / ^H000001) defined right before the container that refers to them.
class ContainerWriter {
  constructor() {
    this.defs = [];
    this.seq = 0;
    this.path = new Set();
  }

  // A value field for an element; a nested container is defined first and referred to.
  value(v, where) {
    switch (kindOf(v)) {
      case 'string':
        return textField(v); // "^" is always escaped, so no text is mistaken for a reference
      case 'number':
        // "N" + k holds unsigned digits only; other numbers go as decimal reals ("a" + k).
        if (Number.isInteger(v) && v >= 0 && v <= 2147483647) return integerField(v);
        return realField(checkedNumberText(v, where));
      case 'array':
      case 'object':
      case 'map': {
        if (this.seq >= 999999) throw new RangeError(`${where}: too many nested containers`);
        const ref = (kindOf(v) === 'array' ? '^A' : '^H') + String(++this.seq).padStart(6, '0');
        this.define(v, ref, false, where);
        return rawField(ref);
      }
      default:
        throw new TypeError(`${where}: a ${v === null ? 'null' : typeof v} value cannot be sent`);
    }
  }

  define(v, name, global, where) {
    if (this.path.has(v)) throw new TypeError(`${where}: a container that holds itself cannot be sent`);
    this.path.add(v);
    const kind = kindOf(v);
    let body = '';
    let count = 0;
    if (kind === 'array') {
      v.forEach((e, i) => (body += this.value(e, `${where}[${i}]`)));
      count = v.length;
    } else if (kind === 'map') {
      for (const [k, e] of v) {
        if (typeof k === 'string') body += textField(k);
        else if (Number.isInteger(k) && k >= 0 && k <= 0xffffff) body += integerField(k);
        else throw new TypeError(`${where}: a Map key must be a text or an integer 0-16777215`);
        body += this.value(e, `${where}.get(${JSON.stringify(k)})`);
        count++;
      }
    } else {
      for (const [k, e] of Object.entries(v)) {
        body += textField(k) + this.value(e, `${where}.${k}`);
        count++;
      }
    }
    this.path.delete(v);
    const letter = { array: 'a', object: 'h', map: 'i' }[kind];
    this.defs.push((global ? letter.toUpperCase() : letter) + numberField(count) + (global ? textField(name) : rawField(name)) + body);
  }
}

/**
 * The request body for a call.
 *   modules: module names (an array, or one name)
 *   call:    the top-function call text, e.g. "catalog(maxPrice)"
 *   params:  globals of the run by name: texts (S), integers (I), other numbers (D), and
 *            arrays, plain objects and Maps (A container definitions)
 *   token:   {token, digest} handed out by the previous response (the Q command)
 */
export function encodeRequest({ modules = [], call, params = {}, token } = {}) {
  const names = typeof modules === 'string' ? [modules] : [...modules];
  let body = '';
  if (names.length) body += 'M' + numberField(names.length) + block(names.map(rawField).join(''));
  if (call !== undefined && call !== null) body += 'P' + textField(String(call));
  const strings = [];
  const ints = [];
  const floats = [];
  const containers = new ContainerWriter();
  for (const [name, v] of Object.entries(params)) {
    switch (kindOf(v)) {
      case 'string':
        strings.push(textField(name) + textField(v));
        break;
      case 'number':
        if (fitsSignedField(v)) ints.push(textField(name) + numberField(v));
        else floats.push(textField(name) + rawField(checkedNumberText(v, name)));
        break;
      case 'array':
      case 'object':
      case 'map':
        containers.define(v, name, true, name);
        break;
      default:
        throw new TypeError(`${name}: a ${v === null ? 'null' : typeof v} parameter cannot be sent`);
    }
  }
  if (strings.length) body += 'S' + numberField(strings.length) + block(strings.join(''));
  if (ints.length) body += 'I' + numberField(ints.length) + block(ints.join(''));
  if (floats.length) body += 'D' + numberField(floats.length) + block(floats.join(''));
  if (containers.defs.length) body += 'A' + numberField(containers.defs.length) + block(containers.defs.join(''));
  if (token && token.ok !== false && typeof token.digest === 'string')
    body += 'Q' + textField(token.token ?? '') + textField(token.digest);
  return body;
}

// ---- response ----

/** A response that ends early ("truncated") or does not follow the record format ("malformed"). */
export class ResponseError extends Error {
  constructor(kind, message, offset, partial) {
    super(`${kind} response: ${message} (at byte ${offset})`);
    this.name = 'ResponseError';
    this.kind = kind;
    this.offset = offset;
    this.partial = partial;
  }
}

const ALERT_NAME = 'XYZBCA_ALERT_ABCZYX';
const REFERENCE = /^\^[AH][0-9]{6}$/;

class Reader {
  constructor(bytes, result) {
    this.b = bytes;
    this.p = 0;
    this.result = result;
  }

  fail(kind, message, at = this.p) {
    throw new ResponseError(kind, message, at, this.result);
  }

  need(n) {
    if (this.b.length - this.p < n) this.fail('truncated', 'the stream ends inside a record');
  }

  byte() {
    this.need(1);
    return this.b[this.p++];
  }

  digits(k, what) {
    this.need(k);
    let s = '';
    for (let i = 0; i < k; i++) {
      const c = this.b[this.p + i];
      if (c < 48 || c > 57) this.fail('malformed', `${what}: digits expected`, this.p + i);
      s += String.fromCharCode(c);
    }
    this.p += k;
    return s;
  }

  chars(k) {
    this.need(k);
    const s = String.fromCharCode(...this.b.subarray(this.p, this.p + k));
    this.p += k;
    return s;
  }

  number(what) {
    const at = this.p;
    const c = this.byte();
    const k = c - 48;
    if (k < 1 || k > 9) this.fail('malformed', `${what}: a number field expected`, at);
    return Number(this.digits(k, what));
  }

  // A text field: {text, plain}; plain tells an unencoded field (references are plain).
  text(what) {
    const at = this.p;
    const c = this.byte();
    let k;
    let encoded;
    if (c >= 49 && c <= 57) (k = c - 48), (encoded = false);
    else if (c >= 66 && c <= 77) (k = c - 65), (encoded = true);
    else this.fail('malformed', `${what}: a text field expected`, at);
    return this.textBody(k, encoded, what, at);
  }

  textBody(k, encoded, what, at) {
    const len = Number(this.digits(k, what));
    this.need(len);
    const raw = this.b.subarray(this.p, this.p + len);
    this.p += len;
    if (!encoded) return { text: utf8Decoder.decode(raw), plain: true };
    const out = new Uint8Array(len);
    let w = 0;
    for (let i = 0; i < len; i++) {
      if (raw[i] !== 37) {
        out[w++] = raw[i];
        continue;
      }
      const h = hexPair(raw[i + 1], raw[i + 2]);
      if (i + 2 >= len || h < 0) this.fail('malformed', `${what}: a bad %-escape`, at);
      out[w++] = h;
      i += 2;
    }
    return { text: utf8Decoder.decode(out.subarray(0, w)), plain: false };
  }

  // A value field: text, integer ("N" + k characters) or float ("a" + k characters). A column's
  // integer text of 19 or 20 characters has the prefix of a float of 0 or 1: "a" is always the
  // integer (no float text is empty), "b" the integer when a sign follows (no float is "-").
  value(what) {
    const at = this.p;
    const c = this.byte();
    let intChars = -1;
    if (c >= 78 && c <= 97) intChars = c - 78;
    else if (c === 98 && this.b[this.p] === 45) intChars = 20;
    if (intChars >= 0) {
      const t = this.chars(intChars);
      if (!/^[-+]?[0-9]+$/.test(t)) this.fail('malformed', `${what}: a bad integer field`, at);
      // A column's integer beyond what a double holds exactly stays its decimal text.
      const n = Number(t);
      return { v: Number.isSafeInteger(n) ? n : t.replace(/^\+/, '') };
    }
    if (c >= 98 && c <= 126) {
      const t = this.chars(c - 97);
      const f = floatText(t);
      if (f === undefined) this.fail('malformed', `${what}: a bad float field`, at);
      return { v: f };
    }
    let k;
    let encoded;
    if (c >= 49 && c <= 57) (k = c - 48), (encoded = false);
    else if (c >= 66 && c <= 77) (k = c - 65), (encoded = true);
    else this.fail('malformed', `${what}: a value field expected`, at);
    const t = this.textBody(k, encoded, what, at);
    if (t.plain && REFERENCE.test(t.text)) return { ref: t.text, at };
    return { v: t.text };
  }
}

function hexPair(a, b) {
  const h = (c) => (c >= 48 && c <= 57 ? c - 48 : c >= 65 && c <= 70 ? c - 55 : c >= 97 && c <= 102 ? c - 87 : -1);
  const hi = h(a);
  const lo = h(b);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// A float field: the "%g" text of a script value, or a driver's text of a column (3.50, 1E+20,
// Infinity).
function floatText(t) {
  const special = { inf: Infinity, '-inf': -Infinity, nan: NaN, '-nan': NaN, Infinity, '-Infinity': -Infinity, NaN };
  if (Object.hasOwn(special, t)) return special[t];
  if (!/^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$/.test(t)) return undefined;
  return Number(t);
}

function toBytes(input) {
  if (input instanceof Uint8Array) return input;
  if (input instanceof ArrayBuffer) return new Uint8Array(input);
  if (ArrayBuffer.isView(input)) return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  if (typeof input === 'string') return utf8.encode(input);
  throw new TypeError('decodeResponse: a text or bytes expected');
}

const CGI_HEADER = utf8.encode('Content-type:');

/**
 * Reads a whole response (text, Uint8Array or ArrayBuffer; a leading CGI header is skipped).
 * Returns {values, queries, alerts, error, counts, token, journalError}:
 *   values   each sendToFront name to its value; nested arrays and objects joined in
 *   queries  each selectToFront / selectHashToFront name to {columns, rows} (columns null for Z)
 *   alerts   the alertToFront texts in order
 *   error    null, or {code, message}: code is the error's number as text, "" for a thrown value;
 *            fatal: true for the record of a run that could not start
 *   counts   the completion record's {arrays, hashes, alerts, queries}, or null
 *   token    null (none configured), {ok: false} (refused), or {ok: true, token, digest}
 *   journalError  the text of the journal-failure record, or null
 * The empty field reads as "" (SQL NULL and undefined arrive as it too); true, false, null and
 * NaN arrive as their names. A response that ends early or breaks the format throws a
 * ResponseError, whose `partial` holds what was read up to there.
 */
export function decodeResponse(input) {
  let bytes = toBytes(input);
  if (bytes.length >= CGI_HEADER.length && CGI_HEADER.every((c, i) => (bytes[i] | 0x20) === (c | 0x20))) {
    let i = 0;
    while (i + 1 < bytes.length && !(bytes[i] === 10 && bytes[i + 1] === 10)) i++;
    bytes = bytes.subarray(Math.min(i + 2, bytes.length));
  }
  const result = { values: {}, queries: {}, alerts: [], error: null, counts: null, token: null, journalError: null };
  const r = new Reader(bytes, result);
  const nested = new Map();
  const seen = { arrays: 0, hashes: 0, alerts: 0, queries: 0 };
  let ended = false; // a completion, error or fatal record was read
  let fatal = false;

  const resolve = (f, what) => {
    if (f.ref === undefined) return f.v;
    if (!nested.has(f.ref)) r.fail('malformed', `${what}: reference ${f.ref} to no earlier record`, f.at);
    const v = nested.get(f.ref);
    nested.delete(f.ref);
    return v;
  };

  while (r.p < bytes.length) {
    const at = r.p;
    const letter = String.fromCharCode(r.byte());
    // After the end of the run only the token record and the journal-failure record follow;
    // after the fatal record, only the latter.
    if ((fatal && letter !== 'S') || (ended && letter !== 'X' && letter !== 'S'))
      r.fail('malformed', `a ${letter} record after the end of the run`, at);
    switch (letter) {
      case 's': {
        const name = r.text('s record name');
        const v = resolve(r.value('s record value'), 's record value');
        if (name.text === ALERT_NAME) result.alerts.push(v);
        else result.values[name.text] = v;
        seen.alerts++;
        break;
      }
      case 'A':
      case 'H': {
        const n = r.number(`${letter} record count`);
        const name = r.text(`${letter} record name`);
        let v;
        if (letter === 'A') {
          v = [];
          for (let i = 0; i < n; i++) v.push(resolve(r.value('array element'), 'array element'));
          seen.arrays++;
        } else {
          v = {};
          for (let i = 0; i < n; i++) {
            const key = r.text('property name').text;
            v[key] = resolve(r.value('property value'), 'property value');
          }
          seen.hashes++;
        }
        if (name.plain && REFERENCE.test(name.text)) nested.set(name.text, v);
        else result.values[name.text] = v;
        break;
      }
      case 'Y':
      case 'Z': {
        const cols = r.number(`${letter} record columns`);
        const rows = r.number(`${letter} record rows`);
        const name = r.text(`${letter} record name`).text;
        let columns = null;
        if (letter === 'Y') {
          columns = [];
          for (let i = 0; i < cols; i++) columns.push(r.text('column name').text);
        }
        const table = [];
        for (let i = 0; i < rows; i++) {
          const row = [];
          for (let j = 0; j < cols; j++) row.push(r.value('cell').v ?? r.fail('malformed', 'a reference in a query row'));
          table.push(row);
        }
        result.queries[name] = { columns, rows: table };
        seen.queries++;
        break;
      }
      case 'C': {
        if (ended) r.fail('malformed', 'a second end of the run', at);
        const counts = {
          arrays: r.number('completion count'),
          hashes: r.number('completion count'),
          alerts: r.number('completion count'),
          queries: r.number('completion count'),
        };
        result.counts = counts;
        for (const k of Object.keys(counts))
          if (counts[k] !== seen[k]) r.fail('malformed', `the completion record counts ${counts[k]} ${k} records, the stream holds ${seen[k]}`, at);
        ended = true;
        break;
      }
      case 'S': {
        const code = r.text('error code').text;
        const message = r.text('error message').text;
        if (code === '9999' && ended && result.journalError === null) {
          result.journalError = message;
          break;
        }
        if (ended) r.fail('malformed', 'a second end of the run', at);
        result.error = code === '8555' ? { code, message, fatal: true } : { code, message };
        ended = true;
        fatal = code === '8555';
        break;
      }
      case 'X': {
        if (!ended || result.token) r.fail('malformed', 'a token record out of place', at);
        const token = r.text('token').text;
        const digest = r.text('token digest').text;
        result.token = token === 'NG' && digest === 'NG' ? { ok: false } : { ok: true, token, digest };
        break;
      }
      default:
        r.fail('malformed', `unknown record letter ${JSON.stringify(letter)}`, at);
    }
  }
  if (!ended) r.fail('truncated', 'the stream ends before the run reported its end');
  return result;
}

// ---- the request token ----

const DIGEST_ALPHABET = 'jklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghi000';

// The engine's generator: x = x * 214013 + 2531011 (mod 2^32), result (x >> 16) & 0x7FFF.
function letters(seed, count) {
  let x = seed >>> 0;
  let out = '';
  for (let i = 0; i < count; i++) {
    x = (Math.imul(x, 214013) + 2531011) >>> 0;
    out += DIGEST_ALPHABET[Math.trunc((((x >>> 16) & 0x7fff) / 32767.0) * 61.0)];
  }
  return out;
}

function letterValue(c) {
  if (c >= 65 && c <= 90) return c - 65;
  if (c >= 97 && c <= 122) return c - 97 + 26;
  if (c >= 48 && c <= 57) return c - 48 + 52;
  if (c === 45) return 62;
  if (c === 95) return 63;
  return -1;
}

/**
 * The digest of a token text for a 16-bit time and the client's IPv4 address, by the public
 * rule the engine checks. It proves nothing secret: anyone can compute it.
 */
export function tokenDigest(text, time, address = '0.0.0.0') {
  const t = time & 0xffff;
  const five = String(t).padStart(5, '0');
  const bytes = utf8.encode(text);
  if (bytes.length === 0) return five;
  const o = address.split('.').map((s) => Number(s) & 255);
  let out = '';
  let acc = 0;
  for (let i = 1; i <= bytes.length; i++) {
    const v = letterValue(bytes[i - 1]);
    if (v < 0) continue; // a skipped byte still counts as a position
    acc = ((acc << 6) | v) >>> 0;
    if (i % 4 === 0) {
      out += letters(((t << 24) | acc) >>> 0, 6);
      acc = 0;
    }
  }
  if (acc !== 0) out += letters(((t << 24) | acc) >>> 0, 2 * (bytes.length % 4));
  out += letters(((t << 16) | (o[0] << 8) | o[1]) >>> 0, 8);
  out += letters(((t << 16) | (o[2] << 8) | o[3]) >>> 0, 8);
  return out + five;
}

// ---- calls ----

const keptTokens = new Map();

/** The token kept for an engine address, or null. */
export function keptToken(url) {
  return keptTokens.get(String(url)) ?? null;
}

/** Forgets the token kept for an engine address. */
export function forgetToken(url) {
  keptTokens.delete(String(url));
}

/**
 * Posts a request to the engine and decodes the answer. The token that a response hands out is
 * kept for that address and sent with the next call; before the first one the call sends the
 * current time alone (the digest of the empty token), which a site with a time interval and no
 * token key accepts. `request.token` overrides the kept token. options.fetch replaces fetch.
 */
export async function call(url, request = {}, options = {}) {
  const key = String(url);
  let token = request.token;
  if (token === undefined) token = keptTokens.get(key) ?? { token: '', digest: tokenDigest('', Math.floor(Date.now() / 1000)) };
  const body = encodeRequest({ ...request, token });
  const doFetch = options.fetch ?? globalThis.fetch;
  const res = await doFetch(url, {
    method: 'POST',
    headers: { 'Content-Type': 'text/plain;charset=UTF-8' },
    body,
    signal: options.signal,
  });
  const bytes = new Uint8Array(await res.arrayBuffer());
  if (!res.ok) throw new ResponseError('http', `status ${res.status} ${res.statusText}`, 0, null);
  const out = decodeResponse(bytes);
  if (out.token?.ok) keptTokens.set(key, { token: out.token.token, digest: out.token.digest });
  else if (out.token) keptTokens.delete(key);
  return out;
}
