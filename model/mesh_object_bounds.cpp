// The box mesh measured at load, the fixed geometric answers, and the
// polygon-mesh view that serves the box.
#include <cal3d/cal3d.h>

#include "model/frame_storage.h"
#include "model/mesh_object.h"
#include "render/engine_space.h"

void csCal3DMeshObject::MeasureBox() {
  CalRenderer* renderer = calModel->getRenderer();
  if (!renderer->beginRendering()) return;

  csVector3* vertices = rigweave::GetBoundsStorage();
  rigweave::EngineSpaceJob turn;
  turn.scale = static_cast<float>(scale * 0.01);
  csBox3 bounds;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      const int count = renderer->getVertices(&vertices[0].x);
      if (count <= 0) continue;
      turn.input = {vertices, static_cast<size_t>(count)};
      turn.output = {vertices, static_cast<size_t>(count)};
      if (!turn.Run()) continue;
      bounds.AddBoundingVertex(vertices[0]);
      for (int i = 1; i < count; i++) bounds.AddBoundingVertexSmart(vertices[i]);
    }
  }
  renderer->endRendering();
  box = rigweave::BoxMesh(bounds);
}

void csCal3DMeshObject::GetObjectBoundingBox(csBox3& bbox, int /*type*/) {
  bbox.Set(csVector3(-1, -1, 0), csVector3(1, 1, 0));
}

void csCal3DMeshObject::GetRadius(csVector3& radius, csVector3& center) {
  csBox3 bounds;
  // Through the interface table, so that an override would answer.
  static_cast<iMeshObject*>(this)->GetObjectBoundingBox(bounds, 0);
  center = bounds.GetCenter();
  radius = bounds.GetCorner(7) - center;
}

void csCal3DMeshObject::PolygonMesh::Cleanup() {
  derived = nullptr;
}
