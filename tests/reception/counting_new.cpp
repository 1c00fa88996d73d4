// The replaced operator new and delete live in a file of their own: where
// the compiler can inline them into a new/delete pair, it reads free() on
// the pointer as a mismatched deallocation.
#include "counting_new.h"

#include <cstdlib>
#include <new>

thread_local bool g_counting = false;
thread_local long g_allocations = 0;

void* operator new(std::size_t size) {
  if (g_counting) ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
