#pragma once
// m33: a rotation, orientation frame or general 3x3 map, row-major. Vectors are rows, so v * A * B
// applies A first; row i of a rotation is the image of the i-th unit axis.

#include <cmath>
#include <cstdio>
#include <iosfwd>

#include "la3d/angles.h"
#include "la3d/diagnostics.h"
#include "la3d/vec2.h"
#include "la3d/vec3.h"
#include "pmath/pmath.h"

namespace vk_3dla {

struct m22;
struct m44;
struct quat;

struct m33 {
  double m[3][3];

  m33() = default;  // elements left unset
  m33(double m00, double m01, double m02, double m10, double m11, double m12, double m20,
      double m21, double m22_)
      : m{{m00, m01, m02}, {m10, m11, m12}, {m20, m21, m22_}} {}
  m33(const vec3& r0, const vec3& r1, const vec3& r2)
      : m{{r0.x, r0.y, r0.z}, {r1.x, r1.y, r1.z}, {r2.x, r2.y, r2.z}} {}
  explicit m33(int n) : m33(static_cast<double>(n)) {}
  explicit m33(double n) : m{{n, 0.0, 0.0}, {0.0, n, 0.0}, {0.0, 0.0, n}} {}
  explicit m33(const m44& t);        // upper-left block
  explicit m33(const quat& q);       // rotation of the quaternion
  m33(const m22& a, double s);       // [a b 0; c d 0; 0 0 s]
  m33(const m22& a, const vec2& t);  // [a b 0; c d 0; t.x t.y 1]

  double& operator()(int r, int c) { return m[r][c]; }
  double operator()(int r, int c) const { return m[r][c]; }
  double* operator[](int r) { return m[r]; }
  const double* operator[](int r) const { return m[r]; }
  vec3 row(int i) const { return vec3(m[i][0], m[i][1], m[i][2]); }
  void set_row(int i, const vec3& v) {
    m[i][0] = v.x;
    m[i][1] = v.y;
    m[i][2] = v.z;
  }

  m33& operator+=(const m33& b) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] += b.m[i][j];
    return *this;
  }
  m33& operator-=(const m33& b) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] -= b.m[i][j];
    return *this;
  }
  m33& operator*=(double s) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] *= s;
    return *this;
  }
  m33& operator/=(double s) { return *this *= 1.0 / s; }
  m33& operator*=(const m33& b);  // post-multiplication: A = A * B

  m33& transpose() {
    double t = m[0][1];
    m[0][1] = m[1][0];
    m[1][0] = t;
    t = m[0][2];
    m[0][2] = m[2][0];
    m[2][0] = t;
    t = m[1][2];
    m[1][2] = m[2][1];
    m[2][1] = t;
    return *this;
  }
  // Cofactor matrix in place: C(i, j) = (-1)^(i+j) * minor(i, j).
  m33& cofactor() {
    m33 a = *this;
    for (int i = 0; i < 3; ++i) {
      int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
      for (int j = 0; j < 3; ++j) {
        int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
        m[i][j] = a.m[i1][j1] * a.m[i2][j2] - a.m[i1][j2] * a.m[i2][j1];
      }
    }
    return *this;
  }
  // Transposed cofactor matrix in place, so that A * adj(A) = det(A) * I.
  m33& adjugate() { return cofactor().transpose(); }
  m33& invert();

  m33& rotate_x(double a);
  m33& rotate_y(double a);
  m33& rotate_z(double a);
  m33& rotate_axis(const vec3& v, double a);
  m33& rotate_axis(const vec3& v, double s, double c);
  m33& scale_by(const vec3& v);
  m33& translate2d(const vec2& t);
};

inline m33 operator+(m33 a, const m33& b) { return a += b; }
inline m33 operator-(m33 a, const m33& b) { return a -= b; }
inline m33 operator-(m33 a) { return a *= -1.0; }
inline m33 operator*(m33 a, double s) { return a *= s; }
inline m33 operator*(double s, m33 a) { return a *= s; }
inline m33 operator/(m33 a, double s) { return a /= s; }

inline m33 operator*(const m33& a, const m33& b) {
  m33 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
  return r;
}
inline m33& m33::operator*=(const m33& b) { return *this = *this * b; }

// Row vector times matrix.
inline vec3 operator*(const vec3& a, const m33& M) {
  return vec3(a.x * M.m[0][0] + a.y * M.m[1][0] + a.z * M.m[2][0],
              a.x * M.m[0][1] + a.y * M.m[1][1] + a.z * M.m[2][1],
              a.x * M.m[0][2] + a.y * M.m[1][2] + a.z * M.m[2][2]);
}
inline vec3& operator*=(vec3& a, const m33& M) { return a = a * M; }
// Column form, M * a = a * transposed(M).
inline vec3 operator*(const m33& M, const vec3& a) {
  return vec3(M.m[0][0] * a.x + M.m[0][1] * a.y + M.m[0][2] * a.z,
              M.m[1][0] * a.x + M.m[1][1] * a.y + M.m[1][2] * a.z,
              M.m[2][0] * a.x + M.m[2][1] * a.y + M.m[2][2] * a.z);
}
// Planar homogeneous point: (x, y, 1) * M.
inline vec3 operator*(const vec2& p, const m33& M) { return vec3(p, 1.0) * M; }

inline m33 transposed(m33 a) { return a.transpose(); }
inline m33 cofactor(m33 a) { return a.cofactor(); }
inline m33 adjugate(m33 a) { return a.adjugate(); }
inline double trace(const m33& a) { return a.m[0][0] + a.m[1][1] + a.m[2][2]; }
inline double determinant(const m33& a) {
  const auto& m = a.m;
  return m[0][0] * m[1][1] * m[2][2] + m[0][1] * m[1][2] * m[2][0] + m[0][2] * m[1][0] * m[2][1] -
         m[0][2] * m[1][1] * m[2][0] - m[0][1] * m[1][0] * m[2][2] - m[0][0] * m[1][2] * m[2][1];
}
// A singular matrix stays unchanged and is reported.
inline m33& m33::invert() {
  double d = determinant(*this);
  if (d == 0.0) {
    report_determinant_zero();
    return *this;
  }
  return adjugate() *= 1.0 / d;
}
inline m33 inverse(m33 a) { return a.invert(); }
inline double abs_sum(const m33& a) {
  double s = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) s += std::fabs(a.m[i][j]);
  return s;
}

inline m33 diag(const vec3& v) { return m33(v.x, 0.0, 0.0, 0.0, v.y, 0.0, 0.0, 0.0, v.z); }
inline m33 outer(const vec3& a, const vec3& b) { return m33(b * a.x, b * a.y, b * a.z); }
inline m33 outer(const vec3& a) { return outer(a, a); }
// u * skew(v) = cross(v, u).
inline m33 skew(const vec3& v) { return m33(0.0, v.z, -v.y, -v.z, 0.0, v.x, v.y, -v.x, 0.0); }

// Axis rotations turning a row vector counter-clockwise about the positive axis.
inline m33 rot_x(double a) {
  double c = pmath::cos(a), s = pmath::sin(a);
  return m33(1.0, 0.0, 0.0, 0.0, c, s, 0.0, -s, c);
}
inline m33 rot_y(double a) {
  double c = pmath::cos(a), s = pmath::sin(a);
  return m33(c, 0.0, -s, 0.0, 1.0, 0.0, s, 0.0, c);
}
inline m33 rot_z(double a) {
  double c = pmath::cos(a), s = pmath::sin(a);
  return m33(c, s, 0.0, -s, c, 0.0, 0.0, 0.0, 1.0);
}
// Rotation about axis v given the sine and cosine of the angle; a zero axis gives the identity.
inline m33 rot_axis(const vec3& v, double s, double c) {
  double len;
  vec3 u = normalized(v, len);
  if (len == 0.0) return m33(1.0);
  double t = 1.0 - c;
  return m33(c + t * u.x * u.x, t * u.x * u.y + s * u.z, t * u.x * u.z - s * u.y,
             t * u.x * u.y - s * u.z, c + t * u.y * u.y, t * u.y * u.z + s * u.x,
             t * u.x * u.z + s * u.y, t * u.y * u.z - s * u.x, c + t * u.z * u.z);
}
inline m33 rot_axis(const vec3& v, double a) { return rot_axis(v, pmath::sin(a), pmath::cos(a)); }

inline m33& m33::rotate_x(double a) { return *this *= vk_3dla::rot_x(a); }
inline m33& m33::rotate_y(double a) { return *this *= vk_3dla::rot_y(a); }
inline m33& m33::rotate_z(double a) { return *this *= vk_3dla::rot_z(a); }
inline m33& m33::rotate_axis(const vec3& v, double a) { return *this *= vk_3dla::rot_axis(v, a); }
inline m33& m33::rotate_axis(const vec3& v, double s, double c) {
  return *this *= vk_3dla::rot_axis(v, s, c);
}
inline m33& m33::scale_by(const vec3& v) { return *this *= diag(v); }
inline m33& m33::translate2d(const vec2& t) {
  return *this *= m33(1.0, 0.0, 0.0, 0.0, 1.0, 0.0, t.x, t.y, 1.0);
}

// Gram-Schmidt on the rows, in order; the row lengths measured as each row is scaled go to scale.
// A zero row stays zero. Reflections are not turned into rotations.
inline m33 orthonormalize(const m33& a, vec3* scale = nullptr) {
  vec3 r0 = a.row(0), r1 = a.row(1), r2 = a.row(2);
  double l0 = abs(r0);
  if (l0 != 0.0) r0 *= 1.0 / l0;
  r1 -= r0 * dot(r0, r1);
  double l1 = abs(r1);
  if (l1 != 0.0) r1 *= 1.0 / l1;
  r2 -= r0 * dot(r0, r2);
  r2 -= r1 * dot(r1, r2);
  double l2 = abs(r2);
  if (l2 != 0.0) r2 *= 1.0 / l2;
  if (scale) *scale = vec3(l0, l1, l2);
  return m33(r0, r1, r2);
}
inline m33 orthonormalize(const m33& a, vec3& scale) { return orthonormalize(a, &scale); }

// Unit axis and the normalised sine and cosine of a rotation matrix's angle (sine never
// negative). No rotation gives the x axis; a (near) half turn is read off the diagonal.
inline void axis_sin_cos(const m33& M, vec3& u, double& s, double& c) {
  const auto& m = M.m;
  vec3 w(m[1][2] - m[2][1], m[2][0] - m[0][2], m[0][1] - m[1][0]);
  double wl = abs(w);
  s = wl / 2.0;
  c = (trace(M) - 1.0) / 2.0;
  // Within 1e-8 of a half turn w is mostly rounding noise, so the axis is read off the diagonal
  // there as well, and then given the sense of w.
  if (s != 0.0 && (c > 0.0 || s >= 1e-8)) {
    u = w * (1.0 / wl);
  } else if (c > 0.0) {
    u = vec3(1.0, 0.0, 0.0);
  } else {
    // Clamped so that a diagonal rounded below -1 gives 0 rather than NaN.
    double ax = sqrt_clamped((m[0][0] + 1.0) / 2.0);
    double ay = sqrt_clamped((m[1][1] + 1.0) / 2.0);
    double az = sqrt_clamped((m[2][2] + 1.0) / 2.0);
    vec3 a(ax, ay, az);
    int k = ay > ax ? 1 : 0;
    if (az > a[k]) k = 2;
    if (k == 0) {
      if (m[0][1] < 0.0) a.y = -a.y;
      if (m[2][0] < 0.0) a.z = -a.z;
    } else if (k == 1) {
      if (m[0][1] < 0.0) a.x = -a.x;
      if (m[1][2] < 0.0) a.z = -a.z;
    } else {
      if (m[2][0] < 0.0) a.x = -a.x;
      if (m[1][2] < 0.0) a.y = -a.y;
    }
    u = dot(a, w) < 0.0 ? -a : a;
  }
  double n = std::sqrt(s * s + c * c);
  if (n == 0.0) {  // only for matrices that are no rotation; keeps the angle finite
    s = 0.0;
    c = 1.0;
    return;
  }
  s *= 1.0 / n;
  c *= 1.0 / n;
}
// Unit axis and angle in [0, pi].
inline void axis_angle(const m33& M, vec3& u, double& a) {
  double s, c;
  axis_sin_cos(M, u, s, c);
  a = pmath::atan2(s, c);
}

void print(const m33& a, std::FILE* f = stdout);  // "%d: % f % f % f\n" per row
std::ostream& operator<<(std::ostream& os, const m33& a);

}  // namespace vk_3dla
