// A light as the engine hands it to a mesh object's UpdateLighting: a point
// with a colour whose brightness falls off with distance.
#pragma once

#include "host/math_types.h"
#include "host/scf.h"

// How a light's brightness falls off with the distance d from its centre.
enum csLightAttenuation {
  CS_ATTN_NONE = 0,       // 1 everywhere
  CS_ATTN_LINEAR = 1,     // 1 - d / radius, and 0 beyond the radius
  CS_ATTN_INVERSE = 2,    // 1 / d
  CS_ATTN_REALISTIC = 3,  // 1 / d^2
};

struct iLight : iBase {
  SCF_INTERFACE(iLight, 0, 0, 1)
  // The centre in world space.
  virtual csVector3 GetCenter() = 0;
  virtual csColor GetColor() = 0;
  virtual csLightAttenuation GetAttenuation() = 0;
  // Where CS_ATTN_LINEAR reaches 0; the other kinds ignore it.
  virtual float GetRadius() = 0;

 protected:
  ~iLight() = default;
};

// The brightness factor at distance `d` from a light of that attenuation and
// radius: what every user of iLight computes alike.
inline float csLightBrightness(csLightAttenuation attenuation, float radius, float d) {
  switch (attenuation) {
    case CS_ATTN_NONE:
      return 1.0f;
    case CS_ATTN_LINEAR:
      return radius > 0 && d < radius ? 1.0f - d / radius : 0.0f;
    case CS_ATTN_INVERSE:
      return d > 0 ? 1.0f / d : 1.0f;
    case CS_ATTN_REALISTIC:
      return d > 0 ? 1.0f / (d * d) : 1.0f;
  }
  return 1.0f;
}
