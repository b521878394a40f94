// The box mesh measured at load, the fixed geometric answers, and the
// polygon-mesh view that serves the box.
#include <cal3d/cal3d.h>

#include <new>

#include "model/meshobject.h"
#include "render/scratch.h"

namespace {

// The six faces of the box in the engine's corner numbering (x from bit 2,
// y from bit 1, z from bit 0), each counter-clockwise seen from outside.
constexpr int32_t kBoxFaces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                     {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};

// What the polygon view serves before a box exists: a box of zero size, so
// that a caller trusting the counts reads valid storage.
struct EmptyBoxMesh {
  csVector3 corners[8];
  int32_t indices[6][4];
  csMeshedPolygon polygons[6];
  EmptyBoxMesh() {
    for (int i = 0; i < 6; i++) {
      for (int j = 0; j < 4; j++) indices[i][j] = kBoxFaces[i][j];
      polygons[i] = {4, indices[i]};
    }
  }
};

EmptyBoxMesh& GetEmptyBoxMesh() {
  static EmptyBoxMesh mesh;
  return mesh;
}

}  // namespace

bool csCal3DMeshObject::ComputeBoxMesh() {
  CalRenderer* renderer = calModel->getRenderer();
  if (!renderer->beginRendering()) return false;

  const float factor = static_cast<float>(scale * 0.01);
  csVector3* vertices = rigweave::GetBoundsScratch();
  csBox3 box;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      const int count = renderer->getVertices(&vertices[0].x);
      rigweave::ToEngineSpace(vertices, count, factor);
      if (count <= 0) continue;
      box.AddBoundingVertex(vertices[0]);
      for (int i = 1; i < count; i++) box.AddBoundingVertexSmart(vertices[i]);
    }
  }
  renderer->endRendering();

  auto* corners = new (std::nothrow) csVector3[8];
  auto* polygons = new (std::nothrow) csMeshedPolygon[6]();
  bool complete = corners != nullptr && polygons != nullptr;
  for (int i = 0; complete && i < 6; i++) {
    polygons[i] = {4, new (std::nothrow) int32_t[4]};
    complete = polygons[i].vertices != nullptr;
    if (complete)
      for (int j = 0; j < 4; j++) polygons[i].vertices[j] = kBoxFaces[i][j];
  }
  if (!complete) {
    // Out of memory: no half-built box for the polygon view to hand out.
    if (polygons != nullptr)
      for (int i = 0; i < 6; i++) delete[] polygons[i].vertices;
    delete[] polygons;
    delete[] corners;
    return false;
  }
  for (int i = 0; i < 8; i++) corners[i] = box.GetCorner(i);
  boxCorners = corners;
  boxPolygons = polygons;
  return true;
}

void csCal3DMeshObject::GetObjectBoundingBox(csBox3& bbox, int /*type*/) {
  bbox.Set(csVector3(-1, -1, 0), csVector3(1, 1, 0));
}

void csCal3DMeshObject::GetRadius(csVector3& radius, csVector3& center) {
  csBox3 box;
  // Through the interface table, so that an override would answer.
  static_cast<iMeshObject*>(this)->GetObjectBoundingBox(box, 0);
  center = box.GetCenter();
  radius = box.GetCorner(7) - center;
}

csVector3* csCal3DMeshObject::PolygonMesh::GetVertices() {
  return scfOwner->boxCorners != nullptr ? scfOwner->boxCorners : GetEmptyBoxMesh().corners;
}

csMeshedPolygon* csCal3DMeshObject::PolygonMesh::GetPolygons() {
  return scfOwner->boxPolygons != nullptr ? scfOwner->boxPolygons : GetEmptyBoxMesh().polygons;
}

void csCal3DMeshObject::PolygonMesh::Cleanup() {
  derived = nullptr;
}
