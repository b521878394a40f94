// A view of the scene as a mesh object is drawn into it: the renderer, the
// camera, and the fog and clipping the view decides on.
#pragma once

#include "engine/camera.h"
#include "engine/graphics3d.h"
#include "engine/live_objects.h"
#include "host/ref.h"
#include "host/scf_impl.h"
#include "host/view.h"

namespace rwengine {

class RenderView : public scfImplementation<RenderView, iRenderView>,
                   private LiveCounted<RenderView> {
 public:
  static constexpr const char kLiveName[] = "RenderView";

  // Holds a reference on both.
  RenderView(Graphics3D* graphics, iCamera* camera);

  iGraphics3D* GetGraphics3D() override { return graphics_.get(); }
  iCamera* GetCamera() override { return camera_.get(); }
  // Writes do_fog; with fog, also one fog value for each vertex locked in
  // buffers[0]: the fog colour at intensity 1 - exp(-density * depth), depth
  // being the vertex's camera-space z (nothing behind the eye).
  void CalculateFogMesh(const csReversibleTransform& objectToCamera,
                        G3DTriangleMesh& mesh) override;
  // Writes the clip values set with SetClipping: by default 0 for all three,
  // as one sector without portals never needs clipping.
  bool ClipBBox(const csBox2& sbox, const csBox3& cbox, int& clipPortal, int& clipPlane,
                int& clipZPlane) override;

  // Negative densities are taken as no fog.
  void SetFog(const csColor& color, float density);
  void ClearFog() { fogOn_ = false; }
  bool HasFog() const { return fogOn_; }
  const csColor& FogColor() const { return fogColor_; }
  float FogDensity() const { return fogDensity_; }
  // What ClipBBox answers from now on, for views that stand in for a clipping one.
  void SetClipping(int portal, int plane, int zPlane) {
    clipPortal_ = portal, clipPlane_ = plane, clipZPlane_ = zPlane;
  }

  Graphics3D* GetRenderer() const { return graphics_.get(); }
  int clipBBoxCalls = 0;
  int fogCalls = 0;

 private:
  csRef<Graphics3D> graphics_;
  csRef<iCamera> camera_;
  bool fogOn_ = false;
  csColor fogColor_{0, 0, 0};
  float fogDensity_ = 0;
  int clipPortal_ = 0, clipPlane_ = 0, clipZPlane_ = 0;
};

}  // namespace rwengine
