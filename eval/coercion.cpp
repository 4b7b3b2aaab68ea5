// Coercions shared by the operators: truth value, numeric value, float text, the strict and the
// loose comparison, and the texts of the constants.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eval/compare.h"
#include "eval/ops.h"
#include "platform/layout.h"
#include "store/number_text.h"

static constexpr const char* CONSTANT_NAMES[5] = {"undefined", "true", "false", "null", "NaN"};
static constexpr size_t CONSTANT_LENGTHS[5] = {9, 4, 5, 4, 3};

const char* constant_name(DW c, size_t* len) {
  if (c > 4) c = 0;
  *len = CONSTANT_LENGTHS[c];
  return CONSTANT_NAMES[c];
}

int to_boolean(DW v) {
  switch (dw_type(v)) {
    case T_CONST: return v == DW_TRUE;
    case T_INT: return int_rec(v)->value != 0;
    case T_FLOAT: {
      double d = float_rec(v)->value;
      return std::isnan(d) || d != 0.0;
    }
    case T_STRING: return str_rec(v)->len != 0;
    case T_ARRAY: return arr_rec(v)->count != 0;
    case T_KEYED: return keyed_rec(v)->count != 0;
    case T_OBJECT: return obj_rec(v)->count != 0;
    default: return 1;
  }
}

double to_number(DW v, bool* isFloat) {
  switch (dw_type(v)) {
    case T_INT: return int_rec(v)->value;
    case T_FLOAT:
      *isFloat = true;
      return float_rec(v)->value;
    case T_STRING: {
      const char* text = str_text(v);
      size_t len = str_rec(v)->len;
      char* end;
      double d = std::strtod(text, &end);
      if (end != text + len) raise_eval_error(2305, "オペランド不正(非数値)");
      if (std::memchr(text, '.', len)) *isFloat = true;
      return d;
    }
    default: raise_eval_error(2310, "オペランド不正(非数値)");
  }
}

int number_text(double x, char* buf, size_t size) {
  int n = fixed10_text(x, buf, size);
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) >= size) n = static_cast<int>(size) - 1;
  while (n >= 2 && buf[n - 1] == '0' && buf[n - 2] != '.') n--;
  buf[n] = 0;
  return n;
}

int32_t double_to_int32(double d) { return static_cast<int32_t>(static_cast<uint32_t>(trunc_to_int64(d))); }

// Small Integers are shared permanent values (count 15): arithmetic results in this range make
// nothing. Nothing can tell them from new values: Integers are compared by value and only
// temporaries (count 0) or values held once are ever changed in place.
static constexpr int32_t SMALL_INT_MIN = -256, SMALL_INT_MAX = 4095;
LARGE_STATIC static DW small_ints[SMALL_INT_MAX - SMALL_INT_MIN + 1];

void small_ints_reset() { std::memset(small_ints, 0, sizeof small_ints); }

DW int_value(int32_t v) {
  if (v < SMALL_INT_MIN || v > SMALL_INT_MAX) return make_int(v, 0);
  DW& h = small_ints[v - SMALL_INT_MIN];
  if (!h) {
    h = make_int(v, 0);
    dw_rec(h)[0] = static_cast<uint8_t>(T_INT | 0xF0);
  }
  return h;
}

bool strict_equal_test(DW a, DW b) {
  unsigned ta = dw_type(a), tb = dw_type(b);
  if (ta == tb) {
    if (ta == T_INT) return int_rec(a)->value == int_rec(b)->value;
    if (ta == T_FLOAT) return float_rec(a)->value == float_rec(b)->value;
    if (ta == T_STRING) {
      uint32_t la = str_rec(a)->len;
      return la == str_rec(b)->len && std::memcmp(str_text(a), str_text(b), la) == 0;
    }
  }
  return a == b;
}

DW strict_equal(DW a, DW b) {
  bool eq = strict_equal_test(a, b);
  dw_discard(a);
  if (b != a) dw_discard(b);
  return eq ? DW_TRUE : DW_FALSE;
}


static bool text_test(int c, CompareOp op) {
  switch (op) {
    case CMP_EQ: return c == 0;
    case CMP_NE: return c != 0;
    case CMP_LT: return c < 0;
    case CMP_LE: return c <= 0;
    case CMP_GT: return c > 0;
    default: return c >= 0;
  }
}

// A numeric text compared with a number: at most 511 bytes, blanks and tabs trimmed, converted
// whole with strtod; false when the text is not a number.
static bool string_number(DW s, double* out) {
  char buf[512];
  size_t len = str_rec(s)->len;
  if (len > 511) len = 511;
  const char* t = str_text(s);
  size_t a = 0, e = len;
  while (a < e && (t[a] == ' ' || t[a] == '\t')) a++;
  while (e > a && (t[e - 1] == ' ' || t[e - 1] == '\t')) e--;
  std::memcpy(buf, t + a, e - a);
  buf[e - a] = 0;
  char* end;
  *out = std::strtod(buf, &end);
  return *end == 0;
}

static double number_of(DW v) {
  return dw_type(v) == T_INT ? int_rec(v)->value : float_rec(v)->value;
}

static int compare_bytes(DW a, DW b) {
  // strcmp order over the texts (a text ends at its first zero byte).
  return std::strcmp(str_text(a), str_text(b));
}

static bool loose_test(DW a, DW b, CompareOp op) {
  unsigned ta = dw_type(a), tb = dw_type(b);
  bool na = ta == T_INT || ta == T_FLOAT, nb = tb == T_INT || tb == T_FLOAT;
  if (na && nb) {
    if (ta == T_INT && tb == T_INT) {
      int32_t x = int_rec(a)->value, y = int_rec(b)->value;
      return compare_holds<double>(x, y, op);
    }
    return compare_holds<double>(number_of(a), number_of(b), op);
  }
  if (na && tb == T_STRING) {
    double y;
    return string_number(b, &y) && compare_holds<double>(number_of(a), y, op);
  }
  if (ta == T_STRING && nb) {
    double x;
    return string_number(a, &x) && compare_holds<double>(x, number_of(b), op);
  }
  if (ta == T_STRING && tb == T_STRING) return text_test(compare_bytes(a, b), op);
  return (a & NAME_MASK) == (b & NAME_MASK);
}

DW loose_compare(DW a, DW b, CompareOp op) {
  // != is the negation of == for every pair of types.
  bool r = op == CMP_NE ? !loose_test(a, b, CMP_EQ) : loose_test(a, b, op);
  dw_discard(a);
  if (b != a) dw_discard(b);
  return r ? DW_TRUE : DW_FALSE;
}
