#include "host/math_types.h"

#include <algorithm>
#include <cmath>

float Norm(const csVector3& v) {
  return std::sqrt(Dot(v, v));
}

csVector3 Unit(const csVector3& v) {
  const float n = Norm(v);
  return n > 0 ? v / n : v;
}

void csBox2::AddBoundingVertex(const csVector2& v) {
  minbox.x = std::min(minbox.x, v.x), minbox.y = std::min(minbox.y, v.y);
  maxbox.x = std::max(maxbox.x, v.x), maxbox.y = std::max(maxbox.y, v.y);
}

bool csBox3::Empty() const {
  return minbox_.x > maxbox_.x || minbox_.y > maxbox_.y || minbox_.z > maxbox_.z;
}

void csBox3::StartBoundingBox() {
  *this = csBox3();
}

void csBox3::AddBoundingVertex(const csVector3& v) {
  for (int i = 0; i < 3; i++) {
    if (v[i] < minbox_[i]) minbox_[i] = v[i];
    if (v[i] > maxbox_[i]) maxbox_[i] = v[i];
  }
}

void csBox3::AddBoundingVertexSmart(const csVector3& v) {
  for (int i = 0; i < 3; i++) {
    if (v[i] < minbox_[i])
      minbox_[i] = v[i];
    else if (v[i] > maxbox_[i])
      maxbox_[i] = v[i];
  }
}

csVector3 csBox3::GetCorner(int i) const {
  if (i < 0 || i > 7) return csVector3(0, 0, 0);
  return csVector3((i & 4) ? maxbox_.x : minbox_.x, (i & 2) ? maxbox_.y : minbox_.y,
                   (i & 1) ? maxbox_.z : minbox_.z);
}

csVector3 csBox3::GetCenter() const {
  return (minbox_ + maxbox_) / 2;
}

bool csBox3::In(const csVector3& v) const {
  for (int i = 0; i < 3; i++)
    if (v[i] < minbox_[i] || v[i] > maxbox_[i]) return false;
  return true;
}

csMatrix3 csMatrix3::GetTranspose() const {
  return csMatrix3(m11, m21, m31, m12, m22, m32, m13, m23, m33);
}

csVector3 csMatrix3::Row(int r) const {
  return r == 0 ? csVector3(m11, m12, m13)
                : (r == 1 ? csVector3(m21, m22, m23) : csVector3(m31, m32, m33));
}

csMatrix3 operator*(const csMatrix3& a, const csMatrix3& b) {
  const csMatrix3 bt = b.GetTranspose();
  const csVector3 a1 = a.Row(0), a2 = a.Row(1), a3 = a.Row(2);
  const csVector3 c1 = bt.Row(0), c2 = bt.Row(1), c3 = bt.Row(2);
  return csMatrix3(Dot(a1, c1), Dot(a1, c2), Dot(a1, c3), Dot(a2, c1), Dot(a2, c2), Dot(a2, c3),
                   Dot(a3, c1), Dot(a3, c2), Dot(a3, c3));
}

csVector3 operator*(const csMatrix3& m, const csVector3& v) {
  return csVector3(m.m11 * v.x + m.m12 * v.y + m.m13 * v.z, m.m21 * v.x + m.m22 * v.y + m.m23 * v.z,
                   m.m31 * v.x + m.m32 * v.y + m.m33 * v.z);
}

csMatrix3 csXRotMatrix3(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return csMatrix3(1, 0, 0, 0, c, -s, 0, s, c);
}

csMatrix3 csYRotMatrix3(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return csMatrix3(c, 0, s, 0, 1, 0, -s, 0, c);
}

csMatrix3 csZRotMatrix3(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return csMatrix3(c, -s, 0, s, c, 0, 0, 0, 1);
}

csReversibleTransform csReversibleTransform::GetInverse() const {
  // This2Other(w) = M^T w + o, which is Other2This of (M^T, -M o).
  return csReversibleTransform(m_.GetTranspose(), -(m_ * origin_));
}

void csReversibleTransform::LookAt(const csVector3& target, const csVector3& up) {
  const csVector3 forward = Unit(target - origin_);
  const csVector3 right = Unit(Cross(up, forward));
  const csVector3 newUp = Cross(forward, right);
  // Rows are the camera axes expressed in other space.
  m_ = csMatrix3(right.x, right.y, right.z, newUp.x, newUp.y, newUp.z, forward.x, forward.y,
                 forward.z);
}

csReversibleTransform operator*(const csReversibleTransform& a, const csReversibleTransform& b) {
  // a.M (b.M (v - b.o) - a.o) = a.M b.M (v - (b.o + b.M^T a.o))
  return csReversibleTransform(a.GetO2T() * b.GetO2T(), b.GetOrigin() + b.GetT2O() * a.GetOrigin());
}
