#include "viewer/bounds_frame.h"

#include <algorithm>

#include "viewer/coloured_mesh.h"

namespace rwview {
namespace {

const csColor kEdge{1.0f, 0.85f, 0.1f};

// The box the character answers the engine with, made again at each draw.
class BoundsFrame : public ColouredMesh {
 public:
  explicit BoundsFrame(iMeshObject* character) : character_(character) {}

  void GetObjectBoundingBox(csBox3& box, int type) override {
    character_->GetObjectBoundingBox(box, type);
  }
  void GetRadius(csVector3& radius, csVector3& center) override {
    character_->GetRadius(radius, center);
  }

 private:
  // The bars of the box's twelve edges, each two crossed strips.
  void Update() override;
  void AddStrip(const csVector3& a, const csVector3& b, const csVector3& across) {
    AddQuad(a - across, b - across, b + across, a + across, kEdge);
  }

  csRef<iMeshObject> character_;
};

void BoundsFrame::Update() {
  csBox3 box;
  character_->GetObjectBoundingBox(box, 0);
  Clear();
  const csVector3 size = box.Max() - box.Min();
  const float width = 0.006f * std::max({size.x, size.y, size.z, 1e-3f});
  // Corner i has bit 2 for x, 1 for y, 0 for z: an edge joins corners one bit apart.
  for (int i = 0; i < 8; i++) {
    for (int axis = 0; axis < 3; axis++) {
      const int bit = 4 >> axis;
      if ((i & bit) != 0) continue;
      const csVector3 a = box.GetCorner(i), b = box.GetCorner(i | bit);
      csVector3 one(0, 0, 0), two(0, 0, 0);
      one[(axis + 1) % 3] = width;
      two[(axis + 2) % 3] = width;
      AddStrip(a, b, one);
      AddStrip(a, b, two);
    }
  }
}

}  // namespace

csRef<iMeshObject> MakeBoundsFrame(iMeshObject* character) {
  return csRef<iMeshObject>::Adopt(new BoundsFrame(character));
}

}  // namespace rwview
