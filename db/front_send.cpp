// sendToFront and alertToFront: s, A and H records, value fields and reference fields.
#include <cstdio>
#include <cstring>

#include "builtins/date.h"
#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"
#include "response/stream.h"
#include "eval/plugins.h"

// Numbers the nested arrays and objects of the run, in the order they are met.
static uint32_t reference_seq;

static void append_text_field(front_text* t, const char* text, size_t len) { front_text_field(t, text, len); }

// "%04d-%02d-%02d %02d:%02d:%02d", with ".%03d" when the milliseconds are not 0.
static size_t date_text(DW d, char* buf, size_t size) {
  const uint8_t* rec = dw_rec(d);
  DateFields f;
  date_record_fields(rec, &f);
  int ms = date_ms(rec);
  int n = ms ? std::snprintf(buf, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d", f.year, f.month + 1, f.day,
                             f.hours, f.minutes, f.seconds, ms)
             : std::snprintf(buf, size, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month + 1, f.day,
                             f.hours, f.minutes, f.seconds);
  return static_cast<size_t>(n);
}

static void write_container(sql_call* c, DW v, const char* name_field, size_t name_len);

// The field of a scalar value: false for a container or a type without a field.
static bool scalar_field(front_text* t, DW v) {
  char buf[64];
  switch (dw_type(v)) {
    case T_CONST: {
      if (v > DW_NAN) return false;
      if (v == DW_UNDEFINED) {
        front_text_append(t, "10", 2);
        return true;
      }
      size_t len;
      const char* name = constant_name(v, &len);
      append_text_field(t, name, len);
      return true;
    }
    case T_INT: {
      int n = std::snprintf(buf + 1, sizeof buf - 1, "%d", int_rec(v)->value);
      buf[0] = static_cast<char>('N' + n);
      front_text_append(t, buf, static_cast<size_t>(n) + 1);
      return true;
    }
    case T_FLOAT: {
      int n = std::snprintf(buf + 1, sizeof buf - 1, "%g", float_rec(v)->value);
      buf[0] = static_cast<char>('a' + n);
      front_text_append(t, buf, static_cast<size_t>(n) + 1);
      return true;
    }
    case T_STRING:
      append_text_field(t, str_text(v), str_rec(v)->len);
      return true;
    case T_DATE: {
      size_t n = date_text(v, buf, sizeof buf);
      append_text_field(t, buf, n);
      return true;
    }
    default:
      return false;
  }
}

// The field of an element or property: a nested array or object goes out as its own record
// first and leaves its reference field.
static void value_field(sql_call* c, front_text* t, DW v) {
  if (scalar_field(t, v)) return;
  unsigned type = dw_type(v);
  if (type != T_ARRAY && type != T_OBJECT)
    raise_eval_error(1215, "フロントエンドに送信するデータの型不正(%d)", static_cast<int>(type));
  char ref[16];
  int n = std::snprintf(ref, sizeof ref, "^%c%06u", type == T_ARRAY ? 'A' : 'H', ++reference_seq);
  char field[32];
  size_t len = plain_field(ref, static_cast<size_t>(n), field);
  write_container(c, v, field, len);
  front_text_append(t, field, len);
}

// An A or H record named by name_field; its nested records are written before it.
static void write_container(sql_call* c, DW v, const char* name_field, size_t name_len) {
  stack_check();   // a container that holds itself ends in error 2160, not a crash
  front_text* t = call_text_push(c);
  uint32_t count;
  if (dw_type(v) == T_ARRAY) {
    auto* a = arr_rec(v);
    count = a->count;
    for (uint32_t i = 0; i < count; i++) value_field(c, t, static_cast<DW*>(area_ptr(a->elems))[i]);
  } else {
    auto* o = obj_rec(v);
    count = o->count;
    for (uint32_t i = 0; i < count; i++) {
      const DW* pair = static_cast<DW*>(area_ptr(o->pairs)) + 2 * i;
      append_text_field(t, name_text(pair[0]), name_length(pair[0]));
      value_field(c, t, pair[1]);
    }
  }
  char head[24];
  size_t n = 0;
  head[n++] = dw_type(v) == T_ARRAY ? 'A' : 'H';
  n += number_field(count, head + n);
  out_write(head, n);
  out_write(name_field, name_len);
  front_write(t);
  out_flush();
  call_text_pop(c);
  if (dw_type(v) == T_ARRAY) count_a_records++;
  else count_h_records++;
}

// An s record: the name field, then the value's field.
static void write_s_record(sql_call* c, const char* name_field, size_t name_len, DW v, int keyed_code,
                           int other_code) {
  front_text* t = call_text_push(c);
  if (!scalar_field(t, v)) {
    if (dw_type(v) == T_KEYED) raise_eval_error(keyed_code, "フロントエンドへ送信するデータの型不正");
    raise_eval_error(other_code, "フロントエンドへ送信するデータの型不正");
  }
  out_write("s", 1);
  out_write(name_field, name_len);
  front_write(t);
  out_flush();
  call_text_pop(c);
  count_alert_records++;
}

DW op_send_to_front(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  DW* args = rec_args(r);
  char* field;
  size_t field_len;
  DW value;
  if (rec_argc(r) == 1) {
    // A string literal names a variable; a name is its own name.
    DW a = args[0];
    uint32_t name;
    if (dw_type(a) == T_STRING && !(str_rec(a)->flags & STR_TEMPLATE)) {
      name = name_intern_text(str_text(a), str_rec(a)->len);
    } else if (dw_type(a) == T_CONST && a > DW_NAN) {
      name = a;
    } else {
      raise_eval_error(1320, "オブジェクト名不正");
    }
    size_t len = name_length(name);
    c->buf = static_cast<char*>(db_alloc(len * 3 + 32));
    field_len = field_encode(name_text(name), len, c->buf, len * 3 + 32);
    value = call_hold(c, eval_arg(name));
  } else {
    DW name = call_hold(c, eval_arg(args[0]));
    if (dw_type(name) != T_STRING) raise_eval_error(1325, "オブジェクト名不正");
    size_t len = str_rec(name)->len;
    c->buf = static_cast<char*>(db_alloc(len * 3 + 32));
    field_len = field_encode(str_text(name), len, c->buf, len * 3 + 32);
    value = call_hold(c, eval_arg(args[1]));
  }
  field = c->buf;
  unsigned type = dw_type(value);
  if (type == T_ARRAY || type == T_OBJECT) write_container(c, value, field, field_len);
  else write_s_record(c, field, field_len, value, 1330, 1335);
  sql_call_end(c);
  return DW_UNDEFINED;
}

DW op_alert_to_front(DW, NodeRec* r) {
  static constexpr char NAME[] = "219XYZBCA_ALERT_ABCZYX";
  sql_call* c = sql_call_begin();
  DW v = call_hold(c, eval_arg(rec_args(r)[0]));
  front_text* t = call_text_push(c);
  if (v == DW_UNDEFINED) {
    front_text_append(t, "10", 2);
  } else if (dw_type(v) == T_STRING) {
    append_text_field(t, str_text(v), str_rec(v)->len);
  } else if (dw_type(v) == T_ERROR) {
    size_t code_len, msg_len;
    const char* code = error_code_text(v, &code_len);
    const char* msg = error_message_text(v, &msg_len);
    size_t cap = code_len + msg_len + 64;
    c->buf = static_cast<char*>(db_alloc(cap));
    int n = std::snprintf(c->buf, cap, "Exception: CODE=%.*s, MESSAGE='%.*s'", static_cast<int>(code_len), code,
                          static_cast<int>(msg_len), msg);
    append_text_field(t, c->buf, static_cast<size_t>(n));
  } else {
    raise_eval_error(1340, "フロントエンドへ送信するアラートの型不正");
  }
  out_write("s", 1);
  out_write(NAME, sizeof NAME - 1);
  front_write(t);
  out_flush();
  count_alert_records++;
  sql_call_end(c);
  return DW_UNDEFINED;
}
