#pragma once
// m22: a 2x2 matrix (a, b; c, d), row-major, acting on vec2 rows like m33 on vec3.

#include <cmath>
#include <cstdio>
#include <iosfwd>

#include "la3d/diagnostics.h"
#include "la3d/m33.h"
#include "la3d/vec2.h"
#include "pmath/pmath.h"

namespace vk_3dla {

struct m22 {
  double m[2][2];

  m22() = default;  // elements left unset
  m22(double a, double b, double c, double d) : m{{a, b}, {c, d}} {}
  m22(const vec2& r0, const vec2& r1) : m{{r0.x, r0.y}, {r1.x, r1.y}} {}
  explicit m22(int n) : m22(static_cast<double>(n)) {}
  explicit m22(double n) : m{{n, 0.0}, {0.0, n}} {}

  double& operator()(int r, int c) { return m[r][c]; }
  double operator()(int r, int c) const { return m[r][c]; }
  vec2 row(int i) const { return vec2(m[i][0], m[i][1]); }

  m22& operator+=(const m22& o) {
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) m[i][j] += o.m[i][j];
    return *this;
  }
  m22& operator-=(const m22& o) {
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) m[i][j] -= o.m[i][j];
    return *this;
  }
  m22& operator*=(double s) {
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) m[i][j] *= s;
    return *this;
  }
  m22& operator/=(double s) { return *this *= 1.0 / s; }
  m22& operator*=(const m22& o);

  m22& transpose() {
    double t = m[0][1];
    m[0][1] = m[1][0];
    m[1][0] = t;
    return *this;
  }
  // Cofactor matrix (d, -c; -b, a).
  m22& cofactor() { return *this = m22(m[1][1], -m[1][0], -m[0][1], m[0][0]); }
  // Inverse in place; a singular matrix stays unchanged and is reported.
  m22& invert() {
    double e = m[0][0] * m[1][1] - m[0][1] * m[1][0];
    if (e == 0.0) {
      report_determinant_zero();
      return *this;
    }
    return *this = m22(m[1][1] / e, -m[0][1] / e, -m[1][0] / e, m[0][0] / e);
  }
};

inline m22 operator+(m22 a, const m22& b) { return a += b; }
inline m22 operator-(m22 a, const m22& b) { return a -= b; }
inline m22 operator-(m22 a) { return a *= -1.0; }
inline m22 operator*(m22 a, double s) { return a *= s; }
inline m22 operator*(double s, m22 a) { return a *= s; }
inline m22 operator/(m22 a, double s) { return a /= s; }
inline m22 operator*(const m22& a, const m22& b) {
  return m22(
      a.m[0][0] * b.m[0][0] + a.m[0][1] * b.m[1][0], a.m[0][0] * b.m[0][1] + a.m[0][1] * b.m[1][1],
      a.m[1][0] * b.m[0][0] + a.m[1][1] * b.m[1][0], a.m[1][0] * b.m[0][1] + a.m[1][1] * b.m[1][1]);
}
inline m22& m22::operator*=(const m22& o) { return *this = *this * o; }

inline vec2 operator*(const vec2& v, const m22& M) {
  return vec2(v.x * M.m[0][0] + v.y * M.m[1][0], v.x * M.m[0][1] + v.y * M.m[1][1]);
}
inline vec2& operator*=(vec2& v, const m22& M) { return v = v * M; }
inline vec2 operator*(const m22& M, const vec2& v) {
  return vec2(M.m[0][0] * v.x + M.m[0][1] * v.y, M.m[1][0] * v.x + M.m[1][1] * v.y);
}

inline m22 transposed(m22 a) { return a.transpose(); }
inline m22 cofactor(m22 a) { return a.cofactor(); }
inline double trace(const m22& a) { return a.m[0][0] + a.m[1][1]; }
inline double determinant(const m22& a) { return a.m[0][0] * a.m[1][1] - a.m[0][1] * a.m[1][0]; }
inline m22 inverse(m22 a) { return a.invert(); }
inline m22 diag(const vec2& v) { return m22(v.x, 0.0, 0.0, v.y); }
inline m22 outer(const vec2& a, const vec2& b) {
  return m22(a.x * b.x, a.x * b.y, a.y * b.x, a.y * b.y);
}
inline m22 outer(const vec2& a) { return outer(a, a); }
// Planar rotation turning a row vector counter-clockwise by a.
inline m22 rot_planar(double a) {
  double c = pmath::cos(a), s = pmath::sin(a);
  return m22(c, s, -s, c);
}

inline m33::m33(const m22& a, double s)
    : m{{a.m[0][0], a.m[0][1], 0.0}, {a.m[1][0], a.m[1][1], 0.0}, {0.0, 0.0, s}} {}
inline m33::m33(const m22& a, const vec2& t)
    : m{{a.m[0][0], a.m[0][1], 0.0}, {a.m[1][0], a.m[1][1], 0.0}, {t.x, t.y, 1.0}} {}

void print(const m22& a, std::FILE* f = stdout);  // "%d: % f % f\n" per row
std::ostream& operator<<(std::ostream& os, const m22& a);

}  // namespace vk_3dla
