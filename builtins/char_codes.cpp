// String.fromCharCode and String.fromCodePoint: strings made of character codes, written in UTF-8.
#include "builtins/array_common.h"
#include "eval/plugins.h"

// Writes code c (at most 0x10FFFF) in UTF-8; surrogate codes are written as they are.
static void put_code(TextBuf* b, uint32_t c) {
  char t[4];
  size_t n;
  if (c < 0x80) {
    t[0] = static_cast<char>(c);
    n = 1;
  } else if (c < 0x800) {
    t[0] = static_cast<char>(0xC0 | (c >> 6));
    t[1] = static_cast<char>(0x80 | (c & 0x3F));
    n = 2;
  } else if (c < 0x10000) {
    t[0] = static_cast<char>(0xE0 | (c >> 12));
    t[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    t[2] = static_cast<char>(0x80 | (c & 0x3F));
    n = 3;
  } else {
    t[0] = static_cast<char>(0xF0 | (c >> 18));
    t[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    t[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    t[3] = static_cast<char>(0x80 | (c & 0x3F));
    n = 4;
  }
  textbuf_append(b, t, n);
}

// fromCharCode (codes up to 0xFFFF) and fromCodePoint (point: up to 0x10FFFF).
static DW from_codes(DW* args, int n, bool point) {
  uint32_t limit = point ? 0x10FFFF : 0xFFFF;
  // Every code is checked before anything is written.
  for (int i = 0; i < n; i++) {
    if (dw_type(args[i]) != T_INT) {
      if (point) raise_eval_error(2410, "String.fromCharCodeの引数不正(非整数)");
      raise_eval_error(2400, "String.fromCharCodeの引数不正(非整数)");
    }
    int32_t c = int_arg(args[i]);
    if (c < 0 || static_cast<uint32_t>(c) > limit) {
      if (point) raise_eval_error(2415, "String.fromCharCodeの引数不正(ユニコードの範囲外)");
      raise_eval_error(2405, "String.fromCharCodeの引数不正(UTF16の範囲外)");
    }
  }
  char storage[4096];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  for (int i = 0; i < n; i++) put_code(&b, static_cast<uint32_t>(int_arg(args[i])));
  DW s = make_string(b.data, b.len, 0);
  textbuf_free(&b);
  return s;
}

static DW from_char_code(DW, DW* args, int n) { return from_codes(args, n, false); }
static DW from_code_point(DW, DW* args, int n) { return from_codes(args, n, true); }

constexpr MethodRow ROWS[] = {
    {"fromCharCode",  1, NO_MAX, from_char_code, ROW_KEEPS | ROW_STRING},
    {"fromCodePoint", 1, NO_MAX, from_code_point, ROW_KEEPS | ROW_STRING},
};

constexpr MethodTable string_statics = method_table(ROWS, 2095, "STRINGのメソッド名不正", 2097, 2098);
