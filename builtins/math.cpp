// Math: abs, ceil, floor, trunc, round, random, pow, min and max.
// A value that is not a number gives NaN instead of an error.
#include <cmath>

#include "builtins/array_common.h"
#include "eval/plugins.h"
#include "platform/platform.h"

static bool random_seeded;

static DW m_abs(DW, DW* args, int) {
  DW x = args[0];
  switch (dw_type(x)) {
    case T_INT: {
      int32_t v = int_arg(x);
      if (v >= 0) return x;
      // The smallest Integer has no positive counterpart and stays as it is.
      return int_value(static_cast<int32_t>(0u - static_cast<uint32_t>(v)));
    }
    case T_FLOAT: return make_float(std::fabs(float_arg(x)), 0);
    default: return DW_NAN;
  }
}

// ceil, floor, trunc, round: a Float gives the rounded value as an Integer (low 32 bits).
template <double (*Round)(double)>
static DW m_rounding(DW, DW* args, int) {
  DW x = args[0];
  switch (dw_type(x)) {
    case T_INT: return x;
    case T_FLOAT: return int_value(double_to_int32(Round(float_arg(x))));
    default: return x == DW_NULL ? int_value(0) : DW_NAN;
  }
}
static double ceil_of(double d) { return std::ceil(d); }
static double floor_of(double d) { return std::floor(d); }
static double trunc_of(double d) { return std::trunc(d); }
static double round_of(double d) { return std::round(d); }   // halves away from zero

static DW m_random(DW, DW*, int) {
  if (!random_seeded) {
    rng_seed(static_cast<uint32_t>(clock_now()));
    random_seeded = true;
  }
  return make_float(rng_next() / 32767.0, 0);
}

// The numeric value of an argument; false for a value that is not a number.
static bool number_of(DW v, double* out, bool* isFloat) {
  unsigned t = dw_type(v);
  if (t == T_INT) {
    *out = int_arg(v);
    return true;
  }
  if (t == T_FLOAT) {
    *out = float_arg(v);
    *isFloat = true;
    return true;
  }
  return false;
}

static DW m_pow(DW, DW* args, int) {
  double x, y;
  bool isFloat = false;
  if (!number_of(args[0], &x, &isFloat) || !number_of(args[1], &y, &isFloat)) return DW_NAN;
  if (y == 0) return int_value(1);
  if (x == 0) return int_value(0);
  if (x < 0 && y < 1) return DW_NAN;
  double r = std::pow(x, y);
  if (!isFloat && y >= 1) return int_value(double_to_int32(r));
  return make_float(r, 0);
}

// min (largest false) and max: the first argument holding the smallest or largest value.
static DW m_extreme(DW* args, int n, bool largest) {
  DW best = 0;
  double bestValue = 0;
  for (int i = 0; i < n; i++) {
    double v;
    bool isFloat = false;
    if (!number_of(args[i], &v, &isFloat)) return DW_NAN;
    if (i == 0 || (largest ? v > bestValue : v < bestValue)) {
      best = args[i];
      bestValue = v;
    }
  }
  return best;
}

static DW m_min(DW, DW* args, int n) { return m_extreme(args, n, false); }
static DW m_max(DW, DW* args, int n) { return m_extreme(args, n, true); }

constexpr MethodRow ROWS[] = {
    {"abs",    1, 1, m_abs, ROW_KEEPS | ROW_NUMBER},
    {"ceil",   1, 1, m_rounding<ceil_of>, ROW_KEEPS | ROW_NUMBER},
    {"floor",  1, 1, m_rounding<floor_of>, ROW_KEEPS | ROW_NUMBER},
    {"max",    1, NO_MAX, m_max, ROW_KEEPS | ROW_NUMBER},
    {"min",    1, NO_MAX, m_min, ROW_KEEPS | ROW_NUMBER},
    {"pow",    2, 2, m_pow, ROW_KEEPS | ROW_NUMBER},
    {"random", 0, 0, m_random, ROW_NUMBER},
    {"round",  1, 1, m_rounding<round_of>, ROW_KEEPS | ROW_NUMBER},
    {"trunc",  1, 1, m_rounding<trunc_of>, ROW_KEEPS | ROW_NUMBER},
};

constexpr MethodTable math_methods = method_table(ROWS, 2115, "Mathのメソッド名不正", 2120, 2120);
