#include "host/clock.h"

#include <chrono>

namespace {
csTickSource tickSource = nullptr;
void* tickContext = nullptr;

csTicks WallTicks() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  return static_cast<csTicks>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}
}  // namespace

extern "C" csTicks csGetTicks() {
  return tickSource != nullptr ? tickSource(tickContext) : WallTicks();
}

extern "C" void csSetTickSource(csTickSource source, void* context) {
  tickSource = source;
  tickContext = context;
}
