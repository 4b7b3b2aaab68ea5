// Number comparisons shared by the tree's operators, the conversions and the compiled form.
#pragma once

#include "eval/eval.h"

// Whether x op y holds for two numbers of one kind (a NaN is unequal and unordered to all).
template <class T>
constexpr bool compare_holds(T x, T y, CompareOp op) {
  switch (op) {
    case CMP_EQ: return x == y;
    case CMP_NE: return !(x == y);
    case CMP_LT: return x < y;
    case CMP_LE: return x <= y;
    case CMP_GT: return x > y;
    default: return x >= y;
  }
}
