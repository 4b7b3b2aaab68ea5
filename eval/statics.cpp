// The static objects Math, console, Object, Number, Date and String: their method tables with
// argument-count rules and errors, and console.log / console.error.
#include <cstring>

#include "errors/report.h"
#include "eval/ops.h"
#include "eval/plugins.h"

// Argument-count rule of a method: min to max (max -1: no limit).
struct StaticMethod {
  const char* name;
  int min, max;
};

struct StaticTable {
  uint32_t object;             // reserved name index of the object
  const StaticMethod* methods;
  int count;
  int unknownCode;
  const char* unknownMessage;
  int fewCode, manyCode;       // 0: no count check
  DW (*call)(int index, DW* args, int n);
};

static constexpr StaticMethod MATH[] = {{"abs", 1, 1},    {"ceil", 1, 1},  {"floor", 1, 1},
                                        {"trunc", 1, 1},  {"round", 1, 1}, {"random", 0, 0},
                                        {"pow", 2, 2},    {"min", 1, -1},  {"max", 1, -1}};
static constexpr StaticMethod CONSOLE[] = {{"log", 0, -1}, {"error", 0, -1}};
static constexpr StaticMethod OBJECT[] = {{"keys", 1, 1}};
static constexpr StaticMethod NUMBER[] = {{"parseInt", 1, 2}, {"parseFloat", 1, 1}, {"isInteger", 1, 1}};
static constexpr StaticMethod DATE[] = {{"now", 0, 0}, {"parse", 1, 1}, {"UTC", 1, 7}};
static constexpr StaticMethod STRING[] = {{"fromCharCode", 1, -1}, {"fromCodePoint", 1, -1}};

static DW console_call(int index, DW* args, int n);

static constexpr StaticTable TABLES[] = {
    {NAME_MATH, MATH, 9, 2115, "Mathのメソッド名不正", 2120, 2120, math_function},
    {NAME_CONSOLE, CONSOLE, 2, 2140, "メソッド名不正", 0, 0, console_call},
    {NAME_OBJECT, OBJECT, 1, 2100, "OBJECTのメソッド名不正", 2105, 2110, object_function},
    {NAME_NUMBER, NUMBER, 3, 2125, "NUMBERのメソッド名不正", 2130, 2135, number_function},
    {NAME_DATE, DATE, 3, 2085, "DATEのメソッド名不正", 2090, 2093, date_function},
    {NAME_STRING, STRING, 2, 2095, "STRINGのメソッド名不正", 2097, 2098, string_function},
};

bool is_static_object(uint32_t name) {
  return name == NAME_MATH || name == NAME_CONSOLE || name == NAME_OBJECT || name == NAME_NUMBER ||
         name == NAME_DATE || name == NAME_STRING;
}

DW call_static_method(uint32_t object, uint32_t name, DW* args, int n) {
  const StaticTable* t = nullptr;
  for (const StaticTable& e : TABLES)
    if (e.object == object) t = &e;
  const char* text = name_text(name);
  size_t len = name_length(name);
  for (int i = 0; i < t->count; i++) {
    const StaticMethod& m = t->methods[i];
    if (std::strlen(m.name) != len || std::memcmp(m.name, text, len) != 0) continue;
    if (t->fewCode) {
      if (n < m.min || (m.min == m.max && n != m.min)) raise_eval_error(t->fewCode, "引数の個数不正");
      if (m.max >= 0 && n > m.max) raise_eval_error(t->manyCode, "引数の個数不正");
    }
    return t->call(i, args, n);
  }
  raise_eval_error(t->unknownCode, "%s", t->unknownMessage);
}

static DW console_call(int index, DW* args, int n) {
  char storage[4096];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  for (int i = 0; i < n; i++) append_value_text(args[i], true, &b);
  if (b.len && reporter.console) reporter.console(index == 0 ? 'L' : 'E', b.data, b.len);
  textbuf_free(&b);
  return DW_UNDEFINED;
}
