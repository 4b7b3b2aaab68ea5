// The pages every start touches, mapped in a few calls before anything touches them.
#include <link.h>
#include <sys/auxv.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include "platform/layout.h"

// Aligned below a page and above any small variable, this sorts after every LARGE_STATIC array
// and before all small variables (platform/layout.h): the small ones run from here to the end of
// the program's storage.
alignas(2048) char small_statics_begin;
extern "C" char _end[];

// Without the calls (a kernel before 5.14) the pages fault in one by one as before.
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ) && !defined(__SANITIZE_ADDRESS__)
static void populate(uintptr_t lo, uintptr_t hi, int how) {
  lo &= ~uintptr_t{4095};
  hi = (hi + 4095) & ~uintptr_t{4095};
  madvise(reinterpret_cast<void*>(lo), hi - lo, how);
}

// Before the other static constructors, which are among the first to write the small variables.
// One call maps their pages (a fault each costs about twice as much); another maps the program's
// code and constants, which would otherwise fault in a window at a time; a third the heap's
// first pages.
[[gnu::constructor(101)]] static void populate_start_pages() {
  populate(reinterpret_cast<uintptr_t>(&small_statics_begin), reinterpret_cast<uintptr_t>(_end),
           MADV_POPULATE_WRITE);
  // The heap's first extension (made for the runtime's exception pool) is where a request's
  // first allocations go: from the next chunk to its end, in one more call.
  void* next = std::malloc(1);
  uintptr_t from = reinterpret_cast<uintptr_t>(next), end = reinterpret_cast<uintptr_t>(sbrk(0));
  std::free(next);
  if (end > from && end - from < (uintptr_t{1} << 20)) populate(from, end, MADV_POPULATE_WRITE);
  auto* ph = reinterpret_cast<const ElfW(Phdr)*>(getauxval(AT_PHDR));
  size_t n = getauxval(AT_PHNUM);
  uintptr_t bias = 0;
  bool placed = false;   // where the program was loaded, known from its own header entry
  for (size_t i = 0; i < n; i++)
    if (ph[i].p_type == PT_PHDR) {
      bias = reinterpret_cast<uintptr_t>(ph) - ph[i].p_vaddr;
      placed = true;
    }
  for (size_t i = 0; placed && i < n; i++)
    if (ph[i].p_type == PT_LOAD && !(ph[i].p_flags & PF_W))
      populate(bias + ph[i].p_vaddr, bias + ph[i].p_vaddr + ph[i].p_memsz, MADV_POPULATE_READ);
}
#endif
