#include "engine/backend_null.h"

namespace rwengine {

void NullBackend::DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry&) {
  draws++;
  triangles += record.num_triangles;
}

}  // namespace rwengine
