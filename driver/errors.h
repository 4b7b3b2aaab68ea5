// Errors and unwinding as the driver and its tests use them: the jump stack, raising, the
// reporter and the error records.
#pragma once
#include "errors/jump.h"
#include "errors/raise.h"
#include "errors/report.h"
#include "store/store.h"
