#include "engine/backend_bounds.h"

#include <algorithm>
#include <cmath>

namespace rwengine {

void BoundsBackend::DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry& geometry) {
  if (geometry.vertices == nullptr || record.triangles == nullptr) return;
  for (int t = 0; t < record.num_triangles; t++) {
    for (int corner : {record.triangles[t].a, record.triangles[t].b, record.triangles[t].c}) {
      if (corner < 0 || corner >= geometry.count) continue;
      const csVector3 p = geometry.objectToCamera.Other2This(geometry.vertices[corner]);
      // A misshapen file's NaN or infinite vertex would swallow the box.
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
      if (empty_) {
        min_ = max_ = p;
        empty_ = false;
        continue;
      }
      min_ = csVector3(std::min(min_.x, p.x), std::min(min_.y, p.y), std::min(min_.z, p.z));
      max_ = csVector3(std::max(max_.x, p.x), std::max(max_.y, p.y), std::max(max_.z, p.z));
    }
  }
}

}  // namespace rwengine
