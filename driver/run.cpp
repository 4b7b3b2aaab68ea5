// The main sequence: start-up, the outermost error frame, the request text, the request (its
// commands, loading and the top function), the handlers' reports and the tail.
#include "driver/run.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "db/odbc.h"
#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/errors.h"
#include "driver/journal.h"
#include "driver/intake.h"
#include "driver/loader.h"
#include "driver/protocol.h"
#include "driver/token.h"
#include "eval/eval.h"
#include "frontend/parser.h"
#include "platform/layout.h"

LARGE_STATIC static char body_static[BODY_STATIC_SIZE];
char* body_buf = body_static;
size_t body_len = 0;
ssize_t (*body_read)(int fd, void* buf, size_t len) = read;

static constexpr const char* CGI_HEADER = "Content-type: text/plane;charset=UTF-8\n\n";

void read_cgi_body() {
  size_t want = 0;
  const char* cl = std::getenv("CONTENT_LENGTH");
  if (cl && *cl) {
    for (const char* p = cl; *p; p++)
      if (*p < '0' || *p > '9') fatal_stop("CONTENT_LENGTH is not not number format.");
    for (const char* p = cl; *p; p++) {
      want = want * 10 + static_cast<size_t>(*p - '0');
      if (want > static_cast<size_t>(INT_MAX) - 512) fatal_stop("CONTENT_LENGTH is not not number format.");
    }
  }
  if (want + 4 > BODY_STATIC_SIZE) {
    body_buf = static_cast<char*>(std::malloc(want + 512));
    if (!body_buf) fatal_stop("受信データの長さ不正(CONTENT_LENGTH)");
  }
  // Bounded by bytes, not by reads: a pipe may hand a large body over in any number of pieces.
  size_t got = 0;
  while (got < want) {
    ssize_t n = body_read(0, body_buf + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the input ended early: the body is what arrived
    got += static_cast<size_t>(n);
  }
  body_len = got;
  body_buf[got] = 0;
}

// Each configured variable 'name':'value' is read as an object-literal member and becomes a
// global; then undefined, true, false and null become globals holding themselves.
static void define_config_globals() {
  for (int i = 0; i < var_count; i++) {
    const char* entry = var_text(i);
    size_t n = std::strlen(entry);
    char* text = static_cast<char*>(std::malloc(n + 3));
    if (!text) raise_eval_error(1400, "メモリ領域を取得できません");
    text[0] = '{';
    std::memcpy(text + 1, entry, n);
    text[n + 1] = '}';
    text[n + 2] = 0;
    DW lit[2];
    uint32_t got = parse_expression_text(text, PARSE_NO_STOP, lit, 2);
    if (got != 1 || dw_type(lit[0]) != T_OBJECT || obj_rec(lit[0])->count != 1)
      raise_parse_error(1140, "文字列のフォーマット不正 '%s'", entry);
    ObjRec* o = obj_rec(lit[0]);
    DW* pair = static_cast<DW*>(area_ptr(o->pairs));
    global_define(pair[0], eval_node(pair[1]));
    std::free(text);
  }
  for (DW c = DW_UNDEFINED; c <= DW_NULL; c++) global_define(c, c);
}

// Top-level code of all modules, under the evaluator's run state.
static void run_top_level() {
  store_switch_to_run_phase();
  eval_start();
  define_config_globals();
  eval_run_statements(top_statements.items, top_statements.count);
}

// The call text as one call node of the module "MainScript" (line 0, no stop points).
static DW parse_call(char* text, bool cmdline) {
  int module = module_add("MainScript", 10);
  parse_module = module;
  parse_line = 0;
  bool functionSeen = false;
  DW call = parse_top_call(text, &functionSeen);
  if (functionSeen) {
    if (!cmdline) raise_parse_error(1810, "評価する式が不正 '%.100s'", text);
    std::printf("評価する式が不正 '%.100s'", text);
  }
  return call;
}

// What a handler of the outermost frame is called with.
struct Handling {
  void (*handler)(DW code);
  DW code;
};
static void call_handler(void* h) {
  auto* x = static_cast<Handling*>(h);
  x->handler(x->code);
}

// Runs fn under frame 0 of the jump stack. What reaches it goes to handler, and again when the
// handler's own record raises (1585): that error is reported in place of the first.
static void run_outermost(void (*fn)(void*), void* arg, void (*handler)(DW code)) {
  jump_depth = 0;
  Handling h{handler, 0};
  if (!jump_protect(JF_TRY, fn, arg, &h.code)) return;
  do {
    running = false;
  } while (jump_protect(JF_TRY, call_handler, &h, &h.code));
}

// The top function's call; its completion record is written under the same frame.
static void run_call(void* call) {
  running = true;
  eval_run_call(*static_cast<DW*>(call));
  running = false;
  write_completion_record();
}

// The request itself: the commands, authentication, loading, top-level code and the top function.
static void run_request(bool cgi) {
  run_request_commands();
  if (cgi) {
    check_request_token();
  } else {
    if (prog_argc != 3) {
      request_failed = true;
      raise_eval_error(1775, "認証エラー");
    }
    define_argument_variables(prog_argv[2]);
  }
  if (!call_given) {
    request_failed = true;
    raise_eval_error(1800, "実行するJavaScriptのTOP関数が指定されていません");
  }
  if (module_last < 0) {
    request_failed = true;
    raise_eval_error(1805, "ロードするJavaScriptのモジュールが指定されていません");
  }
  load_modules();
  run_top_level();
  DW call = parse_call(call_text, false);
  // Errors of the top function go to the run handler.
  run_outermost(run_call, &call, handle_run);
}

// End of a CGI or argument-mode run. The journal is written before standard output is closed,
// so that a journal-failure record still reaches the response.
static int run_tail() {
  if (token_configured()) write_token_record();
  if (journal_path[0]) journal_write();
  out_close();
  odbc_disconnect_all();
  debug_end_run();
  return 0;
}

static void run_command_line_call(void*) {
  if (module_last < 0) return;
  modules_from_files = true;
  load_modules();
  run_top_level();
  LARGE_STATIC static char text[TOP_FUNCTION_MAX + 1];
  std::snprintf(text, sizeof text, "%.*s", top_function_len, top_function);
  DW call = parse_call(text, true);
  running = true;
  eval_run_call(call);
  running = false;
}

static int run_command_line() {
  run_outermost(run_command_line_call, nullptr, handle_command_line);
  if (journal_path[0]) journal_write();
  out_flush();
  odbc_disconnect_all();
  debug_close();
  return 0;
}

// Reads the request (the CGI body, or the argument as the body) and runs it.
struct Intake {
  bool cgi;
  char** argv;
};
static void run_intake(void* arg) {
  auto* in = static_cast<Intake*>(arg);
  if (in->cgi) {
    read_cgi_body();
    out_text(CGI_HEADER);
    out_flush();
  } else {
    body_len = std::strlen(in->argv[1]);
    if (body_len + 4 > BODY_STATIC_SIZE) {
      body_buf = static_cast<char*>(std::malloc(body_len + 512));
      if (!body_buf) fatal_stop("受信データの長さ不正(CONTENT_LENGTH)");
    }
    std::memcpy(body_buf, in->argv[1], body_len + 1);
  }
  run_request(in->cgi);
}

int run_main(int argc, char** argv) {
  if (!startup(argc, argv)) {
    out_flush();
    return 0;
  }
  if (cmdline_mode) return run_command_line();
  Intake in{argc <= 1, argv};
  run_outermost(run_intake, &in, handle_intake);
  return run_tail();
}
