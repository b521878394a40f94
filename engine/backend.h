// What the renderer hands to whatever actually draws (or records, or drops)
// the frame. A backend sees every call in the order the module made it, so a
// recording can be compared call for call and a drawing backend needs to keep
// no state of its own between calls.
#pragma once

#include <cstdint>

#include "host/graphics.h"
#include "host/math_types.h"

namespace rwengine {

// How camera space reaches the screen. Camera space looks down +z with +y up;
// a point (x, y, z) in front of the camera (z > 0) lands at
//   screen x = centerX + aspect * x / z   (mirrored views: centerX - aspect * x / z)
//   screen y = centerY + aspect * y / z   (counted from the bottom row)
struct Projection {
  float aspect = 0;  // focal length in pixels
  int centerX = 0;
  int centerY = 0;
  int width = 0;
  int height = 0;
};

// Everything one triangle-mesh draw needs besides the record itself. The
// arrays are the ones locked into buffers[0] (not copies) and are valid only
// during the call; texels and colors may be null.
struct DrawGeometry {
  const csVector3* vertices = nullptr;  // object space (VM_WORLDSPACE)
  const csVector2* texels = nullptr;
  const csColor* colors = nullptr;
  int count = 0;  // every triangle index is below this
  Projection projection;
  csReversibleTransform objectToCamera;
  csZBufMode zbufMode = CS_ZBUF_NONE;  // render state G3DRENDERSTATE_ZBUFFERMODE
};

class RenderBackend {
 public:
  virtual ~RenderBackend() = default;

  virtual void BeginFrame(int width, int height) = 0;
  virtual void EndFrame() = 0;
  virtual void SetRenderState(G3D_RENDERSTATEOPTION op, int32_t value) = 0;
  virtual void SetObjectToCamera(const csReversibleTransform& objectToCamera) = 0;
  // Only records the renderer accepted arrive here: buffers[0] locked, the
  // triangles present and every index inside the locked vertices. The
  // texture to show is record.mat_handle->GetTexture()->GetImage() when
  // mat_handle is not null; do_mirror says the view is mirrored.
  virtual void DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry& geometry) = 0;
  virtual void OnLock(iVertexBuffer* buffer, const csVector3* vertices, const csVector2* texels,
                      const csColor* colors, int count, int bufNumber) = 0;
  virtual void OnUnlock(iVertexBuffer* buffer) = 0;
  // The view filled record->vertex_fog for `count` vertices.
  virtual void OnFog(const G3DTriangleMesh* record, int count) = 0;
  // Whether DrawTriangleMesh reads the vertices and triangles; the renderer
  // checks every index against the locked vertices only for backends that do.
  virtual bool ReadsGeometry() const { return true; }
};

}  // namespace rwengine
