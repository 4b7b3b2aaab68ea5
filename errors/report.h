// Where the engine's texts go: the hooks that the driver installs at start-up (the journal,
// standard output, the debugger link). Until then a raise reports nothing and its record is
// undefined.
#pragma once
#include <cstddef>

#include "errors/jump.h"

struct Reporter {
  // The name of module list entry index, for the position in an error text.
  const char* (*module_name)(int index);
  // The error record that a raise carries for code and its whole text.
  DW (*error_record)(int code, const char* text, size_t len);
  // Appends to the journal of the request.
  void (*journal)(const char* text, size_t len);
  // Shows an error text where the run is watched (the command line's output, the debugger).
  void (*error_text)(const char* text, size_t len);
  // Console output of the script: the label ('L' log, 'E' error) and the text.
  void (*console)(char label, const char* text, size_t len);
  // Jump-stack index of a debugger evaluation in progress, -1 when there is none.
  int (*debug_eval_frame)();
  // The fatal stop's record, journal and closing of the outputs; the process then ends.
  void (*fatal)(const char* message, size_t len);
};

extern Reporter reporter;
void set_reporter(const Reporter& r);
