// The global table: process-wide (name word, value) slots, searched by masked name index.
#pragma once
#include <cstdint>

#include "store/store.h"

constexpr uint32_t NAME_MASK = 0x0FFFFFFF;   // names compare under this mask
constexpr uint32_t CONST_BIT = 0x80000000;   // name word bit 31: a const binding

struct VarSlot {
  uint32_t name;  // name index in bits 0-27, CONST_BIT for const
  DW value;
};

extern VarSlot* global_table;
extern int global_top;        // index of the last used slot, -1 when empty
extern int global_capacity;

// Index of the slot holding the name, searching from slot 0 upward; -1 when absent.
int global_find_up(uint32_t name);
// Index of the slot holding the name, searching from global_top down; -1 when absent.
int global_find_down(uint32_t name);
// Appends a slot (the table grows by 512 slots) and returns its index. Takes no reference.
int global_append(uint32_t name, DW value);
// Replaces the value of an existing slot (last to first) or appends one; takes a reference on
// the new value and releases the old one.
void global_define(uint32_t name, DW value);
