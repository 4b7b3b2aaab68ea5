// Start-up: executable directory, client address, command line, and the configuration file with
// its keys; the module and variable lists they fill.
#include "driver/config.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/debughooks.h"
#include "driver/errors.h"
#include "driver/loader.h"
#include "driver/moddigest.h"
#include "frontend/tree.h"
#include "platform/layout.h"
#include "platform/platform.h"
#include "response/stream.h"
#include "store/byte_text.h"

LARGE_STATIC char exe_dir[4096];   // set at start-up
char client_ip_text[CLIENT_TEXT_MAX + 1];
uint32_t client_addr = 0;
uint8_t client_octets[4];
bool cmdline_mode = false;
const char* top_function = nullptr;
int top_function_len = 0;
int prog_argc = 0;
char** prog_argv = nullptr;

char token_key[TOKEN_KEY_MAX + 1];
int32_t time_interval = 0;
char journal_path[JOURNAL_PATH_MAX + 1];
char module_dir[MODULE_DIR_MAX + 1];
char debug_port[DEBUG_PORT_MAX + 1] = "8777";
char start_time[40];

uint32_t* client_list = nullptr;
int client_count = 0;
bool client_list_present = false;
static int client_cap = 0;

static constexpr const char* MSG_FORMAT = "Configのフォーマット不正";
static constexpr const char* MSG_TOO_MANY_MODULES =
    "モジュール(.js、.jo)が多すぎます。125ファイル以下にしてください。";
static constexpr const char* MSG_NO_MODULES = "ロードするJavaScriptのモジュールが指定されていません";
static constexpr const char* MSG_TOP_TOO_LONG = "TOP関数が長すぎます(255Byte以下)";

// ---- text pools: each entry is followed by a zero byte and one spare byte ----

struct TextPool {
  char* text;
  size_t used, cap;
  uint32_t* offsets;
  int count, offsetCap;
};

static int pool_add(TextPool* p, const char* s, size_t len) {
  // Doubling from a small start: a request names a few modules and variables, and the pool's
  // first page is all it touches.
  if (p->used + len + 2 > p->cap) {
    size_t cap = p->cap ? p->cap * 2 : 256;
    if (cap < p->used + len + 2) cap = p->used + len + 2;
    auto* grown = static_cast<char*>(std::realloc(p->text, cap));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    p->text = grown;
    p->cap = cap;
  }
  if (p->count == p->offsetCap) {
    int cap = p->offsetCap ? p->offsetCap * 2 : 16;
    auto* grown = static_cast<uint32_t*>(std::realloc(p->offsets, sizeof(uint32_t) * cap));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    p->offsets = grown;
    p->offsetCap = cap;
  }
  std::memcpy(p->text + p->used, s, len);
  p->text[p->used + len] = 0;
  p->text[p->used + len + 1] = 0;
  p->offsets[p->count] = static_cast<uint32_t>(p->used);
  p->used += len + 2;
  return p->count++;
}

static TextPool module_pool;
static TextPool var_pool;
int module_last = -1;
int var_count = 0;

int module_add(const char* name, size_t len) {
  int i = pool_add(&module_pool, name, len);
  module_last = i;
  return i;
}

const char* module_name(int index) {
  if (index < 0 || index > module_last) return "";
  return module_pool.text + module_pool.offsets[index];
}

int var_add(const char* text, size_t len) {
  int i = pool_add(&var_pool, text, len);
  var_count = i + 1;
  return i;
}

const char* var_text(int index) {
  if (index < 0 || index >= var_count) return "";
  return var_pool.text + var_pool.offsets[index];
}

// ---- addresses ----

static bool is_digit(char c) { return c >= '0' && c <= '9'; }
static bool is_blank(char c) { return c == ' ' || c == '\t'; }

int parse_dotted(const char** pp, uint32_t* addr) {
  const char* p = *pp;
  while (*p && !is_digit(*p)) p++;
  if (!*p) {
    *pp = p;
    return 0;
  }
  uint32_t a = 0;
  for (int part = 0; part < 4; part++) {
    if (part > 0) {
      if (*p != '.') {
        *pp = p;
        return -1;
      }
      p++;
    }
    if (!is_digit(*p)) {
      *pp = p;
      return -1;
    }
    int v = 0;
    while (is_digit(*p)) {
      v = v * 10 + (*p - '0');
      if (v > 255) {
        *pp = p;
        return -1;
      }
      p++;
    }
    a = a << 8 | static_cast<uint32_t>(v);
  }
  if (*p) p++;  // the separator
  *pp = p;
  *addr = a;
  return 1;
}

void set_exe_dir(const char* argv0) {
  if (!exe_directory(argv0, exe_dir, sizeof exe_dir)) std::memcpy(exe_dir, "./", 3);
}

void set_client_address() {
  const char* text = nullptr;
  size_t len = 0;
  const char* fwd = std::getenv("HTTP_X_FORWARDED_FOR");
  if (fwd && *fwd) {
    const char* comma = std::strchr(fwd, ',');
    if (comma) {
      const char* s = fwd;
      const char* e = comma;
      while (s < e && is_blank(*s)) s++;
      while (e > s && is_blank(e[-1])) e--;
      text = s;
      len = static_cast<size_t>(e - s);
    } else {
      text = fwd;
      len = std::strlen(fwd);
    }
  } else {
    const char* ra = std::getenv("REMOTE_ADDR");
    if (ra && *ra) {
      text = ra;
      len = std::strlen(ra);
    }
  }
  if (len > CLIENT_TEXT_MAX) len = CLIENT_TEXT_MAX;
  if (text) std::memcpy(client_ip_text, text, len);
  client_ip_text[len] = 0;
  if (std::strcmp(client_ip_text, "::1") == 0) std::strcpy(client_ip_text, "127.0.0.1");
  if (!client_ip_text[0]) return;
  const char* p = client_ip_text;
  uint32_t a;
  if (parse_dotted(&p, &a) == 1 && a != 0) {
    client_addr = a;
    client_octets[0] = static_cast<uint8_t>(a >> 24);
    client_octets[1] = static_cast<uint8_t>(a >> 16);
    client_octets[2] = static_cast<uint8_t>(a >> 8);
    client_octets[3] = static_cast<uint8_t>(a);
  }
}

// ---- command line ----

static void print_text(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

static void print_usage(const char* prog) {
  std::printf("usage:%s -e function_name js_file_path1 js_file_path2 ... \n", prog);
  std::fflush(stdout);
}

bool read_command_line(int argc, char** argv) {
  prog_argc = argc;
  prog_argv = argv;
  const char* prog = argc > 0 ? argv[0] : "";
  int files = 0;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (a[0] == '-') {
      if (a[1] != 'e') {
        print_usage(prog);
        return false;
      }
      if (i + 1 >= argc) {
        print_usage(prog);
        return false;
      }
      const char* name = argv[++i];
      size_t len = std::strlen(name);
      if (len > TOP_FUNCTION_MAX) {
        print_text(MSG_TOP_TOO_LONG);
        return false;
      }
      cmdline_mode = true;
      top_function = name;
      top_function_len = static_cast<int>(len);
    } else {
      files++;
    }
  }
  if (!cmdline_mode) return true;
  if (files == 0) {
    print_text(MSG_NO_MODULES);
    return true;
  }
  // The module number has 7 bits: a longer list could not be told apart.
  if (files > MODULE_LIMIT) {
    print_text(MSG_TOO_MANY_MODULES);
    return false;
  }
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '-') {
      i++;
      continue;
    }
    module_add(argv[i], std::strlen(argv[i]));
  }
  return true;
}

// The clock is read at start, but written as local time only when a journal needs it: reading
// the time zone costs a file and six system calls that most requests never use.
static time_t start_clock;

void make_start_time() {
  start_clock = clock_now();
  start_time[0] = 0;
}

const char* start_time_text() {
  if (start_time[0] == 0 && start_clock != 0) clock_local_text_at(start_clock, start_time, sizeof start_time);
  return start_time;
}

// ---- configuration file ----

static char* trim(char* s) {
  while (is_blank(*s)) s++;
  size_t n = std::strlen(s);
  while (n > 0 && is_blank(s[n - 1])) s[--n] = 0;
  return s;
}

// The value of an ordinary key: trimmed; a quoted value runs to the next unescaped quote of its
// kind; otherwise it ends before the first "#" or ";".
static char* clean_value(char* v) {
  v = trim(v);
  if (*v == '"' || *v == '\'') {
    char q = *v++;
    char* p = v;
    while (*p && *p != q) {
      if (*p == '\\' && p[1]) p++;
      p++;
    }
    if (*p != q) fatal_stop(MSG_FORMAT);
    *p = 0;
    return v;
  }
  v[std::strcspn(v, "#;")] = 0;
  return trim(v);
}

// A value longer than its setting holds is refused, never cut.
static void copy_setting(char* dst, size_t max, const char* value) {
  size_t len = std::strlen(value);
  if (len > max) fatal_stop(MSG_FORMAT);
  std::memcpy(dst, value, len + 1);
}

static void add_client(uint32_t a) {
  if (client_count == client_cap) {
    int cap = client_cap + 128;
    auto* grown = static_cast<uint32_t*>(std::realloc(client_list, sizeof(uint32_t) * cap));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    client_list = grown;
    client_cap = cap;
  }
  client_list[client_count++] = a;
}

static void apply_env(char* v) {
  char* plus = std::strstr(v, "+=");
  if (!plus) {
    char* eq = std::strchr(v, '=');
    if (!eq) return;
    *eq = 0;
    char* name = trim(v);
    if (*name) setenv(name, eq + 1, 1);
    return;
  }
  *plus = 0;
  char* name = trim(v);
  char* add = trim(plus + 2);
  if (!*name) return;
  const char* old = std::getenv(name);
  if (old && *old) {
    size_t ol = std::strlen(old);
    char* copy = static_cast<char*>(std::malloc(ol + 1));
    if (!copy) raise_eval_error(1400, "メモリ領域を取得できません");
    std::memcpy(copy, old, ol + 1);
    char* o = trim(copy);
    size_t len = std::strlen(o) + 1 + std::strlen(add) + 1;
    char* joined = static_cast<char*>(std::malloc(len));
    if (!joined) raise_eval_error(1400, "メモリ領域を取得できません");
    std::snprintf(joined, len, "%s;%s", o, add);
    setenv(name, joined, 1);
    std::free(joined);
    std::free(copy);
  } else {
    setenv(name, add, 1);
  }
}

static void apply_module_dir(char* v) {
  char* mark = std::strstr(v, ">>>");
  const char* expected = nullptr;
  if (mark) {
    *mark = 0;
    expected = mark + 3;
  }
  copy_setting(module_dir, MODULE_DIR_MAX, v);
  path_to_slashes(module_dir);
  if (expected) {
    char digest[65];
    module_dir_digest(module_dir, digest);
    if (std::strcmp(digest, expected) != 0) fatal_stop("JSモジュールのディレクトリの内容が変わっています。");
  }
}

static void apply_time_interval(const char* v) {
  errno = 0;
  char* end;
  long n = std::strtol(v, &end, 10);
  if (*end || errno == ERANGE || n > INT32_MAX || n < INT32_MIN)
    fatal_stop("configファイルのTIME_INTERVALは整数を設定してください。");
  time_interval = static_cast<int32_t>(n);
}

void apply_config_line(char* line) {
  line[std::strcspn(line, "\r")] = 0;
  line[std::strcspn(line, "\n")] = 0;
  line = trim(line);
  if (line[0] == ';' || line[0] == '#') return;
  char* eq = std::strchr(line, '=');
  if (!eq) return;
  *eq = 0;
  char* key = trim(line);
  for (char* p = key; *p; p++)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  char* raw = eq + 1;
  if (std::strcmp(key, "VAR") == 0) {
    var_add(raw, std::strlen(raw));
  } else if (std::strcmp(key, "INCLUDE") == 0) {
    char* name = trim(raw);
    if (std::strlen(name) > MODULE_NAME_MAX) fatal_stop(MSG_FORMAT);  // refused, never cut
    if (module_last + 1 >= MODULE_LIMIT) fatal_stop(MSG_TOO_MANY_MODULES);
    module_add(name, std::strlen(name));
  } else if (std::strcmp(key, "CLIENT") == 0) {
    if (!debug_program) return;
    client_list_present = true;
    const char* p = raw;
    for (;;) {
      uint32_t a;
      int r = parse_dotted(&p, &a);
      if (r == 0) break;
      if (r < 0) fatal_stop("ClientのIPアドレス定義　不正");
      add_client(a);
    }
  } else if (std::strcmp(key, "TOKEN_KEY") == 0) {
    copy_setting(token_key, TOKEN_KEY_MAX, clean_value(raw));
  } else if (std::strcmp(key, "TIME_INTERVAL") == 0) {
    apply_time_interval(clean_value(raw));
  } else if (std::strcmp(key, "LOGFILE") == 0) {
    copy_setting(journal_path, JOURNAL_PATH_MAX, clean_value(raw));
  } else if (std::strcmp(key, "MODULE_DIR") == 0) {
    apply_module_dir(clean_value(raw));
  } else if (std::strcmp(key, "DEBUG_PORT") == 0) {
    copy_setting(debug_port, DEBUG_PORT_MAX, clean_value(raw));
  } else if (std::strcmp(key, "ENV") == 0) {
    apply_env(clean_value(raw));
  }
}

[[gnu::noinline, gnu::cold]] static void config_unreadable(const char* path) {
  char msg[2 * sizeof exe_dir + 128];
  std::snprintf(msg, sizeof msg, "zolk設定ファイル(%s)が開けません", path);
  fatal_stop(msg);
}

void read_config_file(const char* path) {
  FILE* f = std::fopen(path, "rb");
  struct stat st;
  if (f && (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))) {  // a directory opens but reads nothing
    std::fclose(f);
    f = nullptr;
  }
  if (!f) config_unreadable(path);
  char line[CONFIG_LINE_MAX + 3];  // the text, a carriage return, a line feed
  while (std::fgets(line, sizeof line, f)) {
    size_t n = std::strlen(line);
    bool complete = (n > 0 && line[n - 1] == '\n') || std::feof(f);
    size_t textLen = n;
    while (textLen > 0 && (line[textLen - 1] == '\n' || line[textLen - 1] == '\r')) textLen--;
    // A line that does not fit is refused rather than split into two lines.
    if (!complete || textLen > CONFIG_LINE_MAX) {
      std::fclose(f);
      fatal_stop(MSG_FORMAT);
    }
    apply_config_line(line);
  }
  std::fclose(f);
}

static bool file_exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

static constexpr const char* CONFIG_NAMES[2] = {"sqlsvrZOLK.config", "ZOLK.config"};

// Neither file is there. The message buffers live only here, so that a start which finds its
// file keeps its stack short (every page of stack it touches costs a fault).
[[gnu::noinline, gnu::cold]] static void config_missing() {
  char first[sizeof exe_dir + 32], second[sizeof exe_dir + 32];
  std::snprintf(first, sizeof first, "%s%s", exe_dir, CONFIG_NAMES[0]);
  std::snprintf(second, sizeof second, "%s%s", exe_dir, CONFIG_NAMES[1]);
  char msg[2 * sizeof first + 128];
  std::snprintf(msg, sizeof msg, "zolk設定ファイル(%s, %s)が開けません", first, second);
  fatal_stop(msg);
}

void find_and_read_config() {
  char path[sizeof exe_dir + 32];
  size_t dir = strnlen(exe_dir, sizeof exe_dir - 1);
  std::memcpy(path, exe_dir, dir);
  for (const char* name : CONFIG_NAMES) {
    std::memcpy(path + dir, name, std::strlen(name) + 1);
    if (file_exists(path)) {
      read_config_file(path);
      return;
    }
  }
  config_missing();
}

static bool client_allowed() {
  if (!client_list_present) return true;
  for (int i = 0; i < client_count; i++)
    if (client_list[i] == client_addr) return true;
  return false;
}

bool startup(int argc, char** argv) {
  set_exe_dir(argc > 0 ? argv[0] : "");
  set_client_address();
  if (!read_command_line(argc, argv)) return false;
  if (!cmdline_mode) make_start_time();
  store_reset();
  name_table_reset();
  find_and_read_config();
  char dotted[16];
  char* end = dotted;
  for (int i = 0; i < 4; i++) {
    if (i) *end++ = '.';
    auto octet = static_cast<uint64_t>(client_octets[i]);
    end = decimal_digits(end, octet, digit_count(octet));
  }
  *end = 0;
  if (debug_program && client_addr && debug_port[0] && client_allowed()) debug_connect(dotted, debug_port);
  if (client_addr) {
    char entry[48] = "'client_ip':'";
    size_t n = std::strlen(entry), d = static_cast<size_t>(end - dotted);
    std::memcpy(entry + n, dotted, d);
    entry[n + d] = '\'';
    var_add(entry, n + d + 1);
  }
  return true;
}

void config_reset() {
  std::memcpy(exe_dir, "./", 3);
  client_ip_text[0] = 0;
  client_addr = 0;
  std::memset(client_octets, 0, sizeof client_octets);
  cmdline_mode = false;
  top_function = nullptr;
  top_function_len = 0;
  token_key[0] = 0;
  time_interval = 0;
  journal_path[0] = 0;
  module_dir[0] = 0;
  std::memcpy(debug_port, "8777", 5);
  start_time[0] = 0;
  start_clock = 0;
  client_count = 0;
  client_list_present = false;
  module_pool.used = 0;
  module_pool.count = 0;
  module_last = -1;
  var_pool.used = 0;
  var_pool.count = 0;
  var_count = 0;
}
