// What a mesh object sees of the view it is drawn in.
#pragma once

#include "host/graphics.h"
#include "host/math_types.h"
#include "host/scf.h"

struct iCamera : iBase {
  SCF_INTERFACE(iCamera, 0, 0, 1)
  virtual void SetTransform(const csOrthoTransform& transform) = 0;
  // Horizontal field of view in degrees.
  virtual float GetFOVAngle() = 0;
  virtual void SetFOVAngle(float degrees) = 0;
  virtual void SetMirrored(bool mirrored) = 0;
  virtual void ReservedSlot8() {}
  virtual void ReservedSlot9() {}
  virtual void ReservedSlot10() {}
  virtual void ReservedSlot11() {}
  virtual void ReservedSlot12() {}
  virtual void ReservedSlot13() {}
  // 14. World space to camera space.
  virtual csOrthoTransform& GetTransform() = 0;
  virtual void ReservedSlot15() {}
  virtual void ReservedSlot16() {}
  virtual void ReservedSlot17() {}
  virtual void ReservedSlot18() {}
  virtual void ReservedSlot19() {}
  virtual void ReservedSlot20() {}
  virtual void ReservedSlot21() {}
  virtual void ReservedSlot22() {}
  // 23.
  virtual bool IsMirrored() = 0;

 protected:
  ~iCamera() = default;
};

struct iMovable : iBase {
  SCF_INTERFACE(iMovable, 0, 0, 1)
  virtual void SetPosition(const csVector3& position) = 0;
  virtual const csVector3& GetPosition() = 0;
  // World space to object space, without parents.
  virtual void SetTransform(const csReversibleTransform& transform) = 0;
  virtual csReversibleTransform& GetTransform() = 0;
  virtual void UpdateMove() = 0;
  virtual void ReservedSlot9() {}
  virtual void ReservedSlot10() {}
  virtual void ReservedSlot11() {}
  virtual void ReservedSlot12() {}
  virtual void ReservedSlot13() {}
  virtual void ReservedSlot14() {}
  virtual void ReservedSlot15() {}
  virtual void ReservedSlot16() {}
  // 17. World space to object space, parents included.
  virtual csReversibleTransform GetFullTransform() = 0;

 protected:
  ~iMovable() = default;
};

struct iRenderView : iBase {
  SCF_INTERFACE(iRenderView, 0, 0, 1)
  virtual void ReservedSlot4() {}
  virtual void ReservedSlot5() {}
  virtual void ReservedSlot6() {}
  virtual void ReservedSlot7() {}
  virtual void ReservedSlot8() {}
  virtual void ReservedSlot9() {}
  // 10.
  virtual iGraphics3D* GetGraphics3D() = 0;
  virtual void ReservedSlot11() {}
  virtual void ReservedSlot12() {}
  virtual void ReservedSlot13() {}
  virtual void ReservedSlot14() {}
  virtual void ReservedSlot15() {}
  virtual void ReservedSlot16() {}
  virtual void ReservedSlot17() {}
  virtual void ReservedSlot18() {}
  virtual void ReservedSlot19() {}
  virtual void ReservedSlot20() {}
  virtual void ReservedSlot21() {}
  virtual void ReservedSlot22() {}
  virtual void ReservedSlot23() {}
  virtual void ReservedSlot24() {}
  virtual void ReservedSlot25() {}
  // 26.
  virtual iCamera* GetCamera() = 0;
  virtual void ReservedSlot27() {}
  virtual void ReservedSlot28() {}
  virtual void ReservedSlot29() {}
  // 30. Sets the record's do_fog and fills vertex_fog for the vertices of
  // the locked buffer, seen through the object-to-camera transform.
  virtual void CalculateFogMesh(const csReversibleTransform& tr_o2c, G3DTriangleMesh& mesh) = 0;
  virtual void ReservedSlot31() {}
  virtual void ReservedSlot32() {}
  // 33. How an object with the given screen and camera-space bounds must be
  // clipped.
  virtual bool ClipBBox(const csBox2& sbox, const csBox3& cbox, int& clip_portal, int& clip_plane,
                        int& clip_z_plane) = 0;

 protected:
  ~iRenderView() = default;
};
