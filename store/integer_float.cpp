// Conversions behind Integer(x) and Float(x).
#include <cstdint>

#include "errors/raise.h"
#include "store/store.h"

int64_t trunc_to_int64(double d) {
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return static_cast<int64_t>(d);
  return INT64_MIN;
}

static inline int32_t low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// A string's leading sign, then the number; 0 for an integer result, 1 for a float.
static int parse_string_number(DW h, double* d, int64_t* i) {
  const char* p = str_text(h);
  return parse_signed_number(&p, d, i);
}

DW to_float(DW h) {
  double v;
  switch (dw_type(h)) {
    case T_INT:
      v = int_rec(h)->value;
      break;
    case T_FLOAT:
      v = float_rec(h)->value;
      break;
    case T_STRING: {
      int64_t i;
      if (parse_string_number(h, &v, &i) == 0) v = static_cast<double>(i);
      break;
    }
    default:
      raise_eval_error(1415, "Floatの引数不正");
  }
  return make_float(v, 0);
}

DW to_integer(DW h) {
  int64_t v;
  switch (dw_type(h)) {
    case T_INT:
      v = int_rec(h)->value;
      break;
    case T_FLOAT:
      v = trunc_to_int64(float_rec(h)->value);
      break;
    case T_STRING: {
      double d;
      if (parse_string_number(h, &d, &v) == 1) {
        // A fractional text truncates toward zero; what does not fit 32 bits stays a Float.
        v = trunc_to_int64(d);
        if (v < INT32_MIN || v > INT32_MAX) return make_float(d, 0);
      }
      break;
    }
    default:
      raise_eval_error(1410, "Integerの引数不正");
  }
  return make_int(low32(v), 0);
}
