// One debugged run as the front end sees it: the messages of scriptcgi-debug turned into
// module fetches, stops, output and the end, and the commands of a stop (evaluate, step,
// break points). The terminal and the DAP server both drive it.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/dbg/breakpoints.h"
#include "tools/dbg/frontlink.h"
#include "tools/dbg/modules.h"

struct StackFrame {
  std::string module, function;
  int line = 0, column = 0;
};

enum class Output { Log, Error, Trace, Report };
enum class Step { Continue = 1, Into = 2, Over = 3, Out = 4 };

class Session {
 public:
  Session(FrontLink& link, ModuleFolder& folder, Breakpoints& points) : link_(link), folder_(folder), points_(points) {}

  std::function<void()> on_connected, on_stopped, on_ended;
  std::function<void(Output, const std::string&)> on_output;

  // Waits up to timeout_ms for the next connection or message and handles it.
  void pump(int timeout_ms);
  bool running() const { return link_.connected(); }
  bool stopped() const { return stopped_; }
  // Innermost frame last, as the program sends them.
  const std::vector<StackFrame>& stack() const { return stack_; }
  const StackFrame& where() const { return where_; }

  // While stopped: the reply text of an evaluation in frame index (-1: the innermost).
  std::string evaluate(const std::string& expr, int frame = -1);
  // Resumes. Into and Over repeat quietly while the stop stays on the same line of the same
  // frame, so that one command moves by a line.
  void resume(Step how);
  // Ends the run: step command 0.
  void end_run();
  // A module's tables changed: sent at once while stopped, else at the next stop (a module not
  // yet fetched gets them with the fetch).
  void update_tables(const std::string& module);

 private:
  void handle(const std::string& m);
  void dispatch(const std::string& m);
  void stopped_at(const std::string& stack, const std::string& where);
  void ended();

  FrontLink& link_;
  ModuleFolder& folder_;
  Breakpoints& points_;
  bool live_ = false;   // a run is connected and its end not yet reported
  bool stopped_ = false;
  bool pending_ = false;
  std::string pending_text_;
  std::vector<StackFrame> stack_;
  StackFrame where_;
  std::optional<Step> repeating_;
  StackFrame origin_;
  size_t origin_depth_ = 0;
  std::vector<std::string> dirty_;
};

// "module:function:line:column" entries separated by ";"; false when the text is no call stack.
bool parse_call_stack(const std::string& text, std::vector<StackFrame>* out);
