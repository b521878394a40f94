// Every C++ allocation in a binary that links this is counted, so a test can
// demand that drawing allocates nothing once warmed up. Mesa allocates with
// malloc, which is its own business. Kept apart from the tests so that the
// compiler never sees a replaced new and delete inlined side by side.
#include <atomic>
#include <cstdlib>
#include <new>

std::atomic<long> rigweaveAllocations{0};

void* operator new(std::size_t size) {
  rigweaveAllocations++;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
