#include "viewer/floor.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/graphics.h"
#include "host/scf_impl.h"
#include "host/view.h"

namespace rwview {
namespace {

constexpr int kLinesEachWay = 21;
const csColor kGround{0.66f, 0.68f, 0.72f};
const csColor kLine{0.45f, 0.47f, 0.52f};

class Floor : public scfImplementation<Floor, iMeshObject> {
 public:
  Floor(const csVector3& low, const csVector3& high);
  ~Floor() override {
    if (buffer_ != nullptr) buffer_->DecRef();
  }

  bool DrawTest(iRenderView* view, iMovable* movable) override {
    view->GetGraphics3D()->SetObjectToCamera(view->GetCamera()->GetTransform() /
                                             movable->GetFullTransform());
    return true;
  }
  bool Draw(iRenderView* view, iMovable*, csZBufMode zbufMode) override;

  iMeshObjectFactory* GetFactory() override { return nullptr; }
  void UpdateLighting(iLight**, int, iMovable*) override {}
  void SetVisibleCallback(iMeshObjectDrawCallback*) override {}
  iMeshObjectDrawCallback* GetVisibleCallback() override { return nullptr; }
  void GetObjectBoundingBox(csBox3& box, int) override { box = bounds_; }
  void GetRadius(csVector3& radius, csVector3& center) override {
    center = bounds_.GetCenter();
    radius = bounds_.Max() - center;
  }
  void NextFrame(csTicks) override {}
  bool WantToDie() override { return false; }
  void HardTransform(const csReversibleTransform&) override {}
  bool SupportsHardTransform() override { return false; }
  bool HitBeamOutline(const csVector3&, const csVector3&, csVector3&, float*) override {
    return false;
  }
  bool HitBeamObject(const csVector3&, const csVector3&, csVector3&, float*) override {
    return false;
  }
  iObjectModel* GetObjectModel() override { return nullptr; }
  void SetLogicalParent(iBase*) override {}
  iBase* GetLogicalParent() override { return nullptr; }

 private:
  // A rectangle from (x0, z0) to (x1, z1) at height y, both windings.
  void AddQuad(float x0, float z0, float x1, float z1, float y, const csColor& colour);

  std::vector<csVector3> vertices_;
  std::vector<csVector2> texels_;
  std::vector<csColor> colours_;
  std::vector<csTriangle> triangles_;
  csBox3 bounds_;
  iVertexBuffer* buffer_ = nullptr;
  iVertexBufferManager* manager_ = nullptr;
};

void Floor::AddQuad(float x0, float z0, float x1, float z1, float y, const csColor& colour) {
  const int first = static_cast<int>(vertices_.size());
  for (const csVector3& corner :
       {csVector3(x0, y, z0), csVector3(x1, y, z0), csVector3(x1, y, z1), csVector3(x0, y, z1)}) {
    vertices_.push_back(corner);
    texels_.emplace_back(0.0f, 0.0f);
    colours_.push_back(colour);
    bounds_.AddBoundingVertex(corner);
  }
  triangles_.push_back({first, first + 1, first + 2});
  triangles_.push_back({first, first + 2, first + 3});
  triangles_.push_back({first, first + 2, first + 1});
  triangles_.push_back({first, first + 3, first + 2});
}

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
  AddQuad(cx - half, cz - half, cx + half, cz + half, y, kGround);
  for (int i = 0; i < kLinesEachWay; i++) {
    const float at = -half + step * static_cast<float>(i);
    AddQuad(cx + at - width, cz - half, cx + at + width, cz + half, y + lift, kLine);
    AddQuad(cx - half, cz + at - width, cx + half, cz + at + width, y + lift, kLine);
  }
}

bool Floor::Draw(iRenderView* view, iMovable*, csZBufMode zbufMode) {
  iGraphics3D* g3d = view->GetGraphics3D();
  if (buffer_ == nullptr) {
    manager_ = g3d->GetVertexBufferManager();
    buffer_ = manager_->CreateBuffer(0);
    if (buffer_ == nullptr) return false;
  }
  g3d->SetRenderState(G3DRENDERSTATE_ZBUFFERMODE, zbufMode);
  G3DTriangleMesh record{};
  record.num_vertices_pool = 1;
  record.num_triangles = static_cast<int32_t>(triangles_.size());
  record.triangles = triangles_.data();
  record.use_vertex_color = true;
  record.vertex_mode = VM_WORLDSPACE;
  record.mixmode = CS_FX_COPY;
  record.buffers[0] = buffer_;
  if (!manager_->LockBuffer(buffer_, vertices_.data(), texels_.data(), colours_.data(),
                            static_cast<int>(vertices_.size()), 0))
    return false;
  g3d->DrawTriangleMesh(record);
  manager_->UnlockBuffer(buffer_);
  return true;
}

}  // namespace

csRef<iMeshObject> MakeFloor(const csVector3& low, const csVector3& high) {
  return csRef<iMeshObject>::Adopt(new Floor(low, high));
}

}  // namespace rwview
