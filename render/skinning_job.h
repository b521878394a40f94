// Skinning that gives, to the last bit, what Cal3D's CalPhysique::calculateVertices
// followed by the module's turn into engine space gives, several vertices at
// a time. A sub-mesh's rest positions and influences are laid out once, at
// load; each frame a job reads that layout and the frame's bone palette and
// writes the engine-space positions.
//
// Exactness rests on doing per vertex what Cal3D does, in its order and in
// single precision, lane by lane:
//   v   = ((m[r][0]*px + m[r][1]*py) + m[r][2]*pz) + t[r]   for each influence
//   acc = acc + weight * v                                    from acc = 0
//   acc = rest position                                       without influences
//   acc = acc * axisFactor
// then the module's scale and turn (render/engine_space.h). The kernels are built
// without floating-point contraction, so no multiply and add is fused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/lighting_job.h"
#include "render/span.h"

namespace rigweave {

// One bone of the frame's palette: the rows of Cal3D's bone transform matrix
// with the bone-space translation as fourth column, so one aligned load
// fetches what one output coordinate needs.
struct alignas(16) SkinningBone {
  float rows[3][4];
};

// One influence as Cal3D stores it.
struct SkinningInfluence {
  int32_t bone = 0;
  float weight = 0;
};

// A vertex as the layout is built from it.
struct SkinningVertex {
  float position[3] = {0, 0, 0};
  float normal[3] = {0, 0, 0};
  Span<const SkinningInfluence> influences;
};

// The instruction sets a job can run on. Scalar is the plain loop, for
// processors without SSE2 and as the lane-by-lane reference. Avx512 needs
// AVX-512 F, BW, DQ and VL, and a system that saves their registers.
enum class SkinningIsa { Scalar, Sse2, Avx2, Avx512 };
const char* SkinningIsaName(SkinningIsa isa);
bool SkinningIsaSupported(SkinningIsa isa);
// The set jobs run on by default, read from the processor once: AVX2 where
// it is there (AVX-512 measured slower, so only an explicit choice), else
// SSE2, else the plain loop.
SkinningIsa BestSkinningIsa();
// The set `name` names as SkinningIsaName() spells it ("scalar", "sse2",
// "avx2", "avx512"), into `isa`; false, `isa` untouched, for any other name.
bool SkinningIsaFromName(const char* name, SkinningIsa& isa);

// A sub-mesh's rest positions and influences, flat. Vertices come in groups
// of eight (one AVX2 register, two SSE2 registers); a group holds its
// positions as x[8], y[8], z[8], then as many influence slots as its vertex
// with the most influences, each slot a weight and a bone id per vertex. A
// vertex with fewer influences leaves its lanes of the later slots unused
// (weight 0, and the bone of the slot's first vertex that uses it), and the
// kernels do not add them: they select, never add a zero, so that signed
// zeros and infinities come out as in Cal3D. A slot whose eight lanes name
// one bone, as along a limb's rigid stretch, is marked so that the kernels
// read that bone once instead of once a lane.
//
// The groups are not simply the vertices eight by eight: a mesh mixes one-
// and two-bone vertices, and bones, from one vertex to the next, and a group
// costs its widest vertex's slots, each of eight bones unless all lanes
// share one. So within each window of kWindow vertices, runs of at least
// eight neighbours with the same bone list stay whole groups (stored as
// they are), and the rest are sorted by their bone lists into groups that
// scatter their lanes to their vertices' places. Each lane names its vertex
// (Order(), ascending within a group), and the groups are in the order of
// their first vertex, so a job that skins only the first vertices (Cal3D's
// level of detail) stops at the first group that starts past them, having
// skinned at most one window's vertices more than asked and written none.
class SkinningLayout {
 public:
  static constexpr int kGroup = 8;
  static constexpr int kWindow = 256;
  struct alignas(32) Lanes {
    float v[kGroup];
  };
  struct alignas(16) BoneLanes {
    uint16_t v[kGroup];
  };

  // False, leaving the layout empty, when a vertex has more than 255
  // influences or a bone id outside [0, boneCount) or above 65535.
  bool Build(Span<const SkinningVertex> vertices, int boneCount);
  void Clear();

  int VertexCount() const { return vertexCount_; }
  int GroupCount() const { return static_cast<int>(slots_.size()); }
  // One more than the highest bone id an influence names (0 without any).
  int BonesNeeded() const { return bonesNeeded_; }
  // Heap bytes held, for the memory budget.
  size_t Bytes() const;

  // Raw access for the kernels.
  const Lanes* Positions() const { return positions_.data(); }       // 3 per group
  const Lanes* Normals() const { return normals_.data(); }           // 3 per group
  const uint8_t* InfluenceCounts() const { return counts_.data(); }  // per vertex, padded
  const uint8_t* SlotCounts() const { return slots_.data(); }        // per group
  const Lanes* Weights() const { return weights_.data(); }           // per slot
  const BoneLanes* Bones() const { return bones_.data(); }           // per slot
  const uint8_t* OneBone() const { return oneBone_.data(); }         // per slot: 1 or 0
  // Per lane, the vertex it holds; INT32_MAX in a lane that holds none.
  const int32_t* Order() const { return order_.data(); }

 private:
  // Lays out group `g` (its lanes already in order_) from its first
  // influence slot `slot`; the slots it took.
  size_t FillGroup(Span<const SkinningVertex> vertices, size_t g, size_t slot);

  int vertexCount_ = 0;
  int bonesNeeded_ = 0;
  std::vector<Lanes> positions_;
  std::vector<Lanes> normals_;
  std::vector<uint8_t> counts_;
  std::vector<uint8_t> slots_;
  std::vector<Lanes> weights_;
  std::vector<BoneLanes> bones_;
  std::vector<uint8_t> oneBone_;
  std::vector<int32_t> order_;
};

// One sub-mesh's vertices for one frame. Fill in the inputs and the output,
// then Run(); Run() refuses (false, output untouched) what Validate()
// refuses. Allocates nothing.
struct SkinningJob {
  // Inputs.
  const SkinningLayout* layout = nullptr;
  Span<const SkinningBone> bones;  // at least layout->BonesNeeded()
  int vertexCount = 0;  // the first vertices of the layout, as Cal3D's level of detail keeps
  float axisFactors[3] = {1.0f, 1.0f, 1.0f};  // Cal3D's physique axis factors
  float scale = 1.0f;                         // the module's scale factor
  float turnSine = 0.0f, turnCosine = 1.0f;   // the module's turn about x
  SkinningIsa isa = BestSkinningIsa();

  // Output: x, y, z of each vertex, packed; at least 3 * vertexCount floats.
  Span<float> output;
  // Optional outputs. The unit normals, packed as the positions: empty when
  // not asked, else at least 3 * vertexCount floats. The box: null when not
  // asked, else min x, y, z then max x, y, z, widened (never shrunk) by
  // every position written, so that one box can gather several jobs.
  Span<float> normalOutput;
  float* box = nullptr;
  // The colours: empty when not asked, else (normals asked too) at least
  // vertexCount, each lit by `lighting` from the position and normal written
  // as a LightingJob would light it. The AVX2 kernel lights each group while
  // it is still in registers; the others are followed by a LightingJob.
  Span<csColor> colorOutput;
  LightSetting lighting;

  bool Validate() const;
  bool Run() const;
};

}  // namespace rigweave
