// selectToFront streaming: time and peak memory of the engine sending N rows of a SQLite table
// as one Z record, against a plain program that fetches the same rows through the same driver.
// Usage: select_bench [path of scriptcgi] [row counts...]   (default: ../scriptcgi, 10000 1000000)
#include <dlfcn.h>
#include <fcntl.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* DRIVER = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
// The SQLite driver steps through a result instead of loading it whole first only when asked
// to and only outside a transaction of its own; the engine asks for it on every sqlite
// connection and holds the transaction with BEGIN/COMMIT/ROLLBACK, and the plain program here
// does the same.
constexpr const char* CONN_OPTIONS = ";StepAPI=1";

// The driver manager's entry points, bound at run time as the engine binds them.
struct Odbc {
  decltype(&SQLAllocHandle) alloc;
  decltype(&SQLSetEnvAttr) set_env;
  decltype(&SQLDriverConnect) connect;
  decltype(&SQLExecDirect) exec_direct;
  decltype(&SQLPrepare) prepare;
  decltype(&SQLExecute) execute;
  decltype(&SQLBindCol) bind_col;
  decltype(&SQLFetch) fetch;
  decltype(&SQLFreeHandle) free_handle;
  decltype(&SQLDisconnect) disconnect;
  decltype(&SQLEndTran) end_tran;
  decltype(&SQLNumResultCols) num_cols;
  decltype(&SQLDescribeCol) describe;
};
Odbc odbc;

void bind_odbc() {
  void* lib = dlopen("libodbc.so.2", RTLD_NOW);
  if (!lib) {
    std::fprintf(stderr, "libodbc.so.2: %s\n", dlerror());
    std::exit(1);
  }
#define BIND(field, name) odbc.field = reinterpret_cast<decltype(odbc.field)>(dlsym(lib, #name))
  BIND(alloc, SQLAllocHandle);
  BIND(set_env, SQLSetEnvAttr);
  BIND(connect, SQLDriverConnect);
  BIND(exec_direct, SQLExecDirect);
  BIND(prepare, SQLPrepare);
  BIND(execute, SQLExecute);
  BIND(bind_col, SQLBindCol);
  BIND(fetch, SQLFetch);
  BIND(free_handle, SQLFreeHandle);
  BIND(disconnect, SQLDisconnect);
  BIND(end_tran, SQLEndTran);
  BIND(num_cols, SQLNumResultCols);
  BIND(describe, SQLDescribeCol);
#undef BIND
}

void check(SQLRETURN rc, const char* what) {
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
    std::fprintf(stderr, "%s failed (%d)\n", what, rc);
    std::exit(1);
  }
}

struct Conn {
  SQLHENV env;
  SQLHDBC dbc;
};

Conn open_db(const std::string& file) {
  Conn c{};
  check(odbc.alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &c.env), "SQLAllocHandle(env)");
  check(odbc.set_env(c.env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), "SQLSetEnvAttr");
  check(odbc.alloc(SQL_HANDLE_DBC, c.env, &c.dbc), "SQLAllocHandle(dbc)");
  std::string cs = std::string("DRIVER=") + DRIVER + ";Database=" + file + CONN_OPTIONS;
  check(odbc.connect(c.dbc, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
        "SQLDriverConnect");
  return c;
}

void close_db(Conn& c) {
  odbc.disconnect(c.dbc);
  odbc.free_handle(SQL_HANDLE_DBC, c.dbc);
  odbc.free_handle(SQL_HANDLE_ENV, c.env);
}

void exec(Conn& c, const char* sql) {
  SQLHSTMT st;
  check(odbc.alloc(SQL_HANDLE_STMT, c.dbc, &st), "SQLAllocHandle(stmt)");
  check(odbc.exec_direct(st, (SQLCHAR*)sql, SQL_NTS), sql);
  odbc.free_handle(SQL_HANDLE_STMT, st);
}

// A table of n rows: an integer, a text of 8 to 14 characters and a float.
void make_table(const std::string& file, long n) {
  unlink(file.c_str());
  Conn c = open_db(file);
  exec(c, "create table t (id integer, name varchar(20), price double)");
  char sql[512];
  std::snprintf(sql, sizeof sql,
                "insert into t with recursive r(x) as (select 1 union all select x + 1 from r where x < %ld) "
                "select x, 'item ' || x, x * 0.25 from r",
                n);
  exec(c, sql);
  close_db(c);
}

// Peak resident size of a forked child that runs fn, in KB.
template <class F>
long child_peak_kb(F fn) {
  pid_t pid = fork();
  if (pid == 0) {
    fn();
    _exit(0);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  return ru.ru_maxrss;
}

// The plain program: fetches every row into buffers bound as the engine binds them (numbers as
// characters, text as UTF-16).
long baseline_fetch(const std::string& file) {
  // Inside a transaction, as every connection of the engine works.
  Conn c = open_db(file);
  exec(c, "BEGIN");
  SQLHSTMT st;
  check(odbc.alloc(SQL_HANDLE_STMT, c.dbc, &st), "SQLAllocHandle(stmt)");
  check(odbc.prepare(st, (SQLCHAR*)"select id, name, price from t", SQL_NTS), "SQLPrepare");
  // The columns are described before the statement runs, as the engine does.
  SQLSMALLINT ncols = 0;
  check(odbc.num_cols(st, &ncols), "SQLNumResultCols");
  for (SQLUSMALLINT i = 1; i <= ncols; i++) {
    SQLCHAR cname[256];
    SQLSMALLINT len, type, digits, nullable;
    SQLULEN size;
    check(odbc.describe(st, i, cname, sizeof cname, &len, &type, &size, &digits, &nullable), "SQLDescribeCol");
  }
  char id[34], price[34];
  SQLWCHAR name[100];
  SQLLEN ind[3];
  check(odbc.bind_col(st, 1, SQL_C_CHAR, id, sizeof id, &ind[0]), "SQLBindCol");
  check(odbc.bind_col(st, 2, SQL_C_WCHAR, name, sizeof name, &ind[1]), "SQLBindCol");
  check(odbc.bind_col(st, 3, SQL_C_CHAR, price, sizeof price, &ind[2]), "SQLBindCol");
  check(odbc.execute(st), "SQLExecute");
  long rows = 0;
  size_t bytes = 0;
  while (true) {
    SQLRETURN rc = odbc.fetch(st);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    rows++;
    bytes += static_cast<size_t>(ind[0] + ind[1] + ind[2]);
  }
  odbc.free_handle(SQL_HANDLE_STMT, st);
  exec(c, "ROLLBACK");
  close_db(c);
  if (bytes == 0 && rows > 0) std::fprintf(stderr, "no data fetched\n");
  return rows;
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs the engine (linked into dir) on a CGI request there, reading its standard output as a web
// server would; returns the seconds, the bytes of the response and the peak resident size in KB.
double run_engine(const std::string& dir, size_t* out_bytes, long* peak_kb) {
  const std::string body = "M1121018bench.jsP15run()";
  std::string len = std::to_string(body.size());
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) std::exit(1);
  double t0 = now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[1]);
    dup2(out[1], 1);
    close(out[0]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("CONTENT_LENGTH", len.c_str(), 1);
    std::string exe = dir + "/scriptcgi";
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (write(in[1], body.data(), body.size()) < 0) std::exit(1);
  close(in[1]);
  static char buf[1 << 16];
  *out_bytes = 0;
  for (ssize_t r; (r = read(out[0], buf, sizeof buf)) > 0;) *out_bytes += static_cast<size_t>(r);
  close(out[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  double t = now() - t0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "engine exit status %d\n", status);
  *peak_kb = ru.ru_maxrss;
  return t;
}

// The baseline as its own process (started as the engine is, so both pay for starting a
// program, loading the driver manager and connecting): returns the seconds it took.
double run_baseline(const std::string& self, const std::string& db) {
  double t0 = now();
  pid_t pid = fork();
  if (pid == 0) {
    execl(self.c_str(), self.c_str(), "--fetch", db.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "baseline exit status %d\n", status);
  return now() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--fetch") == 0) {
    bind_odbc();
    return baseline_fetch(argv[2]) > 0 ? 0 : 1;
  }
  char* self_path = realpath("/proc/self/exe", nullptr);
  std::string self_exe = self_path ? self_path : argv[0];
  free(self_path);
  std::string self = argv[0];
  std::string engine = argc > 1 ? argv[1] : self.substr(0, self.rfind('/') + 1) + "../scriptcgi";
  std::vector<long> counts;
  for (int i = 2; i < argc; i++) counts.push_back(std::atol(argv[i]));
  if (counts.empty()) counts = {10000, 1000000};
  char* real = realpath(engine.c_str(), nullptr);
  if (!real) {
    std::fprintf(stderr, "no engine at %s\n", engine.c_str());
    return 1;
  }
  bind_odbc();

  char tmpl[] = "/tmp/scriptcgi-select-bench-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string db = dir + "/bench.db";
  std::FILE* f = std::fopen((dir + "/ZOLK.config").c_str(), "w");
  std::fclose(f);
  f = std::fopen((dir + "/bench.js").c_str(), "w");
  std::fprintf(f,
               "function run() {\n"
               "  var db = openDb(\"sqlite\", \"libodbc.so.2\", \"DRIVER=%s;Database=%s\");\n"
               "  selectToFront(db, \"rows\", \"select id, name, price from t\");\n"
               "}\n",
               DRIVER, db.c_str());
  std::fclose(f);
  symlink(real, (dir + "/scriptcgi").c_str());
  free(real);

  std::printf("%10s %12s %12s %8s %16s %14s %14s %12s\n", "rows", "baseline s", "engine s", "ratio",
              "baseline peak KB", "engine peak KB", "difference KB", "response MB");
  for (long n : counts) {
    make_table(db, n);
    double best_base = 1e30, best_engine = 1e30;
    long peak = 0;
    size_t bytes = 0;
    for (int k = 0; k < 3; k++) {
      best_base = std::min(best_base, run_baseline(self_exe, db));
      long kb = 0;
      best_engine = std::min(best_engine, run_engine(dir, &bytes, &kb));
      peak = std::max(peak, kb);
    }
    long base_peak = child_peak_kb([&] {
      execl(self_exe.c_str(), self_exe.c_str(), "--fetch", db.c_str(), static_cast<char*>(nullptr));
    });
    std::printf("%10ld %12.3f %12.3f %8.2f %16ld %14ld %14ld %12.1f\n", n, best_base, best_engine,
                best_engine / best_base, base_peak, peak, peak - base_peak, bytes / 1e6);
  }
  std::string rm = "rm -rf " + dir;
  return std::system(rm.c_str()) == 0 ? 0 : 1;
}
