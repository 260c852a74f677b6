#include "tests/support/allocation_counter.h"

#include <cerrno>
#include <cstdlib>
#include <new>

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}
#endif

namespace {
// Process state: the replaced functions have no other way to reach a test.
bool counting = false;
long allocations = 0;

void count() {
  if (counting) ++allocations;
}

// operator new takes its memory past the replaced malloc, so that one block
// counts once.
void* raw_malloc(size_t n) {
#if !defined(__SANITIZE_ADDRESS__)
  return __libc_malloc(n);
#else
  return std::malloc(n);
#endif
}
}  // namespace

void start_counting() {
  allocations = 0;
  counting = true;
}

long stop_counting() {
  counting = false;
  return allocations;
}

// new pairs with malloc and delete with free by design, which GCC cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  count();
  if (void* p = raw_malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return count(), raw_malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return count(), raw_malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* malloc(size_t n) { return count(), __libc_malloc(n); }
void* calloc(size_t n, size_t m) { return count(), __libc_calloc(n, m); }
void* realloc(void* p, size_t n) { return count(), __libc_realloc(p, n); }
void* memalign(size_t a, size_t n) { return count(), __libc_memalign(a, n); }
void* aligned_alloc(size_t a, size_t n) { return count(), __libc_memalign(a, n); }
int posix_memalign(void** out, size_t a, size_t n) {
  count();
  void* p = __libc_memalign(a, n);
  return p ? (*out = p, 0) : ENOMEM;
}
}
#endif
