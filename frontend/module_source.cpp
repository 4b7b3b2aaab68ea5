// Reading source modules and the entry points that parse module text and run-time text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/parse_internal.h"

static SourceBuffer module_source = {nullptr, 0, false};

// Plain system calls: a stream would allocate a buffer of its own for a copy of the same bytes.
size_t read_source_file(const char* path, SourceBuffer* buf) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) raise_parse_error(1165, "ファイルオープン不正 '%s'", path);
  size_t len = static_cast<size_t>(st.st_size);
  if (buf->capacity < len + 4) {
    if (buf->owned) std::free(buf->text);
    buf->text = static_cast<char*>(std::malloc(len + 20));
    buf->owned = buf->text != nullptr;
    buf->capacity = buf->text ? len + 20 : 0;
    if (!buf->text) {
      close(fd);
      raise_eval_error(1400, "メモリ領域を取得できません");
    }
  }
  size_t total = 0;
  for (int calls = 0; calls < 100 && total < len; calls++) {
    ssize_t n = read(fd, buf->text + total, len - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  buf->text[total] = 0;
  close(fd);
  return total;
}

void parse_module_text(char* text, int module, StatementList* list) {
  parse_module = module;
  parse_line = 1;
  line_start = text;
  no_stop_mode = false;
  parser_scopes_reset();
  strip_comments(text);
  parse_statement_list(text, list, true, false);
}

void load_module_source(const char* path, int module, StatementList* list) {
  parse_module = module;
  parse_line = 1;
  read_source_file(path, &module_source);
  parse_module_text(module_source.text, module, list);
}

// State that a run-time parse changes and gives back.
struct RuntimeParse {
  int line;
  const char* start;
  bool no_stop;
  ScopeMarks marks;
};

static void runtime_begin(RuntimeParse* s, char* text, unsigned flags) {
  s->line = parse_line;
  s->start = line_start;
  s->no_stop = no_stop_mode;
  parser_scopes_save(&s->marks);
  parser_scopes_reset();
  parse_line = 0;
  line_start = text;
  no_stop_mode = (flags & PARSE_NO_STOP) != 0;
  if (flags & PARSE_STRIP_COMMENTS) strip_comments(text);
}

static void runtime_end(const RuntimeParse* s) {
  parse_line = s->line;
  line_start = s->start;
  no_stop_mode = s->no_stop;
  parser_scopes_restore(&s->marks);
}

uint32_t parse_expression_text(char* text, unsigned flags, DW* out, uint32_t max) {
  RuntimeParse s;
  runtime_begin(&s, text, flags);
  uint32_t count;
  parse_expr_list(text, out, max, &count, true);
  if ((flags & PARSE_REPORT_FUNCTIONS) && function_just_parsed && parser_report_hook) {
    char msg[600];
    std::snprintf(msg, sizeof msg, "評価する式が不正 '%s'", source_excerpt(text, EXCERPT_SHORT));
    parser_report_hook(msg);
  }
  runtime_end(&s);
  return count;
}

void parse_statement_text(char* text, unsigned flags, StatementList* list) {
  RuntimeParse s;
  runtime_begin(&s, text, flags);
  parse_statement_list(text, list, true, (flags & PARSE_REPORT_FUNCTIONS) != 0);
  runtime_end(&s);
}

DW parse_top_call(char* text, bool* function_seen) {
  RuntimeParse s;
  runtime_begin(&s, text, PARSE_NO_STOP | PARSE_STRIP_COMMENTS);
  DW out[32];
  uint32_t count;
  parse_call_list(text, out, &count);
  *function_seen = function_just_parsed;
  if (count != 1 || !is_node(out[0]) || node_op(out[0]) != OP_CALL) raise_eval_error(1725, "TOP関数のステートメント不正");
  runtime_end(&s);
  return dw_ref(out[0]);
}
