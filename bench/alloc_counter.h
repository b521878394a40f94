// Counts every heap allocation the process makes, from any library, so the
// benchmark can tell whether the frame path allocates. Compiled into the
// benchmark binary only.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Allocations (malloc, calloc, realloc, and the aligned forms, which
// operator new reaches too) since the process started.
unsigned long long rigweave_bench_allocations(void);

#ifdef __cplusplus
}
#endif
