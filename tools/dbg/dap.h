// The Debug Adapter Protocol server of the debug front end (Content-Length framed JSON).
#pragma once

// Serves one client on the given descriptors until it disconnects. Returns the exit status.
int run_dap(int in_fd, int out_fd);
