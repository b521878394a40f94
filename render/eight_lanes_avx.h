// Eight vertices' x, y and z, one coordinate a 256-bit register, written out
// as packed x y z triples: together, or each to its own vertex's place. For
// the kernels built with AVX or wider only; the functions have internal
// linkage, so that each kernel's file keeps the copy its own instruction set
// compiled and no other file's call can land in it.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace rigweave {
namespace skinning {
namespace {

// x, y, z of eight vertices into 24 packed floats.
inline void StorePacked(__m256 x, __m256 y, __m256 z, float* out) {
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
  _mm256_storeu_ps(out, _mm256_permute2f128_ps(r0, r1, 0x20));
  _mm256_storeu_ps(out + 8, _mm256_permute2f128_ps(r2, r0, 0x30));
  _mm256_storeu_ps(out + 16, _mm256_permute2f128_ps(r1, r2, 0x31));
}

// One vertex's x y z, the first three lanes of `v`, to `to`.
inline void PutVertex(__m128 v, float* to) {
  _mm_storel_pi(reinterpret_cast<__m64*>(to), v);
  _mm_store_ss(to + 2, _mm_movehl_ps(v, v));
}

// Each lane's x, y, z to the place of the vertex `lanes` names for it.
inline void ScatterEight(__m256 x, __m256 y, __m256 z, const int32_t* lanes, float* out) {
  // Each half turned so that one register holds one lane's x y z: lane i
  // in the low half, lane i + 4 in the high one.
  const __m256 xyLow = _mm256_unpacklo_ps(x, y), xyHigh = _mm256_unpackhi_ps(x, y);
  const __m256 zLow = _mm256_unpacklo_ps(z, z), zHigh = _mm256_unpackhi_ps(z, z);
  const __m256 v[4] = {_mm256_shuffle_ps(xyLow, zLow, _MM_SHUFFLE(1, 0, 1, 0)),
                       _mm256_shuffle_ps(xyLow, zLow, _MM_SHUFFLE(3, 2, 3, 2)),
                       _mm256_shuffle_ps(xyHigh, zHigh, _MM_SHUFFLE(1, 0, 1, 0)),
                       _mm256_shuffle_ps(xyHigh, zHigh, _MM_SHUFFLE(3, 2, 3, 2))};
  for (int i = 0; i < 4; i++) {
    PutVertex(_mm256_castps256_ps128(v[i]), out + 3 * static_cast<size_t>(lanes[i]));
    PutVertex(_mm256_extractf128_ps(v[i], 1), out + 3 * static_cast<size_t>(lanes[i + 4]));
  }
}

}  // namespace
}  // namespace skinning
}  // namespace rigweave
