// Program entry of scriptcgi and scriptcgi-debug.
#include "driver/run.h"

int main(int argc, char** argv) { return run_main(argc, argv); }
