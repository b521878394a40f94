// The SSE2 kernel: four vertices a register, two registers a group. Every
// lane does the scalar kernel's operations in the scalar kernel's order.
#include <emmintrin.h>

#include <cstring>

#include "render/skinning_kernels.h"

namespace rigweave {
namespace skinning {
namespace {

constexpr int kGroup = 8;

inline __m128 Select(__m128 mask, __m128 yes, __m128 no) {
  return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// x, y, z of four vertices into x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3.
inline void StorePacked(__m128 x, __m128 y, __m128 z, float* out) {
  const __m128 xyLow = _mm_unpacklo_ps(x, y);                        // x0 y0 x1 y1
  const __m128 xyHigh = _mm_unpackhi_ps(x, y);                       // x2 y2 x3 y3
  const __m128 zx0 = _mm_shuffle_ps(z, x, _MM_SHUFFLE(1, 1, 0, 0));  // z0 z0 x1 x1
  const __m128 yz1 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(1, 1, 1, 1));  // y1 y1 z1 z1
  const __m128 zx2 = _mm_shuffle_ps(z, x, _MM_SHUFFLE(3, 3, 2, 2));  // z2 z2 x3 x3
  const __m128 yz3 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(3, 3, 3, 3));  // y3 y3 z3 z3
  const __m128 r0 = _mm_shuffle_ps(xyLow, zx0, _MM_SHUFFLE(2, 0, 1, 0));
  const __m128 r1 = _mm_shuffle_ps(yz1, xyHigh, _MM_SHUFFLE(1, 0, 2, 0));
  const __m128 r2 = _mm_shuffle_ps(zx2, yz3, _MM_SHUFFLE(2, 0, 2, 0));
  _mm_storeu_ps(out, r0);
  _mm_storeu_ps(out + 4, r1);
  _mm_storeu_ps(out + 8, r2);
}

// Three coordinates of four vertices.
struct Lanes3 {
  __m128 x, y, z;
};

// weight * (((m0*x + m1*y) + m2*z) + t) for each lane's bone (`id`), or for
// the one bone all lanes share, added to `acc` in the active lanes only
// (never a zero in the others); with normals ((m0*nx + m1*ny) + m2*nz) *
// weight into `nacc` alike.
template <bool kNormals>
inline void AddInfluence(const float* palette, const uint16_t* id, bool one, __m128 weight,
                         __m128 active, const Lanes3& p, const Lanes3& n, Lanes3& acc,
                         Lanes3& nacc) {
  const float* b0 = palette + 12 * static_cast<size_t>(id[0]);
  const float* b1 = palette + 12 * static_cast<size_t>(id[1]);
  const float* b2 = palette + 12 * static_cast<size_t>(id[2]);
  const float* b3 = palette + 12 * static_cast<size_t>(id[3]);
  __m128 out[3], normal[3];
  for (int r = 0; r < 3; r++) {
    __m128 m0, m1, m2, t;
    if (one) {
      // One bone for all lanes: each column value in every lane.
      const __m128 row = _mm_load_ps(b0 + 4 * r);
      m0 = _mm_shuffle_ps(row, row, _MM_SHUFFLE(0, 0, 0, 0));
      m1 = _mm_shuffle_ps(row, row, _MM_SHUFFLE(1, 1, 1, 1));
      m2 = _mm_shuffle_ps(row, row, _MM_SHUFFLE(2, 2, 2, 2));
      t = _mm_shuffle_ps(row, row, _MM_SHUFFLE(3, 3, 3, 3));
    } else {
      // Row r of the four bones, turned into four registers of one column each.
      m0 = _mm_load_ps(b0 + 4 * r);
      m1 = _mm_load_ps(b1 + 4 * r);
      m2 = _mm_load_ps(b2 + 4 * r);
      t = _mm_load_ps(b3 + 4 * r);
      _MM_TRANSPOSE4_PS(m0, m1, m2, t);
    }
    const __m128 v = _mm_add_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(m0, p.x), _mm_mul_ps(m1, p.y)), _mm_mul_ps(m2, p.z)), t);
    out[r] = _mm_mul_ps(weight, v);
    if (kNormals) {
      const __m128 w =
          _mm_add_ps(_mm_add_ps(_mm_mul_ps(m0, n.x), _mm_mul_ps(m1, n.y)), _mm_mul_ps(m2, n.z));
      normal[r] = _mm_mul_ps(w, weight);
    }
  }
  acc.x = Select(active, _mm_add_ps(acc.x, out[0]), acc.x);
  acc.y = Select(active, _mm_add_ps(acc.y, out[1]), acc.y);
  acc.z = Select(active, _mm_add_ps(acc.z, out[2]), acc.z);
  if (kNormals) {
    nacc.x = Select(active, _mm_add_ps(nacc.x, normal[0]), nacc.x);
    nacc.y = Select(active, _mm_add_ps(nacc.y, normal[1]), nacc.y);
    nacc.z = Select(active, _mm_add_ps(nacc.z, normal[2]), nacc.z);
  }
}

// The axis factors, the module's scale and turn, for every group alike.
struct Finish {
  __m128 factorX, factorY, factorZ, scale, sine, cosine;
  bool unit;  // every axis factor 1

  explicit Finish(const KernelArgs& a)
      : factorX(_mm_set1_ps(a.axisFactors[0])),
        factorY(_mm_set1_ps(a.axisFactors[1])),
        factorZ(_mm_set1_ps(a.axisFactors[2])),
        scale(_mm_set1_ps(a.scale)),
        sine(_mm_set1_ps(a.turnSine)),
        cosine(_mm_set1_ps(a.turnCosine)),
        unit(a.axisFactors[0] == 1.0f && a.axisFactors[1] == 1.0f && a.axisFactors[2] == 1.0f) {}

  Lanes3 Position(const Lanes3& acc) const {
    const __m128 sx = _mm_mul_ps(_mm_mul_ps(acc.x, factorX), scale);
    const __m128 sy = _mm_mul_ps(_mm_mul_ps(acc.y, factorY), scale);
    const __m128 sz = _mm_mul_ps(_mm_mul_ps(acc.z, factorZ), scale);
    return {sx, _mm_sub_ps(_mm_mul_ps(cosine, sy), _mm_mul_ps(sine, sz)),
            _mm_add_ps(_mm_mul_ps(sine, sy), _mm_mul_ps(cosine, sz))};
  }

  Lanes3 Normal(const Lanes3& acc) const {
    // x / 1 is x to the bit: the module's factors, always 1, cost no division.
    const __m128 x = unit ? acc.x : _mm_div_ps(acc.x, factorX);
    const __m128 y = unit ? acc.y : _mm_div_ps(acc.y, factorY);
    const __m128 z = unit ? acc.z : _mm_div_ps(acc.z, factorZ);
    const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z));
    const __m128 length = _mm_div_ps(_mm_set1_ps(1.0f), _mm_sqrt_ps(sum));
    const __m128 ux = _mm_mul_ps(x, length), uy = _mm_mul_ps(y, length), uz = _mm_mul_ps(z, length);
    return {ux, _mm_sub_ps(_mm_mul_ps(cosine, uy), _mm_mul_ps(sine, uz)),
            _mm_add_ps(_mm_mul_ps(sine, uy), _mm_mul_ps(cosine, uz))};
  }
};

// Four lanes' values `v` to their vertices' places in `out`: one packed
// store when the lanes are four neighbours all asked for, else lane by
// lane (up to the first vertex not asked for, in the scalar code, when
// there is one); the box (unless null) is widened from what was written.
inline void StoreLanes(const KernelArgs& a, const int32_t* lanes, const Lanes3& v, float* out,
                       float* box) {
  if (lanes[3] >= a.vertexCount) {
    float packed[12];
    StorePacked(v.x, v.y, v.z, packed);
    return ScatterPacked(packed, lanes, 4, a.vertexCount, out, box);
  }
  if (lanes[3] - lanes[0] == 3) {
    float* to = out + 3 * static_cast<size_t>(lanes[0]);
    StorePacked(v.x, v.y, v.z, to);
    // Widened from the vertices just written, still in the nearest cache.
    if (box != nullptr) WidenBox(box, to, 4);
    return;
  }
  // Turned so that one register holds one lane's x y z.
  const __m128 xyLow = _mm_unpacklo_ps(v.x, v.y), xyHigh = _mm_unpackhi_ps(v.x, v.y);
  const __m128 zLow = _mm_unpacklo_ps(v.z, v.z), zHigh = _mm_unpackhi_ps(v.z, v.z);
  const __m128 vertex[4] = {_mm_shuffle_ps(xyLow, zLow, _MM_SHUFFLE(1, 0, 1, 0)),
                            _mm_shuffle_ps(xyLow, zLow, _MM_SHUFFLE(3, 2, 3, 2)),
                            _mm_shuffle_ps(xyHigh, zHigh, _MM_SHUFFLE(1, 0, 1, 0)),
                            _mm_shuffle_ps(xyHigh, zHigh, _MM_SHUFFLE(3, 2, 3, 2))};
  for (int i = 0; i < 4; i++) {
    float* to = out + 3 * static_cast<size_t>(lanes[i]);
    _mm_storel_pi(reinterpret_cast<__m64*>(to), vertex[i]);
    _mm_store_ss(to + 2, _mm_movehl_ps(vertex[i], vertex[i]));
    if (box != nullptr) WidenBox(box, to, 1);
  }
}

template <bool kNormals>
void Run(const KernelArgs& a) {
  const Finish finish(a);
  const __m128i zero = _mm_setzero_si128();
  const float* weights = a.weights;
  const uint16_t* bones = a.bones;
  const uint8_t* oneBone = a.oneBone;
  for (int g = 0; g < a.groupCount && a.order[g * kGroup] < a.vertexCount; g++) {
    const int slots = a.slotCounts[g];
    const float* position = a.positions + 3 * kGroup * g;
    const float* rest = a.normals + 3 * kGroup * g;
    for (int half = 0; half < kGroup; half += 4) {
      const int32_t* lanes = a.order + g * kGroup + half;
      if (lanes[0] >= a.vertexCount) break;
      const Lanes3 p{_mm_load_ps(position + half), _mm_load_ps(position + kGroup + half),
                     _mm_load_ps(position + 2 * kGroup + half)};
      Lanes3 n{p};
      if (kNormals)
        n = {_mm_load_ps(rest + half), _mm_load_ps(rest + kGroup + half),
             _mm_load_ps(rest + 2 * kGroup + half)};
      int32_t packedCounts;
      std::memcpy(&packedCounts, a.influenceCounts + g * kGroup + half, sizeof packedCounts);
      const __m128i counts =
          _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(packedCounts), zero), zero);
      // A vertex without influences keeps its rest position; the others start at 0.
      const __m128 none = _mm_castsi128_ps(_mm_cmpeq_epi32(counts, zero));
      Lanes3 acc{_mm_and_ps(none, p.x), _mm_and_ps(none, p.y), _mm_and_ps(none, p.z)};
      Lanes3 nacc{_mm_and_ps(none, n.x), _mm_and_ps(none, n.y), _mm_and_ps(none, n.z)};
      for (int k = 0; k < slots; k++) {
        const __m128 weight = _mm_load_ps(weights + kGroup * k + half);
        const __m128 active = _mm_castsi128_ps(_mm_cmpgt_epi32(counts, _mm_set1_epi32(k)));
        AddInfluence<kNormals>(a.palette, bones + kGroup * k + half, oneBone[k] != 0, weight,
                               active, p, n, acc, nacc);
      }
      StoreLanes(a, lanes, finish.Position(acc), a.output, a.box);
      if (kNormals) StoreLanes(a, lanes, finish.Normal(nacc), a.normalOutput, nullptr);
    }
    weights += kGroup * slots;
    bones += kGroup * slots;
    oneBone += slots;
  }
}

}  // namespace

void RunSse2(const KernelArgs& a) {
  if (a.normalOutput != nullptr)
    Run<true>(a);
  else
    Run<false>(a);
}

}  // namespace skinning
}  // namespace rigweave
