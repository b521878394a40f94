#include "host/static_cleanup.h"

#include <cstdlib>

namespace {

// Plain storage, constant-initialised: the list works from any static
// constructor and needs no destructor of its own.
csStaticCleanupFunc* cleanupFuncs = nullptr;
int cleanupCount = 0;
int cleanupCapacity = 0;
constexpr int kCleanupGrowth = 10;

}  // namespace

void RegisterStaticCleanup(csStaticCleanupFunc func) {
  if (func == nullptr) {
    for (int i = cleanupCount - 1; i >= 0; i--) cleanupFuncs[i]();
    std::free(cleanupFuncs);
    cleanupFuncs = nullptr;
    cleanupCount = cleanupCapacity = 0;
    return;
  }
  if (cleanupCount >= cleanupCapacity) {
    const int capacity = cleanupCapacity + kCleanupGrowth;
    void* grown =
        std::realloc(cleanupFuncs, sizeof(csStaticCleanupFunc) * static_cast<size_t>(capacity));
    if (grown == nullptr) return;
    cleanupFuncs = static_cast<csStaticCleanupFunc*>(grown);
    cleanupCapacity = capacity;
  }
  cleanupFuncs[cleanupCount++] = func;
}

int StaticCleanupCount() {
  return cleanupCount;
}
