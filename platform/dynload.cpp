// Dynamic loading of shared libraries (the ODBC driver manager).
#include <dlfcn.h>

#include "platform/platform.h"

void* dyn_open(const char* path) { return dlopen(path, RTLD_NOW); }

void* dyn_symbol(void* lib, const char* name) { return dlsym(lib, name); }

const char* dyn_error() {
  const char* e = dlerror();
  return e ? e : "";
}
