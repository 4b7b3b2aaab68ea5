// The run as the front end sees it: message kinds, the call stack that precedes a stop, the
// quiet repetition of line steps, evaluations and table updates.
#include "tools/dbg/session.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>

namespace {
bool parse_int(const std::string& s, int* v) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  *v = std::atoi(s.c_str());
  return true;
}

bool parse_entry(const std::string& e, StackFrame* f) {
  size_t c3 = e.rfind(':');
  if (c3 == std::string::npos || c3 == 0) return false;
  size_t c2 = e.rfind(':', c3 - 1);
  if (c2 == std::string::npos || c2 == 0) return false;
  size_t c1 = e.rfind(':', c2 - 1);
  if (c1 == std::string::npos) return false;
  f->module = e.substr(0, c1);
  f->function = e.substr(c1 + 1, c2 - c1 - 1);
  return parse_int(e.substr(c2 + 1, c3 - c2 - 1), &f->line) && parse_int(e.substr(c3 + 1), &f->column) &&
         f->module.find(':') == std::string::npos;
}
}  // namespace

bool parse_call_stack(const std::string& text, std::vector<StackFrame>* out) {
  std::vector<StackFrame> frames;
  size_t start = 0;
  while (true) {
    size_t end = text.find(';', start);
    StackFrame f;
    if (!parse_entry(text.substr(start, end == std::string::npos ? std::string::npos : end - start), &f)) return false;
    frames.push_back(f);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  *out = std::move(frames);
  return true;
}

void Session::pump(int timeout_ms) {
  if (!link_.connected()) {
    pollfd p{link_.listen_fd(), POLLIN, 0};
    int r = poll(&p, 1, timeout_ms);
    if (r > 0 && link_.accept_one()) {
      stopped_ = pending_ = false;
      repeating_.reset();
      dirty_.clear();
      live_ = true;
      if (on_connected) on_connected();
    }
    return;
  }
  auto m = link_.receive(timeout_ms);
  if (m) handle(*m);
  // However the program went away (mid-message, during a reply), its run ends here.
  if (!link_.connected()) ended();
}

void Session::ended() {
  if (!live_) return;
  live_ = false;
  if (pending_) {
    pending_ = false;
    dispatch(pending_text_);
  }
  stopped_ = false;
  link_.drop();
  if (on_ended) on_ended();
}

void Session::handle(const std::string& m) {
  // A call stack carries no kind letter: it is recognised by its form and by the "B" message
  // that follows it. A message of another kind that only looked like one is handled late.
  if (pending_) {
    pending_ = false;
    if (!m.empty() && m[0] == 'B') {
      stopped_at(pending_text_, m.substr(1));
      return;
    }
    dispatch(pending_text_);
  }
  std::vector<StackFrame> frames;
  if (parse_call_stack(m, &frames)) {
    pending_ = true;
    pending_text_ = m;
    return;
  }
  dispatch(m);
}

void Session::dispatch(const std::string& m) {
  if (m.empty()) return;
  std::string text = m.substr(1);
  switch (m[0]) {
    case 'M':
      link_.send(folder_.fetch_reply(text));
      link_.send(points_.fetch_tables(text));
      break;
    case 'D':
      if (on_output) on_output(Output::Report, text);
      break;
    case 'L':
      if (on_output) on_output(Output::Log, text);
      break;
    case 'E':
      if (on_output) on_output(Output::Error, text);
      break;
    case 'A': case 'R':
      if (on_output) on_output(Output::Trace, m);
      break;
    case '#':
      // A conditional break point whose expression failed.
      if (on_output) on_output(Output::Report, m);
      break;
    case 'X':
      ended();
      break;
    case 'B':
      stopped_at("", text);
      break;
    default:
      break;
  }
}

void Session::stopped_at(const std::string& stack, const std::string& where) {
  std::vector<StackFrame> frames;
  parse_call_stack(stack, &frames);
  StackFrame w;
  // "module:line:column"
  size_t c2 = where.rfind(':');
  size_t c1 = c2 == std::string::npos || c2 == 0 ? std::string::npos : where.rfind(':', c2 - 1);
  if (c1 != std::string::npos) {
    w.module = where.substr(0, c1);
    parse_int(where.substr(c1 + 1, c2 - c1 - 1), &w.line);
    parse_int(where.substr(c2 + 1), &w.column);
  }
  if (frames.empty()) frames.push_back(w);
  stopped_ = true;
  std::vector<std::string> dirty;
  dirty.swap(dirty_);
  for (const auto& d : dirty) update_tables(d);
  if (!link_.connected()) return;
  if (repeating_ && w.module == origin_.module && w.line == origin_.line && frames.size() == origin_depth_) {
    // Still on the line the step began on: go on quietly.
    stopped_ = false;
    link_.send("STEP" + std::to_string(static_cast<int>(*repeating_)));
    return;
  }
  repeating_.reset();
  stack_ = std::move(frames);
  where_ = w;
  stopped_ = true;
  if (on_stopped) on_stopped();
}

std::string Session::evaluate(const std::string& expr, int frame) {
  if (!stopped_) return "#not stopped";
  std::string selector;
  if (frame >= 0 && static_cast<size_t>(frame) < stack_.size()) {
    const StackFrame& f = stack_[static_cast<size_t>(frame)];
    selector = f.module + ":" + f.function + ":" + std::to_string(frame) + ":";
  }
  if (!link_.send("E" + selector + ";" + expr)) {
    ended();
    return "#the program went away";
  }
  for (;;) {
    auto m = link_.receive(30000);
    if (!m) {
      if (!link_.connected()) ended();
      return "#no reply";
    }
    if (!m->empty() && ((*m)[0] == '=' || (*m)[0] == '#')) return *m;
    dispatch(*m);
  }
}

void Session::resume(Step how) {
  if (!stopped_) return;
  stopped_ = false;
  if (how == Step::Into || how == Step::Over) {
    repeating_ = how;
    origin_ = where_;
    origin_depth_ = stack_.size();
  } else {
    repeating_.reset();
  }
  if (!link_.send("STEP" + std::to_string(static_cast<int>(how)))) ended();
}

void Session::end_run() {
  if (!stopped_) return;
  stopped_ = false;
  link_.send("STEP0");
}

void Session::update_tables(const std::string& module) {
  if (!stopped_) {
    for (const auto& d : dirty_)
      if (d == module) return;
    dirty_.push_back(module);
    return;
  }
  for (const auto& m : points_.messages(module))
    if (!link_.send(m)) {
      ended();
      return;
    }
}
