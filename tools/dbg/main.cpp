// scriptcgi-dbg: the debug front end. It listens where scriptcgi-debug connects, serves modules
// from a folder, and drives one run at a time from a terminal (or a script of commands) or as a
// Debug Adapter Protocol server.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "tools/dbg/dap.h"
#include "tools/dbg/session.h"
#include "tools/dbg/terminal.h"

static void usage() {
  std::cerr << "usage: scriptcgi-dbg [--port N] [--host ADDRESS] [--root MODULE_FOLDER] [-x COMMAND_FILE]\n"
               "       scriptcgi-dbg --dap\n";
}

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int port = 8777;
  std::string host = "127.0.0.1", root = ".", script;
  bool dap = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "scriptcgi-dbg: " << a << " needs " << what << "\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--port") port = std::atoi(value("a port").c_str());
    else if (a == "--host") host = value("an address");
    else if (a == "--root") root = value("a folder");
    else if (a == "-x") script = value("a file");
    else if (a == "--dap") dap = true;
    else {
      usage();
      return 2;
    }
  }
  if (dap) return run_dap(0, 1);
  if (port <= 0 || port > 65535) {
    std::cerr << "scriptcgi-dbg: bad port\n";
    return 2;
  }
  FrontLink link;
  if (!link.listen_on(host, port)) {
    std::cerr << "scriptcgi-dbg: " << link.error() << "\n";
    return 1;
  }
  ModuleFolder folder(root);
  Breakpoints points;
  Session session(link, folder, points);
  int fd = 0;
  if (!script.empty()) {
    fd = open(script.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::cerr << "scriptcgi-dbg: cannot open " << script << "\n";
      return 1;
    }
  }
  std::cout << "listening on " << host << ":" << port << ", modules from " << root << std::endl;
  return run_terminal(session, folder, points, fd, script.empty() && isatty(0));
}
