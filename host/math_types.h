// Engine math types: vectors, colours, triangles, boxes and transforms.
#pragma once

#include <cstdint>

struct csVector2 {
  float x = 0, y = 0;
  csVector2() = default;
  csVector2(float x_, float y_) : x(x_), y(y_) {}
};

struct csVector3 {
  float x = 0, y = 0, z = 0;
  csVector3() = default;
  csVector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
  float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
  float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  csVector3& operator+=(const csVector3& o) { return x += o.x, y += o.y, z += o.z, *this; }
  csVector3& operator-=(const csVector3& o) { return x -= o.x, y -= o.y, z -= o.z, *this; }
  csVector3& operator*=(float f) { return x *= f, y *= f, z *= f, *this; }
};
inline csVector3 operator+(csVector3 a, const csVector3& b) {
  return a += b;
}
inline csVector3 operator-(csVector3 a, const csVector3& b) {
  return a -= b;
}
inline csVector3 operator-(const csVector3& a) {
  return {-a.x, -a.y, -a.z};
}
inline csVector3 operator*(csVector3 a, float f) {
  return a *= f;
}
inline csVector3 operator*(float f, csVector3 a) {
  return a *= f;
}
inline csVector3 operator/(const csVector3& a, float f) {
  return {a.x / f, a.y / f, a.z / f};
}
inline float Dot(const csVector3& a, const csVector3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline csVector3 Cross(const csVector3& a, const csVector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Norm(const csVector3& v);
csVector3 Unit(const csVector3& v);

// Red, green, blue; element type of the per-vertex colour arrays, which are
// large and must cost nothing until written, hence no initialisers.
struct csColor {
  float red, green, blue;
};

struct csTriangle {
  int32_t a, b, c;
};

// Bounds of an empty box: every minimum is this and every maximum its negation.
constexpr float CS_BOUNDINGBOX_MAXVALUE = 1e9f;

struct csBox2 {
  csVector2 minbox{CS_BOUNDINGBOX_MAXVALUE, CS_BOUNDINGBOX_MAXVALUE};
  csVector2 maxbox{-CS_BOUNDINGBOX_MAXVALUE, -CS_BOUNDINGBOX_MAXVALUE};
  bool Empty() const { return minbox.x > maxbox.x || minbox.y > maxbox.y; }
  void AddBoundingVertex(const csVector2& v);
};

class csBox3 {
 public:
  csBox3() = default;
  csBox3(const csVector3& mn, const csVector3& mx) : minbox_(mn), maxbox_(mx) {}

  const csVector3& Min() const { return minbox_; }
  const csVector3& Max() const { return maxbox_; }
  bool Empty() const;
  void StartBoundingBox();
  void Set(const csVector3& mn, const csVector3& mx) { minbox_ = mn, maxbox_ = mx; }
  // Widens both corners as needed.
  void AddBoundingVertex(const csVector3& v);
  // Widens the minimum, or else the maximum, per axis: cheaper, and correct
  // only once the box holds a point.
  void AddBoundingVertexSmart(const csVector3& v);
  // Corner i takes x from the maximum when bit 2 is set, y when bit 1 is set
  // and z when bit 0 is set; indices outside 0..7 give (0, 0, 0).
  csVector3 GetCorner(int i) const;
  csVector3 GetCenter() const;
  bool In(const csVector3& v) const;

 private:
  csVector3 minbox_{CS_BOUNDINGBOX_MAXVALUE, CS_BOUNDINGBOX_MAXVALUE, CS_BOUNDINGBOX_MAXVALUE};
  csVector3 maxbox_{-CS_BOUNDINGBOX_MAXVALUE, -CS_BOUNDINGBOX_MAXVALUE, -CS_BOUNDINGBOX_MAXVALUE};
};

// Row-major 3x3 matrix.
struct csMatrix3 {
  float m11 = 1, m12 = 0, m13 = 0;
  float m21 = 0, m22 = 1, m23 = 0;
  float m31 = 0, m32 = 0, m33 = 1;
  csMatrix3() = default;
  csMatrix3(float a11, float a12, float a13, float a21, float a22, float a23, float a31, float a32,
            float a33)
      : m11(a11), m12(a12), m13(a13), m21(a21), m22(a22), m23(a23), m31(a31), m32(a32), m33(a33) {}
  csMatrix3 GetTranspose() const;
  csVector3 Row(int r) const;
};
csMatrix3 operator*(const csMatrix3& a, const csMatrix3& b);
csVector3 operator*(const csMatrix3& m, const csVector3& v);
// Rotations by an angle in radians about one axis.
csMatrix3 csXRotMatrix3(float angle);
csMatrix3 csYRotMatrix3(float angle);
csMatrix3 csZRotMatrix3(float angle);

// Maps "other" space into "this" space: Other2This(v) = M * (v - origin).
// Kept orthonormal, so the inverse is the transpose.
class csReversibleTransform {
 public:
  csReversibleTransform() = default;
  csReversibleTransform(const csMatrix3& other2this, const csVector3& origin)
      : m_(other2this), origin_(origin) {}

  const csMatrix3& GetO2T() const { return m_; }
  csMatrix3 GetT2O() const { return m_.GetTranspose(); }
  // Position of this space's origin in other space.
  const csVector3& GetOrigin() const { return origin_; }
  void SetO2T(const csMatrix3& m) { m_ = m; }
  void SetOrigin(const csVector3& o) { origin_ = o; }

  csVector3 Other2This(const csVector3& v) const { return m_ * (v - origin_); }
  csVector3 This2Other(const csVector3& v) const { return m_.GetTranspose() * v + origin_; }
  csReversibleTransform GetInverse() const;

  // Turns this space so that its z axis looks from its origin towards `target`.
  void LookAt(const csVector3& target, const csVector3& up);

 private:
  csMatrix3 m_;
  csVector3 origin_;
};
// Applies b first, then a: (a * b).Other2This(v) == a.Other2This(b.Other2This(v)).
csReversibleTransform operator*(const csReversibleTransform& a, const csReversibleTransform& b);
// a composed with the inverse of b: maps b's "this" space into a's "this" space.
inline csReversibleTransform operator/(const csReversibleTransform& a,
                                       const csReversibleTransform& b) {
  return a * b.GetInverse();
}

// A camera's world-to-camera transform.
using csOrthoTransform = csReversibleTransform;
