#pragma once
// vec2: a planar vector, also used as a complex number (x real, y imaginary).

#include <cmath>
#include <cstdio>
#include <iosfwd>

#include "la3d/angles.h"
#include "la3d/diagnostics.h"
#include "pmath/pmath.h"

namespace vk_3dla {

struct vec3;

struct vec2 {
  double x, y;

  vec2() = default;
  vec2(double x_, double y_) : x(x_), y(y_) {}
  explicit vec2(const double a[2]) : x(a[0]), y(a[1]) {}
  explicit vec2(const float a[2]) : x(a[0]), y(a[1]) {}
  // Perspective division of a planar homogeneous point: (x/z, y/z), or (x, y) when z is 0.
  explicit vec2(const vec3& v);

  void to_floats(float out[2]) const {
    out[0] = static_cast<float>(x);
    out[1] = static_cast<float>(y);
  }

  double& operator[](int i) { return i == 0 ? x : y; }
  double operator[](int i) const { return i == 0 ? x : y; }

  vec2& operator+=(const vec2& b) {
    x += b.x;
    y += b.y;
    return *this;
  }
  vec2& operator-=(const vec2& b) {
    x -= b.x;
    y -= b.y;
    return *this;
  }
  vec2& operator*=(double s) {
    x *= s;
    y *= s;
    return *this;
  }
  vec2& operator/=(double s) { return *this *= 1.0 / s; }

  // Unit length in place; a zero vector stays as it is and is reported.
  vec2& normalize() {
    double d = std::sqrt(x * x + y * y);
    if (d != 0.0) {
      *this *= 1.0 / d;
    } else {
      report_abs_zero();
    }
    return *this;
  }
};

inline bool operator==(const vec2& a, const vec2& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const vec2& a, const vec2& b) { return !(a == b); }
inline vec2 operator+(vec2 a, const vec2& b) { return a += b; }
inline vec2 operator-(vec2 a, const vec2& b) { return a -= b; }
inline vec2 operator-(const vec2& a) { return vec2(-a.x, -a.y); }
inline vec2 operator*(vec2 a, double s) { return a *= s; }
inline vec2 operator*(double s, vec2 a) { return a *= s; }
inline vec2 operator/(vec2 a, double s) { return a /= s; }

inline double dot(const vec2& a, const vec2& b) { return a.x * b.x + a.y * b.y; }
inline double abs2(const vec2& v) { return v.x * v.x + v.y * v.y; }
inline double abs(const vec2& v) { return std::sqrt(abs2(v)); }
inline vec2 normalized(vec2 v) { return v.normalize(); }
inline double cross(const vec2& a, const vec2& b) { return a.x * b.y - a.y * b.x; }
// The vector turned by +90 degrees.
inline vec2 perpendicular(const vec2& v) { return vec2(-v.y, v.x); }
// Direction angle in [-pi, pi].
inline double polar_angle(const vec2& v) { return pmath::atan2(v.y, v.x); }
inline double angle_between(const vec2& a, const vec2& b) {
  return acos_clamped(dot(normalized(a), normalized(b)));
}

// Complex product and quotient (Smith's method, which avoids overflow in the denominator).
inline vec2 complex_product(const vec2& a, const vec2& b) {
  return vec2(a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x);
}
inline vec2 complex_quotient(const vec2& a, const vec2& b) {
  if (std::fabs(b.y) >= std::fabs(b.x)) {
    double r = b.x / b.y;
    double k = 1.0 / (b.y * (r * r + 1.0));
    return vec2((a.x * r + a.y) * k, (a.y * r - a.x) * k);
  }
  double r = b.y / b.x;
  double k = 1.0 / (b.x * (r * r + 1.0));
  return vec2((a.x + a.y * r) * k, (a.y - a.x * r) * k);
}
inline vec2& complex_multiply(vec2& a, const vec2& b) { return a = complex_product(a, b); }
inline vec2& complex_divide(vec2& a, const vec2& b) { return a = complex_quotient(a, b); }

void print(const vec2& v, std::FILE* f = stdout);  // "% f % f\n"
std::ostream& operator<<(std::ostream& os, const vec2& v);

}  // namespace vk_3dla
