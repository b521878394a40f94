// The eye of a view: world-to-camera transform, horizontal field of view and
// whether the picture is mirrored.
#pragma once

#include "engine/live_objects.h"
#include "host/scf_impl.h"
#include "host/view.h"

namespace rwengine {

class Camera : public scfImplementation<Camera, iCamera>, private LiveCounted<Camera> {
 public:
  static constexpr const char kLiveName[] = "Camera";
  static constexpr float kDefaultFOV = 60.0f;

  // Camera space looks down +z with +y up.
  csOrthoTransform& GetTransform() override { return transform_; }
  void SetTransform(const csOrthoTransform& transform) override { transform_ = transform; }
  float GetFOVAngle() override { return fov_; }
  // Angles outside (0, 180) cannot be projected and are refused.
  void SetFOVAngle(float degrees) override;
  void SetMirrored(bool mirrored) override { mirrored_ = mirrored; }
  bool IsMirrored() override { return mirrored_; }
  // Reserved slots: nothing calls them.
  void ReservedSlot8() override {}
  void ReservedSlot9() override {}
  void ReservedSlot10() override {}
  void ReservedSlot11() override {}
  void ReservedSlot12() override {}
  void ReservedSlot13() override {}
  void ReservedSlot15() override {}
  void ReservedSlot16() override {}
  void ReservedSlot17() override {}
  void ReservedSlot18() override {}
  void ReservedSlot19() override {}
  void ReservedSlot20() override {}
  void ReservedSlot21() override {}
  void ReservedSlot22() override {}

  // The focal length in pixels that shows the field of view across `width` pixels.
  float FocalLength(int width) const;

 private:
  csOrthoTransform transform_;
  float fov_ = kDefaultFOV;
  bool mirrored_ = false;
};

}  // namespace rwengine
