// Placement of static storage. A process started for each request pays a fault for every page it
// touches first, so the small variables every request uses must share few pages. The link sorts
// variables by alignment, largest first (CMakeLists.txt): an array marked LARGE_STATIC starts a
// page of its own and lands among the large arrays, before all small variables, instead of
// spreading them apart. Mark zero-initialised arrays of a few KB or more, and buffers that only
// some requests use (failure messages, the journal, database state).
#pragma once

#define LARGE_STATIC alignas(4096)
