#include "engine/graphics3d.h"

#include <cmath>

#include "engine/backend.h"

namespace rwengine {
namespace {

// Focal length in pixels of a 60 degree horizontal view: the default camera's.
float DefaultAspect(int width) {
  return static_cast<float>((width / 2.0) / std::tan(30.0 * 3.14159265358979323846 / 180.0));
}

}  // namespace

Graphics3D::Graphics3D(int width, int height)
    : manager_(csRef<VertexBufferManager>::Adopt(new VertexBufferManager)),
      width_(width),
      height_(height),
      aspect_(DefaultAspect(width)),
      centerX_(width / 2),
      centerY_(height / 2) {}

Graphics3D::~Graphics3D() {
  manager_->Close();
  manager_->SetBackend(nullptr);
}

bool Graphics3D::Open() {
  manager_->Reopen();
  open_ = true;
  return true;
}

void Graphics3D::Close() {
  open_ = false;
  manager_->Close();
}

bool Graphics3D::BeginDraw() {
  if (!open_) return false;
  if (backend_ != nullptr) backend_->BeginFrame(width_, height_);
  return true;
}

void Graphics3D::FinishDraw() {
  if (backend_ != nullptr) backend_->EndFrame();
}

void Graphics3D::SetObjectToCamera(const csReversibleTransform& o2c) {
  objectToCamera_ = o2c;
  if (backend_ != nullptr) backend_->SetObjectToCamera(o2c);
}

bool Graphics3D::SetRenderState(G3D_RENDERSTATEOPTION op, int32_t value) {
  if (op < 0 || op >= kRenderStateCount) return false;
  renderStates_[op] = value;
  if (backend_ != nullptr) backend_->SetRenderState(op, value);
  return true;
}

int32_t Graphics3D::GetRenderState(G3D_RENDERSTATEOPTION op) {
  return op < 0 || op >= kRenderStateCount ? 0 : renderStates_[op];
}

bool Graphics3D::Drawable(const G3DTriangleMesh& mesh, VertexBuffer*& buffer) {
  if (!open_) return false;
  buffer = dynamic_cast<VertexBuffer*>(mesh.buffers[0]);
  if (buffer == nullptr || buffer->GetManager() != manager_.get() || !buffer->IsLocked())
    return false;
  if (mesh.num_triangles < 0 || (mesh.num_triangles > 0 && mesh.triangles == nullptr)) return false;
  if (mesh.do_fog && mesh.vertex_fog == nullptr) return false;
  // A backend indexes the locked arrays with these directly.
  const int32_t count = buffer->GetVertexCount();
  for (int32_t i = 0; i < mesh.num_triangles; i++) {
    const csTriangle& t = mesh.triangles[i];
    if (t.a < 0 || t.a >= count || t.b < 0 || t.b >= count || t.c < 0 || t.c >= count) return false;
  }
  return true;
}

void Graphics3D::DrawTriangleMesh(G3DTriangleMesh& mesh) {
  VertexBuffer* buffer = nullptr;
  if (!Drawable(mesh, buffer)) {
    drawsRejected_++;
    return;
  }
  drawsAccepted_++;
  if (backend_ == nullptr) return;
  DrawGeometry geometry;
  geometry.vertices = buffer->GetVertices(0);
  geometry.texels = buffer->GetTexels();
  geometry.colors = buffer->GetColors();
  geometry.count = buffer->GetVertexCount();
  geometry.projection = GetProjection();
  geometry.object_to_camera = objectToCamera_;
  geometry.zbuf_mode = static_cast<csZBufMode>(renderStates_[G3DRENDERSTATE_ZBUFFERMODE]);
  backend_->DrawTriangleMesh(mesh, geometry);
}

void Graphics3D::SetBackend(RenderBackend* backend) {
  backend_ = backend;
  manager_->SetBackend(backend);
}

void Graphics3D::SetSize(int width, int height) {
  width_ = width;
  height_ = height;
  centerX_ = width / 2;
  centerY_ = height / 2;
}

Projection Graphics3D::GetProjection() const {
  Projection projection;
  projection.aspect = aspect_;
  projection.center_x = centerX_;
  projection.center_y = centerY_;
  projection.width = width_;
  projection.height = height_;
  return projection;
}

}  // namespace rwengine
