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

  // The focal length in pixels that shows the field of view across `width` pixels.
  float FocalLength(int width) const;

 private:
  csOrthoTransform transform_;
  float fov_ = kDefaultFOV;
  bool mirrored_ = false;
};

}  // namespace rwengine
