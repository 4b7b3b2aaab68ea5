// Break-point tables of the debug front end and their link forms.
#include "tools/dbg/breakpoints.h"

namespace {
// ";" ends an entry on the link: it cannot appear inside one.
std::string entry_text(const std::string& s) {
  std::string out;
  for (char c : s) out += c == ';' ? ',' : c;
  return out;
}

void parts(const std::vector<Breakpoint>& points, std::string* traces, std::string* lines, std::string* conds) {
  for (const auto& b : points) {
    if (!b.trace.empty()) *traces += std::to_string(b.line) + ":" + entry_text(b.trace) + ";";
    else if (!b.condition.empty()) *conds += std::to_string(b.line) + ":" + entry_text(b.condition) + ";";
    else *lines += std::to_string(b.line) + ":";
  }
}
}  // namespace

void Breakpoints::add(const std::string& module, const Breakpoint& b) {
  auto& v = by_module_[module];
  for (auto& o : v)
    if (o.line == b.line && o.trace.empty() == b.trace.empty()) {
      o = b;
      return;
    }
  v.push_back(b);
}

bool Breakpoints::remove(const std::string& module, int line) {
  auto it = by_module_.find(module);
  if (it == by_module_.end()) return false;
  size_t before = it->second.size();
  std::erase_if(it->second, [line](const Breakpoint& b) { return b.line == line; });
  return it->second.size() != before;
}

const std::vector<Breakpoint>& Breakpoints::of(const std::string& module) const {
  static const std::vector<Breakpoint> none;
  auto it = by_module_.find(module);
  return it == by_module_.end() ? none : it->second;
}

std::string Breakpoints::fetch_tables(const std::string& module) const {
  const auto& points = of(module);
  if (points.empty()) return "&&&&";
  std::string traces, lines, conds;
  parts(points, &traces, &lines, &conds);
  return traces + "###" + lines + "$$$" + conds;
}

std::vector<std::string> Breakpoints::messages(const std::string& module) const {
  std::string traces, lines, conds;
  parts(of(module), &traces, &lines, &conds);
  return {"T" + module + ":" + traces, "B" + module + ":" + lines, "b" + module + ":" + conds};
}
