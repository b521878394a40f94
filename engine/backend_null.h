// A backend that takes every call and draws nothing, so that benchmarks
// measure the module and not a rasteriser. It only counts, which costs
// nothing and lets a benchmark check that work reached the renderer.
#pragma once

#include "engine/backend.h"

namespace rwengine {

class NullBackend : public RenderBackend {
 public:
  void BeginFrame(int, int) override { frames++; }
  void EndFrame() override {}
  void SetRenderState(G3D_RENDERSTATEOPTION, int32_t) override {}
  void SetObjectToCamera(const csReversibleTransform&) override {}
  void DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry&) override;
  void OnLock(iVertexBuffer*, const csVector3*, const csVector2*, const csColor*, int,
              int) override {}
  void OnUnlock(iVertexBuffer*) override {}
  void OnFog(const G3DTriangleMesh*, int) override {}
  // It reads no geometry, so the renderer needs no index checks for it;
  // `checked` makes the renderer check anyway, to measure what that costs.
  bool ReadsGeometry() const override { return checked; }

  bool checked = false;
  long frames = 0;
  long draws = 0;
  long triangles = 0;
};

}  // namespace rwengine
