#include "render/lighting_job.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "render/limits.h"

namespace rigweave {

namespace {

constexpr float kTiny = 1e-30f;

#if !defined(__SSE2__)
// One vertex at a time, with a true square root and divisions.
inline float Brightness(const LightTerms& light, float d) {
  switch (light.attenuation) {
    case CS_ATTN_LINEAR:
      return std::max(1.0f - d * light.inverseRadius, 0.0f);
    case CS_ATTN_INVERSE:
      return 1.0f / std::max(d, kTiny);
    case CS_ATTN_REALISTIC:
      return 1.0f / std::max(d * d, kTiny);
    case CS_ATTN_NONE:
      break;
  }
  return 1.0f;
}

// max(0, n . l) * brightness(d) of one vertex.
inline float Share(const LightTerms& light, const csVector3& p, const csVector3& n) {
  const float dx = light.center[0] - p.x, dy = light.center[1] - p.y, dz = light.center[2] - p.z;
  const float squared = dx * dx + dy * dy + dz * dz;
  const float inverse = 1.0f / std::sqrt(std::max(squared, kTiny));
  const float facing = n.x * dx + n.y * dy + n.z * dz;
  return std::max(facing * inverse, 0.0f) * Brightness(light, squared * inverse);
}

void LightOne(const LightingJob& job, const LightTerms* terms, int lightCount, csColor base,
              size_t i) {
  csColor c = base;
  for (int k = 0; k < lightCount; k++) {
    const float share = Share(terms[k], job.positions[i], job.normals[i]);
    c.red += terms[k].rgb[0] * share;
    c.green += terms[k].rgb[1] * share;
    c.blue += terms[k].rgb[2] * share;
  }
  job.output[i] = c;
}
#endif

#if defined(__SSE2__)
struct Lanes3 {
  __m128 x, y, z;
};

// Four packed triples from `v`, transposed: vertex k in lane k.
inline Lanes3 Load4(const csVector3* v) {
  const float* f = &v->x;
  const __m128 a = _mm_loadu_ps(f);                                  // x0 y0 z0 x1
  const __m128 b = _mm_loadu_ps(f + 4);                              // y1 z1 x2 y2
  const __m128 c = _mm_loadu_ps(f + 8);                              // z2 x3 y3 z3
  const __m128 bcx = _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2));  // x2 x2 x3 x3
  const __m128 aby = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1));  // y0 y0 y1 y1
  const __m128 bcy = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3));  // y2 y2 y3 y3
  const __m128 abz = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2));  // z0 z0 z1 z1
  return {_mm_shuffle_ps(a, bcx, _MM_SHUFFLE(2, 0, 3, 0)),
          _mm_shuffle_ps(aby, bcy, _MM_SHUFFLE(2, 0, 2, 0)),
          _mm_shuffle_ps(abz, c, _MM_SHUFFLE(3, 0, 2, 0))};
}

// Lane k of r, g and b to out[k], packed.
inline void Store4(__m128 r, __m128 g, __m128 b, csColor* out) {
  float* f = &out->red;
  const __m128 rgLow = _mm_unpacklo_ps(r, g);                              // r0 g0 r1 g1
  const __m128 rgHigh = _mm_unpackhi_ps(r, g);                             // r2 g2 r3 g3
  const __m128 b0r1 = _mm_shuffle_ps(b, r, _MM_SHUFFLE(1, 1, 0, 0));       // b0 b0 r1 r1
  const __m128 g1b1 = _mm_shuffle_ps(g, b, _MM_SHUFFLE(1, 1, 1, 1));       // g1 g1 b1 b1
  const __m128 b2b3 = _mm_shuffle_ps(b, rgHigh, _MM_SHUFFLE(3, 2, 3, 2));  // b2 b3 r3 g3
  _mm_storeu_ps(f, _mm_shuffle_ps(rgLow, b0r1, _MM_SHUFFLE(2, 0, 1, 0)));
  _mm_storeu_ps(f + 4, _mm_shuffle_ps(g1b1, rgHigh, _MM_SHUFFLE(1, 0, 2, 0)));
  _mm_storeu_ps(f + 8, _mm_shuffle_ps(b2b3, b2b3, _MM_SHUFFLE(1, 3, 2, 0)));
}

// 1 / sqrt(x) to about 23 bits: the estimate and one Newton step, several
// times quicker than a square root and a division.
inline __m128 InverseSqrt4(__m128 x) {
  const __m128 y = _mm_rsqrt_ps(x);
  const __m128 halfX = _mm_mul_ps(_mm_set1_ps(0.5f), x);
  return _mm_mul_ps(y, _mm_sub_ps(_mm_set1_ps(1.5f), _mm_mul_ps(halfX, _mm_mul_ps(y, y))));
}

// The brightness at distance d = squared * inverse, where inverse = 1 / d:
// the inverse kinds need no division of their own.
inline __m128 Brightness4(const LightTerms& light, __m128 squared, __m128 inverse) {
  switch (light.attenuation) {
    case CS_ATTN_LINEAR:
      return _mm_max_ps(_mm_sub_ps(_mm_set1_ps(1.0f), _mm_mul_ps(_mm_mul_ps(squared, inverse),
                                                                 _mm_set1_ps(light.inverseRadius))),
                        _mm_setzero_ps());
    case CS_ATTN_INVERSE:
      return inverse;
    case CS_ATTN_REALISTIC:
      return _mm_mul_ps(inverse, inverse);
    case CS_ATTN_NONE:
      break;
  }
  return _mm_set1_ps(1.0f);
}

// Share() of four vertices, lane by lane.
inline __m128 Share4(const LightTerms& light, const Lanes3& p, const Lanes3& n) {
  const __m128 dx = _mm_sub_ps(_mm_set1_ps(light.center[0]), p.x);
  const __m128 dy = _mm_sub_ps(_mm_set1_ps(light.center[1]), p.y);
  const __m128 dz = _mm_sub_ps(_mm_set1_ps(light.center[2]), p.z);
  const __m128 squared =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
  const __m128 inverse = InverseSqrt4(_mm_max_ps(squared, _mm_set1_ps(kTiny)));
  const __m128 facing =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(n.x, dx), _mm_mul_ps(n.y, dy)), _mm_mul_ps(n.z, dz));
  const __m128 cosine = _mm_max_ps(_mm_mul_ps(facing, inverse), _mm_setzero_ps());
  return _mm_mul_ps(cosine, Brightness4(light, squared, inverse));
}

// Four vertices from `p` and `n` to `out`.
inline void LightFour(const LightTerms* terms, int lightCount, csColor base, const csVector3* p,
                      const csVector3* n, csColor* out) {
  const Lanes3 position = Load4(p), normal = Load4(n);
  __m128 r = _mm_set1_ps(base.red), g = _mm_set1_ps(base.green), b = _mm_set1_ps(base.blue);
  for (int k = 0; k < lightCount; k++) {
    const __m128 share = Share4(terms[k], position, normal);
    r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(terms[k].rgb[0]), share));
    g = _mm_add_ps(g, _mm_mul_ps(_mm_set1_ps(terms[k].rgb[1]), share));
    b = _mm_add_ps(b, _mm_mul_ps(_mm_set1_ps(terms[k].rgb[2]), share));
  }
  Store4(r, g, b, out);
}

// Every vertex four at a time, the last few through copies, so that each
// vertex gets its colour from the same arithmetic wherever it lies.
void LightAll(const LightingJob& job, const LightTerms* terms, int lightCount, csColor base) {
  const size_t count = job.positions.size;
  size_t i = 0;
  for (; i + 4 <= count; i += 4)
    LightFour(terms, lightCount, base, &job.positions[i], &job.normals[i], &job.output[i]);
  if (i == count) return;
  csVector3 p[4], n[4];
  csColor out[4];
  std::copy(&job.positions[i], job.positions.data + count, p);
  std::copy(&job.normals[i], job.normals.data + count, n);
  LightFour(terms, lightCount, base, p, n, out);
  std::copy(out, out + (count - i), &job.output[i]);
}
#endif

// Whether n elements of a and m of b share no byte.
template <class A, class B>
bool Apart(const A* a, size_t n, const B* b, size_t m) {
  const auto aBegin = reinterpret_cast<uintptr_t>(a), bBegin = reinterpret_cast<uintptr_t>(b);
  return aBegin + n * sizeof(A) <= bBegin || bBegin + m * sizeof(B) <= aBegin;
}

}  // namespace

int TermsOf(const LightSetting& setting, LightTerms* terms, csColor& base) {
  const csColor& diffuse = setting.diffuse;
  base = {setting.ambient.red * diffuse.red, setting.ambient.green * diffuse.green,
          setting.ambient.blue * diffuse.blue};
  int count = 0;
  for (size_t k = 0; k < setting.lights.size; k++) {
    const VertexLight& light = setting.lights[k];
    if (light.attenuation == CS_ATTN_LINEAR && !(light.radius > 0.0f)) continue;
    terms[count++] = {{light.center.x, light.center.y, light.center.z},
                      {diffuse.red * light.color.red, diffuse.green * light.color.green,
                       diffuse.blue * light.color.blue},
                      light.radius > 0.0f ? 1.0f / light.radius : 0.0f,
                      static_cast<int>(light.attenuation)};
  }
  return count;
}

bool LightSetting::Validate() const {
  return lights.size <= static_cast<size_t>(kMaxLights) &&
         (lights.size == 0 || lights.data != nullptr);
}

bool LightingJob::Validate() const {
  const size_t count = positions.size;
  if (count > static_cast<size_t>(kMaxSubmeshVertices) || normals.size != count ||
      output.size < count || !setting.Validate())
    return false;
  if (count == 0) return true;
  if (positions.data == nullptr || normals.data == nullptr || output.data == nullptr) return false;
  return Apart(output.data, count, positions.data, count) &&
         Apart(output.data, count, normals.data, count);
}

bool LightingJob::Run() const {
  if (!Validate()) return false;
  LightTerms terms[LightSetting::kMaxLights];
  csColor base;
  const int lightCount = TermsOf(setting, terms, base);
#if defined(__SSE2__)
  LightAll(*this, terms, lightCount, base);
#else
  for (size_t i = 0; i < positions.size; i++) LightOne(*this, terms, lightCount, base, i);
#endif
  return true;
}

}  // namespace rigweave
