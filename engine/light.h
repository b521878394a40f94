// A point light of the stand-in engine, handed to mesh objects'
// UpdateLighting by Stage::DrawFrame.
#pragma once

#include "host/light.h"
#include "host/scf_impl.h"

namespace rwengine {

class Light : public scfImplementation<Light, iLight> {
 public:
  Light(const csVector3& center, const csColor& color,
        csLightAttenuation attenuation = CS_ATTN_NONE, float radius = 0.0f)
      : center_(center), color_(color), attenuation_(attenuation), radius_(radius) {}

  csVector3 GetCenter() override { return center_; }
  csColor GetColor() override { return color_; }
  csLightAttenuation GetAttenuation() override { return attenuation_; }
  float GetRadius() override { return radius_; }

  void SetCenter(const csVector3& center) { center_ = center; }
  void SetColor(const csColor& color) { color_ = color; }

 private:
  csVector3 center_;
  csColor color_;
  csLightAttenuation attenuation_;
  float radius_;
};

}  // namespace rwengine
