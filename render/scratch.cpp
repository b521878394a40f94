#include "render/scratch.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rigweave {

DrawScratch& GetDrawScratch() {
  static DrawScratch scratch;
  return scratch;
}

csVector3* GetBoundsScratch() {
  static csVector3 vertices[kMaxSubmeshVertices];
  return vertices;
}

const AxisTurn& GetAxisTurn() {
  static const AxisTurn turn = [] {
    const double angle = -1.57f;
    return AxisTurn{static_cast<float>(std::sin(angle)), static_cast<float>(std::cos(angle))};
  }();
  return turn;
}

#if defined(__SSE2__)
namespace {

// Four vertices (or triangles) are twelve 32-bit values in three registers:
//   r0 = x0 y0 z0 x1   r1 = y1 z1 x2 y2   r2 = z2 x3 y3 z3
// Exchanging each y with its z leaves every x in place; the same
// permutation exchanges each triangle's b and c. The frame path runs it on
// every vertex and face, four at a time instead of one.
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

}  // namespace
#endif

void ToEngineSpace(csVector3* vertices, int count, float factor) {
  const AxisTurn turn = GetAxisTurn();
  int i = 0;
#if defined(__SSE2__)
  // Lane by lane the products and sums of the loop below, so that every
  // result other than a NaN is the same to the last bit: c*y + (-s)*z is
  // c*y - s*z, and an x lane gets x*f*1 + (-0), which is x*f, signed zeros
  // included. Only which NaN comes out of NaN input may differ, as it
  // already does between compilers for the plain loop.
  const float c = turn.cosine, s = turn.sine;
  const __m128 f = _mm_set1_ps(factor);
  const __m128 own0 = _mm_setr_ps(1, c, c, 1), own1 = _mm_setr_ps(c, c, 1, c),
               own2 = _mm_setr_ps(c, 1, c, c);
  const __m128 other0 = _mm_setr_ps(0, -s, s, 0), other1 = _mm_setr_ps(-s, s, 0, -s),
               other2 = _mm_setr_ps(s, 0, -s, s);
  const __m128 negZero = _mm_set1_ps(-0.0f);
  const __m128 isX0 = _mm_castsi128_ps(_mm_setr_epi32(-1, 0, 0, -1)),
               isX1 = _mm_castsi128_ps(_mm_setr_epi32(0, 0, -1, 0)),
               isX2 = _mm_castsi128_ps(_mm_setr_epi32(0, -1, 0, 0));
  auto mix = [&](__m128 own, __m128 across, __m128 ownScale, __m128 otherScale, __m128 isX) {
    const __m128 mixed = _mm_mul_ps(across, otherScale);
    const __m128 added = _mm_or_ps(_mm_andnot_ps(isX, mixed), _mm_and_ps(isX, negZero));
    return _mm_add_ps(_mm_mul_ps(own, ownScale), added);
  };
  float* p = &vertices[0].x;
  for (; i + 4 <= count; i += 4, p += 12) {
    const Quad scaled{_mm_mul_ps(_mm_loadu_ps(p), f), _mm_mul_ps(_mm_loadu_ps(p + 4), f),
                      _mm_mul_ps(_mm_loadu_ps(p + 8), f)};
    const Quad partner = SwapSecondAndThird(scaled);
    _mm_storeu_ps(p, mix(scaled.r0, partner.r0, own0, other0, isX0));
    _mm_storeu_ps(p + 4, mix(scaled.r1, partner.r1, own1, other1, isX1));
    _mm_storeu_ps(p + 8, mix(scaled.r2, partner.r2, own2, other2, isX2));
  }
#endif
  for (; i < count; i++) {
    csVector3& v = vertices[i];
    const float x = v.x * factor, y = v.y * factor, z = v.z * factor;
    v.x = x;
    v.y = turn.cosine * y - turn.sine * z;
    v.z = turn.sine * y + turn.cosine * z;
  }
}

void ReverseWinding(csTriangle* faces, int count) {
  int i = 0;
#if defined(__SSE2__)
  static_assert(sizeof(csTriangle) == 3 * sizeof(float), "triangles move as 32-bit lanes");
  auto* p = reinterpret_cast<__m128i*>(faces);
  for (; i + 4 <= count; i += 4, p += 3) {
    const Quad q{_mm_castsi128_ps(_mm_loadu_si128(p)), _mm_castsi128_ps(_mm_loadu_si128(p + 1)),
                 _mm_castsi128_ps(_mm_loadu_si128(p + 2))};
    const Quad turned = SwapSecondAndThird(q);
    _mm_storeu_si128(p, _mm_castps_si128(turned.r0));
    _mm_storeu_si128(p + 1, _mm_castps_si128(turned.r1));
    _mm_storeu_si128(p + 2, _mm_castps_si128(turned.r2));
  }
#endif
  for (; i < count; i++) {
    csTriangle& face = faces[i];
    const int32_t b = face.b;
    face.b = face.c;
    face.c = b;
  }
}

}  // namespace rigweave
