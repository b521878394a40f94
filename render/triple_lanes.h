// Four vertices (or triangles) are twelve 32-bit values in three registers:
//   r0 = x0 y0 z0 x1   r1 = y1 z1 x2 y2   r2 = z2 x3 y3 z3
// Exchanging each y with its z leaves every x in place; the same
// permutation exchanges each triangle's b and c. The frame's units run it
// on every vertex and face, four at a time instead of one.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

namespace rigweave {
namespace lanes {

struct Quad {
  __m128 r0, r1, r2;
};

inline Quad SwapSecondAndThird(const Quad& q) {
  const __m128 r1Tail = _mm_shuffle_ps(q.r1, q.r2, _MM_SHUFFLE(0, 0, 3, 2));  // x2 y2 z2 z2
  const __m128 r1Head = _mm_shuffle_ps(q.r1, q.r2, _MM_SHUFFLE(1, 1, 3, 3));  // y2 y2 x3 x3
  return {_mm_shuffle_ps(q.r0, q.r0, _MM_SHUFFLE(3, 1, 2, 0)),
          _mm_shuffle_ps(q.r1, r1Tail, _MM_SHUFFLE(2, 0, 0, 1)),
          _mm_shuffle_ps(r1Head, q.r2, _MM_SHUFFLE(2, 3, 2, 0))};
}

}  // namespace lanes
}  // namespace rigweave
#endif
