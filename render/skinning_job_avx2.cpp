// The AVX2 kernel: a whole group of eight vertices a register. Every lane
// does the scalar kernel's operations in the scalar kernel's order; this
// file is built with AVX2 but without FMA and without contraction, so no
// multiply and add is fused. Only intrinsics and functions of its own
// (internal linkage) are used here, so no AVX2 code leaks to other callers.
#include <immintrin.h>

#include <cstring>

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

// x, y, z of eight vertices into 24 packed floats; `count` of them written.
inline void StorePacked(__m256 x, __m256 y, __m256 z, float* out, int count) {
  // The SSE2 kernel's shuffles, in both halves at once.
  const __m256 xyLow = _mm256_unpacklo_ps(x, y);
  const __m256 xyHigh = _mm256_unpackhi_ps(x, y);
  const __m256 zx0 = _mm256_shuffle_ps(z, x, _MM_SHUFFLE(1, 1, 0, 0));
  const __m256 yz1 = _mm256_shuffle_ps(y, z, _MM_SHUFFLE(1, 1, 1, 1));
  const __m256 zx2 = _mm256_shuffle_ps(z, x, _MM_SHUFFLE(3, 3, 2, 2));
  const __m256 yz3 = _mm256_shuffle_ps(y, z, _MM_SHUFFLE(3, 3, 3, 3));
  const __m256 r0 = _mm256_shuffle_ps(xyLow, zx0, _MM_SHUFFLE(2, 0, 1, 0));
  const __m256 r1 = _mm256_shuffle_ps(yz1, xyHigh, _MM_SHUFFLE(1, 0, 2, 0));
  const __m256 r2 = _mm256_shuffle_ps(zx2, yz3, _MM_SHUFFLE(2, 0, 2, 0));
  // Vertices 0-3 are the low halves, 4-7 the high ones.
  const __m256 s0 = _mm256_permute2f128_ps(r0, r1, 0x20);
  const __m256 s1 = _mm256_permute2f128_ps(r2, r0, 0x30);
  const __m256 s2 = _mm256_permute2f128_ps(r1, r2, 0x31);
  if (count == kGroup) {
    _mm256_storeu_ps(out, s0);
    _mm256_storeu_ps(out + 8, s1);
    _mm256_storeu_ps(out + 16, s2);
    return;
  }
  // The sub-mesh's last vertices: nothing past them is written.
  float packed[24];
  _mm256_storeu_ps(packed, s0);
  _mm256_storeu_ps(packed + 8, s1);
  _mm256_storeu_ps(packed + 16, s2);
  std::memcpy(out, packed, sizeof(float) * 3 * static_cast<size_t>(count));
}

// Three coordinates of eight vertices.
struct Lanes3 {
  __m256 x, y, z;
};

// weight * (((m0*x + m1*y) + m2*z) + t) for the rows of one bone that every
// lane shares: each column value in every lane.
inline Lanes3 OneBone(const float* bone, __m256 weight, const Lanes3& p) {
  __m256 out[3];
  for (int r = 0; r < 3; r++) {
    const float* row = bone + 4 * r;
    const __m256 v =
        _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_broadcast_ss(row), p.x),
                                                  _mm256_mul_ps(_mm256_broadcast_ss(row + 1), p.y)),
                                    _mm256_mul_ps(_mm256_broadcast_ss(row + 2), p.z)),
                      _mm256_broadcast_ss(row + 3));
    out[r] = _mm256_mul_ps(weight, v);
  }
  return {out[0], out[1], out[2]};
}

// The same with a bone of its own in each lane, named by `id`.
inline Lanes3 EightBones(const float* palette, const uint16_t* id, __m256 weight, const Lanes3& p) {
  const float* b[kGroup];
  for (int lane = 0; lane < kGroup; lane++) b[lane] = palette + 12 * static_cast<size_t>(id[lane]);
  __m256 out[3];
  for (int r = 0; r < 3; r++) {
    // Row r of the eight bones, turned into one register per column,
    // vertex i in lane i.
    const __m256 q0 = RowPair(b[0], b[4], r), q1 = RowPair(b[1], b[5], r),
                 q2 = RowPair(b[2], b[6], r), q3 = RowPair(b[3], b[7], r);
    const __m256 t0 = _mm256_unpacklo_ps(q0, q1), t1 = _mm256_unpacklo_ps(q2, q3),
                 t2 = _mm256_unpackhi_ps(q0, q1), t3 = _mm256_unpackhi_ps(q2, q3);
    const __m256 m0 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 m1 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 m2 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 t = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 v =
        _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(m0, p.x), _mm256_mul_ps(m1, p.y)),
                                    _mm256_mul_ps(m2, p.z)),
                      t);
    out[r] = _mm256_mul_ps(weight, v);
  }
  return {out[0], out[1], out[2]};
}

// acc + add in the active lanes; the others keep acc, never adding a zero.
inline void AddActive(__m256 active, const Lanes3& add, Lanes3& acc) {
  acc.x = Select(active, _mm256_add_ps(acc.x, add.x), acc.x);
  acc.y = Select(active, _mm256_add_ps(acc.y, add.y), acc.y);
  acc.z = Select(active, _mm256_add_ps(acc.z, add.z), acc.z);
}

// The axis factors, the module's scale and turn, for every group alike.
struct Finish {
  __m256 factorX, factorY, factorZ, scale, sine, cosine;

  explicit Finish(const KernelArgs& a)
      : factorX(_mm256_set1_ps(a.axisFactors[0])),
        factorY(_mm256_set1_ps(a.axisFactors[1])),
        factorZ(_mm256_set1_ps(a.axisFactors[2])),
        scale(_mm256_set1_ps(a.scale)),
        sine(_mm256_set1_ps(a.turnSine)),
        cosine(_mm256_set1_ps(a.turnCosine)) {}

  void Store(const Lanes3& acc, float* out, int count) const {
    const __m256 sx = _mm256_mul_ps(_mm256_mul_ps(acc.x, factorX), scale);
    const __m256 sy = _mm256_mul_ps(_mm256_mul_ps(acc.y, factorY), scale);
    const __m256 sz = _mm256_mul_ps(_mm256_mul_ps(acc.z, factorZ), scale);
    const __m256 ty = _mm256_sub_ps(_mm256_mul_ps(cosine, sy), _mm256_mul_ps(sine, sz));
    const __m256 tz = _mm256_add_ps(_mm256_mul_ps(sine, sy), _mm256_mul_ps(cosine, sz));
    StorePacked(sx, ty, tz, out, count);
  }
};

}  // namespace

void RunAvx2(const KernelArgs& a) {
  const int groups = (a.vertexCount + kGroup - 1) / kGroup;
  const Finish finish(a);
  const __m256i zero = _mm256_setzero_si256();
  const float* weights = a.weights;
  const uint16_t* bones = a.bones;
  const uint8_t* oneBone = a.oneBone;
  for (int g = 0; g < groups; g++) {
    const int slots = a.slotCounts[g];
    const float* position = a.positions + 3 * kGroup * g;
    const int first = g * kGroup;
    const Lanes3 p{_mm256_load_ps(position), _mm256_load_ps(position + kGroup),
                   _mm256_load_ps(position + 2 * kGroup)};
    const __m256i counts = _mm256_cvtepu8_epi32(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a.influenceCounts + first)));
    // A vertex without influences keeps its rest position; the others start at 0.
    const __m256 none = _mm256_castsi256_ps(_mm256_cmpeq_epi32(counts, zero));
    Lanes3 acc{_mm256_and_ps(none, p.x), _mm256_and_ps(none, p.y), _mm256_and_ps(none, p.z)};
    for (int k = 0; k < slots; k++) {
      const uint16_t* id = bones + kGroup * k;
      const __m256 weight = _mm256_load_ps(weights + kGroup * k);
      const __m256 active = _mm256_castsi256_ps(_mm256_cmpgt_epi32(counts, _mm256_set1_epi32(k)));
      if (oneBone[k] != 0)
        AddActive(active, OneBone(a.palette + 12 * static_cast<size_t>(id[0]), weight, p), acc);
      else
        AddActive(active, EightBones(a.palette, id, weight, p), acc);
    }
    const int count = a.vertexCount - first < kGroup ? a.vertexCount - first : kGroup;
    finish.Store(acc, a.output + 3 * static_cast<size_t>(first), count);
    weights += kGroup * slots;
    bones += kGroup * slots;
    oneBone += slots;
  }
}

}  // namespace skinning
}  // namespace rigweave
