#include "viewer/bounds_frame.h"

#include <algorithm>
#include <vector>

#include "host/graphics.h"
#include "host/scf_impl.h"
#include "host/view.h"

namespace rwview {
namespace {

const csColor kEdge{1.0f, 0.85f, 0.1f};

class BoundsFrame : public scfImplementation<BoundsFrame, iMeshObject> {
 public:
  explicit BoundsFrame(iMeshObject* character) : character_(character) {}
  ~BoundsFrame() override {
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
  void GetObjectBoundingBox(csBox3& box, int type) override {
    character_->GetObjectBoundingBox(box, type);
  }
  void GetRadius(csVector3& radius, csVector3& center) override {
    character_->GetRadius(radius, center);
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
  // The bars of the box's twelve edges, each two crossed strips.
  void Build(const csBox3& box);
  void AddStrip(const csVector3& a, const csVector3& b, const csVector3& across);

  csRef<iMeshObject> character_;
  std::vector<csVector3> vertices_;
  std::vector<csVector2> texels_;
  std::vector<csColor> colours_;
  std::vector<csTriangle> triangles_;
  iVertexBuffer* buffer_ = nullptr;
  iVertexBufferManager* manager_ = nullptr;
};

void BoundsFrame::AddStrip(const csVector3& a, const csVector3& b, const csVector3& across) {
  const int first = static_cast<int>(vertices_.size());
  for (const csVector3& corner : {a - across, b - across, b + across, a + across}) {
    vertices_.push_back(corner);
    texels_.emplace_back(0.0f, 0.0f);
    colours_.push_back(kEdge);
  }
  triangles_.push_back({first, first + 1, first + 2});
  triangles_.push_back({first, first + 2, first + 3});
  triangles_.push_back({first, first + 2, first + 1});
  triangles_.push_back({first, first + 3, first + 2});
}

void BoundsFrame::Build(const csBox3& box) {
  vertices_.clear();
  texels_.clear();
  colours_.clear();
  triangles_.clear();
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

bool BoundsFrame::Draw(iRenderView* view, iMovable*, csZBufMode zbufMode) {
  csBox3 box;
  character_->GetObjectBoundingBox(box, 0);
  Build(box);
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

csRef<iMeshObject> MakeBoundsFrame(iMeshObject* character) {
  return csRef<iMeshObject>::Adopt(new BoundsFrame(character));
}

}  // namespace rwview
