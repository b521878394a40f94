#include "engine/render_view.h"

#include <cmath>

#include "engine/backend.h"

namespace rwengine {

RenderView::RenderView(Graphics3D* graphics, iCamera* camera)
    : graphics_(graphics), camera_(camera) {}

void RenderView::SetFog(const csColor& color, float density) {
  fogColor_ = color;
  fogDensity_ = density;
  fogOn_ = density >= 0.0f;
}

void RenderView::CalculateFogMesh(const csReversibleTransform& objectToCamera,
                                  G3DTriangleMesh& mesh) {
  fogCalls++;
  iVertexBuffer* buffer = mesh.buffers[0];
  const int count = buffer != nullptr ? buffer->GetVertexCount() : 0;
  const csVector3* vertices = buffer != nullptr ? buffer->GetVertices(0) : nullptr;
  // Without somewhere to write, the mesh cannot be fogged at all.
  mesh.do_fog = fogOn_ && mesh.vertex_fog != nullptr;
  // A view without fog only says so: the renderer reads no fog values then,
  // and filling them would cost every mesh a pass over its vertices.
  if (mesh.do_fog) {
    for (int i = 0; i < count; i++) {
      G3DFogInfo& fog = mesh.vertex_fog[i];
      fog.r = fogColor_.red;
      fog.g = fogColor_.green;
      fog.b = fogColor_.blue;
      fog.intensity = 0.0f;
      if (vertices == nullptr) continue;
      const float depth = objectToCamera.Other2This(vertices[i]).z;
      if (depth > 0.0f) fog.intensity = 1.0f - std::exp(-fogDensity_ * depth);
    }
  }
  if (RenderBackend* backend = graphics_ ? graphics_->GetBackend() : nullptr)
    backend->OnFog(&mesh, count);
}

bool RenderView::ClipBBox(const csBox2&, const csBox3&, int& clipPortal, int& clipPlane,
                          int& clipZPlane) {
  clipBBoxCalls++;
  clipPortal = clipPortal_;
  clipPlane = clipPlane_;
  clipZPlane = clipZPlane_;
  return true;
}

}  // namespace rwengine
