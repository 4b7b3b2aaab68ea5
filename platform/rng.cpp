// State of the system's own random sequence (see platform.h).
#include "platform/platform.h"

uint32_t rng_state = 1;
