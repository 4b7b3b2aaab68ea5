// Fuzz target: one whole CGI request in, as a web server hands it over (the body on standard
// input, CONTENT_LENGTH set), against a fixed configuration and module directory; the response
// is captured in memory and must start with the CGI header, the journal goes to a private file.
#include <fcntl.h>

#include <algorithm>
#include <cstdint>

#include "fuzz_support.h"
#include "regexp/regexp.h"

namespace {

// The module directory: the modules that request bodies of the seed corpus name.
constexpr const char* HELLO_JS = R"js(// Request parameters arrive as globals; each function answers with records.
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
)js";

constexpr const char* M_JS = R"js(function f() { console.log(s, i, d, o, k); console.log(typeof i, typeof d); }
function g() { console.log(s); }
function h() { return 1; }
function thrower(kind) {
  if (kind == 1) throw "too big";
  if (kind == 2) throw [1, 2];
  return missing.member;
}
function catcher() {
  try { var q = undefined; q.x = 1; } catch (e) { console.log(e.name, " ", e.message); }
}
)js";

constexpr const char* COMMON_JS = R"js(var site = {name: "fuzz", tags: ["a", "b"], limits: {rows: 10}};
function describe(v) { return typeof v + ":" + String(v); }
)js";

std::string exe_path, journal_path_text;
const uint8_t* feed;
size_t feed_len, fed;

ssize_t feed_read(int, void* buf, size_t len) {
  size_t n = std::min(len, feed_len - fed);
  std::memcpy(buf, feed + fed, n);
  fed += n;
  return static_cast<ssize_t>(n);
}

void setup() {
  std::string dir = fuzz::make_private_dir("fuzz-request");
  mkdir((dir + "/modules").c_str(), 0755);
  // The journal sits a few levels down so that a journal name that climbs stays inside.
  std::string jdir = dir + "/j";
  for (const char* part : {"", "/1", "/2", "/3"}) mkdir((jdir += part).c_str(), 0755);
  journal_path_text = jdir + "/journal.log";
  fuzz::write_file(dir + "/modules/hello.js", HELLO_JS);
  fuzz::write_file(dir + "/modules/m.js", M_JS);
  fuzz::write_file(dir + "/modules/common.js", COMMON_JS);
  std::string config = "; the fuzz target's configuration\nMODULE_DIR=" + dir + "/modules\nLOGFILE=" + journal_path_text +
                       "\nINCLUDE=common.js\nVAR='mode':'fuzz'\n";
  fuzz::write_file(dir + "/ZOLK.config", config.c_str());
  exe_path = dir + "/scriptcgi";
  setenv("REMOTE_ADDR", "127.0.0.1", 1);
  body_read = feed_read;
  journal_lock_attempts = 1;
  journal_lock_pause_ms = 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::engine_reset();
  rx_step_limit = 200000;  // a pathological pattern ends in its error quickly
  struct stat st;
  if (stat(journal_path_text.c_str(), &st) == 0 && st.st_size > (1 << 20)) truncate(journal_path_text.c_str(), 0);
  feed = data;
  feed_len = size;
  fed = 0;
  setenv("CONTENT_LENGTH", std::to_string(size).c_str(), 1);
  static char* argv[2];
  argv[0] = exe_path.data();
  fuzz::capture_begin();
  fuzz::fatal_armed = true;
  if (sigsetjmp(fuzz::fatal_guard, 0) == 0) {
    run_main(1, argv);
    fuzz::fatal_armed = false;
  } else {
    // The configuration is fixed and the body fits: nothing a request says may stop the process.
    fuzz::capture_finish();
    std::fprintf(stderr, "fatal stop during a request: %.*s\n", static_cast<int>(fuzz::capture.len), fuzz::capture.data);
    std::abort();
  }
  fuzz::capture_finish();
  static constexpr char header[] = "Content-type: text/plane;charset=UTF-8\n\n";
  if (fuzz::capture.len < sizeof header - 1 || std::memcmp(fuzz::capture.data, header, sizeof header - 1) != 0) {
    std::fprintf(stderr, "response without the CGI header: %.*s\n", static_cast<int>(fuzz::capture.len), fuzz::capture.data);
    std::abort();
  }
  fuzz::capture_end();
  return 0;
}
