// Request parameters arrive as globals; each function answers with records.
var greeting = "hello";
function hello() { sendToFront("greeting", greeting + " " + (typeof name == "undefined" ? "world" : name)); return 1; }
function echo(v) { sendToFront("echo", v); return v; }
function sum(list) {
  var t = 0;
  for (var i = 0; i < list.length; i++) t += list[i];
  sendToFront("sum", t);
  return t;
}
function keys(h) { var out = []; for (var k in h) out.push(k); out.sort(); sendToFront("keys", out); return out.length; }
function words(s) {
  var parts = String(s).split(/\s+/);
  var m = String(s).match(/([a-z]+)(\d*)/i);
  sendToFront("words", {count: parts.length, first: parts[0], match: m, upper: String(s).toUpperCase()});
  return parts.join("-").replace(/-+/g, "_");
}
function find(pattern, text, flags) {
  var re = new RegExp(pattern, flags == undefined ? "g" : flags);
  var all = [], m, guard = 0;
  while ((m = re.exec(text)) != null && guard++ < 50) { all.push(m[0]); if (m[0].length == 0) re.lastIndex++; }
  sendToFront("found", all);
  return all.length;
}
function dates(t) {
  var d = new Date(t);
  sendToFront("date", [d.getFullYear(), d.getMonth(), d.getDate(), d.getTime()]);
  return d.toString();
}
function numbers(a, b) {
  sendToFront("ops", [a + b, a - b, a * b, a / b, a % b, a << b, a >> b, a >>> b, a & b, a | b, a ^ b, a ** 2,
                      Math.max(a, b), Math.floor(a / 3), parseInt(String(a)), parseFloat(String(b)), Number(a).toFixed(2)]);
  return a == b;
}
function nest(n) { var h = {}; var cur = h; for (var i = 0; i < n && i < 200; i++) { cur.next = {i: i}; cur = cur.next; } sendToFront("nest", h); return n; }
function fail(kind) {
  if (kind == 1) throw "failed";
  if (kind == 2) throw Error("bad", 12);
  if (kind == 3) alertToFront("careful");
  return undefinedThing.member;
}
function safe(kind) { try { return fail(kind); } catch (e) { sendToFront("caught", String(e)); return 0; } finally { greeting = "bye"; } }
function fib(n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }
function loop(n) { var s = 0; for (var i = 0; i < n && i < 100000; i++) s = (s + i * 7) % 1000003; return s; }
