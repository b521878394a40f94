#include "engine/graphics3d.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/backend.h"

namespace rwengine {
namespace {

// Focal length in pixels of a 60 degree horizontal view: the default camera's.
float DefaultAspect(int width) {
  return static_cast<float>((width / 2.0) / std::tan(30.0 * 3.14159265358979323846 / 180.0));
}

// Whether every one of `n` indices lies in [0, count). Every record drawn
// pays for this, so it runs without an early exit (the answer for a good
// mesh needs every index anyway), four indices per instruction where SSE2
// is there; seen as unsigned, a negative index is as far out as a large one.
bool IndicesBelow(const int32_t* indices, size_t n, int32_t count) {
  if (count <= 0) return n == 0;
  const auto limit = static_cast<uint32_t>(count);
  uint32_t outside = 0;
  size_t i = 0;
#if defined(__SSE2__)
  // SSE2 compares signed lanes only: flipping the sign bit of both sides
  // makes that an unsigned comparison.
  const __m128i flip = _mm_set1_epi32(INT32_MIN);
  const __m128i last = _mm_set1_epi32(static_cast<int32_t>((limit - 1) ^ 0x80000000u));
  __m128i low = _mm_setzero_si128(), high = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(indices + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(indices + i + 4));
    low = _mm_or_si128(low, _mm_cmpgt_epi32(_mm_xor_si128(a, flip), last));
    high = _mm_or_si128(high, _mm_cmpgt_epi32(_mm_xor_si128(b, flip), last));
  }
  outside = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(low, high)));
#endif
  for (; i < n; i++) outside |= static_cast<uint32_t>(indices[i]) >= limit;
  return outside == 0;
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
  // A backend that reads geometry indexes the locked arrays with these
  // directly; one that reads none cannot be led astray by them.
  if (backend_ != nullptr && !backend_->ReadsGeometry()) return true;
  static_assert(sizeof(csTriangle) == 3 * sizeof(int32_t), "triangles are read as indices");
  return IndicesBelow(reinterpret_cast<const int32_t*>(mesh.triangles),
                      3 * static_cast<size_t>(mesh.num_triangles), buffer->GetVertexCount());
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
  geometry.objectToCamera = objectToCamera_;
  geometry.zbufMode = static_cast<csZBufMode>(renderStates_[G3DRENDERSTATE_ZBUFFERMODE]);
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
  projection.centerX = centerX_;
  projection.centerY = centerY_;
  projection.width = width_;
  projection.height = height_;
  return projection;
}

}  // namespace rwengine
