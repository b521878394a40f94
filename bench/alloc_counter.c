// The malloc family of the executable takes precedence over the C library's
// for every shared object in the process (the module and Cal3D included),
// and forwards to the C library's own entry points, so counting changes
// neither the allocator nor its memory layout.
#include "bench/alloc_counter.h"

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void* __libc_valloc(size_t size);
extern void* __libc_pvalloc(size_t size);
extern void __libc_free(void* pointer);

static unsigned long long allocations;

static void Count(void) {
  __atomic_fetch_add(&allocations, 1, __ATOMIC_RELAXED);
}

unsigned long long rigweave_bench_allocations(void) {
  return __atomic_load_n(&allocations, __ATOMIC_RELAXED);
}

void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
  Count();
  return __libc_realloc(pointer, size);
}

void free(void* pointer) {
  __libc_free(pointer);
}

void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
  if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
    return EINVAL;
  Count();
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == NULL) return ENOMEM;
  *result = pointer;
  return 0;
}

void* valloc(size_t size) {
  Count();
  return __libc_valloc(size);
}

void* pvalloc(size_t size) {
  Count();
  return __libc_pvalloc(size);
}
