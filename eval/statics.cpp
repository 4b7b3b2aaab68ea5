// The static objects Math, console, Object, Number, Date and String: which method table each
// name selects, and console.log / console.error.
#include "errors/report.h"
#include "eval/method_table.h"
#include "eval/ops.h"
#include "eval/plugins.h"

static DW console_write(char kind, DW* args, int n) {
  char storage[4096];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  for (int i = 0; i < n; i++) append_value_text(args[i], true, &b);
  if (b.len && reporter.console) reporter.console(kind, b.data, b.len);
  textbuf_free(&b);
  return DW_UNDEFINED;
}

static DW console_log(DW, DW* args, int n) { return console_write('L', args, n); }
static DW console_error(DW, DW* args, int n) { return console_write('E', args, n); }

constexpr MethodRow CONSOLE_ROWS[] = {
    {"error", 0, NO_MAX, console_error},
    {"log",   0, NO_MAX, console_log},
};
// Any count is accepted, so the count codes are never raised.
constexpr MethodTable CONSOLE = method_table(CONSOLE_ROWS, 2140, "メソッド名不正", 0, 0);

DW call_static_method(uint32_t object, uint32_t name, DW* args, int n) {
  const MethodTable* t;
  switch (object) {
    case NAME_MATH: t = &math_methods; break;
    case NAME_CONSOLE: t = &CONSOLE; break;
    case NAME_OBJECT: t = &object_statics; break;
    case NAME_NUMBER: t = &number_methods; break;
    case NAME_DATE: t = &date_statics; break;
    default: t = &string_statics; break;
  }
  return method_invoke(*t, name, object, args, n);
}
