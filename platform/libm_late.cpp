// The few libm functions the engine calls, resolved from libm when first called.
//
// Mapping and relocating libm costs about 0.1 ms at every process start, a sixth of a small
// request, while a request rarely calls into it. The programs are linked with
// --wrap=pow,round,fegetround,fesetround and --as-needed (see CMakeLists.txt), so every call of
// these, the C++ runtime's included, comes here, and libm is not loaded at start.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

void* libm_symbol(const char* name) {
  static void* lib = dyn_open("libm.so.6");
  void* sym = lib ? dyn_symbol(lib, name) : nullptr;
  if (!sym) {
    // Every system the engine runs on has libm; without it no number could be raised.
    std::fprintf(stderr, "libm.so.6: %s: %s\n", name, dyn_error());
    std::abort();
  }
  return sym;
}

template <typename F>
F resolved(F* slot, const char* name) {
  F f = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
  if (!f) {
    f = reinterpret_cast<F>(libm_symbol(name));
    __atomic_store_n(slot, f, __ATOMIC_RELEASE);
  }
  return f;
}

using PowFn = double (*)(double, double);
using RoundFn = double (*)(double);
using GetRoundFn = int (*)();
using SetRoundFn = int (*)(int);
PowFn pow_fn;
RoundFn round_fn;
GetRoundFn getround_fn;
SetRoundFn setround_fn;

}  // namespace

extern "C" {
double __wrap_pow(double x, double y) { return resolved(&pow_fn, "pow")(x, y); }
double __wrap_round(double x) { return resolved(&round_fn, "round")(x); }
int __wrap_fegetround() { return resolved(&getround_fn, "fegetround")(); }
int __wrap_fesetround(int mode) { return resolved(&setround_fn, "fesetround")(mode); }
}
