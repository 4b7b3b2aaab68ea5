// Terminal mode: break points by file:line, stepping, printing in frames, the call stack and
// the source around a stop. Commands that need a stop wait for one; at the end of the commands
// the run goes on to its end.
#include "tools/dbg/terminal.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>

#include "tools/dbg/text.h"

namespace {
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  int fd() const { return fd_; }
  bool eof() const { return eof_ && buf_.empty(); }
  // A complete line if one is buffered (or the rest at the end).
  std::optional<std::string> take() {
    size_t nl = buf_.find('\n');
    if (nl == std::string::npos) {
      if (!eof_ || buf_.empty()) return std::nullopt;
      std::string rest;
      rest.swap(buf_);
      return rest;
    }
    std::string line = buf_.substr(0, nl);
    buf_.erase(0, nl + 1);
    return line;
  }
  void fill() {
    char chunk[4096];
    ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n <= 0) eof_ = true;
    else buf_.append(chunk, static_cast<size_t>(n));
  }

 private:
  int fd_;
  bool eof_ = false;
  std::string buf_;
};

struct Terminal {
  Session& session;
  ModuleFolder& folder;
  Breakpoints& points;
  bool interactive;
  bool quit = false;
  bool ran = false;

  void say(const std::string& s) {
    std::cout << s << "\n";
    std::cout.flush();
  }

  void show_stop() {
    const StackFrame& w = session.where();
    const std::string& fn = session.stack().back().function;
    say("stopped at " + w.module + ":" + std::to_string(w.line) + ":" + std::to_string(w.column) +
        (fn.empty() ? "" : " in " + fn));
    list(w.module, w.line);
  }

  void list(const std::string& module, int line) {
    const auto& ls = folder.lines(module);
    for (int l = line - 2; l <= line + 2; l++) {
      if (l < 1 || l > static_cast<int>(ls.size())) continue;
      char head[32];
      std::snprintf(head, sizeof head, "%s%4d  ", l == line ? "=>" : "  ", l);
      say(head + ls[static_cast<size_t>(l - 1)]);
    }
  }

  static bool parse_place(const std::string& s, std::string* module, int* line) {
    size_t c = s.rfind(':');
    if (c == std::string::npos || c == 0) return false;
    *module = s.substr(0, c);
    std::string n = s.substr(c + 1);
    if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos || n.size() > 5) return false;
    *line = std::atoi(n.c_str());
    return *line > 0 && *line <= 65535;
  }

  // Commands that need no stop: break points and the like. Returns false for other commands.
  bool setup_command(const std::string& cmd, const std::string& rest) {
    std::string module;
    int line;
    if (cmd == "break" || cmd == "b" || cmd == "trace" || cmd == "delete") {
      std::istringstream in(rest);
      std::string place;
      in >> place;
      if (!parse_place(place, &module, &line)) {
        say("expected FILE:LINE, got '" + place + "'");
        return true;
      }
      std::string tail;
      std::getline(in, tail);
      tail = trim(tail);
      if (cmd == "delete") {
        if (!points.remove(module, line)) say("no break point at " + place);
      } else if (cmd == "trace") {
        if (tail.empty()) tail = place;
        points.add(module, Breakpoint{line, "", tail});
        say("trace point at " + place + " (" + tail + ")");
      } else {
        Breakpoint b{line, "", ""};
        if (tail.rfind("if ", 0) == 0) b.condition = trim(tail.substr(3));
        points.add(module, b);
        say("break point at " + place + (b.condition.empty() ? "" : " if " + b.condition));
      }
      session.update_tables(module);
      return true;
    }
    if (cmd == "help" || cmd == "h") {
      say("break FILE:LINE [if EXPR] | trace FILE:LINE [LABEL] | delete FILE:LINE | continue | step | next | "
          "finish | print EXPR [in FRAME] | backtrace | list | quit");
      return true;
    }
    return false;
  }

  // Commands of a stop.
  void stop_command(const std::string& cmd, const std::string& rest) {
    if (cmd == "continue" || cmd == "c") session.resume(Step::Continue);
    else if (cmd == "step" || cmd == "s") session.resume(Step::Into);
    else if (cmd == "next" || cmd == "n") session.resume(Step::Over);
    else if (cmd == "finish") session.resume(Step::Out);
    else if (cmd == "quit" || cmd == "q") {
      session.end_run();
      quit = true;
    } else if (cmd == "backtrace" || cmd == "bt") {
      const auto& st = session.stack();
      for (size_t i = st.size(); i-- > 0;) {
        const StackFrame& f = st[i];
        say("#" + std::to_string(i) + " " + (f.function.empty() ? "(top level)" : f.function) + " at " + f.module +
            ":" + std::to_string(f.line) + ":" + std::to_string(f.column));
      }
    } else if (cmd == "list" || cmd == "l") {
      list(session.where().module, session.where().line);
    } else if (cmd == "print" || cmd == "p") {
      std::string expr = rest;
      int frame = -1;
      size_t in = expr.rfind(" in ");
      if (in != std::string::npos) {
        std::string sel = trim(expr.substr(in + 4));
        const auto& st = session.stack();
        bool digits = !sel.empty() && sel.find_first_not_of("0123456789") == std::string::npos;
        if (digits && static_cast<size_t>(std::atoi(sel.c_str())) < st.size()) frame = std::atoi(sel.c_str());
        for (size_t i = st.size(); !digits && i-- > 0;)
          if (st[i].function == sel) {
            frame = static_cast<int>(i);
            break;
          }
        if (frame >= 0) expr = trim(expr.substr(0, in));
      }
      std::string reply = display_text(session.evaluate(expr, frame));
      if (!reply.empty() && reply[0] == '=') say(reply.substr(1));
      else say("error: " + (reply.empty() ? reply : reply.substr(1)));
    } else {
      say("unknown command '" + cmd + "' (help lists them)");
    }
  }

  // Returns true when the command was used, false when it must wait for a stop.
  bool command(const std::string& line) {
    std::string l = trim(line);
    if (l.empty() || l[0] == '#') return true;
    size_t sp = l.find(' ');
    std::string cmd = l.substr(0, sp), rest = sp == std::string::npos ? "" : trim(l.substr(sp + 1));
    if (setup_command(cmd, rest)) return true;
    if (!session.stopped()) {
      if ((cmd == "quit" || cmd == "q") && !session.running()) {
        quit = true;
        return true;
      }
      if (interactive) {
        say("the program is not stopped");
        return true;
      }
      return false;
    }
    stop_command(cmd, rest);
    return true;
  }
};
}  // namespace

int run_terminal(Session& session, ModuleFolder& folder, Breakpoints& points, int input_fd, bool interactive) {
  Terminal t{session, folder, points, interactive};
  session.on_connected = [&] {
    t.ran = true;
    t.say("run started");
  };
  session.on_stopped = [&] { t.show_stop(); };
  session.on_ended = [&] { t.say("run ended"); };
  session.on_output = [&](Output kind, const std::string& text) {
    switch (kind) {
      case Output::Log: t.say("(L) " + text); break;
      case Output::Error: t.say("(E) " + text); break;
      case Output::Report: t.say("error: " + display_text(text)); break;
      case Output::Trace:
        t.say(std::string("trace: ") + (text[0] == 'A' ? "call " : "return ") + text.substr(1));
        break;
    }
  };
  LineReader in(input_fd);
  std::optional<std::string> held;
  bool prompted = false;
  while (!t.quit) {
    if (held && session.stopped()) {
      std::string c = *held;
      held.reset();
      t.command(c);
      continue;
    }
    if (in.eof() && !held) {
      // Out of commands: the run goes on without stopping, and the tool ends with it.
      if (session.stopped()) session.resume(Step::Continue);
      if (!session.running() && t.ran) break;
      session.pump(200);
      continue;
    }
    if (!held) {
      if (auto line = in.take()) {
        prompted = false;
        if (!t.command(*line)) held = *line;
        continue;
      }
      if (interactive && session.stopped() && !prompted) {
        std::cout << "(dbg) ";
        std::cout.flush();
        prompted = true;
      }
    }
    // Stopped: the next command. Running: the program, with an eye on the input.
    if (session.stopped()) {
      pollfd p{in.fd(), POLLIN, 0};
      poll(&p, 1, -1);
      in.fill();
    } else {
      if (!held) {
        pollfd p{in.fd(), POLLIN, 0};
        if (poll(&p, 1, 0) > 0) in.fill();
      }
      session.pump(50);
    }
  }
  return 0;
}
