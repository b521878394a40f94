#include "render/engine_space.h"

#include <cmath>

#include "render/limits.h"
#include "render/triple_lanes.h"

namespace rigweave {

const AxisTurn& GetAxisTurn() {
  static const AxisTurn turn = [] {
    const double angle = -1.57f;
    return AxisTurn{static_cast<float>(std::sin(angle)), static_cast<float>(std::cos(angle))};
  }();
  return turn;
}

bool EngineSpaceJob::Validate() const {
  if (input.size != output.size || input.size > static_cast<size_t>(kMaxSubmeshVertices))
    return false;
  if (input.size > 0 && (input.data == nullptr || output.data == nullptr)) return false;
  return SameOrApart(input, output);
}

bool EngineSpaceJob::Run() const {
  if (!Validate()) return false;
  const AxisTurn turn = GetAxisTurn();
  const float factor = scale;
  const int count = static_cast<int>(input.size);
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
  // Four vertices are loaded before any of them is stored: in place works.
  const float* in = count > 0 ? &input.data[0].x : nullptr;
  float* out = count > 0 ? &output.data[0].x : nullptr;
  for (; i + 4 <= count; i += 4, in += 12, out += 12) {
    const lanes::Quad scaled{_mm_mul_ps(_mm_loadu_ps(in), f), _mm_mul_ps(_mm_loadu_ps(in + 4), f),
                             _mm_mul_ps(_mm_loadu_ps(in + 8), f)};
    const lanes::Quad partner = lanes::SwapSecondAndThird(scaled);
    _mm_storeu_ps(out, mix(scaled.r0, partner.r0, own0, other0, isX0));
    _mm_storeu_ps(out + 4, mix(scaled.r1, partner.r1, own1, other1, isX1));
    _mm_storeu_ps(out + 8, mix(scaled.r2, partner.r2, own2, other2, isX2));
  }
#endif
  for (; i < count; i++) {
    const csVector3& v = input.data[i];
    const float x = v.x * factor, y = v.y * factor, z = v.z * factor;
    csVector3& w = output.data[i];
    w.x = x;
    w.y = turn.cosine * y - turn.sine * z;
    w.z = turn.sine * y + turn.cosine * z;
  }
  return true;
}

}  // namespace rigweave
