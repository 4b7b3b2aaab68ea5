// The store's generation: counts store_reset calls, so that a cache keeping handles across
// calls can tell that they no longer stand for anything.
#pragma once
#include <cstdint>

extern uint32_t store_generation;
