// The engine's millisecond clock. It lives in a shared library so that a
// module and the engine that loaded it read the same clock, and so that tests
// and recorders can drive it.
#pragma once

#include <cstdint>

using csTicks = uint32_t;

extern "C" {
// Milliseconds since an arbitrary start; wraps around at 2^32.
csTicks csGetTicks();
// Replaces the clock; null restores the wall clock.
typedef csTicks (*csTickSource)(void* context);
void csSetTickSource(csTickSource source, void* context);
}
