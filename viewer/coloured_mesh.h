// What the viewer draws besides the characters (the floor, a character's
// box): coloured, untextured world-space triangles, both windings, through
// the engine's renderer as any mesh object is drawn.
#pragma once

#include <vector>

#include "host/graphics.h"
#include "host/mesh.h"
#include "host/scf_impl.h"
#include "host/view.h"

namespace rwview {

class ColouredMesh : public scfImplementation<ColouredMesh, iMeshObject> {
 public:
  ~ColouredMesh() override;

  bool DrawTest(iRenderView* view, iMovable* movable) override;
  // Calls Update(), then hands the triangles to the renderer.
  bool Draw(iRenderView* view, iMovable*, csZBufMode zbufMode) override;

  iMeshObjectFactory* GetFactory() override { return nullptr; }
  void UpdateLighting(iLight**, int, iMovable*) override {}
  void SetVisibleCallback(iMeshObjectDrawCallback*) override {}
  iMeshObjectDrawCallback* GetVisibleCallback() override { return nullptr; }
  void GetObjectBoundingBox(csBox3& box, int) override { box = bounds_; }
  void GetRadius(csVector3& radius, csVector3& center) override;
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

 protected:
  // Before each draw: what changes from frame to frame is made again here.
  virtual void Update() {}
  void Clear();
  // The quadrilateral a, b, c, d in one colour, seen from both sides.
  void AddQuad(const csVector3& a, const csVector3& b, const csVector3& c, const csVector3& d,
               const csColor& colour);

 private:
  std::vector<csVector3> vertices_;
  std::vector<csVector2> texels_;
  std::vector<csColor> colours_;
  std::vector<csTriangle> triangles_;
  csBox3 bounds_;
  iVertexBuffer* buffer_ = nullptr;
  iVertexBufferManager* manager_ = nullptr;
};

}  // namespace rwview
