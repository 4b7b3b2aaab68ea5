// Compiled modules against source: generates a module of 10,000+ lines of realistic script,
// then prints how long parsing its source and installing its image take in one process, and
// the time of a whole request from .js, from .jo and of starting /bin/true.
//   image_bench [LINES] [ENGINE]   (ENGINE: the scriptcgi program, default ../scriptcgi)
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/compiled_module.h"
#include "driver/config.h"
#include "driver/image_unpack.h"
#include "driver/errors.h"
#include "eval/eval.h"
#include "eval/globals.h"
#include "frontend/parser.h"
#include "frontend/tree.h"
#include "store/store.h"
#include "tools/compile/image_writer.h"
#include "bench/sample_module.h"

extern char** environ;

namespace {

StatementList list;
char* text_copy;
const std::vector<uint8_t>* image;

void fresh() {
  store_reset();
  config_reset();
  module_add("bench.js", 8);
  module_add("bench.jo", 8);
  name_table_reset();
  eval_reset();
  list = StatementList{nullptr, 0, 0, false};
}

bool parse_guarded() {
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    std::printf("failed: %s\n", message_buffer);
    return false;
  }
  parse_module_text(text_copy, 0, &list);
  jump_depth = 0;
  return true;
}

bool install_guarded() {
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    std::printf("failed: %s\n", message_buffer);
    return false;
  }
  store_raise_floors();
  install_compiled_module(image->data(), image->size(), 1, &list);
  jump_depth = 0;
  return true;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU time of this thread: the in-process figures do not count time the machine gave to others.
double cpu_now() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Median wall time of n runs of a program with the body on standard input.
double run_program(const char* dir, const char* prog, const std::string& body_path, int n) {
  std::vector<double> t;
  std::string len;
  {
    struct stat st;
    stat(body_path.c_str(), &st);
    len = "CONTENT_LENGTH=" + std::to_string(st.st_size);
  }
  char* env[] = {const_cast<char*>("PATH=/usr/bin:/bin"), const_cast<char*>(len.c_str()), nullptr};
  for (int i = 0; i < n; i++) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, body_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::string path = std::string(dir) + "/" + prog;
    if (prog[0] == '/') path = prog;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, path.c_str(), &fa, nullptr, argv, env) != 0) return -1;
    int st;
    waitpid(pid, &st, 0);
    t.push_back(seconds_since(t0));
    posix_spawn_file_actions_destroy(&fa);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

std::string field(const std::string& s) {
  std::string n = std::to_string(s.size());
  return std::string(1, static_cast<char>('0' + n.size())) + n + s;
}

}  // namespace

int main(int argc, char** argv) {
  int want = argc > 1 ? std::atoi(argv[1]) : 10000;
  std::string engine = argc > 2 ? argv[2] : std::string(argv[0]).substr(0, std::string(argv[0]).rfind('/') + 1) + "../scriptcgi";
  std::string module;
  int lines = 0;
  for (int n = 0; lines < want; n++) lines += append_sample_function(module, n, true);
  module += "function bench_entry() { return state_0.count; }\n";
  lines++;

  // Parsing the source, in process.
  const int rounds = 9;
  std::vector<double> parse_t, install_t, merge_t;
  for (int r = 0; r < rounds; r++) {
    fresh();
    text_copy = static_cast<char*>(std::malloc(module.size() + 1));
    std::memcpy(text_copy, module.c_str(), module.size() + 1);
    double t0 = cpu_now();
    if (!parse_guarded()) return 1;
    parse_t.push_back(cpu_now() - t0);
    std::free(text_copy);
  }
  std::vector<uint8_t> img;
  std::string error;
  if (!build_image(module.data(), module.size(), "bench.js", &img, &error)) {
    std::printf("compile failed: %s\n", error.c_str());
    return 1;
  }
  image = &img;
  uint32_t S;
  std::memcpy(&S, img.data(), 4);
  for (int r = 0; r < rounds; r++) {
    fresh();
    double t0 = cpu_now();
    if (!install_guarded()) return 1;
    install_t.push_back(cpu_now() - t0);
  }
  // After a small source module: relocation and a merge of every name.
  for (int r = 0; r < rounds; r++) {
    fresh();
    char pre[] = "var before = {k: [1, 2]};\nfunction f(a) { return a; }\n";
    text_copy = pre;
    if (!parse_guarded()) return 1;
    double t0 = cpu_now();
    if (!install_guarded()) return 1;
    merge_t.push_back(cpu_now() - t0);
  }
  // The same section stream stored unpacked (S = P): what the copies and the lists cost alone.
  std::vector<uint8_t> flat(8);
  std::memcpy(flat.data(), &S, 4);
  std::memcpy(flat.data() + 4, &S, 4);
  std::vector<double> flat_t;
  {
    uint32_t P;
    std::memcpy(&P, img.data() + 4, 4);
    const uint8_t* u = image_unpack(img.data() + 8, P, S);
    if (!u) return 1;
    flat.insert(flat.end(), u, u + S);
    image = &flat;
    for (int r = 0; r < rounds; r++) {
      fresh();
      double t0 = cpu_now();
      if (!install_guarded()) return 1;
      flat_t.push_back(cpu_now() - t0);
    }
    image = &img;
    std::sort(flat_t.begin(), flat_t.end());
  }
  std::sort(parse_t.begin(), parse_t.end());
  std::sort(install_t.begin(), install_t.end());
  std::sort(merge_t.begin(), merge_t.end());
  double p = parse_t[rounds / 2], i = install_t[rounds / 2], m = merge_t[rounds / 2];
  std::printf("module: %d lines, %zu bytes of source; image %zu bytes (section stream %u bytes)\n", lines,
              module.size(), img.size(), S);
  std::printf("CPU time, median of %d runs:\n", rounds);
  std::printf("parse the source:            %8.3f ms\n", p * 1000);
  std::printf("install the image (first):   %8.3f ms   %.1fx faster\n", i * 1000, p / i);
  std::printf("install after a source module (relocated, names merged): %.3f ms   %.1fx faster\n", m * 1000,
              p / m);
  std::printf("install the same stream stored unpacked (S = P): %.3f ms   %.1fx faster (unpacking %.3f ms)\n",
              flat_t[rounds / 2] * 1000, p / flat_t[rounds / 2], (i - flat_t[rounds / 2]) * 1000);

  // Whole requests, as a web server starts them.
  char dir[] = "/tmp/image_bench_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string d = dir;
  auto write = [&](const std::string& name, const void* data, size_t size) {
    FILE* f = std::fopen((d + "/" + name).c_str(), "wb");
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  };
  write("bench.js", module.data(), module.size());
  write("bench.jo", img.data(), img.size());
  write("bench_u.jo", flat.data(), flat.size());
  std::string config = "MODULE_DIR=" + d + "\n";
  write("ZOLK.config", config.data(), config.size());
  char real[4096];
  if (!realpath(engine.c_str(), real)) {
    std::printf("no engine at %s (give its path as the second argument)\n", engine.c_str());
    return 1;
  }
  if (symlink(real, (d + "/scriptcgi").c_str()) != 0) return 1;
  for (const char* ext : {"js", "jo", "u.jo"}) {
    std::string body = "M11" + field(field(std::string(ext[0] == 'u' ? "bench_" : "bench.") + ext)) + "P" +
                       field("bench_entry()");
    write(std::string("req_") + ext, body.data(), body.size());
  }
  // Every request must have run its call: the completion record, not an error.
  for (const char* ext : {"js", "jo", "u.jo"}) {
    std::string cmd = "cd " + d + " && CONTENT_LENGTH=$(stat -c %s req_" + ext + ") ./scriptcgi < req_" + ext +
                      " | grep -q '^C1'";
    if (std::system(cmd.c_str()) != 0) {
      std::printf("the request from .%s did not complete\n", ext);
      return 1;
    }
  }
  const int n = 21;
  double t_true = run_program(dir, "/bin/true", d + "/req_js", n);
  double t_js = run_program(dir, "scriptcgi", d + "/req_js", n);
  double t_jo = run_program(dir, "scriptcgi", d + "/req_jo", n);
  double t_ujo = run_program(dir, "scriptcgi", d + "/req_u.jo", n);
  std::printf("whole request (wall time, median of %d): /bin/true %.2f ms, from .js %.2f ms, from .jo %.2f ms, "
              "from an unpacked .jo %.2f ms\n",
              n, t_true * 1000, t_js * 1000, t_jo * 1000, t_ujo * 1000);
  if (getenv("IMAGE_BENCH_KEEP")) return 0;
  std::string cleanup = "rm -rf " + d;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
