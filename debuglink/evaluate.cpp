// Evaluation for the front end: an expression in a chosen frame, conditional break points, and
// the reply texts. Runs with the evaluation flag on, so raised errors come back here and only
// the restricted operations run.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "debuglink/link.h"
#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/protocol.h"
#include "eval/eval.h"

// Fixed replies, in Shift-JIS as the front end expects them.
static constexpr char SJIS_BAD_FORMAT[] =   // 式のフォーマット不正
    "\x8e\xae\x82\xcc\x83\x74\x83\x48\x81\x5b\x83\x7d\x83\x62\x83\x67\x95\x73\x90\xb3";
static constexpr char SJIS_BAD_FRAME[] =    // 呼び出し履歴の指定不正
    "\x8c\xc4\x82\xd1\x8f\x6f\x82\xb5\x97\x9a\x97\xf0\x82\xcc\x8e\x77\x92\xe8\x95\x73\x90\xb3";
static constexpr char SJIS_TOO_LONG[] =     // 評価結果の文字列が長すぎます。
    "\x95\x5d\x89\xbf\x8c\x8b\x89\xca\x82\xcc\x95\xb6\x8e\x9a\x97\xf1\x82\xaa\x92\xb7\x82\xb7\x82\xac"
    "\x82\xdc\x82\xb7\x81\x42";
static constexpr size_t VALUE_TEXT_MAX = 16364;

static int eval_frame_index = -1;
int debug_eval_frame() { return eval_frame_index; }

void reply_set(LinkMessage* m, const char* p, size_t n) {
  m->len = 0;
  reply_add(m, p, n);
}

void reply_add(LinkMessage* m, const char* p, size_t n) {
  if (m->len + n + 1 > m->cap) {
    size_t cap = m->len + n + 256;
    char* grown = static_cast<char*>(std::realloc(m->data, cap));
    if (!grown) return;
    m->data = grown;
    m->cap = cap;
  }
  std::memcpy(m->data + m->len, p, n);
  m->len += n;
  m->data[m->len] = 0;
}

static void reply_text(LinkMessage* m, const char* s) { reply_add(m, s, std::strlen(s)); }

// Everything an evaluation changes and gives back, kept outside the frames a jump crosses.
static struct {
  ScopeMark scope;
  int top, module, parseModule, parseLine, jumpDepth;
  uint32_t position, lastName;
  bool noStop, createMissing, lastConst;
  Location location;
  const char* lineStart;
} saved;
static const char* phase;
static StatementList parsed;
static char* text_copy;

static void save_state() {
  saved.scope = scope_save();
  saved.top = local_top;
  saved.module = cur_module;
  saved.position = cur_position;
  saved.parseModule = parse_module;
  saved.parseLine = parse_line;
  saved.lineStart = line_start;
  saved.noStop = no_stop_mode;
  saved.createMissing = create_missing;
  saved.lastName = last_name;
  saved.location = last_location;
  saved.lastConst = last_location_const;
  saved.jumpDepth = jump_depth;
}

static void restore_state() {
  scope_restore(saved.scope);
  local_top = saved.top;
  cur_module = saved.module;
  cur_position = saved.position;
  parse_module = saved.parseModule;
  parse_line = saved.parseLine;
  line_start = saved.lineStart;
  no_stop_mode = saved.noStop;
  create_missing = saved.createMissing;
  last_name = saved.lastName;
  last_location = saved.location;
  last_location_const = saved.lastConst;
  jump_depth = saved.jumpDepth;
}

// Names resolve as in frame k: its frame base and the slots it had when it made its call.
// The global table stays whole (globals are shared by every frame).
static void switch_to_frame(int k) {
  if (k < 0 || k >= debug_frame_count - 1) return;
  const DebugFrame* f = &debug_frames[k];
  frame_base = f->frame_base;
  param_count = f->param_count;
  local_count = f->local_count;
  block_depth = f->at_block_depth;
  block_start = f->frame_base;
  local_top = f->at_top;
}

static void release_parsed() {
  for (uint32_t i = 0; i < parsed.count; i++) dw_release(parsed.items[i]);
  if (parsed.owned) std::free(parsed.items);
  parsed = StatementList{nullptr, 0, 0, false};
  std::free(text_copy);
  text_copy = nullptr;
}

static void error_reply(DW code, const char* tag, LinkMessage* reply) {
  char head[32];
  std::snprintf(head, sizeof head, "#%s ERROR", tag);
  reply_set(reply, head, std::strlen(head));
  if (dw_type(code) == T_ERROR) {
    size_t cl, ml;
    const char* c = error_code_text(code, &cl);
    const char* m = error_message_text(code, &ml);
    reply_text(reply, ": CODE=");
    reply_add(reply, c, strnlen(c, cl));
    reply_text(reply, ", MESSAGE='");
    reply_add(reply, m, ml);
    reply_text(reply, "'");
  } else if (dw_type(code) == T_STRING) {
    reply_text(reply, ": MESSAGE='");
    reply_add(reply, str_text(code), str_rec(code)->len);
    reply_text(reply, "'");
  }
}

void evaluation_abandon() {
  if (eval_frame_index < 0) return;
  eval_frame_index = -1;
  restore_state();
  release_parsed();
}

enum class Want { TEXT, TRUTH, PARSE_ONLY };

// Parses text (when given) and runs the statements in frame k. Returns 1/0 (truth or success),
// -1 on an error, whose reply is left in *reply.
static int evaluate(const char* text, size_t n, const StatementList* stmts, int k, Want want,
                    LinkMessage* reply, StatementList* keep) {
  save_state();
  phase = "EVAL";
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    DW code = jump_code;
    eval_frame_index = -1;
    restore_state();
    if (reply) error_reply(code, phase, reply);
    value_discard(code);
    release_parsed();
    return -1;
  }
  eval_frame_index = fr;
  switch_to_frame(k);
  const StatementList* list = stmts;
  if (text) {
    phase = "PARSE";
    text_copy = static_cast<char*>(std::malloc(n + 1));
    if (!text_copy) raise_eval_error(1400, "メモリ領域を取得できません");
    std::memcpy(text_copy, text, n);
    text_copy[n] = 0;
    parse_module = saved.module;
    parse_statement_text(text_copy, PARSE_NO_STOP | PARSE_STRIP_COMMENTS | PARSE_REPORT_FUNCTIONS, &parsed);
    list = &parsed;
    phase = "EVAL";
  }
  int result = 1;
  if (want == Want::PARSE_ONLY) {
    *keep = parsed;
    parsed = StatementList{nullptr, 0, 0, false};
  } else {
    DW last = DW_UNDEFINED;
    for (uint32_t i = 0; i < list->count; i++) {
      value_discard(last);
      last = eval_node(list->items[i]);
    }
    if (want == Want::TRUTH) {
      result = to_boolean(last) ? 1 : 0;
    } else {
      char buf[2048];
      size_t len;
      bool owned;
      char* t = value_to_text(last, &len, buf, sizeof buf, &owned);
      if (len > VALUE_TEXT_MAX) {
        reply_set(reply, "#ERROR: ", 8);
        reply_add(reply, SJIS_TOO_LONG, sizeof SJIS_TOO_LONG - 1);
      } else {
        reply_set(reply, "=", 1);
        reply_add(reply, t, len);
      }
      if (owned) std::free(t);
    }
    value_discard(last);
  }
  eval_frame_index = -1;
  restore_state();
  release_parsed();
  return result;
}

void evaluate_message(const char* p, size_t n, LinkMessage* reply) {
  Selector s;
  int r = parse_selector(p, n, &s);
  if (r == -1) {
    reply_set(reply, "#", 1);
    reply_add(reply, SJIS_BAD_FORMAT, sizeof SJIS_BAD_FORMAT - 1);
    reply_text(reply, "(");
    reply_add(reply, p, n);
    reply_text(reply, ")");
    return;
  }
  int k = debug_frame_count - 1;
  if (s.given) {
    bool match = r == 0 && s.depth >= 0 && s.depth < debug_frame_count;
    if (match) {
      k = static_cast<int>(s.depth);
      const char* m = module_name(frame_module(k));
      size_t fl;
      const char* fn = frame_function_name(k, &fl);
      match = std::strlen(m) == s.module.n && std::memcmp(m, s.module.p, s.module.n) == 0 &&
              fl == s.function.n && std::memcmp(fn, s.function.p, fl) == 0;
    }
    if (!match) {
      reply_set(reply, "#", 1);
      reply_add(reply, SJIS_BAD_FRAME, sizeof SJIS_BAD_FRAME - 1);
      return;
    }
  }
  evaluate(s.expr.p, s.expr.n, nullptr, k, Want::TEXT, reply, nullptr);
}

int evaluate_condition(const StatementList* stmts, LinkMessage* reply) {
  return evaluate(nullptr, 0, stmts, debug_frame_count - 1, Want::TRUTH, reply, nullptr);
}

bool parse_condition(const char* text, size_t n, int module, StatementList* out) {
  int savedModule = cur_module;
  cur_module = module;
  int r = evaluate(text, n, nullptr, -1, Want::PARSE_ONLY, nullptr, out);
  cur_module = savedModule;
  if (r >= 0) return true;
  char msg[200];
  std::snprintf(msg, sizeof msg, "評価する式が不正 '%.*s'", static_cast<int>(n > 100 ? 100 : n), text);
  link_send_kind('D', msg, std::strlen(msg));
  return false;
}
