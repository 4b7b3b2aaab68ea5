// The link's byte channel over a connected socket, shared by the engine and the debug front end.
#pragma once

#include "debuglink/wire.h"

// A channel that polls, receives and sends on *fd (retrying on EINTR; sends never raise SIGPIPE).
LinkIo socket_link_io(int* fd);
