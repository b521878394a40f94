#include "viewer/floor.h"

#include <algorithm>
#include <cmath>

#include "viewer/coloured_mesh.h"

namespace rwview {
namespace {

constexpr int kLinesEachWay = 21;
const csColor kGround{0.66f, 0.68f, 0.72f};
const csColor kLine{0.45f, 0.47f, 0.52f};

class Floor : public ColouredMesh {
 public:
  Floor(const csVector3& low, const csVector3& high);

 private:
  // A rectangle from (x0, z0) to (x1, z1) at height y.
  void AddRectangle(float x0, float z0, float x1, float z1, float y, const csColor& colour) {
    AddQuad(csVector3(x0, y, z0), csVector3(x1, y, z0), csVector3(x1, y, z1), csVector3(x0, y, z1),
            colour);
  }
};

// Grid lines a round step apart, across a square several times the
// characters' footprint, so that the floor reaches the picture's edges.
Floor::Floor(const csVector3& low, const csVector3& high) {
  const csVector3 size = high - low;
  const float half = std::max({3.0f * std::max(size.x, size.z), 2.5f * size.y, 1e-3f});
  const float step = 2.0f * half / (kLinesEachWay - 1);
  const float width = 0.04f * step;
  const float cx = 0.5f * (low.x + high.x), cz = 0.5f * (low.z + high.z);
  const float y = low.y;
  // Lines stand a little above the ground, which depth testing would
  // otherwise let flicker through them.
  const float lift = 0.002f * half;
  AddRectangle(cx - half, cz - half, cx + half, cz + half, y, kGround);
  for (int i = 0; i < kLinesEachWay; i++) {
    const float at = -half + step * static_cast<float>(i);
    AddRectangle(cx + at - width, cz - half, cx + at + width, cz + half, y + lift, kLine);
    AddRectangle(cx - half, cz + at - width, cx + half, cz + at + width, y + lift, kLine);
  }
}

}  // namespace

csRef<iMeshObject> MakeFloor(const csVector3& low, const csVector3& high) {
  return csRef<iMeshObject>::Adopt(new Floor(low, high));
}

}  // namespace rwview
