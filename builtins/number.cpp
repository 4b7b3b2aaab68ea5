// parseInt, parseFloat and isInteger: the Number statics and the global parseInt/parseFloat.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "builtins/array_common.h"
#include "builtins/number.h"
#include "eval/plugins.h"

static bool blank(char c) { return c == ' ' || c == '\t'; }

// Leading and trailing spaces and tabs removed.
static void trim(const char** text, size_t* len) {
  const char* t = *text;
  size_t a = 0, e = *len;
  while (a < e && blank(t[a])) a++;
  while (e > a && blank(t[e - 1])) e--;
  *text = t + a;
  *len = e - a;
}

static int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

DW parse_int_text(const char* text, size_t len, bool hasRadix, int radix) {
  trim(&text, &len);
  size_t i = 0;
  bool negative = false;
  if (i < len && text[i] == '+') i++;
  else if (i < len && text[i] == '-') {
    negative = true;
    i++;
  }
  if (!hasRadix) {
    radix = 10;
    if (i + 1 < len && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
      radix = 16;
      i += 2;
    }
  } else if (radix < 2 || radix > 36) {
    return DW_NAN;
  }
  // 32-bit signed accumulation, wrapping as the machine's arithmetic does.
  uint32_t value = 0;
  size_t first = i;
  for (; i < len; i++) {
    int d = digit_value(text[i]);
    if (d >= radix) break;
    value = value * static_cast<uint32_t>(radix) + static_cast<uint32_t>(d);
  }
  if (i == first) return DW_NAN;
  if (negative) value = 0u - value;
  return int_value(static_cast<int32_t>(value));
}

DW parse_float_text(const char* text, size_t len) {
  trim(&text, &len);
  if (!len) return DW_NAN;
  char* end;
  double d = std::strtod(text, &end);
  if (end == text) return DW_NAN;
  return make_float(d, 0);
}

// Runs fn on the text of s: the string itself, or the text of another value.
template <typename Fn>
static DW with_text(DW s, Fn fn) {
  if (dw_type(s) == T_STRING) return fn(str_text(s), str_rec(s)->len);
  char buf[3072];
  size_t len;
  bool owned;
  char* t = value_to_text(s, &len, buf, sizeof buf, &owned);
  DW r = fn(t, len);
  if (owned) std::free(t);
  return r;
}

DW parse_int_value(DW s, const DW* radix) {
  int r = 0;
  if (radix) {
    if (dw_type(*radix) != T_INT) return DW_NAN;
    // The radix is the low 8 bits taken as a signed number.
    r = static_cast<int8_t>(static_cast<uint8_t>(int_arg(*radix) & 0xFF));
  }
  bool has = radix != nullptr;
  return with_text(s, [has, r](const char* t, size_t len) { return parse_int_text(t, len, has, r); });
}

DW parse_float_value(DW s) {
  return with_text(s, [](const char* t, size_t len) { return parse_float_text(t, len); });
}

DW is_integer_value(DW v) {
  unsigned t = dw_type(v);
  if (t == T_INT) return DW_TRUE;
  if (t != T_FLOAT) return DW_FALSE;
  double d = float_arg(v);
  // NaN and the infinities have no digits to examine and are not integers.
  if (!std::isfinite(d)) return DW_FALSE;
  // The digits after the point of the float text (at most 29 characters) decide.
  char text[30];
  number_text(d, text, sizeof text);
  const char* dot = std::strchr(text, '.');
  if (!dot) return DW_TRUE;
  for (const char* p = dot + 1; *p >= '0' && *p <= '9'; p++)
    if (*p != '0') return DW_FALSE;
  return DW_TRUE;
}

static DW n_parse_int(DW, DW* args, int n) { return parse_int_value(args[0], n > 1 ? &args[1] : nullptr); }
static DW n_parse_float(DW, DW* args, int) { return parse_float_value(args[0]); }
static DW n_is_integer(DW, DW* args, int) { return is_integer_value(args[0]); }

constexpr MethodRow ROWS[] = {
    {"isInteger",  1, 1, n_is_integer, ROW_KEEPS},
    {"parseFloat", 1, 1, n_parse_float, ROW_KEEPS | ROW_NUMBER},
    {"parseInt",   1, 2, n_parse_int, ROW_KEEPS | ROW_NUMBER},
};

constexpr MethodTable number_methods = method_table(ROWS, 2125, "NUMBERのメソッド名不正", 2130, 2135);

// The global functions evaluate their own argument trees; each value is held while the next
// one is evaluated.
DW op_parse_int(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  DW trees[2] = {rec_args(r)[0], n > 1 ? rec_args(r)[1] : DW_UNDEFINED};
  DW s = n ? dw_ref(eval_node(trees[0])) : DW_UNDEFINED;
  DW radix = n > 1 ? dw_ref(eval_node(trees[1])) : DW_UNDEFINED;
  DW res = parse_int_value(s, n > 1 ? &radix : nullptr);
  dw_release(s);
  dw_release(radix);
  return res;
}

DW op_parse_float(DW, NodeRec* r) {
  DW s = dw_ref(eval_node(rec_args(r)[0]));
  DW res = parse_float_value(s);
  dw_release(s);
  return res;
}
