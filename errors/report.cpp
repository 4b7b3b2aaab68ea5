// The reporter: empty until the driver installs its hooks.
#include "errors/report.h"

Reporter reporter = {};

void set_reporter(const Reporter& r) { reporter = r; }
