// What the per-instruction-set kernels share. Only plain data and
// declarations: each kernel's file is compiled for its own instruction set,
// and an inline function defined here would be compiled into each of them,
// leaving the linker free to pick the widest copy for every caller.
#pragma once

#include <cstdint>

namespace rigweave {
namespace skinning {

struct KernelArgs {
  const float* positions;          // 24 floats a group: x[8] y[8] z[8]
  const uint8_t* influenceCounts;  // one a vertex
  const uint8_t* slotCounts;       // one a group
  const float* weights;            // 8 a slot
  const uint16_t* bones;           // 8 a slot
  const uint8_t* oneBone;          // a slot: 1 when its 8 lanes name one bone
  const float* palette;            // 12 floats a bone: three rows of m0 m1 m2 t
  int vertexCount;
  float axisFactors[3];
  float scale, turnSine, turnCosine;
  float* output;  // 3 floats a vertex
  // Optional outputs, each null when not asked; a kernel asked for neither
  // runs exactly as it would without them.
  const float* normals;  // 24 floats a group as the positions: the rest normals
  float* normalOutput;   // 3 floats a vertex: unit normals, turned as the positions
  float* box;            // min x, y, z then max x, y, z: widened by every vertex written
};

void RunScalar(const KernelArgs& args);
// Widens `box` (as KernelArgs::box) by `count` packed positions: the wide
// kernels' tail of a sub-mesh whose last group is not full.
void WidenBox(float* box, const float* positions, int count);
void RunSse2(const KernelArgs& args);
void RunAvx2(const KernelArgs& args);
void RunAvx512(const KernelArgs& args);  // two groups at a time

}  // namespace skinning
}  // namespace rigweave
