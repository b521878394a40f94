// The AVX-512 kernel: two groups of eight vertices a register, the first
// group in lanes 0-7, the second in lanes 8-15. Every lane does the scalar
// kernel's operations in the scalar kernel's order; this file is built with
// AVX-512 F/BW/DQ/VL without contraction (and, under GCC, without FMA), so no multiply
// and add is fused. The two groups may have different slot counts: a slot
// past a group's last is never read, and its lanes are masked off, as are
// the lanes of an influence their vertex lacks. Only intrinsics and
// functions of its own (internal linkage) are used here, and the plain
// code's ScatterPacked for a group that holds vertices past those asked for.
#include <immintrin.h>

#include "render/eight_lanes_avx.h"
#include "render/skinning_kernels.h"

namespace rigweave {
namespace skinning {
namespace {

constexpr int kGroup = 8;

// One group's x, y, z to its vertices' places: one packed store when its
// lanes are eight neighbours all asked for, else lane by lane (up to the
// first vertex not asked for, in the scalar code, when there is one).
inline void StoreGroup(__m256 x, __m256 y, __m256 z, const int32_t* lanes, int limit, float* out) {
  if (lanes[kGroup - 1] < limit && lanes[kGroup - 1] - lanes[0] == kGroup - 1)
    return StorePacked(x, y, z, out + 3 * static_cast<size_t>(lanes[0]));
  if (lanes[kGroup - 1] < limit) return ScatterEight(x, y, z, lanes, out);
  float packed[3 * kGroup];
  StorePacked(x, y, z, packed);
  ScatterPacked(packed, lanes, kGroup, limit, out, nullptr);
}

// Three coordinates of sixteen vertices.
struct Lanes3 {
  __m512 x, y, z;
};

// Eight floats of each group side by side; `high` null leaves lanes 8-15 zero.
inline __m512 Halves(const float* low, const float* high) {
  const __m512 wide = _mm512_castps256_ps512(_mm256_load_ps(low));
  if (high == nullptr) return _mm512_insertf32x8(wide, _mm256_setzero_ps(), 1);
  return _mm512_insertf32x8(wide, _mm256_load_ps(high), 1);
}

// Row `r` of four bones, one in each 128-bit quarter.
inline __m512 RowQuad(const float* const* b, int r) {
  __m512 q = _mm512_castps128_ps512(_mm_load_ps(b[0] + 4 * r));
  q = _mm512_insertf32x4(q, _mm_load_ps(b[1] + 4 * r), 1);
  q = _mm512_insertf32x4(q, _mm_load_ps(b[2] + 4 * r), 2);
  return _mm512_insertf32x4(q, _mm_load_ps(b[3] + 4 * r), 3);
}

inline __m512 Row(__m512 m0, __m512 m1, __m512 m2, __m512 t, const Lanes3& p) {
  return _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(m0, p.x), _mm512_mul_ps(m1, p.y)),
                                     _mm512_mul_ps(m2, p.z)),
                       t);
}

// weight * (((m0*x + m1*y) + m2*z) + t) where lanes 0-7 share the bone
// `low` and lanes 8-15 the bone `high`.
inline Lanes3 TwoBones(const float* low, const float* high, __m512 weight, const Lanes3& p) {
  __m512 out[3];
  for (int r = 0; r < 3; r++) {
    // Bone low's row in quarters 0 and 1, bone high's in 2 and 3.
    const __m512 rows = _mm512_insertf32x8(
        _mm512_castps256_ps512(_mm256_broadcast_ps(reinterpret_cast<const __m128*>(low + 4 * r))),
        _mm256_broadcast_ps(reinterpret_cast<const __m128*>(high + 4 * r)), 1);
    const __m512 m0 = _mm512_shuffle_ps(rows, rows, _MM_SHUFFLE(0, 0, 0, 0));
    const __m512 m1 = _mm512_shuffle_ps(rows, rows, _MM_SHUFFLE(1, 1, 1, 1));
    const __m512 m2 = _mm512_shuffle_ps(rows, rows, _MM_SHUFFLE(2, 2, 2, 2));
    const __m512 t = _mm512_shuffle_ps(rows, rows, _MM_SHUFFLE(3, 3, 3, 3));
    out[r] = _mm512_mul_ps(weight, Row(m0, m1, m2, t, p));
  }
  return {out[0], out[1], out[2]};
}

// The same with a bone of its own in each lane: lanes 0-7 named by `low`,
// lanes 8-15 by `high`.
inline Lanes3 SixteenBones(const float* palette, const uint16_t* low, const uint16_t* high,
                           __m512 weight, const Lanes3& p) {
  // Quarter j of lane group i (i = 0..3) is vertex 4 * j + i.
  const float* b[4][4];
  for (int lane = 0; lane < 2 * kGroup; lane++) {
    const uint16_t id = lane < kGroup ? low[lane] : high[lane - kGroup];
    b[lane % 4][lane / 4] = palette + 12 * static_cast<size_t>(id);
  }
  __m512 out[3];
  for (int r = 0; r < 3; r++) {
    const __m512 q0 = RowQuad(b[0], r), q1 = RowQuad(b[1], r), q2 = RowQuad(b[2], r),
                 q3 = RowQuad(b[3], r);
    const __m512 t0 = _mm512_unpacklo_ps(q0, q1), t1 = _mm512_unpacklo_ps(q2, q3),
                 t2 = _mm512_unpackhi_ps(q0, q1), t3 = _mm512_unpackhi_ps(q2, q3);
    const __m512 m0 = _mm512_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    const __m512 m1 = _mm512_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    const __m512 m2 = _mm512_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m512 t = _mm512_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
    out[r] = _mm512_mul_ps(weight, Row(m0, m1, m2, t, p));
  }
  return {out[0], out[1], out[2]};
}

// The axis factors, the module's scale and turn, for every group alike.
struct Finish {
  __m512 factorX, factorY, factorZ, scale, sine, cosine;

  explicit Finish(const KernelArgs& a)
      : factorX(_mm512_set1_ps(a.axisFactors[0])),
        factorY(_mm512_set1_ps(a.axisFactors[1])),
        factorZ(_mm512_set1_ps(a.axisFactors[2])),
        scale(_mm512_set1_ps(a.scale)),
        sine(_mm512_set1_ps(a.turnSine)),
        cosine(_mm512_set1_ps(a.turnCosine)) {}

  // Lanes 0-7 to the places of the vertices `lanes` names, lanes 8-15 (when
  // `pair`) to those of the next group's.
  void Store(const Lanes3& acc, const KernelArgs& a, const int32_t* lanes, bool pair) const {
    const __m512 sx = _mm512_mul_ps(_mm512_mul_ps(acc.x, factorX), scale);
    const __m512 sy = _mm512_mul_ps(_mm512_mul_ps(acc.y, factorY), scale);
    const __m512 sz = _mm512_mul_ps(_mm512_mul_ps(acc.z, factorZ), scale);
    const __m512 ty = _mm512_sub_ps(_mm512_mul_ps(cosine, sy), _mm512_mul_ps(sine, sz));
    const __m512 tz = _mm512_add_ps(_mm512_mul_ps(sine, sy), _mm512_mul_ps(cosine, sz));
    StoreGroup(_mm512_castps512_ps256(sx), _mm512_castps512_ps256(ty), _mm512_castps512_ps256(tz),
               lanes, a.vertexCount, a.output);
    if (pair)
      StoreGroup(_mm512_extractf32x8_ps(sx, 1), _mm512_extractf32x8_ps(ty, 1),
                 _mm512_extractf32x8_ps(tz, 1), lanes + kGroup, a.vertexCount, a.output);
  }
};

// Where one group's influence slots are read from.
struct GroupSlots {
  int count;
  const float* weights;
  const uint16_t* bones;
  const uint8_t* oneBone;
};

// acc + weight * (bone transform of p), slot k of both groups, in the lanes
// of `active` only: the others keep acc, never adding a zero.
inline void AddSlot(const KernelArgs& a, const GroupSlots& low, const GroupSlots& high, int k,
                    __mmask16 active, const Lanes3& p, Lanes3& acc) {
  const bool inLow = k < low.count, inHigh = k < high.count;
  // A group without slot k lends the other its bones; its lanes are off.
  const uint16_t* idLow = inLow ? low.bones + kGroup * k : high.bones + kGroup * k;
  const uint16_t* idHigh = inHigh ? high.bones + kGroup * k : idLow;
  const bool oneLow = inLow ? low.oneBone[k] != 0 : true;
  const bool oneHigh = inHigh ? high.oneBone[k] != 0 : true;
  const __m512 weight = Halves(inLow ? low.weights + kGroup * k : high.weights + kGroup * k,
                               inHigh ? high.weights + kGroup * k : nullptr);
  const Lanes3 add = oneLow && oneHigh
                         ? TwoBones(a.palette + 12 * static_cast<size_t>(idLow[0]),
                                    a.palette + 12 * static_cast<size_t>(idHigh[0]), weight, p)
                         : SixteenBones(a.palette, idLow, idHigh, weight, p);
  acc.x = _mm512_mask_add_ps(acc.x, active, acc.x, add.x);
  acc.y = _mm512_mask_add_ps(acc.y, active, acc.y, add.y);
  acc.z = _mm512_mask_add_ps(acc.z, active, acc.z, add.z);
}

}  // namespace

void RunAvx512(const KernelArgs& a) {
  const Finish finish(a);
  GroupSlots next{0, a.weights, a.bones, a.oneBone};
  for (int g = 0; g < a.groupCount && a.order[g * kGroup] < a.vertexCount; g += 2) {
    const bool pair = g + 1 < a.groupCount && a.order[(g + 1) * kGroup] < a.vertexCount;
    GroupSlots low = next;
    low.count = a.slotCounts[g];
    GroupSlots high{pair ? a.slotCounts[g + 1] : 0, low.weights + kGroup * low.count,
                    low.bones + kGroup * low.count, low.oneBone + low.count};
    next = {0, high.weights + kGroup * high.count, high.bones + kGroup * high.count,
            high.oneBone + high.count};
    const float* position = a.positions + 3 * kGroup * g;
    const float* second = pair ? position + 3 * kGroup : nullptr;
    const Lanes3 p{Halves(position, second),
                   Halves(position + kGroup, pair ? second + kGroup : nullptr),
                   Halves(position + 2 * kGroup, pair ? second + 2 * kGroup : nullptr)};
    const int first = g * kGroup;
    // A lone group reads its own eight counts only.
    const __m128i bytes =
        pair ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.influenceCounts + first))
             : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a.influenceCounts + first));
    const __m512i counts = _mm512_cvtepu8_epi32(bytes);
    // A vertex without influences keeps its rest position; the others start at 0.
    const __mmask16 none = _mm512_cmpeq_epi32_mask(counts, _mm512_setzero_si512());
    Lanes3 acc{_mm512_maskz_mov_ps(none, p.x), _mm512_maskz_mov_ps(none, p.y),
               _mm512_maskz_mov_ps(none, p.z)};
    const int slots = low.count > high.count ? low.count : high.count;
    for (int k = 0; k < slots; k++) {
      const __mmask16 active = _mm512_cmpgt_epi32_mask(counts, _mm512_set1_epi32(k));
      AddSlot(a, low, high, k, active, p, acc);
    }
    finish.Store(acc, a, a.order + first, pair);
  }
}

}  // namespace skinning
}  // namespace rigweave
