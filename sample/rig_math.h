// Small vector helpers for building the sample characters.
//
// Geometry is computed in double precision (finite-difference normals near
// the poles of a surface need it) and only rounded to Cal3D's floats when a
// vertex or a bone is handed over.
//
// Cal3D rotates a row vector: `v *= q` computes conj(q) v q, and a chain
// `v * q1 * q2` applies q1 first. AxisAngle() hides that: it returns the
// Cal3D quaternion for a right-handed turn, and Then(a, b) means "a, then b".
#pragma once

#include <cal3d/quaternion.h>
#include <cal3d/vector.h>

#include <algorithm>
#include <cmath>

namespace rwsample {

constexpr double kPi = 3.14159265358979323846;

inline double Radians(double degrees) {
  return degrees * kPi / 180.0;
}

struct Vec3 {
  double x = 0, y = 0, z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double s) {
  return {a.x * s, a.y * s, a.z * s};
}
inline Vec3 operator*(double s, Vec3 a) {
  return a * s;
}
inline double Dot(Vec3 a, Vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Length(Vec3 a) {
  return std::sqrt(Dot(a, a));
}
inline Vec3 Normalized(Vec3 a) {
  const double len = Length(a);
  return len > 0 ? a * (1.0 / len) : Vec3{0, 0, 1};
}

inline double Clamp01(double t) {
  return std::min(1.0, std::max(0.0, t));
}
inline double Smoothstep(double t) {
  t = Clamp01(t);
  return t * t * (3 - 2 * t);
}
inline double Lerp(double a, double b, double t) {
  return a + (b - a) * t;
}

inline CalVector ToCal(Vec3 v) {
  return CalVector(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
}
inline Vec3 FromCal(const CalVector& v) {
  return {v.x, v.y, v.z};
}

inline CalQuaternion Conjugate(CalQuaternion q) {
  q.conjugate();
  return q;
}

// First a, then b.
inline CalQuaternion Then(CalQuaternion a, const CalQuaternion& b) {
  a *= b;
  return a;
}

inline CalVector Rotate(CalVector v, const CalQuaternion& q) {
  v *= q;
  return v;
}

// Right-handed turn by `degrees` about `axis`.
inline CalQuaternion AxisAngle(Vec3 axis, double degrees) {
  const Vec3 n = Normalized(axis);
  const double half = Radians(degrees) / 2;
  const double s = -std::sin(half);  // Cal3D turns by the conjugate
  return CalQuaternion(static_cast<float>(n.x * s), static_cast<float>(n.y * s),
                       static_cast<float>(n.z * s), static_cast<float>(std::cos(half)));
}

// The rotation taking the unit axes x, y, z onto the orthonormal right-handed
// frame (fx, fy, fz).
inline CalQuaternion FrameRotation(Vec3 fx, Vec3 fy, Vec3 fz) {
  // Standard matrix-to-quaternion on the matrix whose columns are the frame;
  // the result turns column vectors, so Cal3D wants its conjugate.
  const double m00 = fx.x, m01 = fy.x, m02 = fz.x;
  const double m10 = fx.y, m11 = fy.y, m12 = fz.y;
  const double m20 = fx.z, m21 = fy.z, m22 = fz.z;
  const double trace = m00 + m11 + m22;
  double w, x, y, z;
  if (trace > 0) {
    const double s = 2 * std::sqrt(1 + trace);
    w = s / 4;
    x = (m21 - m12) / s;
    y = (m02 - m20) / s;
    z = (m10 - m01) / s;
  } else if (m00 > m11 && m00 > m22) {
    const double s = 2 * std::sqrt(1 + m00 - m11 - m22);
    w = (m21 - m12) / s;
    x = s / 4;
    y = (m01 + m10) / s;
    z = (m02 + m20) / s;
  } else if (m11 > m22) {
    const double s = 2 * std::sqrt(1 + m11 - m00 - m22);
    w = (m02 - m20) / s;
    x = (m01 + m10) / s;
    y = s / 4;
    z = (m12 + m21) / s;
  } else {
    const double s = 2 * std::sqrt(1 + m22 - m00 - m11);
    w = (m10 - m01) / s;
    x = (m02 + m20) / s;
    y = (m12 + m21) / s;
    z = s / 4;
  }
  return CalQuaternion(static_cast<float>(-x), static_cast<float>(-y), static_cast<float>(-z),
                       static_cast<float>(w));
}

}  // namespace rwsample
