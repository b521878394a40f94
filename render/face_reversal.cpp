#include "render/face_reversal.h"

#include <cstdint>

#include "render/limits.h"
#include "render/triple_lanes.h"

namespace rigweave {

bool FaceReversalJob::Validate() const {
  if (input.size != output.size || input.size > static_cast<size_t>(kMaxSubmeshFaces)) return false;
  if (input.size > 0 && (input.data == nullptr || output.data == nullptr)) return false;
  return SameOrApart(input, output);
}

bool FaceReversalJob::Run() const {
  if (!Validate()) return false;
  const size_t count = input.size;
  size_t i = 0;
#if defined(__SSE2__)
  static_assert(sizeof(csTriangle) == 3 * sizeof(float), "triangles move as 32-bit lanes");
  // Four triangles are loaded before any of them is stored: in place works.
  const auto* in = reinterpret_cast<const __m128i*>(input.data);
  auto* out = reinterpret_cast<__m128i*>(output.data);
  for (; i + 4 <= count; i += 4, in += 3, out += 3) {
    const lanes::Quad q{_mm_castsi128_ps(_mm_loadu_si128(in)),
                        _mm_castsi128_ps(_mm_loadu_si128(in + 1)),
                        _mm_castsi128_ps(_mm_loadu_si128(in + 2))};
    const lanes::Quad turned = lanes::SwapSecondAndThird(q);
    _mm_storeu_si128(out, _mm_castps_si128(turned.r0));
    _mm_storeu_si128(out + 1, _mm_castps_si128(turned.r1));
    _mm_storeu_si128(out + 2, _mm_castps_si128(turned.r2));
  }
#endif
  for (; i < count; i++) {
    const csTriangle face = input.data[i];
    output.data[i] = {face.a, face.c, face.b};
  }
  return true;
}

}  // namespace rigweave
