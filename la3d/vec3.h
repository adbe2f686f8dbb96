#pragma once
// vec3: a point, direction, axis or heading/pitch/bank triple. Row vector: transformed as v * M.

#include <cmath>
#include <cstdio>
#include <iosfwd>

#include "la3d/angles.h"
#include "la3d/vec2.h"

namespace vk_3dla {

struct vec4;
struct quat;

struct vec3 {
  double x, y, z;

  vec3() = default;  // components left unset
  vec3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
  explicit vec3(int n) : x(n), y(n), z(n) {}
  explicit vec3(double n) : x(n), y(n), z(n) {}
  explicit vec3(const double a[3]) : x(a[0]), y(a[1]), z(a[2]) {}
  explicit vec3(const float a[3]) : x(a[0]), y(a[1]), z(a[2]) {}
  vec3(const vec2& v, double z_) : x(v.x), y(v.y), z(z_) {}
  explicit vec3(const vec4& v);  // first three components
  explicit vec3(const quat& q);  // vector part

  void to_floats(float out[3]) const {
    out[0] = static_cast<float>(x);
    out[1] = static_cast<float>(y);
    out[2] = static_cast<float>(z);
  }

  // Channel access: 0, 1, 2 = x, y, z.
  double& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

  vec3& operator+=(const vec3& b) {
    x += b.x;
    y += b.y;
    z += b.z;
    return *this;
  }
  vec3& operator-=(const vec3& b) {
    x -= b.x;
    y -= b.y;
    z -= b.z;
    return *this;
  }
  vec3& operator*=(double s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  vec3& operator/=(double s) { return *this *= 1.0 / s; }

  // Unit length in place; the length goes to len when given. A zero vector stays unchanged,
  // silently.
  vec3& normalize(double* len = nullptr) {
    double d = std::sqrt(x * x + y * y + z * z);
    if (len) *len = d;
    if (d != 0.0) *this *= 1.0 / d;
    return *this;
  }
  vec3& normalize(double& len) { return normalize(&len); }
};

inline vec3 operator+(vec3 a, const vec3& b) { return a += b; }
inline vec3 operator-(vec3 a, const vec3& b) { return a -= b; }
inline vec3 operator-(const vec3& a) { return vec3(-a.x, -a.y, -a.z); }
inline vec3 operator*(vec3 a, double s) { return a *= s; }
inline vec3 operator*(double s, vec3 a) { return a *= s; }
inline vec3 operator/(vec3 a, double s) { return a /= s; }

inline double dot(const vec3& a, const vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline vec3 cross(const vec3& a, const vec3& b) {
  return vec3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
inline double abs2(const vec3& a) { return a.x * a.x + a.y * a.y + a.z * a.z; }
inline double abs(const vec3& a) { return std::sqrt(abs2(a)); }
inline vec3 normalized(vec3 a, double* len = nullptr) { return a.normalize(len); }
inline vec3 normalized(vec3 a, double& len) { return a.normalize(&len); }

// Angle in [0, pi]; a zero vector counts as perpendicular to everything.
inline double angle_between(const vec3& a, const vec3& b) {
  return acos_clamped(dot(normalized(a), normalized(b)));
}

// Lexicographic order, for sorted containers.
inline bool operator<(const vec3& a, const vec3& b) {
  if (a.x != b.x) return a.x < b.x;
  if (a.y != b.y) return a.y < b.y;
  return a.z < b.z;
}

inline vec3 to_degrees(const vec3& v) { return v * 57.29577951308232; }

inline vec2::vec2(const vec3& v) {
  if (v.z != 0.0) {
    x = v.x / v.z;
    y = v.y / v.z;
  } else {
    x = v.x;
    y = v.y;
  }
}

// The planar line through point p with direction d as (a, b, c): a*X + b*Y + c = 0.
inline vec3 line_through(const vec2& d, const vec2& p) {
  vec2 n = perpendicular(d);
  return vec3(n.x, n.y, -(n.x * p.x + n.y * p.y));
}

// Intersection of two planar lines in (a, b, c) form; false when they are parallel.
inline bool intersect_lines(const vec3& l0, const vec3& l1, vec2& out) {
  vec3 h = cross(l0, l1);
  if (h.z == 0.0) return false;
  out = vec2(h.x / h.z, h.y / h.z);
  return true;
}

void print(const vec3& v, std::FILE* f = stdout);  // "% f % f % f\n"
std::ostream& operator<<(std::ostream& os, const vec3& v);

}  // namespace vk_3dla
