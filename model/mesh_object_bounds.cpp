// The box mesh measured at load, the geometric answers (fixed unless the
// box follows the pose), and the polygon-mesh view that serves the box.
#include <cal3d/cal3d.h>

#include "model/draw_storage.h"
#include "model/mesh_object.h"
#include "model/submesh_walk.h"
#include "render/engine_space.h"

void csCal3DMeshObject::MeasureBox() {
  const rigweave::DrawStorageLease storage;
  csVector3* vertices = (*storage).vertices;
  rigweave::EngineSpaceJob turn;
  turn.scale = static_cast<float>(scale * rigweave::kBoxUnitsPerModelUnit);
  csBox3 bounds;
  rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit& visit) {
    const int count = visit.renderer.getVertices(&vertices[0].x);
    turn.input = {vertices, static_cast<size_t>(count > 0 ? count : 0)};
    turn.output = {vertices, static_cast<size_t>(count > 0 ? count : 0)};
    if (count <= 0 || !turn.Run()) return true;
    bounds.AddBoundingVertex(vertices[0]);
    for (int i = 1; i < count; i++) bounds.AddBoundingVertexSmart(vertices[i]);
    return true;
  });
  box = rigweave::BoxMesh(bounds);
}

void csCal3DMeshObject::GetObjectBoundingBox(csBox3& bbox, int /*type*/) {
  // The box of the pose when the application asked for it to follow, and
  // the character has something to show; the fixed answer otherwise.
  if (boundsFollow && GetPoseBox(bbox)) return;
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
