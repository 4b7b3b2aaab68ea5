// The conversion functions Number, String, Integer, Float and Array, and eval.
#include <cstdlib>
#include <cstring>

#include "eval/ops.h"
#include "frontend/parser.h"

DW number_of_tree(DW tree) {
  DW x = eval_node(tree);
  DW res;
  switch (dw_type(x)) {
    case T_INT: res = int_value(int_rec(x)->value); break;
    case T_FLOAT: res = make_float(float_rec(x)->value, 0); break;
    case T_STRING: {
      const char* text = str_text(x);
      const char* p = text;
      double d;
      int64_t iv;
      int kind = parse_signed_number(&p, &d, &iv);
      if (p != text + str_rec(x)->len) raise_eval_error(2335, "Numberの引数不正");
      if (kind == 0 && iv >= INT32_MIN && iv <= INT32_MAX) res = int_value(static_cast<int32_t>(iv));
      else res = make_float(kind == 0 ? static_cast<double>(iv) : d, 0);
      break;
    }
    default: raise_eval_error(2335, "Numberの引数不正");
  }
  dw_discard(x);
  return res;
}

DW string_of_tree(DW tree) {
  DW x = eval_node(tree);
  DW s = value_text_string(x);
  dw_discard(x);
  return s;
}

DW array_of_trees(const DW* trees, uint32_t n) {
  if (!n) return make_array(nullptr, 0, false);
  DW local[64];
  DW* copies = n <= 64 ? local : static_cast<DW*>(store_alloc(n * sizeof(DW)));
  for (uint32_t i = 0; i < n; i++) {
    DW v = eval_node(trees[i]);
    DW c = value_copy(v);
    // Values that are shared rather than copied come back with their reference already taken.
    if (c != v) {
      dw_ref(c);
      dw_discard(v);
    }
    copies[i] = c;
  }
  DW h = make_array(copies, n, false);
  if (copies != local) std::free(copies);
  return h;
}

DW op_number(DW, NodeRec* r) { return rec_argc(r) ? number_of_tree(r->a1) : int_value(0); }

DW op_string(DW, NodeRec* r) { return rec_argc(r) ? string_of_tree(r->a1) : make_string("", 0, 0); }

DW op_integer(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  if (n > 1) raise_eval_error(2375, "引数の個数不正");
  if (!n) return int_value(0);
  DW v = eval_node(r->a1);
  DW res = to_integer(v);
  if (res != v) dw_discard(v);
  return res;
}

DW op_float(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  if (n > 1) raise_eval_error(2380, "引数の個数不正");
  if (!n) return make_float(0.0, 0);
  DW v = eval_node(r->a1);
  DW res = to_float(v);
  if (res != v) dw_discard(v);
  return res;
}

DW op_array(DW, NodeRec* r) { return array_of_trees(rec_args(r), rec_argc(r)); }

DW op_eval(DW, NodeRec* r) {
  DW s = eval_node(r->a1);
  if (dw_type(s) != T_STRING) raise_eval_error(2350, "引数不正(非文字列)");
  size_t len = str_rec(s)->len;
  if (len >= 256) raise_eval_error(2357, "評価する文字列が長すぎます。(255バイト以下)");
  char text[256];
  std::memcpy(text, str_text(s), len);
  text[len] = 0;
  DW trees[256];
  uint32_t count = parse_expression_text(text, PARSE_NO_STOP | PARSE_REPORT_FUNCTIONS, trees, 256);
  if (!count) return s;
  dw_discard(s);
  DW last = DW_UNDEFINED;
  for (uint32_t i = 0; i < count; i++) {
    if (i) dw_discard(last);
    last = eval_node(trees[i]);
  }
  // The result may be a literal of the parsed text: it outlives the trees as a temporary.
  dw_ref(last);
  for (uint32_t i = 0; i < count; i++) dw_release(trees[i]);
  dw_unref(last);
  return last;
}
