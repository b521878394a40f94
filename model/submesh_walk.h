// The one order in which the module visits a model instance's sub-meshes:
// Cal3D's renderer's, meshes in the order they were attached, each mesh's
// sub-meshes in order, leaving out any the renderer cannot select. Every
// per-sub-mesh table of a mesh object (draw records, colour arrays, skinning
// records) is indexed by the position in this walk, so a sub-mesh has one
// number wherever it is looked up.
#pragma once

#include <cal3d/cal3d.h>

#include <cstddef>
#include <vector>

namespace rigweave {

struct SubmeshVisit {
  int index;              // position in the walk, from 0
  CalSubmesh& submesh;    // the sub-mesh at that position...
  CalRenderer& renderer;  // ...selected in the model's renderer
  int mesh;               // the position of its mesh in the model's meshes
};

// Calls visit(const SubmeshVisit&) for every sub-mesh of `model`, between
// the renderer's beginRendering and endRendering; `visit` answers false to
// stop the walk there. False, nothing visited, when the renderer cannot
// begin (a model without meshes).
template <class Visit>
bool ForEachSubmesh(CalModel& model, Visit&& visit) {
  CalRenderer& renderer = *model.getRenderer();
  if (!renderer.beginRendering()) return false;
  std::vector<CalMesh*>& meshes = model.getVectorMesh();
  int index = 0;
  bool walking = true;
  for (size_t mesh = 0; walking && mesh < meshes.size(); mesh++) {
    for (int sub = 0; walking && sub < meshes[mesh]->getSubmeshCount(); sub++) {
      if (!renderer.selectMeshSubmesh(static_cast<int>(mesh), sub)) continue;
      // What the renderer selected, which Cal3D does not hand out.
      CalSubmesh* submesh = meshes[mesh]->getSubmesh(sub);
      walking = visit(SubmeshVisit{index++, *submesh, renderer, static_cast<int>(mesh)});
    }
  }
  renderer.endRendering();
  return true;
}

}  // namespace rigweave
