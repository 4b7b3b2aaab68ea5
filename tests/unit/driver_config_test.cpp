// Start-up settings: addresses, the command line, configuration lines and the module digest.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/moddigest.h"
#include "driver/sha256.h"
#include "driver_testutil.h"

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_reset();
    unsetenv("HTTP_X_FORWARDED_FOR");
    unsetenv("REMOTE_ADDR");
  }
};

TEST_F(ConfigTest, DottedAddresses) {
  struct Case {
    const char* text;
    int result;
    uint32_t addr;
    const char* rest;  // what follows after the call
  } cases[] = {
      {"10.1.2.3", 1, 0x0A010203, ""},
      {"192.168.0.5", 1, 0xC0A80005, ""},
      {"0.0.0.0", 1, 0, ""},
      {"255.255.255.255", 1, 0xFFFFFFFF, ""},
      {"  ip=1.2.3.4,5.6.7.8", 1, 0x01020304, "5.6.7.8"},  // one separator skipped
      {"1.2.3.4, 5.6.7.8", 1, 0x01020304, " 5.6.7.8"},
      {"", 0, 0, ""},
      {"no digits", 0, 0, ""},
      {"1.2.3", -1, 0, ""},
      {"1.2.3.256", -1, 0, ""},
      {"1..2.3", -1, 0, ""},
      {"1.2.3.4000", -1, 0, ""},
      {"2001:db8::1", -1, 0, ""},
  };
  for (const Case& c : cases) {
    const char* p = c.text;
    uint32_t a = 0xDEADBEEF;
    int r = parse_dotted(&p, &a);
    EXPECT_EQ(r, c.result) << c.text;
    if (r == 1) {
      EXPECT_EQ(a, c.addr) << c.text;
      EXPECT_STREQ(p, c.rest) << c.text;
    }
  }
}

TEST_F(ConfigTest, ClientAddress) {
  struct Case {
    const char* forwarded;
    const char* remote;
    const char* text;
    uint32_t addr;
  } cases[] = {
      {" 10.1.2.3 , 172.16.0.1", "9.9.9.9", "10.1.2.3", 0x0A010203},
      {"10.1.2.3", "9.9.9.9", "10.1.2.3", 0x0A010203},
      {"", "9.9.9.9", "9.9.9.9", 0x09090909},
      {nullptr, "::1", "127.0.0.1", 0x7F000001},
      {nullptr, "192.168.0.5", "192.168.0.5", 0xC0A80005},
      {nullptr, "fe80::1", "fe80::1", 0},  // not a dotted address: unknown, no error
      {nullptr, "0.0.0.0", "0.0.0.0", 0},  // zero means unknown
      {nullptr, nullptr, "", 0},
  };
  for (const Case& c : cases) {
    config_reset();
    if (c.forwarded) setenv("HTTP_X_FORWARDED_FOR", c.forwarded, 1);
    else unsetenv("HTTP_X_FORWARDED_FOR");
    if (c.remote) setenv("REMOTE_ADDR", c.remote, 1);
    else unsetenv("REMOTE_ADDR");
    set_client_address();
    EXPECT_STREQ(client_ip_text, c.text);
    EXPECT_EQ(client_addr, c.addr) << c.text;
    if (c.addr) {
      EXPECT_EQ(client_octets[0], c.addr >> 24);
      EXPECT_EQ(client_octets[3], c.addr & 0xFF);
    }
  }
  config_reset();
  std::string longText = "1.2.3.4" + std::string(100, 'x');
  setenv("REMOTE_ADDR", longText.c_str(), 1);
  set_client_address();
  EXPECT_EQ(std::strlen(client_ip_text), 79u);
  EXPECT_EQ(client_addr, 0x01020304u);
  unsetenv("REMOTE_ADDR");
  unsetenv("HTTP_X_FORWARDED_FOR");
}

// Runs read_command_line on a list of arguments in a child (it prints and may end the program).
struct CmdResult {
  bool goOn;
  std::string out;
  bool cmdline;
  std::string function;
  std::string modules;  // module names joined with '|'
};
CmdResult command_line(std::vector<const char*> args) {
  static CmdResult res;
  static std::vector<char*> argv;
  argv.clear();
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  config_reset();
  testing::internal::CaptureStdout();
  res.goOn = read_command_line(static_cast<int>(args.size()), argv.data());
  res.out = testing::internal::GetCapturedStdout();
  res.cmdline = cmdline_mode;
  res.function = top_function ? std::string(top_function, static_cast<size_t>(top_function_len)) : "";
  res.modules.clear();
  for (int i = 0; i <= module_last; i++) res.modules += std::string(i ? "|" : "") + module_name(i);
  return res;
}

TEST_F(ConfigTest, CommandLine) {
  const std::string usage = "usage:./prog -e function_name js_file_path1 js_file_path2 ... \n";
  std::string name255(255, 'f'), name256(256, 'f');
  struct Case {
    std::vector<const char*> args;
    bool goOn;
    std::string out;
    bool cmdline;
    std::string function, modules;
  } cases[] = {
      {{"./prog"}, true, "", false, "", ""},
      {{"./prog", "-e", "main", "a.js", "dir/b.js"}, true, "", true, "main", "a.js|dir/b.js"},
      {{"./prog", "a.js", "-e", "main"}, true, "", true, "main", "a.js"},
      {{"./prog", "-e", "main"}, true, "ロードするJavaScriptのモジュールが指定されていません", true, "main", ""},
      {{"./prog", "-e"}, false, usage, false, "", ""},
      {{"./prog", "-x", "a.js"}, false, usage, false, "", ""},
      {{"./prog", "-"}, false, usage, false, "", ""},
      {{"./prog", "-e", name255.c_str(), "a.js"}, true, "", true, name255, "a.js"},
      {{"./prog", "-e", name256.c_str(), "a.js"}, false, "TOP関数が長すぎます(255Byte以下)", false, "", ""},
      // Request text and variables (argument mode) are not modules.
      {{"./prog", "Pabc", "x=1"}, true, "", false, "", ""},
  };
  for (const Case& c : cases) {
    CmdResult r = command_line(c.args);
    EXPECT_EQ(r.goOn, c.goOn) << c.args.size();
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.cmdline, c.cmdline);
    EXPECT_EQ(r.function, c.function);
    EXPECT_EQ(r.modules, c.modules);
  }
}

TEST_F(ConfigTest, CommandLineModuleLimit) {
  std::vector<std::string> names;
  for (int i = 0; i < 128; i++) names.push_back("m" + std::to_string(i) + ".js");
  std::vector<const char*> args = {"./prog", "-e", "main"};
  for (int i = 0; i < 127; i++) args.push_back(names[static_cast<size_t>(i)].c_str());
  EXPECT_TRUE(command_line(args).goOn);
  EXPECT_EQ(module_last, 126);
  args.push_back(names[127].c_str());
  CmdResult r = command_line(args);
  EXPECT_FALSE(r.goOn);
  EXPECT_EQ(r.out, "モジュール(.js、.jo)が多すぎます。125ファイル以下にしてください。");
}

void apply(const char* line) {
  static char buf[8192];
  std::snprintf(buf, sizeof buf, "%s", line);
  apply_config_line(buf);
}

TEST_F(ConfigTest, ConfigurationLines) {
  apply("  LOGFILE = /var/log/j.log   # the journal");
  EXPECT_STREQ(journal_path, "/var/log/j.log");
  apply("logfile=/x;y");
  EXPECT_STREQ(journal_path, "/x");
  apply("TOKEN_KEY = \"k;e#y\"  ; comment");
  EXPECT_STREQ(token_key, "k;e#y");
  apply("Token_Key = 'it\\'s' ");
  EXPECT_STREQ(token_key, "it\\'s");
  apply("TOKEN_KEY = k;ey");
  EXPECT_STREQ(token_key, "k");
  apply("TOKEN_KEY=");
  EXPECT_STREQ(token_key, "");
  apply("time_interval = 60 # seconds");
  EXPECT_EQ(time_interval, 60);
  apply("TIME_INTERVAL=-5");
  EXPECT_EQ(time_interval, -5);
  apply("DEBUG_PORT = 9000");
  EXPECT_STREQ(debug_port, "9000");
  apply("MODULE_DIR = C:\\app\\js");
  EXPECT_STREQ(module_dir, "C:/app/js");
  apply("MODULE_DIR=");
  EXPECT_STREQ(module_dir, "");
  // Comments, lines without "=", unknown keys.
  apply("# LOGFILE=/no");
  apply("; LOGFILE=/no");
  apply("LOGFILE /no");
  apply("UNKNOWN=1");
  apply("");
  EXPECT_STREQ(journal_path, "/x");
}

TEST_F(ConfigTest, ListKeys) {
  apply("include=a.js");
  apply("INCLUDE =  sub/b.js  \r\n");
  apply("VAR='x':'1' ; not a comment");
  apply("VAR= 'y':'2'");
  ASSERT_EQ(module_last, 1);
  EXPECT_STREQ(module_name(0), "a.js");
  EXPECT_STREQ(module_name(1), "sub/b.js");
  EXPECT_STREQ(module_name(2), "");
  EXPECT_STREQ(module_name(-1), "");
  ASSERT_EQ(var_count, 2);
  EXPECT_STREQ(var_text(0), "'x':'1' ; not a comment");
  EXPECT_STREQ(var_text(1), " 'y':'2'");
}

TEST_F(ConfigTest, ClientKeyIsIgnoredByTheEngine) {
  ASSERT_FALSE(debug_program);
  apply("CLIENT=10.0.0.1,10.0.0.2");
  apply("CLIENT=not an address 1.2");  // would be malformed for the debugging variant
  EXPECT_FALSE(client_list_present);
  EXPECT_EQ(client_count, 0);
}

TEST_F(ConfigTest, ClientKeyOfTheDebuggingVariant) {
  debug_program = true;
  apply("CLIENT=10.0.0.1, 10.0.0.2;192.168.0.5");
  debug_program = false;
  EXPECT_TRUE(client_list_present);
  ASSERT_EQ(client_count, 3);
  EXPECT_EQ(client_list[0], 0x0A000001u);
  EXPECT_EQ(client_list[2], 0xC0A80005u);
  ChildResult r = run_child([] {
    debug_program = true;
    apply("CLIENT=10.0.0.1,10.0.0");
  });
  EXPECT_EQ(r.status, 0);
  std::string msg = "ClientのIPアドレス定義　不正";
  EXPECT_EQ(r.out, fatal_record(msg));
}

TEST_F(ConfigTest, EnvKey) {
  setenv("ZT_PATH", " X ", 1);
  apply("ENV = ZT_PATH+=  C:\\odbc ");
  EXPECT_STREQ(std::getenv("ZT_PATH"), "X;C:\\odbc");
  unsetenv("ZT_NEW");
  apply("ENV=ZT_NEW += first");
  EXPECT_STREQ(std::getenv("ZT_NEW"), "first");
  setenv("ZT_EMPTY", "", 1);
  apply("ENV=ZT_EMPTY+=v");
  EXPECT_STREQ(std::getenv("ZT_EMPTY"), "v");
  apply("ENV=ZT_SET=a=b");
  EXPECT_STREQ(std::getenv("ZT_SET"), "a=b");
  apply("ENV=\"ZT_Q+=p;q\"");
  EXPECT_STREQ(std::getenv("ZT_Q"), "p;q");
}

// Fatal configuration errors end the process with the fatal record.
TEST_F(ConfigTest, FatalLines) {
  struct Case {
    std::string line;
    std::string message;
  } cases[] = {
      {"TOKEN_KEY=\"open", "Configのフォーマット不正"},
      {"LOGFILE='a\\'", "Configのフォーマット不正"},
      {"TOKEN_KEY=" + std::string(65, 'k'), "Configのフォーマット不正"},
      {"LOGFILE=" + std::string(256, 'l'), "Configのフォーマット不正"},
      {"MODULE_DIR=" + std::string(512, 'm'), "Configのフォーマット不正"},
      {"DEBUG_PORT=" + std::string(20, '1'), "Configのフォーマット不正"},
      {"TIME_INTERVAL=60s", "configファイルのTIME_INTERVALは整数を設定してください。"},
      {"TIME_INTERVAL=abc", "configファイルのTIME_INTERVALは整数を設定してください。"},
      {"TIME_INTERVAL=99999999999", "configファイルのTIME_INTERVALは整数を設定してください。"},
  };
  for (const Case& c : cases) {
    static std::string line;
    line = c.line;
    ChildResult r = run_child([] { apply(line.c_str()); });
    EXPECT_EQ(r.status, 0) << c.line;
    EXPECT_EQ(r.out, fatal_record(c.message)) << c.line;
  }
  // Values at their limits are taken whole.
  apply(("TOKEN_KEY=" + std::string(64, 'k')).c_str());
  EXPECT_EQ(std::strlen(token_key), 64u);
  apply(("LOGFILE=" + std::string(255, 'l')).c_str());
  EXPECT_EQ(std::strlen(journal_path), 255u);
  apply(("DEBUG_PORT=" + std::string(19, '1')).c_str());
  EXPECT_EQ(std::strlen(debug_port), 19u);
}

TEST_F(ConfigTest, IncludeLimit) {
  for (int i = 0; i < 127; i++) apply(("INCLUDE=m" + std::to_string(i) + ".js").c_str());
  EXPECT_EQ(module_last, 126);
  ChildResult r = run_child([] { apply("INCLUDE=one_more.js"); });
  std::string msg = "モジュール(.js、.jo)が多すぎます。125ファイル以下にしてください。";
  EXPECT_EQ(r.out, fatal_record(msg));
}

void touch(const std::string& path, const std::string& text, time_t mtime) {
  write_file(path, text);
  struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
  utimes(path.c_str(), tv);
}

TEST_F(ConfigTest, ModuleDirectoryListing) {
  std::string dir = make_temp_dir();
  mkdir((dir + "/sub").c_str(), 0755);
  mkdir((dir + "/sub/deeper").c_str(), 0755);
  touch(dir + "/b.js", "12345", 1704227440);       // 2024-01-02 20:30:40 UTC
  touch(dir + "/A.JO", "", 1704153600);            // 2024-01-02 00:00:00 UTC
  touch(dir + "/sub/c.Js", "xy", 946684799);       // 1999-12-31 23:59:59 UTC
  touch(dir + "/sub/deeper/d.jS", "z", 1704153600);
  touch(dir + "/skip.jsx", "no", 1704153600);
  touch(dir + "/skip.txt", "no", 1704153600);
  touch(dir + "/skip.ks", "no", 1704153600);
  touch(dir + "/noext", "no", 1704153600);
  size_t len;
  char* text = module_dir_listing((dir + "/").c_str(), &len);
  ASSERT_NE(text, nullptr);
  // Sorted by path byte for byte; the hour has 9 added and nothing else moves.
  std::string expected = dir + "/A.JO;2024/01/02 09:00:00;0:0\n" +
                         dir + "/b.js;2024/01/02 29:30:40;0:5\n" +
                         dir + "/sub/c.Js;1999/12/31 32:59:59;0:2\n" +
                         dir + "/sub/deeper/d.jS;2024/01/02 09:00:00;0:1\n";
  EXPECT_EQ(std::string(text, len), expected);
  char hexOfText[65], digest[65];
  sha256_hex(text, len, hexOfText);
  std::free(text);
  module_dir_digest(dir.c_str(), digest);
  EXPECT_STREQ(digest, hexOfText);
  // The digest check of MODULE_DIR: a match runs on, a difference stops.
  static std::string good, bad;
  good = "MODULE_DIR=" + dir + ">>>" + digest;
  apply(good.c_str());
  EXPECT_EQ(std::string(module_dir), dir);
  touch(dir + "/b.js", "123456", 1704227440);
  ChildResult r = run_child([] { apply(good.c_str()); });
  std::string msg = "JSモジュールのディレクトリの内容が変わっています。";
  EXPECT_EQ(r.out, fatal_record(msg));
  remove_tree(dir);
}

TEST_F(ConfigTest, StartupFindsTheConfigurationBesideTheProgram) {
  std::string dir = make_temp_dir();
  write_file(dir + "/ZOLK.config", "LOGFILE=/plain\n");
  static std::string prog;
  prog = dir + "/scriptcgi";
  static char* argv[2];
  argv[0] = const_cast<char*>(prog.c_str());
  argv[1] = nullptr;
  setenv("REMOTE_ADDR", "::1", 1);
  ASSERT_TRUE(startup(1, argv));
  EXPECT_EQ(std::string(exe_dir), dir + "/");
  EXPECT_STREQ(journal_path, "/plain");
  ASSERT_EQ(var_count, 1);
  EXPECT_STREQ(var_text(0), "'client_ip':'127.0.0.1'");
  EXPECT_EQ(std::strlen(start_time_text()), 19u);
  // The sqlsvr file is preferred when both exist.
  write_file(dir + "/sqlsvrZOLK.config", "LOGFILE=/sqlsvr\n");
  config_reset();
  ASSERT_TRUE(startup(1, argv));
  EXPECT_STREQ(journal_path, "/sqlsvr");
  unsetenv("REMOTE_ADDR");
  remove_tree(dir);
}

}  // namespace
