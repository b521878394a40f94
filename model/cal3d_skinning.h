// The skinning unit (render/skinning_job.h) applied to a Cal3D model
// instance: which sub-meshes it draws, their layouts and the frame's bone
// palette. Cal3D stays the reference and draws whatever the unit does not
// reproduce.
#pragma once

#include <cstddef>
#include <vector>

#include "render/skinning_job.h"

class CalModel;
class CalCoreSubmesh;
class CalSubmesh;

namespace rigweave {

class Cal3DSkinning {
 public:
  // Lays out the sub-meshes of `model` in the order its renderer visits
  // them, one slot each. A sub-mesh with springs (Cal3D then keeps its own
  // vertices) is left to Cal3D. The unit takes over the others; for those
  // without morph targets nothing can send them back to Cal3D, so Cal3D's
  // per-vertex influence lists are released: the layout replaces them.
  // False, with nothing changed in Cal3D, when memory runs out.
  bool Prepare(CalModel& model);

  // Whether sub-mesh `index` (counted as the renderer visits them) has a layout.
  bool Owns(int index) const;
  // Heap bytes of the layouts and the palette.
  size_t Bytes() const;

  // Reads the bone palette from the skeleton's current state; once a frame,
  // after the model's update and before the first Skin().
  void BeginFrame(CalModel& model);

  // Writes the engine-space positions of sub-mesh `index` (`submesh`, the
  // index-th sub-mesh Cal3D's renderer can select) into `output` (room for
  // `capacity` vertices): Cal3D's vertices scaled by `scale` and turned
  // about x. Returns the vertices written, or -1 when Cal3D has to compute
  // them this frame (springs, morph targets in use, no layout, or a
  // sub-mesh other than the one laid out under that index).
  int Skin(int index, CalSubmesh& submesh, float* output, size_t capacity, float scale, float sine,
           float cosine) const;

  // The instruction set the jobs run on: ChosenSkinningIsa() when prepared,
  // unless the benchmark asks for another.
  SkinningIsa Isa() const { return isa_; }
  bool SetIsa(SkinningIsa isa);

 private:
  std::vector<SkinningLayout> layouts_;
  std::vector<const CalCoreSubmesh*> cores_;  // what each layout was made from
  std::vector<SkinningBone> palette_;
  SkinningIsa isa_ = BestSkinningIsa();
};

}  // namespace rigweave
