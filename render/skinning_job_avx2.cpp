// The AVX2 kernel: a whole group of eight vertices a register. Every lane
// does the scalar kernel's operations in the scalar kernel's order; this
// file is built with AVX2 but without FMA and without contraction, so no
// multiply and add is fused. Only intrinsics and functions of its own
// (internal linkage) are used here, so no AVX2 code leaks to other callers.
#include <immintrin.h>

#include <cmath>

#include "render/eight_lanes_avx.h"
#include "render/skinning_kernels.h"

namespace rigweave {
namespace skinning {
namespace {

constexpr int kGroup = 8;

inline __m256 Select(__m256 mask, __m256 yes, __m256 no) {
  return _mm256_blendv_ps(no, yes, mask);
}

// Row `r` of two bones, one in each 128-bit half.
inline __m256 RowPair(const float* low, const float* high, int r) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(low + 4 * r)),
                              _mm_load_ps(high + 4 * r), 1);
}

// Three coordinates of eight vertices.
struct Lanes3 {
  __m256 x, y, z;
};

// Row r of a bone matrix with its translation, one column a register.
struct Row {
  __m256 m0, m1, m2, t;
};

// Row r of the one bone every lane shares: each column value in every lane.
inline Row OneBoneRow(const float* bone, int r) {
  const float* row = bone + 4 * r;
  return {_mm256_broadcast_ss(row), _mm256_broadcast_ss(row + 1), _mm256_broadcast_ss(row + 2),
          _mm256_broadcast_ss(row + 3)};
}

// Row r of eight bones, one a lane, turned into one register per column,
// vertex i in lane i.
inline Row EightBonesRow(const float* const* b, int r) {
  const __m256 q0 = RowPair(b[0], b[4], r), q1 = RowPair(b[1], b[5], r),
               q2 = RowPair(b[2], b[6], r), q3 = RowPair(b[3], b[7], r);
  const __m256 t0 = _mm256_unpacklo_ps(q0, q1), t1 = _mm256_unpacklo_ps(q2, q3),
               t2 = _mm256_unpackhi_ps(q0, q1), t3 = _mm256_unpackhi_ps(q2, q3);
  return {_mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0)),
          _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2)),
          _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0)),
          _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2))};
}

// acc + add in the active lanes; the others keep acc, never adding a zero.
inline void AddActive(__m256 active, const Lanes3& add, Lanes3& acc) {
  acc.x = Select(active, _mm256_add_ps(acc.x, add.x), acc.x);
  acc.y = Select(active, _mm256_add_ps(acc.y, add.y), acc.y);
  acc.z = Select(active, _mm256_add_ps(acc.z, add.z), acc.z);
}

// One influence slot of a group: weight * (((m0*x + m1*y) + m2*z) + t) into
// `acc` and, with normals, ((m0*nx + m1*ny) + m2*nz) * weight into `nacc`.
template <bool kNormals>
inline void AddInfluence(const float* palette, const uint16_t* id, bool one, __m256 weight,
                         __m256 active, const Lanes3& p, const Lanes3& n, Lanes3& acc,
                         Lanes3& nacc) {
  const float* b[kGroup];
  if (!one)
    for (int lane = 0; lane < kGroup; lane++)
      b[lane] = palette + 12 * static_cast<size_t>(id[lane]);
  __m256 out[3], normal[3];
  for (int r = 0; r < 3; r++) {
    const Row m =
        one ? OneBoneRow(palette + 12 * static_cast<size_t>(id[0]), r) : EightBonesRow(b, r);
    const __m256 v = _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(m.m0, p.x), _mm256_mul_ps(m.m1, p.y)),
                      _mm256_mul_ps(m.m2, p.z)),
        m.t);
    out[r] = _mm256_mul_ps(weight, v);
    if (kNormals) {
      const __m256 w =
          _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(m.m0, n.x), _mm256_mul_ps(m.m1, n.y)),
                        _mm256_mul_ps(m.m2, n.z));
      normal[r] = _mm256_mul_ps(w, weight);
    }
  }
  AddActive(active, {out[0], out[1], out[2]}, acc);
  if (kNormals) AddActive(active, {normal[0], normal[1], normal[2]}, nacc);
}

// The axis factors, the module's scale and turn, for every group alike.
struct Finish {
  __m256 factorX, factorY, factorZ, scale, sine, cosine;
  bool unit;  // every axis factor 1

  explicit Finish(const KernelArgs& a)
      : factorX(_mm256_set1_ps(a.axisFactors[0])),
        factorY(_mm256_set1_ps(a.axisFactors[1])),
        factorZ(_mm256_set1_ps(a.axisFactors[2])),
        scale(_mm256_set1_ps(a.scale)),
        sine(_mm256_set1_ps(a.turnSine)),
        cosine(_mm256_set1_ps(a.turnCosine)),
        unit(a.axisFactors[0] == 1.0f && a.axisFactors[1] == 1.0f && a.axisFactors[2] == 1.0f) {}

  Lanes3 Position(const Lanes3& acc) const {
    const __m256 sx = _mm256_mul_ps(_mm256_mul_ps(acc.x, factorX), scale);
    const __m256 sy = _mm256_mul_ps(_mm256_mul_ps(acc.y, factorY), scale);
    const __m256 sz = _mm256_mul_ps(_mm256_mul_ps(acc.z, factorZ), scale);
    return {sx, _mm256_sub_ps(_mm256_mul_ps(cosine, sy), _mm256_mul_ps(sine, sz)),
            _mm256_add_ps(_mm256_mul_ps(sine, sy), _mm256_mul_ps(cosine, sz))};
  }

  Lanes3 Normal(const Lanes3& acc) const {
    // x / 1 is x to the bit: the module's factors, always 1, cost no division.
    const __m256 x = unit ? acc.x : _mm256_div_ps(acc.x, factorX);
    const __m256 y = unit ? acc.y : _mm256_div_ps(acc.y, factorY);
    const __m256 z = unit ? acc.z : _mm256_div_ps(acc.z, factorZ);
    const __m256 sum =
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(x, x), _mm256_mul_ps(y, y)), _mm256_mul_ps(z, z));
    const __m256 length = _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_sqrt_ps(sum));
    const __m256 ux = _mm256_mul_ps(x, length), uy = _mm256_mul_ps(y, length),
                 uz = _mm256_mul_ps(z, length);
    return {ux, _mm256_sub_ps(_mm256_mul_ps(cosine, uy), _mm256_mul_ps(sine, uz)),
            _mm256_add_ps(_mm256_mul_ps(sine, uy), _mm256_mul_ps(cosine, uz))};
  }
};

// The running box of the groups whose lanes are all written, one lane each;
// the others' lanes go through the scalar WidenBox.
struct Box {
  Lanes3 low{_mm256_set1_ps(HUGE_VALF), _mm256_set1_ps(HUGE_VALF), _mm256_set1_ps(HUGE_VALF)};
  Lanes3 high{_mm256_set1_ps(-HUGE_VALF), _mm256_set1_ps(-HUGE_VALF), _mm256_set1_ps(-HUGE_VALF)};

  void Widen(const Lanes3& q) {
    low = {_mm256_min_ps(low.x, q.x), _mm256_min_ps(low.y, q.y), _mm256_min_ps(low.z, q.z)};
    high = {_mm256_max_ps(high.x, q.x), _mm256_max_ps(high.y, q.y), _mm256_max_ps(high.z, q.z)};
  }
  void Into(float* box) const {
    const __m256 lows[3] = {low.x, low.y, low.z}, highs[3] = {high.x, high.y, high.z};
    for (int c = 0; c < 3; c++) {
      float l[kGroup], h[kGroup];
      _mm256_storeu_ps(l, lows[c]);
      _mm256_storeu_ps(h, highs[c]);
      for (int lane = 0; lane < kGroup; lane++) {
        box[c] = l[lane] < box[c] ? l[lane] : box[c];
        box[3 + c] = h[lane] > box[3 + c] ? h[lane] : box[3 + c];
      }
    }
  }
};

// Eight lanes' triples to the places of the vertices `lanes` names in
// `out`: one packed store when they are eight neighbours, else lane by lane;
// a group with vertices not asked for goes through the scalar code, which
// stops at the first of them.
inline void StoreLanes(const KernelArgs& a, const int32_t* lanes, const Lanes3& v, float* out) {
  if (lanes[kGroup - 1] >= a.vertexCount) {
    float packed[3 * kGroup];
    StorePacked(v.x, v.y, v.z, packed);
    ScatterPacked(packed, lanes, kGroup, a.vertexCount, out, nullptr);
  } else if (lanes[kGroup - 1] - lanes[0] == kGroup - 1) {
    StorePacked(v.x, v.y, v.z, out + 3 * static_cast<size_t>(lanes[0]));
  } else {
    ScatterEight(v.x, v.y, v.z, lanes, out);
  }
}

// A group's positions `q`, widening the box, and its normals `u`.
template <bool kNormals, bool kBox>
inline void StoreGroup(const KernelArgs& a, const int32_t* lanes, const Lanes3& q, const Lanes3& u,
                       Box& box) {
  if (lanes[kGroup - 1] >= a.vertexCount) {
    float packed[3 * kGroup];
    StorePacked(q.x, q.y, q.z, packed);
    ScatterPacked(packed, lanes, kGroup, a.vertexCount, a.output, kBox ? a.box : nullptr);
  } else {
    StoreLanes(a, lanes, q, a.output);
    if (kBox) box.Widen(q);
  }
  if (kNormals) StoreLanes(a, lanes, u, a.normalOutput);
}

// 1 / sqrt(x): the estimate and one Newton step, as the lighting job's.
inline __m256 InverseSqrt(__m256 x) {
  const __m256 y = _mm256_rsqrt_ps(x);
  const __m256 halfX = _mm256_mul_ps(_mm256_set1_ps(0.5f), x);
  return _mm256_mul_ps(
      y, _mm256_sub_ps(_mm256_set1_ps(1.5f), _mm256_mul_ps(halfX, _mm256_mul_ps(y, y))));
}

inline __m256 Brightness(const LightTerms& light, __m256 squared, __m256 inverse) {
  switch (light.attenuation) {
    case 1:  // linear
      return _mm256_max_ps(
          _mm256_sub_ps(_mm256_set1_ps(1.0f), _mm256_mul_ps(_mm256_mul_ps(squared, inverse),
                                                            _mm256_set1_ps(light.inverseRadius))),
          _mm256_setzero_ps());
    case 2:  // inverse
      return inverse;
    case 3:  // realistic
      return _mm256_mul_ps(inverse, inverse);
    default:
      return _mm256_set1_ps(1.0f);
  }
}

// The colours of a group from its turned positions `q` and normals `u`: the
// lighting job's arithmetic, eight lanes at once.
inline Lanes3 Light(const KernelArgs& a, const Lanes3& q, const Lanes3& u) {
  Lanes3 c{_mm256_set1_ps(a.base[0]), _mm256_set1_ps(a.base[1]), _mm256_set1_ps(a.base[2])};
  for (int k = 0; k < a.lightCount; k++) {
    const LightTerms& light = a.lights[k];
    const __m256 dx = _mm256_sub_ps(_mm256_set1_ps(light.center[0]), q.x);
    const __m256 dy = _mm256_sub_ps(_mm256_set1_ps(light.center[1]), q.y);
    const __m256 dz = _mm256_sub_ps(_mm256_set1_ps(light.center[2]), q.z);
    const __m256 squared = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(dx, dx), _mm256_mul_ps(dy, dy)), _mm256_mul_ps(dz, dz));
    const __m256 inverse = InverseSqrt(_mm256_max_ps(squared, _mm256_set1_ps(1e-30f)));
    const __m256 facing = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(u.x, dx), _mm256_mul_ps(u.y, dy)), _mm256_mul_ps(u.z, dz));
    const __m256 cosine = _mm256_max_ps(_mm256_mul_ps(facing, inverse), _mm256_setzero_ps());
    const __m256 share = _mm256_mul_ps(cosine, Brightness(light, squared, inverse));
    c.x = _mm256_add_ps(c.x, _mm256_mul_ps(_mm256_set1_ps(light.rgb[0]), share));
    c.y = _mm256_add_ps(c.y, _mm256_mul_ps(_mm256_set1_ps(light.rgb[1]), share));
    c.z = _mm256_add_ps(c.z, _mm256_mul_ps(_mm256_set1_ps(light.rgb[2]), share));
  }
  return c;
}

template <bool kNormals, bool kBox, bool kColors>
void Run(const KernelArgs& a) {
  const Finish finish(a);
  const __m256i zero = _mm256_setzero_si256();
  const float* weights = a.weights;
  const uint16_t* bones = a.bones;
  const uint8_t* oneBone = a.oneBone;
  Box box;
  for (int g = 0; g < a.groupCount && a.order[g * kGroup] < a.vertexCount; g++) {
    const int slots = a.slotCounts[g];
    const float* position = a.positions + 3 * kGroup * g;
    const Lanes3 p{_mm256_load_ps(position), _mm256_load_ps(position + kGroup),
                   _mm256_load_ps(position + 2 * kGroup)};
    Lanes3 n{p};
    if (kNormals) {
      const float* rest = a.normals + 3 * kGroup * g;
      n = {_mm256_load_ps(rest), _mm256_load_ps(rest + kGroup), _mm256_load_ps(rest + 2 * kGroup)};
    }
    const __m256i counts = _mm256_cvtepu8_epi32(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a.influenceCounts + g * kGroup)));
    // A vertex without influences keeps its rest position; the others start at 0.
    const __m256 none = _mm256_castsi256_ps(_mm256_cmpeq_epi32(counts, zero));
    Lanes3 acc{_mm256_and_ps(none, p.x), _mm256_and_ps(none, p.y), _mm256_and_ps(none, p.z)};
    Lanes3 nacc{_mm256_and_ps(none, n.x), _mm256_and_ps(none, n.y), _mm256_and_ps(none, n.z)};
    for (int k = 0; k < slots; k++) {
      const __m256 weight = _mm256_load_ps(weights + kGroup * k);
      const __m256 active = _mm256_castsi256_ps(_mm256_cmpgt_epi32(counts, _mm256_set1_epi32(k)));
      AddInfluence<kNormals>(a.palette, bones + kGroup * k, oneBone[k] != 0, weight, active, p, n,
                             acc, nacc);
    }
    const int32_t* lanes = a.order + g * kGroup;
    const Lanes3 q = finish.Position(acc), u = kNormals ? finish.Normal(nacc) : acc;
    StoreGroup<kNormals, kBox>(a, lanes, q, u, box);
    if (kColors) StoreLanes(a, lanes, Light(a, q, u), a.colorOutput);
    weights += kGroup * slots;
    bones += kGroup * slots;
    oneBone += slots;
  }
  if (kBox) box.Into(a.box);
}

}  // namespace

void RunAvx2(const KernelArgs& a) {
  if (a.normalOutput == nullptr && a.box == nullptr) return Run<false, false, false>(a);
  if (a.normalOutput == nullptr) return Run<false, true, false>(a);
  // Colours come with normals only.
  if (a.colorOutput != nullptr)
    return a.box == nullptr ? Run<true, false, true>(a) : Run<true, true, true>(a);
  if (a.box == nullptr) return Run<true, false, false>(a);
  Run<true, true, false>(a);
}

}  // namespace skinning
}  // namespace rigweave
