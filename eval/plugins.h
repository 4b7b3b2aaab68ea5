// Entry points that the evaluator calls but that the built-in library (builtins/), the
// regular-expression engine (regexp/) and the database layer (db/) define; a program that leaves
// one out does not link.
#pragma once
#include <cstddef>
#include <cstdint>

#include "eval/eval.h"
#include "eval/method_table.h"

// ---- methods by receiver type ----
// recv: the receiver; name: the method's name index; args/n: the evaluated arguments (the
// evaluator keeps one reference on each and on the receiver for the duration of the call).
DW array_method(DW recv, uint32_t name, DW* args, int n);    // Array (type 10)
DW keyed_method(DW recv, uint32_t name, DW* args, int n);    // Keyed array (type 11)
DW string_method(DW recv, uint32_t name, DW* args, int n);   // String (type 9)
DW date_method(DW recv, uint32_t name, DW* args, int n);     // Date (type 5)
DW regexp_method(DW recv, uint32_t name, DW* args, int n);   // regular expression (type 7)
// Object (type 12) methods other than a member function of that name, which the evaluator calls
// itself (call_member_function) before coming here.
DW object_method(DW recv, uint32_t name, DW* args, int n);

// A member of a regular expression (OP_MEMBER); may leave a LOC_FIELD location for lastIndex.
DW regexp_property(DW re, uint32_t name);
// "/" + source + "/" + flags of a regular expression: writes at most size - 1 bytes and a zero,
// returns the full length (as snprintf does).
size_t regexp_text(DW re, char* buf, size_t size);

// String operations that the compiled form calls itself, with its own argument counts
// (builtins/string_extract.cpp, builtins/string_search.cpp).
DW str_char_at_index(DW s, int64_t i);
int32_t str_char_code_at_index(DW s, int64_t i);
DW str_index_of(DW s, DW* args, int n);
DW str_substring(DW s, DW* args, int n);

// ---- method tables (eval/method_table.h), each beside its operations ----
// The dispatchers above go through the first six; call_static_method picks a static object's
// table by the object's name.
extern const MethodTable string_methods;   // builtins/string_methods.cpp
extern const MethodTable array_methods;    // builtins/array_methods.cpp (rows shared with
extern const MethodTable keyed_methods;    //   keyed_methods, which has its own error codes)
extern const MethodTable date_methods;     // builtins/date_methods.cpp
extern const MethodTable object_methods;   // builtins/object_methods.cpp
extern const MethodTable regexp_methods;   // regexp/object.cpp
// The static objects: Math, Number, Object, Date and String (console is the evaluator's own).
extern const MethodTable math_methods;     // builtins/math.cpp
extern const MethodTable number_methods;   // builtins/number.cpp
extern const MethodTable object_statics;   // builtins/object_methods.cpp
extern const MethodTable date_statics;     // builtins/date_construct.cpp
extern const MethodTable string_statics;   // builtins/char_codes.cpp

// ---- operation handlers defined elsewhere ----
DW op_parse_float(DW node, NodeRec* r);            // 177 parseFloat
DW op_parse_int(DW node, NodeRec* r);              // 178 parseInt
DW op_regexp(DW node, NodeRec* r);                 // 182 RegExp(...), also new RegExp
DW op_date(DW node, NodeRec* r);                   // 185 Date(...), also new Date
// Database and front-end functions.
DW op_select(DW node, NodeRec* r);                 // 162
DW op_select_hash(DW node, NodeRec* r);            // 163
DW op_select_to_front(DW node, NodeRec* r);        // 164
DW op_select_hash_to_front(DW node, NodeRec* r);   // 165
DW op_execute(DW node, NodeRec* r);                // 166
DW op_open_db(DW node, NodeRec* r);                // 167
DW op_select_exists(DW node, NodeRec* r);          // 168
DW op_send_to_front(DW node, NodeRec* r);          // 169
DW op_close_db(DW node, NodeRec* r);               // 180
DW op_select_into(DW node, NodeRec* r);            // 181
DW op_alert_to_front(DW node, NodeRec* r);         // 191
DW op_record_map(DW node, NodeRec* r);             // 192
DW op_record_hash(DW node, NodeRec* r);            // 193
DW op_sql_aggregate(DW node, NodeRec* r);          // 194

// Text of a database connection or prepared statement is fixed ("DB_Connection", "SQL_Object");
// the text of a Date comes from its record fields (evaluator).
