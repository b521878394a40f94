// What the per-instruction-set kernels share. Only plain data and
// declarations: each kernel's file is compiled for its own instruction set,
// and an inline function defined here would be compiled into each of them,
// leaving the linker free to pick the widest copy for every caller.
#pragma once

#include <cstdint>

#include "render/light_terms.h"

namespace rigweave {
namespace skinning {

struct KernelArgs {
  const float* positions;          // 24 floats a group: x[8] y[8] z[8]
  const int32_t* order;            // 8 a group: the vertex each lane holds, ascending
  int groupCount;                  // in the order of their first vertex
  const uint8_t* influenceCounts;  // one a lane
  const uint8_t* slotCounts;       // one a group
  const float* weights;            // 8 a slot
  const uint16_t* bones;           // 8 a slot
  const uint8_t* oneBone;          // a slot: 1 when its 8 lanes name one bone
  const float* palette;            // 12 floats a bone: three rows of m0 m1 m2 t
  int vertexCount;                 // the vertices 0 to vertexCount - 1 are written, no other
  float axisFactors[3];
  float scale, turnSine, turnCosine;
  float* output;  // 3 floats a vertex
  // Optional outputs, each null when not asked; a kernel asked for neither
  // runs exactly as it would without them.
  const float* normals;  // 24 floats a group as the positions: the rest normals
  float* normalOutput;   // 3 floats a vertex: unit normals, turned as the positions
  float* box;            // min x, y, z then max x, y, z: widened by every vertex written
  // Colours, asked with the normals and given by the AVX2 kernel only (the
  // job lights the others' output afterwards): 3 floats a vertex, lit from
  // its position and normal by `lightCount` lights from `base`.
  float* colorOutput;
  const LightTerms* lights;
  int lightCount;
  float base[3];
};

void RunScalar(const KernelArgs& args);
// Widens `box` (as KernelArgs::box) by `count` packed positions.
void WidenBox(float* box, const float* positions, int count);
// The wide kernels' store of a group that holds vertices past those asked
// for (`limit`): writes each of `lanes` values, packed x y z in `packed`, to
// the place of the vertex `order` names for it, up to the first lane whose
// vertex is not below `limit`, widening `box` (unless null) by each.
void ScatterPacked(const float* packed, const int32_t* order, int lanes, int limit, float* out,
                   float* box);
void RunSse2(const KernelArgs& args);
void RunAvx2(const KernelArgs& args);
void RunAvx512(const KernelArgs& args);  // two groups at a time

}  // namespace skinning
}  // namespace rigweave
