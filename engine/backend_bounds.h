// A backend that draws nothing and measures what it is given: the box, in
// camera space, around every vertex a drawn triangle uses. With the camera
// at the origin of the world looking down +z, that box is in world space:
// how a program learns where the characters it draws are and how large,
// whatever units their files use.
#pragma once

#include "engine/backend.h"

namespace rwengine {

class BoundsBackend : public RenderBackend {
 public:
  void BeginFrame(int, int) override {}
  void EndFrame() override {}
  void SetRenderState(G3D_RENDERSTATEOPTION, int32_t) override {}
  void SetObjectToCamera(const csReversibleTransform&) override {}
  void DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry& geometry) override;
  void OnLock(iVertexBuffer*, const csVector3*, const csVector2*, const csColor*, int,
              int) override {}
  void OnUnlock(iVertexBuffer*) override {}
  void OnFog(const G3DTriangleMesh*, int) override {}

  // Empty until a triangle with finite corners was drawn.
  bool Empty() const { return empty_; }
  const csVector3& Min() const { return min_; }
  const csVector3& Max() const { return max_; }
  void Reset() { empty_ = true; }

 private:
  bool empty_ = true;
  csVector3 min_, max_;
};

}  // namespace rwengine
