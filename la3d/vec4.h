#pragma once
// vec4: a homogeneous point (x, y, z, w) or a plane (nx, ny, nz, e) holding the points p with
// dot(n, p) + e = 0.

#include <cmath>
#include <cstdio>
#include <iosfwd>

#include "la3d/diagnostics.h"
#include "la3d/vec3.h"

namespace vk_3dla {

struct vec4 {
  double x, y, z, w;

  vec4() = default;  // components left unset
  vec4(double x_, double y_, double z_, double w_) : x(x_), y(y_), z(z_), w(w_) {}
  explicit vec4(int n) : x(n), y(n), z(n), w(n) {}
  explicit vec4(double n) : x(n), y(n), z(n), w(n) {}
  explicit vec4(const float a[4]) : x(a[0]), y(a[1]), z(a[2]), w(a[3]) {}
  vec4(const vec3& v, double w_) : x(v.x), y(v.y), z(v.z), w(w_) {}

  void to_floats(float out[4]) const {
    out[0] = static_cast<float>(x);
    out[1] = static_cast<float>(y);
    out[2] = static_cast<float>(z);
    out[3] = static_cast<float>(w);
  }

  double& operator[](int i) { return i == 0 ? x : (i == 1 ? y : (i == 2 ? z : w)); }
  double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : (i == 2 ? z : w)); }

  vec4& operator+=(const vec4& b) {
    x += b.x;
    y += b.y;
    z += b.z;
    w += b.w;
    return *this;
  }
  vec4& operator-=(const vec4& b) {
    x -= b.x;
    y -= b.y;
    z -= b.z;
    w -= b.w;
    return *this;
  }
  vec4& operator*=(double s) {
    x *= s;
    y *= s;
    z *= s;
    w *= s;
    return *this;
  }
  vec4& operator/=(double s) { return *this *= 1.0 / s; }

  // Unit length in place; a zero vector stays unchanged and is reported.
  vec4& normalize() {
    double d = std::sqrt(x * x + y * y + z * z + w * w);
    if (d != 0.0) {
      *this *= 1.0 / d;
    } else {
      report_abs_zero();
    }
    return *this;
  }
};

inline vec3::vec3(const vec4& v) : x(v.x), y(v.y), z(v.z) {}

inline vec4 operator+(vec4 a, const vec4& b) { return a += b; }
inline vec4 operator-(vec4 a, const vec4& b) { return a -= b; }
inline vec4 operator-(const vec4& a) { return vec4(-a.x, -a.y, -a.z, -a.w); }
inline vec4 operator*(vec4 a, double s) { return a *= s; }
inline vec4 operator*(double s, vec4 a) { return a *= s; }
inline vec4 operator/(vec4 a, double s) { return a /= s; }

inline double dot(const vec4& a, const vec4& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}
inline double abs2(const vec4& a) { return dot(a, a); }
inline double abs(const vec4& a) { return std::sqrt(abs2(a)); }
inline vec4 normalized(vec4 a) { return a.normalize(); }

// Homogeneous division; w = 0 leaves the first three components as they are.
inline vec3 from_homogeneous(const vec4& v) {
  if (v.w != 0.0) return vec3(v.x, v.y, v.z) * (1.0 / v.w);
  return vec3(v.x, v.y, v.z);
}

// Planes.
inline vec4 plane_from_normal(const vec3& n, const vec3& p) { return vec4(n, -dot(n, p)); }
inline vec4 plane_through(const vec3& a, const vec3& b, const vec3& c) {
  vec3 n = normalized(cross(b - a, c - a));
  return vec4(n, -dot(n, a));
}
// Signed value of p: (p, 1) . plane; the distance for a plane with unit normal.
inline double plane_value(const vec4& plane, const vec3& p) { return dot(vec4(p, 1.0), plane); }
inline vec4 plane_normalized(const vec4& plane) {
  return plane * (1.0 / abs(vec3(plane.x, plane.y, plane.z)));
}
inline vec3 project_to_plane(const vec4& plane, const vec3& p) {
  vec3 n(plane.x, plane.y, plane.z);
  return p - n * (plane_value(plane, p) / abs2(n));
}
// Intersection of the line through a and b with the plane; false when parallel to it.
inline bool intersect_line_plane(const vec3& a, const vec3& b, const vec4& plane, vec3& out) {
  vec3 n(plane.x, plane.y, plane.z);
  double den = dot(n, b - a);
  if (den == 0.0) return false;
  out = a + (b - a) * (-plane_value(plane, a) / den);
  return true;
}

void print(const vec4& v, std::FILE* f = stdout);  // "{ % f, % f, % f, % f }\n"
std::ostream& operator<<(std::ostream& os, const vec4& v);

}  // namespace vk_3dla
