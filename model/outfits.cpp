// What a character wears: which of its meshes show and which materials its
// sub-meshes take. Both are the character's own (its Cal3D instance's
// sub-mesh materials, its own hidden flags); the shared model is only read.
#include <cal3d/cal3d.h>

#include <mutex>

#include "model/mesh_object.h"
#include "model/shared_model.h"
#include "model/submesh_walk.h"

bool csCal3DMeshObject::Hidden(const rigweave::SubmeshVisit& visit) const {
  return visit.mesh >= 0 && static_cast<size_t>(visit.mesh) < meshHidden.size() &&
         meshHidden[static_cast<size_t>(visit.mesh)] != 0;
}

int csCal3DMeshObject::GetMeshCount() {
  return calModel ? static_cast<int>(calModel->getVectorMesh().size()) : 0;
}

bool csCal3DMeshObject::SetMeshVisible(int mesh, bool visible) {
  return rigweave::Guarded("SetMeshVisible", false, [&] {
    if (mesh < 0 || mesh >= GetMeshCount()) return false;
    meshHidden.resize(calModel->getVectorMesh().size(), 0);
    meshHidden[static_cast<size_t>(mesh)] = visible ? 0 : 1;
    geometryChanges++;
    return true;
  });
}

bool csCal3DMeshObject::IsMeshVisible(int mesh) {
  if (mesh < 0 || mesh >= GetMeshCount()) return false;
  return static_cast<size_t>(mesh) >= meshHidden.size() ||
         meshHidden[static_cast<size_t>(mesh)] == 0;
}

bool csCal3DMeshObject::SetMaterialSet(int set) {
  return rigweave::Guarded("SetMaterialSet", false, [&] {
    if (!calModel || set < 0) return false;
    // Asking Cal3D for a thread's material in a set it lacks writes its
    // error state, which loads share: asked while no load runs.
    std::lock_guard<std::mutex> oneAtATime(rigweave::LoadMutex());
    std::vector<std::pair<CalSubmesh*, int>> changes;
    rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit& visit) {
      const int thread = visit.submesh.getCoreSubmesh()->getCoreMaterialThreadId();
      const int id = calCoreModel->getCoreMaterialId(thread, set);
      if (id >= 0 && id < calCoreModel->getCoreMaterialCount())
        changes.emplace_back(&visit.submesh, id);
      return true;
    });
    if (changes.empty()) return false;
    for (const auto& change : changes) change.first->setCoreMaterialId(change.second);
    return true;
  });
}

bool csCal3DMeshObject::SetSubmeshMaterial(int submesh, int material) {
  return rigweave::Guarded("SetSubmeshMaterial", false, [&] {
    if (!calModel || material < 0 || material >= calCoreModel->getCoreMaterialCount()) return false;
    bool found = false;
    rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit& visit) {
      if (visit.index != submesh) return true;
      visit.submesh.setCoreMaterialId(material);
      found = true;
      return false;
    });
    return found;
  });
}
