// The debugger link's interface, kept under its old name for the driver's users.
#pragma once
#include "eval/debughooks.h"
