#include "viewer/coloured_mesh.h"

namespace rwview {

ColouredMesh::~ColouredMesh() {
  if (buffer_ != nullptr) buffer_->DecRef();
}

bool ColouredMesh::DrawTest(iRenderView* view, iMovable* movable) {
  view->GetGraphics3D()->SetObjectToCamera(view->GetCamera()->GetTransform() /
                                           movable->GetFullTransform());
  return true;
}

void ColouredMesh::GetRadius(csVector3& radius, csVector3& center) {
  center = bounds_.GetCenter();
  radius = bounds_.Max() - center;
}

void ColouredMesh::Clear() {
  vertices_.clear();
  texels_.clear();
  colours_.clear();
  triangles_.clear();
  bounds_.StartBoundingBox();
}

void ColouredMesh::AddQuad(const csVector3& a, const csVector3& b, const csVector3& c,
                           const csVector3& d, const csColor& colour) {
  const int first = static_cast<int>(vertices_.size());
  for (const csVector3& corner : {a, b, c, d}) {
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

bool ColouredMesh::Draw(iRenderView* view, iMovable*, csZBufMode zbufMode) {
  Update();
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

}  // namespace rwview
