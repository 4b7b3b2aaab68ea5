// Regeneration of pattern text from the compiled items (source, toString) and the flag letters.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "regexp/internal.h"

namespace {

// The text being built; process-wide, grows as needed.
char* out;
size_t out_len, out_cap;

void put(const char* s, size_t n) {
  if (out_len + n + 1 > out_cap) {
    size_t cap = (out_len + n + 1) * 2 + 256;
    char* p = static_cast<char*>(std::realloc(out, cap));
    if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
    out = p;
    out_cap = cap;
  }
  std::memcpy(out + out_len, s, n);
  out_len += n;
  out[out_len] = 0;
}
void puts_(const char* s) { put(s, std::strlen(s)); }

// A unit as pattern text: syntax characters and controls escaped so that the text compiles
// back to the same item.
void put_unit(unsigned u, bool inClass) {
  char b[16];   // room for any unsigned in the \x form: the compiler cannot bound u here
  const char* special = inClass ? "\\]-[^" : "\\^$.*+?()[]{}|/";
  if (u == 0) { puts_("\\0"); return; }
  if (u == '\n') { puts_("\\n"); return; }
  if (u == '\r') { puts_("\\r"); return; }
  if (u == '\t') { puts_("\\t"); return; }
  if (u == '\f') { puts_("\\f"); return; }
  if (u == '\v') { puts_("\\v"); return; }
  if (u < 0x20 || u == 0x7F) {
    std::snprintf(b, sizeof b, "\\x%02X", u);
    puts_(b);
    return;
  }
  if (u < 0x80) {
    if (std::strchr(special, static_cast<int>(u))) put("\\", 1);
    b[0] = static_cast<char>(u);
    put(b, 1);
    return;
  }
  uint16_t w = static_cast<uint16_t>(u);
  size_t n = rx_utf16_to_utf8(&w, 1, b, sizeof b);
  put(b, n);
}

void put_quantifier(const RxItem& it) {
  char b[32];
  switch (it.quant) {
    case RXQ_NONE: return;
    case RXQ_EXACT: std::snprintf(b, sizeof b, "{%d}", it.min); break;
    case RXQ_OPT: std::strcpy(b, "?"); break;
    case RXQ_RANGE: std::snprintf(b, sizeof b, "{%d,%d}", it.min, it.max); break;
    case RXQ_OPEN:
      if (it.min == 0) std::strcpy(b, "*");
      else if (it.min == 1) std::strcpy(b, "+");
      else std::snprintf(b, sizeof b, "{%d,}", it.min);
      break;
    case RXQ_OPT | RXQ_LAZY: std::strcpy(b, "??"); break;
    case RXQ_RANGE | RXQ_LAZY: std::snprintf(b, sizeof b, "{%d,%d}?", it.min, it.max); break;
    case RXQ_OPEN | RXQ_LAZY:  // "{0,}" would not compile back
      if (it.min <= 1) std::strcpy(b, it.min ? "+?" : "*?");
      else std::snprintf(b, sizeof b, "{%d,}?", it.min);
      break;
    default: raise_eval_error(5050, "正規表現の{min,max}不正");
  }
  puts_(b);
}

void put_pattern(DW re);

void put_look(const char* open, DW body) {
  puts_(open);
  put_pattern(body);
  put(")", 1);
}

void put_sequence(RxHead* h) {
  const RxItem* items = rx_items(h);
  const uint16_t* pool = rx_pool(h);
  for (int k = 0; k < h->count; k++) {
    const RxItem& it = items[k];
    if (it.look == RXL_BEHIND) put_look("(?<=", it.body);
    if (it.look == RXL_NBEHIND) put_look("(?<!", it.body);
    switch (it.kind) {
      case RX_RUN: case RX_UNIT:
        for (int j = 0; j < it.len; j++) put_unit(pool[it.text + j], false);
        break;
      case RX_BOL: puts_("^"); break;
      case RX_EOL: puts_("$"); break;
      case RX_DOT: puts_("."); break;
      case RX_ANY: puts_("[^]"); break;
      case RX_WORD: puts_("\\w"); break;
      case RX_NWORD: puts_("\\W"); break;
      case RX_DIGIT: puts_("\\d"); break;
      case RX_NDIGIT: puts_("\\D"); break;
      case RX_SPACE: puts_("\\s"); break;
      case RX_NSPACE: puts_("\\S"); break;
      case RX_WBOUND: puts_("\\b"); break;
      case RX_NWBOUND: puts_("\\B"); break;
      case RX_CLASS: case RX_NCLASS: {
        puts_(it.kind == RX_CLASS ? "[" : "[^");
        static const char* const esc[6] = {"\\w", "\\W", "\\d", "\\D", "\\s", "\\S"};
        for (int b = 0; b < 6; b++)
          if (it.cls & (1 << b)) puts_(esc[b]);
        for (int j = 0; j < it.len; j++) put_unit(pool[it.text + j], true);
        puts_("]");
        break;
      }
      case RX_BACKREF: {
        char b[8];
        std::snprintf(b, sizeof b, "\\%d", it.cls);
        puts_(b);
        break;
      }
      case RX_GROUP:
        put_look("(", it.body);
        break;
      case RX_NCGROUP:
        put_look("(?:", it.body);
        break;
      case RX_EMPTY:
        break;
      default:
        raise_eval_error(5065, "正規表現のコマンド不正");
    }
    put_quantifier(it);
    if (it.look == RXL_AHEAD) put_look("(?=", it.body);
    if (it.look == RXL_NAHEAD) put_look("(?!", it.body);
  }
}

void put_pattern(DW re) {
  RxHead* h = rx_head(re);
  if (!(h->flags & RXF_ALTERNATION)) {
    put_sequence(h);
    return;
  }
  for (int k = 0; k < h->count; k++) {
    if (k) put("|", 1);
    put_pattern(rx_alt(h, k));
  }
}

}  // namespace

int regexp_flag_letters(uint8_t flags, char* o) {
  int n = 0;
  if (flags & RXF_IGNORECASE) o[n++] = 'i';
  if (flags & RXF_MULTILINE) o[n++] = 'm';
  if (flags & RXF_GLOBAL) o[n++] = 'g';
  if (flags & RXF_STICKY) o[n++] = 'y';
  if (flags & RXF_DOTALL) o[n++] = 's';
  o[n] = 0;
  return n;
}

const char* regexp_source(DW re, size_t* len) {
  out_len = 0;
  put("", 0);
  put_pattern(re);
  *len = out_len;
  return out;
}

// "/" + source + "/" + flags in the process-wide buffer.
static const char* build_text(DW re, size_t* len) {
  out_len = 0;
  put("/", 1);
  put_pattern(re);
  put("/", 1);
  char flags[8];
  put(flags, static_cast<size_t>(regexp_flag_letters(rx_head(re)->flags, flags)));
  *len = out_len;
  return out;
}

size_t regexp_text(DW re, char* buf, size_t size) {
  size_t n;
  const char* t = build_text(re, &n);
  if (size == 0) return n;
  size_t k = n < size - 1 ? n : size - 1;
  std::memcpy(buf, t, k);
  buf[k] = 0;
  return n;
}

DW regexp_to_string(DW re) {
  size_t n;
  const char* t = build_text(re, &n);
  return make_string(t, n, 0);
}
