// Break points, conditional break points and trace points of the debug front end, by module,
// and their forms on the link (module-fetch tables and the "B", "b", "T" messages).
#pragma once
#include <map>
#include <string>
#include <vector>

struct Breakpoint {
  int line = 0;
  std::string condition;   // a conditional break point when not empty
  std::string trace;       // a trace point with this label when not empty (never stops)
};

class Breakpoints {
 public:
  void set(const std::string& module, std::vector<Breakpoint> points) { by_module_[module] = std::move(points); }
  void add(const std::string& module, const Breakpoint& b);
  bool remove(const std::string& module, int line);
  const std::vector<Breakpoint>& of(const std::string& module) const;
  const std::map<std::string, std::vector<Breakpoint>>& all() const { return by_module_; }
  // The second reply of a module fetch: traces "###" lines "$$$" conditions, "&&&&" for none.
  std::string fetch_tables(const std::string& module) const;
  // The three messages that replace the module's tables while the program is stopped.
  std::vector<std::string> messages(const std::string& module) const;

 private:
  std::map<std::string, std::vector<Breakpoint>> by_module_;
};
