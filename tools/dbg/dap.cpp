// The Debug Adapter Protocol server: requests from an editor on standard input, responses and
// events on standard output (Content-Length framed JSON), the run behind an attach.
#include "tools/dbg/dap.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/dbg/session.h"
#include "tools/dbg/text.h"

using nlohmann::json;

namespace {
class Dap {
 public:
  Dap(int in, int out) : in_(in), out_(out) {}
  int run();

 private:
  void send(json m);
  void event(const std::string& name, json body = json::object());
  void respond(const json& req, json body = json::object());
  void fail(const json& req, const std::string& message);
  void handle(const json& req);
  bool read_input();
  void attach(const json& req);
  void set_breakpoints(const json& req);
  json stack_trace();
  json variables(int frameRef);
  void wire_session();
  // Frame ids are depth + 1 (0 means none).
  int frame_of(const json& args, const char* key) const;

  int in_, out_;
  int seq_ = 1;
  std::string inbuf_;
  bool done_ = false;
  bool last_was_step_ = false;
  std::unique_ptr<FrontLink> link_;
  std::unique_ptr<ModuleFolder> folder_;
  Breakpoints points_;
  std::unique_ptr<Session> session_;
};

void Dap::send(json m) {
  m["seq"] = seq_++;
  std::string body = m.dump(-1, ' ', false, json::error_handler_t::replace);
  std::string all = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  const char* p = all.data();
  size_t n = all.size();
  while (n) {
    ssize_t w = write(out_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      done_ = true;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void Dap::event(const std::string& name, json body) {
  send(json{{"type", "event"}, {"event", name}, {"body", std::move(body)}});
}

void Dap::respond(const json& req, json body) {
  send(json{{"type", "response"}, {"request_seq", req.value("seq", 0)}, {"success", true},
            {"command", req.value("command", "")}, {"body", std::move(body)}});
}

void Dap::fail(const json& req, const std::string& message) {
  send(json{{"type", "response"}, {"request_seq", req.value("seq", 0)}, {"success", false},
            {"command", req.value("command", "")}, {"message", message}});
}

void Dap::wire_session() {
  session_->on_stopped = [this] {
    event("stopped", {{"reason", last_was_step_ ? "step" : "breakpoint"}, {"threadId", 1}, {"allThreadsStopped", true}});
  };
  session_->on_ended = [this] { event("terminated"); };
  session_->on_output = [this](Output kind, const std::string& text) {
    std::string category = kind == Output::Log ? "stdout" : kind == Output::Trace ? "console" : "stderr";
    std::string shown = kind == Output::Trace ? text.substr(1) : display_text(text);
    event("output", {{"category", category}, {"output", shown + "\n"}});
  };
}

void Dap::attach(const json& req) {
  json args = req.value("arguments", json::object());
  int port = 8777;
  if (args.contains("port") && args["port"].is_number_integer()) port = args["port"].get<int>();
  std::string root = args.contains("root") && args["root"].is_string() ? args["root"].get<std::string>() : ".";
  std::string host = args.contains("host") && args["host"].is_string() ? args["host"].get<std::string>() : "127.0.0.1";
  if (session_) {
    fail(req, "already attached");
    return;
  }
  auto link = std::make_unique<FrontLink>();
  if (port <= 0 || port > 65535 || !link->listen_on(host, port)) {
    fail(req, link->error().empty() ? "bad port" : link->error());
    return;
  }
  link_ = std::move(link);
  folder_ = std::make_unique<ModuleFolder>(root);
  session_ = std::make_unique<Session>(*link_, *folder_, points_);
  wire_session();
  respond(req);
  event("initialized");
}

void Dap::set_breakpoints(const json& req) {
  json args = req.value("arguments", json::object());
  std::string path;
  if (args.contains("source") && args["source"].is_object() && args["source"].contains("path") &&
      args["source"]["path"].is_string())
    path = args["source"]["path"].get<std::string>();
  std::string module = folder_ ? folder_->name_for_path(path) : std::string();
  std::vector<Breakpoint> set;
  json out = json::array();
  if (args.contains("breakpoints") && args["breakpoints"].is_array()) {
    for (const auto& b : args["breakpoints"]) {
      int line = b.contains("line") && b["line"].is_number_integer() ? b["line"].get<int>() : 0;
      Breakpoint bp{line, "", ""};
      if (b.contains("condition") && b["condition"].is_string()) bp.condition = b["condition"].get<std::string>();
      if (b.contains("logMessage") && b["logMessage"].is_string()) bp.trace = b["logMessage"].get<std::string>();
      bool ok = !module.empty() && line > 0 && line <= 65535;
      if (ok) set.push_back(bp);
      json r = {{"verified", ok}, {"line", line}};
      if (!ok) r["message"] = module.empty() ? "not under the module folder" : "bad line";
      out.push_back(r);
    }
  }
  if (!module.empty()) {
    points_.set(module, set);
    if (session_) session_->update_tables(module);
  }
  respond(req, {{"breakpoints", out}});
}

int Dap::frame_of(const json& args, const char* key) const {
  if (!args.contains(key) || !args[key].is_number_integer()) return -1;
  int id = args[key].get<int>();
  if (!session_ || id < 1 || static_cast<size_t>(id) > session_->stack().size()) return -1;
  return id - 1;
}

json Dap::stack_trace() {
  json frames = json::array();
  const auto& st = session_->stack();
  for (size_t i = st.size(); i-- > 0;) {
    const StackFrame& f = st[i];
    json fr = {{"id", static_cast<int>(i) + 1},
               {"name", f.function.empty() ? "(top level)" : f.function},
               {"line", f.line > 0 ? f.line : 1},
               {"column", f.column > 0 ? f.column : 1}};
    std::string path = folder_->path_of(f.module);
    if (!path.empty() && access(path.c_str(), F_OK) == 0) {
      char buf[4096];
      fr["source"] = {{"name", f.module}, {"path", realpath(path.c_str(), buf) ? std::string(buf) : path}};
    }
    frames.push_back(fr);
  }
  return {{"stackFrames", frames}, {"totalFrames", frames.size()}};
}

json Dap::variables(int frame) {
  json vars = json::array();
  const StackFrame& f = session_->stack()[static_cast<size_t>(frame)];
  for (const auto& name : folder_->declared_names(f.module, f.function)) {
    std::string reply = display_text(session_->evaluate(name, frame));
    if (!session_->stopped()) break;
    std::string value = reply.empty() ? "" : reply.substr(1);
    vars.push_back({{"name", name}, {"value", value}, {"variablesReference", 0}});
  }
  return {{"variables", vars}};
}

void Dap::handle(const json& req) {
  if (!req.is_object() || req.value("type", "") != "request" || !req.contains("command") || !req["command"].is_string())
    return;
  std::string cmd = req["command"].get<std::string>();
  json args = req.value("arguments", json::object());
  if (!args.is_object()) args = json::object();
  bool stopped = session_ && session_->stopped();
  if (cmd == "initialize") {
    respond(req, {{"supportsConfigurationDoneRequest", true},
                  {"supportsConditionalBreakpoints", true},
                  {"supportsLogPoints", true},
                  {"supportsEvaluateForHovers", true}});
  } else if (cmd == "attach") {
    attach(req);
  } else if (cmd == "setBreakpoints") {
    set_breakpoints(req);
  } else if (cmd == "configurationDone") {
    respond(req);
  } else if (cmd == "threads") {
    respond(req, {{"threads", json::array({{{"id", 1}, {"name", "scriptcgi"}}})}});
  } else if (cmd == "stackTrace") {
    if (!stopped) return fail(req, "not stopped");
    respond(req, stack_trace());
  } else if (cmd == "scopes") {
    int frame = frame_of(args, "frameId");
    if (!stopped || frame < 0) return fail(req, "no such frame");
    bool top = session_->stack()[static_cast<size_t>(frame)].function.empty();
    respond(req, {{"scopes", json::array({{{"name", top ? "Globals" : "Locals"},
                                           {"variablesReference", frame + 1},
                                           {"expensive", false}}})}});
  } else if (cmd == "variables") {
    int frame = frame_of(args, "variablesReference");
    if (!stopped || frame < 0) return fail(req, "no such variables");
    respond(req, variables(frame));
  } else if (cmd == "evaluate") {
    if (!stopped) return fail(req, "not stopped");
    std::string expr = args.contains("expression") && args["expression"].is_string() ? args["expression"].get<std::string>() : "";
    std::string reply = display_text(session_->evaluate(expr, frame_of(args, "frameId")));
    if (reply.empty() || reply[0] != '=') return fail(req, reply.empty() ? "no reply" : reply.substr(1));
    respond(req, {{"result", reply.substr(1)}, {"variablesReference", 0}});
  } else if (cmd == "continue" || cmd == "next" || cmd == "stepIn" || cmd == "stepOut") {
    if (!stopped) return fail(req, "not stopped");
    Step how = cmd == "continue" ? Step::Continue : cmd == "next" ? Step::Over : cmd == "stepIn" ? Step::Into : Step::Out;
    last_was_step_ = how != Step::Continue;
    respond(req, cmd == "continue" ? json{{"allThreadsContinued", true}} : json::object());
    session_->resume(how);
  } else if (cmd == "disconnect") {
    // The run goes on to its end without the debugger.
    if (session_ && session_->stopped()) {
      for (const auto& [module, list] : points_.all()) {
        (void)list;
        points_.set(module, {});
        session_->update_tables(module);
      }
      session_->resume(Step::Continue);
    }
    if (link_) link_->drop();
    respond(req);
    done_ = true;
  } else {
    fail(req, "unsupported request '" + cmd + "'");
  }
}

// Reads what is there and handles every complete message.
bool Dap::read_input() {
  char chunk[65536];
  ssize_t n = read(in_, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  inbuf_.append(chunk, static_cast<size_t>(n));
  for (;;) {
    size_t end = inbuf_.find("\r\n\r\n");
    if (end == std::string::npos) {
      // A header that never ends is dropped rather than kept growing.
      if (inbuf_.size() > 65536) inbuf_.clear();
      return true;
    }
    size_t length = 0;
    bool found = false;
    size_t pos = 0;
    while (pos < end) {
      size_t eol = inbuf_.find("\r\n", pos);
      if (eol == std::string::npos || eol > end) eol = end;
      std::string line = inbuf_.substr(pos, eol - pos);
      static const std::string key = "content-length:";
      if (line.size() > key.size()) {
        std::string head = line.substr(0, key.size());
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (head == key) {
          std::string v = trim(line.substr(key.size()));
          if (!v.empty() && v.size() < 10 && v.find_first_not_of("0123456789") == std::string::npos) {
            length = std::stoul(v);
            found = true;
          }
        }
      }
      pos = eol + 2;
    }
    if (!found) {
      inbuf_.erase(0, end + 4);
      continue;
    }
    if (inbuf_.size() < end + 4 + length) return true;
    std::string body = inbuf_.substr(end + 4, length);
    inbuf_.erase(0, end + 4 + length);
    json req = json::parse(body, nullptr, false);
    if (!req.is_discarded()) handle(req);
    if (done_) return true;
  }
}

int Dap::run() {
  while (!done_) {
    pollfd fds[2] = {{in_, POLLIN, 0}, {-1, POLLIN, 0}};
    // Stopped, the program says nothing: a readable link then means it went away.
    if (session_) fds[1].fd = link_->connected() ? link_->conn_fd() : link_->listen_fd();
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return 1;
    if (fds[1].fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) session_->pump(0);
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (!read_input()) break;
    }
  }
  return 0;
}
}  // namespace

int run_dap(int in_fd, int out_fd) {
  Dap d(in_fd, out_fd);
  return d.run();
}
