// Weak stand-ins for the entry points of eval/plugins.h: each raises 2165 until builtins/,
// regexp/ or db/ links its real (strong) definition, which replaces it.
#include "eval/plugins.h"

#define STUB __attribute__((weak))

[[noreturn]] static void not_available(const char* what) {
  raise_eval_error(2165, "未実装の機能(%s)", what);
}

STUB DW array_method(DW, uint32_t, DW*, int) { not_available("Array method"); }
STUB DW keyed_method(DW, uint32_t, DW*, int) { not_available("Array method"); }
STUB DW string_method(DW, uint32_t, DW*, int) { not_available("String method"); }
STUB DW date_method(DW, uint32_t, DW*, int) { not_available("Date method"); }
STUB DW regexp_method(DW, uint32_t, DW*, int) { not_available("RegExp method"); }
STUB DW object_method(DW, uint32_t, DW*, int) { not_available("Object method"); }
STUB DW regexp_property(DW, uint32_t) { not_available("RegExp property"); }
STUB size_t regexp_text(DW, char* buf, size_t size) {
  if (size) buf[0] = 0;
  return 0;
}

STUB DW math_function(int, DW*, int) { not_available("Math"); }
STUB DW object_function(int, DW*, int) { not_available("Object"); }
STUB DW number_function(int, DW*, int) { not_available("Number"); }
STUB DW date_function(int, DW*, int) { not_available("Date"); }
STUB DW string_function(int, DW*, int) { not_available("String"); }

STUB DW op_parse_float(DW, NodeRec*) { not_available("parseFloat"); }
STUB DW op_parse_int(DW, NodeRec*) { not_available("parseInt"); }
STUB DW op_regexp(DW, NodeRec*) { not_available("RegExp"); }
STUB DW op_date(DW, NodeRec*) { not_available("Date"); }
STUB DW op_select(DW, NodeRec*) { not_available("select"); }
STUB DW op_select_hash(DW, NodeRec*) { not_available("selectHash"); }
STUB DW op_select_to_front(DW, NodeRec*) { not_available("selectToFront"); }
STUB DW op_select_hash_to_front(DW, NodeRec*) { not_available("selectHashToFront"); }
STUB DW op_execute(DW, NodeRec*) { not_available("execute"); }
STUB DW op_open_db(DW, NodeRec*) { not_available("openDb"); }
STUB DW op_select_exists(DW, NodeRec*) { not_available("selectExists"); }
STUB DW op_send_to_front(DW, NodeRec*) { not_available("sendToFront"); }
STUB DW op_close_db(DW, NodeRec*) { not_available("closeDb"); }
STUB DW op_select_into(DW, NodeRec*) { not_available("selectInto"); }
STUB DW op_alert_to_front(DW, NodeRec*) { not_available("alertToFront"); }
STUB DW op_record_map(DW, NodeRec*) { not_available("record_map"); }
STUB DW op_record_hash(DW, NodeRec*) { not_available("record_hash"); }
STUB DW op_sql_aggregate(DW, NodeRec*) { not_available("sql_aggregate"); }
