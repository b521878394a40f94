// The skinning unit (render/skinning_job.h) applied to a Cal3D model
// instance: which sub-meshes it draws, their layouts and the frame's bone
// palette. Cal3D stays the reference and draws whatever the unit does not
// reproduce.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "render/skinning_job.h"
#include "render/span.h"

class CalModel;
class CalCoreSubmesh;
class CalSubmesh;

namespace rigweave {

// The set the owner of many characters has their jobs run on: the one the
// environment variable RIGWEAVE_SKINNING_ISA names (scalar, sse2, avx2 or avx512),
// which is how the tests and the benchmark hold each set against Cal3D,
// else the widest this processor has. A value it does not know, or a set
// the processor lacks, is said in one diagnostic line and the widest used.
// Reads the environment on every call: call it once and keep the answer.
SkinningIsa ChooseSkinningIsa();

class Cal3DSkinning {
 public:
  // The jobs run on `isa`, which the owner chose once (a supported set).
  explicit Cal3DSkinning(SkinningIsa isa) : isa_(isa) {}

  // Lays out the sub-meshes of `model`, one record each, indexed as
  // ForEachSubmesh (model/submesh_walk.h) numbers them. A sub-mesh with
  // springs (Cal3D then keeps its own vertices) is left to Cal3D. The unit
  // takes over the others; for those without morph targets nothing can send
  // them back to Cal3D, so Cal3D's per-vertex influence lists are released:
  // the layout replaces them. False, with nothing changed in Cal3D, when
  // memory runs out. `scratch` holds the copies of Cal3D's vertices the
  // layouts are built from, nothing of it kept: a caller that loads many
  // models keeps it from one to the next, so that a load does not fault in
  // fresh pages for it.
  struct Scratch {
    std::vector<SkinningVertex> vertices;
    std::vector<SkinningInfluence> influences;
  };
  bool Prepare(CalModel& model, Scratch& scratch);
  // Takes the records another character of the same core model prepared
  // (they are never changed once made), with a palette of its own for
  // `model`. False when memory runs out.
  bool Share(const Cal3DSkinning& prepared, CalModel& model);

  // Heap bytes of the records and the palette.
  size_t Bytes() const;

  // Reads the bone palette from the skeleton's current state; once a frame,
  // after the model's update and before the first job runs.
  void BeginFrame(CalModel& model);

  SkinningIsa Isa() const { return isa_; }
  // Another set for the jobs from now on, for the benchmark; false, nothing
  // changed, when this processor lacks it.
  bool SetIsa(SkinningIsa isa);

  // A sub-mesh as laid out at load: its layout (empty when Cal3D keeps it)
  // and the core sub-mesh it was made from.
  struct Record {
    SkinningLayout layout;
    const CalCoreSubmesh* core = nullptr;
  };
  // The record of the sub-mesh at position `index` of the walk, or null.
  const Record* Find(int index) const;
  Span<const SkinningBone> Palette() const { return {palette_.data(), palette_.size()}; }

 private:
  std::shared_ptr<const std::vector<Record>> records_;
  std::vector<SkinningBone> palette_;
  SkinningIsa isa_;
};

// One sub-mesh's engine-space positions for one frame: Cal3D's vertices
// scaled by `scale` and turned about x. Fill in the fields, then Run();
// Run() refuses (false, output untouched) what Validate() refuses, and then
// Cal3D computes the sub-mesh this frame. Allocates nothing.
struct SubmeshSkinningJob {
  const Cal3DSkinning* skinning = nullptr;
  int index = -1;                            // the sub-mesh's position in the walk
  CalSubmesh* submesh = nullptr;             // the sub-mesh at that position
  float scale = 1.0f;                        // the module's scale factor
  float turnSine = 0.0f, turnCosine = 1.0f;  // the module's turn about x
  // x, y, z of each vertex, packed: at least 3 * submesh->getVertexCount().
  Span<float> output;
  // Optional, as SkinningJob's: the unit normals (empty: not asked) and the
  // box to widen (null: not asked).
  Span<float> normalOutput;
  float* box = nullptr;
  // Optional, as SkinningJob's: the colours (empty: not asked), lit by
  // `lighting`.
  Span<csColor> colorOutput;
  LightSetting lighting;

  // False when the unit does not draw this sub-mesh this frame: no record
  // or no layout for `index`, a record made from another sub-mesh, springs
  // or morph targets in use, or too small an output.
  bool Validate() const;
  // Writes submesh->getVertexCount() vertices.
  bool Run() const;

 private:
  SkinningJob Job() const;
};

}  // namespace rigweave
