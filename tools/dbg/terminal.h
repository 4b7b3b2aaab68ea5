// Terminal mode of the debug front end: commands from a terminal, a file or a pipe.
#pragma once
#include <cstdio>

#include "tools/dbg/session.h"

// Runs until "quit", or until a run ends after the commands ran out. Returns the exit status.
int run_terminal(Session& session, ModuleFolder& folder, Breakpoints& points, int input_fd, bool interactive);
