#include "model/pose.h"

#include <cal3d/cal3d.h>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/submesh_walk.h"

namespace rigweave {

void Pose::Size(CalModel& model, bool lit) {
  if (!Sized()) {
    std::vector<size_t> starts;
    size_t total = 0;
    ForEachSubmesh(model, [&](const SubmeshVisit& visit) {
      starts.push_back(total);
      total += static_cast<size_t>(visit.submesh.getCoreSubmesh()->getVertexCount());
      return true;
    });
    positions.resize(total);
    count.assign(starts.size(), 0);
    first = std::move(starts);
    made = false;
  }
  if (lit && !HasNormals()) {
    normals.resize(positions.size());
    colors.resize(positions.size());
    made = false;  // a pose made without normals has none to light
  }
}

void Pose::Release() {
  std::vector<csVector3>().swap(positions);
  std::vector<csVector3>().swap(normals);
  std::vector<csColor>().swap(colors);
  std::vector<size_t>().swap(first);
  std::vector<int>().swap(count);
  EmptyBox(box);
  made = false;
}

void Pose::EmptyBox(float* box) {
  for (int c = 0; c < 3; c++) {
    box[c] = HUGE_VALF;
    box[3 + c] = -HUGE_VALF;
  }
}

bool SegmentMeetsBox(const float* box, const csVector3& start, const csVector3& end) {
  float low = 0.0f, high = 1.0f;
  for (int c = 0; c < 3; c++) {
    const float from = start[c], along = end[c] - start[c];
    if (along == 0.0f) {
      if (from < box[c] || from > box[3 + c]) return false;
      continue;
    }
    float t0 = (box[c] - from) / along, t1 = (box[3 + c] - from) / along;
    if (t0 > t1) std::swap(t0, t1);
    low = std::max(low, t0);
    high = std::min(high, t1);
    if (low > high) return false;
  }
  return true;
}

bool NearestHit(const csVector3* positions, const csTriangle* faces, size_t faceCount,
                const csVector3& start, const csVector3& end, float& fraction, int& triangle) {
  // Moller and Trumbore's test, both faces, along the segment's length.
  const csVector3 along = end - start;
  float nearest = HUGE_VALF;
  int found = -1;
  for (size_t f = 0; f < faceCount; f++) {
    const csVector3& a = positions[faces[f].a];
    const csVector3 edge1 = positions[faces[f].b] - a, edge2 = positions[faces[f].c] - a;
    const csVector3 p = Cross(along, edge2);
    const float det = Dot(edge1, p);
    if (det == 0.0f) continue;  // the segment runs in the triangle's plane
    const float inverse = 1.0f / det;
    const csVector3 s = start - a;
    const float u = Dot(s, p) * inverse;
    if (u < 0.0f || u > 1.0f) continue;
    const csVector3 q = Cross(s, edge1);
    const float v = Dot(along, q) * inverse;
    if (v < 0.0f || u + v > 1.0f) continue;
    const float t = Dot(edge2, q) * inverse;
    if (t < 0.0f || t > 1.0f || t >= nearest) continue;
    nearest = t;
    found = static_cast<int>(f);
  }
  if (found < 0) return false;
  fraction = nearest;
  triangle = found;
  return true;
}

namespace {

constexpr float kTiny = 1e-30f;

// The light's brightness at distance d. At d = 0, where the inverse kinds
// have no value, the vertex gets nothing anyway: its n . l is 0 there.
inline float Brightness(const PoseLight& light, float inverseRadius, float d) {
  switch (light.attenuation) {
    case CS_ATTN_LINEAR:
      return std::max(1.0f - d * inverseRadius, 0.0f);
    case CS_ATTN_INVERSE:
      return 1.0f / std::max(d, kTiny);
    case CS_ATTN_REALISTIC:
      return 1.0f / std::max(d * d, kTiny);
    case CS_ATTN_NONE:
      break;
  }
  return 1.0f;
}

// max(0, n . l) * brightness for vertex i, with l = (dx, dy, dz) / d.
inline float Share(const csVector3* positions, const csVector3* normals, int i,
                   const PoseLight& light, float inverseRadius) {
  const float dx = light.center.x - positions[i].x, dy = light.center.y - positions[i].y,
              dz = light.center.z - positions[i].z;
  const float squared = dx * dx + dy * dy + dz * dz;
  const float inverse = 1.0f / std::sqrt(std::max(squared, kTiny));
  const float facing = normals[i].x * dx + normals[i].y * dy + normals[i].z * dz;
  return std::max(facing * inverse, 0.0f) * Brightness(light, inverseRadius, squared * inverse);
}

#if defined(__SSE2__)
inline __m128 Brightness4(const PoseLight& light, __m128 inverseRadius, __m128 d) {
  const __m128 tiny = _mm_set1_ps(kTiny), one = _mm_set1_ps(1.0f);
  switch (light.attenuation) {
    case CS_ATTN_LINEAR:
      return _mm_max_ps(_mm_sub_ps(one, _mm_mul_ps(d, inverseRadius)), _mm_setzero_ps());
    case CS_ATTN_INVERSE:
      return _mm_div_ps(one, _mm_max_ps(d, tiny));
    case CS_ATTN_REALISTIC:
      return _mm_div_ps(one, _mm_max_ps(_mm_mul_ps(d, d), tiny));
    case CS_ATTN_NONE:
      break;
  }
  return one;
}

// One coordinate of four packed vectors from `v`, vertex k in lane k.
inline __m128 Lane(const csVector3* v, int c) {
  return _mm_set_ps(v[3][c], v[2][c], v[1][c], v[0][c]);
}

// Share() of the four vertices from i on, into `shares`.
inline void Shares4(const csVector3* positions, const csVector3* normals, int i,
                    const PoseLight& light, __m128 inverseRadius, float* shares) {
  const csVector3* p = positions + i;
  const csVector3* n = normals + i;
  const __m128 dx = _mm_sub_ps(_mm_set1_ps(light.center.x), Lane(p, 0));
  const __m128 dy = _mm_sub_ps(_mm_set1_ps(light.center.y), Lane(p, 1));
  const __m128 dz = _mm_sub_ps(_mm_set1_ps(light.center.z), Lane(p, 2));
  const __m128 squared =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
  const __m128 inverse =
      _mm_div_ps(_mm_set1_ps(1.0f), _mm_sqrt_ps(_mm_max_ps(squared, _mm_set1_ps(kTiny))));
  const __m128 facing =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(Lane(n, 0), dx), _mm_mul_ps(Lane(n, 1), dy)),
                 _mm_mul_ps(Lane(n, 2), dz));
  const __m128 cosine = _mm_max_ps(_mm_mul_ps(facing, inverse), _mm_setzero_ps());
  _mm_storeu_ps(
      shares, _mm_mul_ps(cosine, Brightness4(light, inverseRadius, _mm_mul_ps(squared, inverse))));
}
#endif

// One light's share added to `out`, four vertices at a time where SSE2 is.
void AddLight(const csVector3* positions, const csVector3* normals, int count,
              const PoseLight& light, const csColor& diffuse, csColor* out) {
  if (light.attenuation == CS_ATTN_LINEAR && !(light.radius > 0.0f)) return;  // reaches nothing
  const float inverseRadius = light.radius > 0.0f ? 1.0f / light.radius : 0.0f;
  const float r = diffuse.red * light.color.red, g = diffuse.green * light.color.green,
              b = diffuse.blue * light.color.blue;
  int i = 0;
#if defined(__SSE2__)
  const __m128 inverseRadius4 = _mm_set1_ps(inverseRadius);
  for (; i + 4 <= count; i += 4) {
    float shares[4];
    Shares4(positions, normals, i, light, inverseRadius4, shares);
    for (int k = 0; k < 4; k++) {
      out[i + k].red += r * shares[k];
      out[i + k].green += g * shares[k];
      out[i + k].blue += b * shares[k];
    }
  }
#endif
  for (; i < count; i++) {
    const float share = Share(positions, normals, i, light, inverseRadius);
    out[i].red += r * share;
    out[i].green += g * share;
    out[i].blue += b * share;
  }
}

}  // namespace

void LightVertices(const csVector3* positions, const csVector3* normals, int count,
                   const PoseLight* lights, int lightCount, const csColor& ambient,
                   const csColor& diffuse, csColor* out) {
  const csColor base{ambient.red * diffuse.red, ambient.green * diffuse.green,
                     ambient.blue * diffuse.blue};
  std::fill(out, out + count, base);
  for (int k = 0; k < lightCount; k++) AddLight(positions, normals, count, lights[k], diffuse, out);
}

}  // namespace rigweave
