// Times whole processes from spawn to exit: each program in turn, many rounds, one line each
// with the median and best wall time and the median CPU time (user + system) of the child.
// Usage: spawn_time ROUNDS STDIN-FILE -- PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

struct Program {
  std::vector<char*> argv;
  std::vector<double> wall, cpu;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

bool run_once(Program& p, const char* input) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, input, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  int err = posix_spawn(&pid, p.argv[0], &fa, nullptr, p.argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (err != 0) {
    std::fprintf(stderr, "spawn_time: %s: %s\n", p.argv[0], std::strerror(err));
    return false;
  }
  int status;
  rusage ru;
  if (wait4(pid, &status, 0, &ru) != pid) return false;
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  p.wall.push_back(took.count());
  p.cpu.push_back(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
    std::fprintf(stderr, "usage: spawn_time ROUNDS STDIN-FILE -- PROGRAM [ARGS...] [-- PROGRAM ...]\n");
    return 2;
  }
  int rounds = std::atoi(argv[1]);
  const char* input = argv[2];
  std::vector<Program> programs;
  for (int i = 3; i < argc; i++) {
    if (std::strcmp(argv[i], "--") == 0) {
      programs.emplace_back();
    } else {
      programs.back().argv.push_back(argv[i]);
    }
  }
  for (auto& p : programs) {
    if (p.argv.empty()) return 2;
    p.argv.push_back(nullptr);
  }
  // Rounds alternate the programs, so that a change in the machine's load falls on all alike.
  for (int r = 0; r < rounds; r++)
    for (auto& p : programs)
      if (!run_once(p, input)) return 1;
  for (auto& p : programs)
    std::printf("%s: median %.3f ms, best %.3f ms wall; median %.3f ms CPU\n", p.argv[0],
                median(p.wall) * 1e3, *std::min_element(p.wall.begin(), p.wall.end()) * 1e3,
                median(p.cpu) * 1e3);
  return 0;
}
