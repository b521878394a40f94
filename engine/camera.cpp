#include "engine/camera.h"

#include <cmath>

namespace rwengine {

void Camera::SetFOVAngle(float degrees) {
  if (!(degrees > 0.0f && degrees < 180.0f)) return;
  fov_ = degrees;
}

float Camera::FocalLength(int width) const {
  constexpr double kPi = 3.14159265358979323846;
  const double halfAngle = static_cast<double>(fov_) * kPi / 360.0;
  return static_cast<float>((width / 2.0) / std::tan(halfAngle));
}

}  // namespace rwengine
