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
};

void RunScalar(const KernelArgs& args);
void RunSse2(const KernelArgs& args);
void RunAvx2(const KernelArgs& args);
void RunAvx512(const KernelArgs& args);  // two groups at a time

}  // namespace skinning
}  // namespace rigweave
