// Request intake: the request buffer, its length-prefixed fields and the one-letter commands that
// name modules, give the top-function call and turn parameters into globals.
#include "driver/intake.h"

#include <cstdlib>
#include <cstring>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/loader.h"
#include "driver/run.h"
#include "driver/token.h"
#include "eval/globals.h"
#include "frontend/tree.h"
#include "platform/layout.h"
#include "store/byte_text.h"
#include "store/hex_codes.h"

char call_text[TOP_FUNCTION_MAX + 1];
size_t call_len = 0;
bool call_given = false;
bool modules_from_files = false;

namespace {

constexpr int TEMP_MAX = 1024;
struct Temp {
  uint32_t number;
  DW value;
};
LARGE_STATIC Temp temps[TEMP_MAX];
int temp_count = 0;

// A window of the request being read; blocks narrow it.
struct Cursor {
  char* p;
  char* end;
};

[[noreturn]] void bad_length(int code) { raise_eval_error(code, "文字列の長さ不正"); }

// Prefix character of a field: "0" + k or "A" + k; returns k, sets *encoded. -1 when malformed.
int field_digits(char c, int maxPlain, int maxEncoded, bool* encoded) {
  if (c >= '0' && c <= '0' + maxPlain) {
    *encoded = false;
    return c - '0';
  }
  if (c >= 'A' && c <= 'A' + maxEncoded) {
    *encoded = true;
    return c - 'A';
  }
  return -1;
}

// k decimal digits at the cursor as a number; false when they are not all digits or run past end.
bool read_digits(Cursor* c, int k, uint64_t* out) {
  if (c->end - c->p < k) return false;
  uint64_t n = 0;
  for (int i = 0; i < k; i++) {
    char d = c->p[i];
    if (d < '0' || d > '9') return false;
    n = n * 10 + static_cast<uint64_t>(d - '0');
  }
  c->p += k;
  *out = n;
  return true;
}

uint64_t read_number_field(Cursor* c) {
  if (c->p >= c->end) bad_length(1500);
  char prefix = *c->p;
  if (prefix < '0' || prefix > '0' + 13) bad_length(1500);
  c->p++;
  uint64_t n;
  if (!read_digits(c, prefix - '0', &n)) bad_length(1505);
  return n;
}

// A text field, decoded, copied over the start of its own field and terminated.
struct Text {
  char* text;
  size_t len;
  bool encoded;
};

Text read_text_field(Cursor* c, int maxPlain = 13, int maxEncoded = 12, int codeBase = 1520) {
  if (c->p >= c->end) bad_length(codeBase);
  char* start = c->p;
  bool encoded;
  int k = field_digits(*c->p, maxPlain, maxEncoded, &encoded);
  if (k < 0) bad_length(codeBase);
  c->p++;
  uint64_t len;
  if (!read_digits(c, k, &len)) bad_length(codeBase + 5);
  if (static_cast<uint64_t>(c->end - c->p) < len) bad_length(codeBase + 10);
  char* text = c->p;
  c->p += len;
  size_t n = encoded ? percent_decode(text, len) : len;
  std::memmove(start, text, n);
  start[n] = 0;
  return Text{start, n, encoded};
}

// A block: its window, and the cursor moved past it.
Cursor read_block(Cursor* c) {
  bool encoded;
  int k = c->p < c->end ? field_digits(*c->p, 9, 9, &encoded) : -1;
  if (k < 0) raise_eval_error(1540, "フォーマット不正(%.*s)", static_cast<int>(c->end - c->p), c->p);
  c->p++;
  uint64_t len;
  if (!read_digits(c, k, &len) || static_cast<uint64_t>(c->end - c->p) < len) bad_length(1545);
  Cursor block{c->p, c->p + len};
  c->p += len;
  return block;
}

// A raw field inside a block: its bytes as they are.
Text read_raw_field(Cursor* c) {
  bool encoded;
  int k = c->p < c->end ? field_digits(*c->p, 9, 9, &encoded) : -1;
  if (k < 0) raise_eval_error(1540, "フォーマット不正(%.*s)", static_cast<int>(c->end - c->p), c->p);
  c->p++;
  uint64_t len;
  if (!read_digits(c, k, &len) || static_cast<uint64_t>(c->end - c->p) < len) bad_length(1545);
  Text t{c->p, static_cast<size_t>(len), false};
  c->p += len;
  return t;
}

uint32_t read_name_field(Cursor* c) {
  Text t = read_text_field(c);
  return static_cast<uint32_t>(name_intern_text(t.text, t.len));
}

int32_t read_signed_field(Cursor* c) {
  if (c->p >= c->end) bad_length(1550);
  char prefix = *c->p;
  if (prefix < '0' || prefix > '0' + 10) bad_length(1550);
  int k = prefix - '0';
  c->p++;
  if (c->end - c->p < k) bad_length(1555);
  const char* s = c->p;
  int i = 0;
  bool negative = false;
  if (k > 0 && (s[0] == '+' || s[0] == '-')) negative = s[0] == '-', i = 1;
  if (i == k) bad_length(1555);
  int64_t n = 0;
  for (; i < k; i++) {
    if (s[i] < '0' || s[i] > '9') bad_length(1555);
    n = n * 10 + (s[i] - '0');
  }
  c->p += k;
  return static_cast<int32_t>(negative ? -n : n);
}

// A complete decimal real: optional sign, digits, optional fraction and exponent, nothing else.
bool parse_real(const char* text, size_t len, double* out) {
  if (len == 0 || len > 400) return false;
  char buf[401];
  std::memcpy(buf, text, len);
  buf[len] = 0;
  size_t i = 0;
  if (buf[i] == '+' || buf[i] == '-') i++;
  bool digits = false;
  while (buf[i] >= '0' && buf[i] <= '9') i++, digits = true;
  if (buf[i] == '.') {
    i++;
    while (buf[i] >= '0' && buf[i] <= '9') i++, digits = true;
  }
  if (!digits) return false;
  if (buf[i] == 'e' || buf[i] == 'E') {
    i++;
    if (buf[i] == '+' || buf[i] == '-') i++;
    if (buf[i] < '0' || buf[i] > '9') return false;
    while (buf[i] >= '0' && buf[i] <= '9') i++;
  }
  if (i != len) return false;
  *out = std::strtod(buf, nullptr);
  return true;
}

DW take_temporary(const char* text) {
  uint32_t number = static_cast<uint32_t>(std::strtoul(text + 2, nullptr, 10));
  for (int i = temp_count - 1; i >= 0; i--) {
    if (temps[i].number != number) continue;
    DW v = temps[i].value;
    std::memmove(&temps[i], &temps[i + 1], sizeof(Temp) * (temp_count - i - 1));
    temp_count--;
    return v;
  }
  raise_eval_error(1575, "テンポラリ名不正");
}

bool is_temporary_reference(const Text& t) {
  if (t.encoded || t.len != 8 || t.text[0] != '^') return false;
  for (int i = 2; i < 8; i++)
    if (t.text[i] < '0' || t.text[i] > '9') return false;
  return true;
}

// A value field as a new value (count 0); a temporary container keeps the count it had.
DW read_value_field(Cursor* c) {
  if (c->p >= c->end) bad_length(1560);
  char prefix = *c->p;
  if (prefix >= 'a' && prefix <= 'a' + 14) {
    int k = prefix - 'a';
    c->p++;
    uint64_t len;
    if (!read_digits(c, k, &len) || static_cast<uint64_t>(c->end - c->p) < len) bad_length(1565);
    double d;
    if (!parse_real(c->p, len, &d)) raise_eval_error(1570, "実数不正");
    c->p += len;
    return make_float(d, 0);
  }
  if (prefix >= 'N' && prefix <= 'N' + 18) {
    int k = prefix - 'N';
    c->p++;
    uint64_t n;
    if (!read_digits(c, k, &n)) bad_length(1565);
    // An integer beyond the 32-bit range stays exact as a Float.
    if (n <= 0x7FFFFFFF) return make_int(static_cast<int32_t>(n), 0);
    return make_float(static_cast<double>(n), 0);
  }
  bool encoded;
  if (field_digits(prefix, 13, 12, &encoded) < 0) bad_length(1560);
  Text t = read_text_field(c, 13, 12, 1560);
  if (is_temporary_reference(t)) return take_temporary(t.text);
  return make_string(t.text, t.len, 0);
}

DW read_keyed_key(Cursor* c) {
  DW key = read_value_field(c);
  DW out;
  switch (dw_type(key)) {
    case T_INT: out = INDEX_KEY_BASE + (static_cast<uint32_t>(int_rec(key)->value) & 0xFFFFFF); break;
    case T_STRING: out = static_cast<DW>(name_intern_text(str_text(key), str_rec(key)->len)); break;
    default: raise_eval_error(1750, "データの型不正(Hash, Array, Variable でない).");
  }
  dw_discard(key);
  return out;
}

void define_container(Cursor* c) {
  if (c->p >= c->end) bad_length(1560);
  char kind = *c->p++;
  uint64_t count = read_number_field(c);
  Text nameText = read_text_field(c);
  bool global = kind == 'A' || kind == 'H' || kind == 'I';
  uint32_t number = 0;
  uint32_t name = 0;
  if (global) {
    name = static_cast<uint32_t>(name_intern_text(nameText.text, nameText.len));
  } else {
    char refKind;
    int32_t ref = temp_reference(nameText.text, nameText.len, &refKind);
    if (ref <= 0) raise_eval_error(1705, "Object名不正");
    number = static_cast<uint32_t>(ref);
    if (temp_count >= TEMP_MAX) raise_eval_error(1710, "Objectバッファーのオーバーフロー");
  }
  bool isArray = kind == 'a' || kind == 'A', isKeyed = kind == 'i' || kind == 'I';
  if (count > 0xFFFF - 10 && !isArray && !isKeyed) bad_length(1565);
  // The smallest element is one byte per field (a prefix with no digits, "N" or "0"): a value,
  // or a pair of two fields. A count that the rest of the block cannot hold fails as reading its
  // elements would, before anything is allocated.
  uint64_t minElement = isArray ? 1 : 2;
  if (count > static_cast<uint64_t>(c->end - c->p) / minElement) bad_length(isArray || isKeyed ? 1560 : 1520);
  uint32_t n = static_cast<uint32_t>(count);
  DW container;
  if (isArray) {
    container = make_array(nullptr, 0, false);
    ArrRec* r = arr_rec(container);
    void* p;
    r->elems = area_new(static_cast<size_t>(n + 10) * 4, &p);
    r->cap = n + 10;
    for (uint32_t i = 0; i < n; i++) {
      DW v = dw_ref(read_value_field(c));
      r = arr_rec(container);
      static_cast<DW*>(area_ptr(r->elems))[i] = v;
      r->count = i + 1;
    }
  } else if (isKeyed) {
    DW h;
    KeyedRec* r = keyed_rec_new(&h, 0);
    void* p;
    r->pairs = area_new(static_cast<size_t>(n + 10) * 8, &p);
    r->cap = n + 10;
    container = h;
    for (uint32_t i = 0; i < n; i++) {
      DW key = read_keyed_key(c);
      DW v = dw_ref(read_value_field(c));
      r = keyed_rec(container);
      DW* pairs = static_cast<DW*>(area_ptr(r->pairs));
      pairs[2 * i] = key;
      pairs[2 * i + 1] = v;
      r->count = i + 1;
    }
  } else {
    container = make_object(nullptr, 0);
    ObjRec* r = obj_rec(container);
    void* p;
    r->pairs = area_new(static_cast<size_t>(n + 10) * 8, &p);
    r->cap = static_cast<uint16_t>(n + 10);
    for (uint32_t i = 0; i < n; i++) {
      uint32_t key = read_name_field(c);
      DW v = dw_ref(read_value_field(c));
      r = obj_rec(container);
      DW* pairs = static_cast<DW*>(area_ptr(r->pairs));
      pairs[2 * i] = key;
      pairs[2 * i + 1] = v;
      r->count = static_cast<uint16_t>(i + 1);
    }
  }
  if (global) {
    global_define(name, container);
  } else {
    dw_ref(container);
    temps[temp_count++] = Temp{number, container};
  }
}

void add_request_module(const char* name, size_t len) {
  if (module_last + 1 >= MODULE_LIMIT)
    raise_eval_error(1735, "モジュール(.js、.jo)が多すぎます。125ファイル以下にしてください。");
  // A name longer than MODULE_NAME_MAX is refused below, never cut.
  char path[MODULE_NAME_MAX + 2];
  size_t n = len < sizeof path ? len : sizeof path - 1;
  std::memcpy(path, name, n);
  path[n] = 0;
  path_to_slashes(path);
  bool confined = module_name_confined({path, n});
  // A refused name is listed cut short, so that the error texts naming it stay short too.
  int index = module_add(path, confined || n < 255 ? n : 255);
  if (!confined) raise_parse_error(1170, "モジュール名不正 '%s'", module_name(index));
  check_module_kind(index);
}

void read_call_text(Cursor* c, int code) {
  Text t = read_text_field(c);
  if (t.len > TOP_FUNCTION_MAX) raise_eval_error(code, "TOP関数が長すぎます(255Byte以下)");
  if (code == 1740) {
    std::memcpy(call_text, t.text, t.len);
    call_text[t.len] = 0;
    call_len = t.len;
    call_given = true;
  }
}

// A plain file name: letters, digits, "-", "_" and ".", not starting with "." (so neither a
// path nor a hidden file nor "." or "..").
bool is_plain_file_name(const Text& t) {
  if (t.len == 0 || t.text[0] == '.') return false;
  for (size_t i = 0; i < t.len; i++) {
    char ch = t.text[i];
    bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
              ch == '-' || ch == '_' || ch == '.';
    if (!ok) return false;
  }
  return true;
}

// The journal's file name is replaced within its directory; any other name is ignored, as the
// command is when no journal path is configured.
void replace_journal_name(const Text& t) {
  if (!journal_path[0] || !is_plain_file_name(t)) return;
  char* slash = std::strrchr(journal_path, '/');
  if (!slash) return;
  size_t dirLen = static_cast<size_t>(slash - journal_path) + 1;
  if (dirLen + t.len > JOURNAL_PATH_MAX) return;  // the path stays within its limit
  std::memcpy(journal_path + dirLen, t.text, t.len);
  journal_path[dirLen + t.len] = 0;
}

void copy_token(const Text& t, char* out, size_t* outLen) {
  size_t n = t.len > TOKEN_TEXT_MAX ? TOKEN_TEXT_MAX : t.len;
  std::memcpy(out, t.text, n);
  out[n] = 0;
  *outLen = n;
}

}  // namespace

void run_request_commands() {
  Cursor c{body_buf, body_buf + body_len};
  while (c.p < c.end) {
    char cmd = *c.p++;
    switch (cmd) {
      case '\n': break;
      case 'M': {
        uint64_t n = read_number_field(&c);
        Cursor block = read_block(&c);
        for (uint64_t i = 0; i < n; i++) {
          Text t = read_raw_field(&block);
          add_request_module(t.text, t.len);
        }
        break;
      }
      case 'L': modules_from_files = true; break;
      case 'P': read_call_text(&c, 1740); break;
      case 'E': read_call_text(&c, 1745); break;
      case 'S':
      case 'I':
      case 'D': {
        uint64_t n = read_number_field(&c);
        Cursor block = read_block(&c);
        load_modules();
        for (uint64_t i = 0; i < n; i++) {
          uint32_t name = read_name_field(&block);
          DW v;
          if (cmd == 'S') {
            Text t = read_text_field(&block);
            v = make_string(t.text, t.len, 0);
          } else if (cmd == 'I') {
            v = make_int(read_signed_field(&block), 0);
          } else {
            Text t = read_raw_field(&block);
            double d;
            if (!parse_real(t.text, t.len, &d)) raise_eval_error(1700, "数値の文字列不正");
            v = make_float(d, 0);
          }
          global_define(name, v);
        }
        break;
      }
      case 'A': {
        uint64_t n = read_number_field(&c);
        Cursor block = read_block(&c);
        load_modules();
        for (uint64_t i = 0; i < n; i++) define_container(&block);
        break;
      }
      case 'Q': {
        Text token = read_text_field(&c);
        copy_token(token, token_text, &token_len);
        Text digest = read_text_field(&c);
        copy_token(digest, token_digest_text, &token_digest_len);
        break;
      }
      case 'T': read_number_field(&c); break;
      case 'l': replace_journal_name(read_text_field(&c)); break;
      default: raise_eval_error(1750, "データの型不正(Hash, Array, Variable でない).");
    }
  }
}

void intake_reset() {
  call_text[0] = 0;
  call_len = 0;
  call_given = false;
  modules_from_files = false;
  temp_count = 0;
}

void define_argument_variables(const char* list) {
  const char* p = list;
  while (*p) {
    const char* item = p;
    const char* semi = std::strchr(p, ';');
    const char* itemEnd = semi ? semi : p + std::strlen(p);
    p = semi ? semi + 1 : itemEnd;
    const char* eq = static_cast<const char*>(std::memchr(item, '=', static_cast<size_t>(itemEnd - item)));
    if (!eq) continue;
    auto trim = [](const char** b, const char** e) {
      while (*b < *e && (**b == ' ' || **b == '\t')) (*b)++;
      while (*e > *b && ((*e)[-1] == ' ' || (*e)[-1] == '\t')) (*e)--;
    };
    const char *nb = item, *ne = eq, *vb = eq + 1, *ve = itemEnd;
    trim(&nb, &ne);
    trim(&vb, &ve);
    uint32_t name = static_cast<uint32_t>(name_intern_text(nb, static_cast<size_t>(ne - nb)));
    global_define(name, make_string(vb, static_cast<size_t>(ve - vb), 0));
  }
}
