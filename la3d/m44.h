#pragma once
// m44: an affine transform in homogeneous form, row-major. The upper-left 3x3 block is the linear
// part, the fourth row the translation (element 15 the weight), so (p, 1) * T moves point p.

#include <cmath>
#include <cstdio>
#include <iosfwd>

#include "la3d/diagnostics.h"
#include "la3d/m33.h"
#include "la3d/quat.h"
#include "la3d/vec3.h"
#include "la3d/vec4.h"

namespace vk_3dla {

struct m44 {
  double m[4][4];

  m44() = default;  // elements left unset
  m44(double m00, double m01, double m02, double m03, double m10, double m11, double m12,
      double m13, double m20, double m21, double m22, double m23, double m30, double m31,
      double m32, double m33_)
      : m{{m00, m01, m02, m03}, {m10, m11, m12, m13}, {m20, m21, m22, m23}, {m30, m31, m32, m33_}} {
  }
  explicit m44(int n) : m44(static_cast<double>(n)) {}
  explicit m44(double n)
      : m{{n, 0.0, 0.0, 0.0}, {0.0, n, 0.0, 0.0}, {0.0, 0.0, n, 0.0}, {0.0, 0.0, 0.0, n}} {}
  explicit m44(const float a[16]) {
    for (int i = 0; i < 16; ++i) m[i / 4][i % 4] = a[i];
  }
  // Linear part R and translation t.
  m44(const m33& R, const vec3& t) {
    set_m33(R);
    m[0][3] = m[1][3] = m[2][3] = 0.0;
    m[3][0] = t.x;
    m[3][1] = t.y;
    m[3][2] = t.z;
    m[3][3] = 1.0;
  }
  // Linear part R, zero translation, weight s.
  m44(const m33& R, double s) {
    set_m33(R);
    m[0][3] = m[1][3] = m[2][3] = 0.0;
    m[3][0] = m[3][1] = m[3][2] = 0.0;
    m[3][3] = s;
  }
  m44(const quat& q, double s) : m44(m33_from_quat(q), s) {}
  m44(const vec3& r0, const vec3& r1, const vec3& r2, const vec3& t) : m44(m33(r0, r1, r2), t) {}

  void to_floats(float out[16]) const {
    for (int i = 0; i < 16; ++i) out[i] = static_cast<float>(m[i / 4][i % 4]);
  }
  // Writes R into the upper-left block; the rest is kept.
  void set_m33(const m33& R) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] = R.m[i][j];
  }

  double& operator()(int r, int c) { return m[r][c]; }
  double operator()(int r, int c) const { return m[r][c]; }
  double* operator[](int r) { return m[r]; }
  const double* operator[](int r) const { return m[r]; }

  m44& operator+=(const m44& b) {
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) m[i][j] += b.m[i][j];
    return *this;
  }
  m44& operator-=(const m44& b) {
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) m[i][j] -= b.m[i][j];
    return *this;
  }
  m44& operator*=(double s) {
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) m[i][j] *= s;
    return *this;
  }
  m44& operator/=(double s) { return *this *= 1.0 / s; }
  m44& operator*=(const m44& b);  // post-multiplication
  m44& operator*=(const m33& R);  // post-multiplication by R embedded with weight 1

  m44& transpose() {
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) {
        double t = m[i][j];
        m[i][j] = m[j][i];
        m[j][i] = t;
      }
    return *this;
  }
  // Inverse in place; det receives the determinant when given. A singular matrix stays unchanged
  // (reported only when det is not asked for).
  m44& invert(double* det = nullptr);
  m44& invert(double& det) { return invert(&det); }

  m44& translate(const vec3& t);
  m44& scale_by(const vec3& v);
  m44& rotate_x(double a);
  m44& rotate_y(double a);
  m44& rotate_z(double a);
  m44& rotate_axis(const vec3& v, double a);
  m44& rotate_axis(const vec3& v, double s, double c);
};

inline m33::m33(const m44& t)
    : m{{t.m[0][0], t.m[0][1], t.m[0][2]},
        {t.m[1][0], t.m[1][1], t.m[1][2]},
        {t.m[2][0], t.m[2][1], t.m[2][2]}} {}

inline m44 operator+(m44 a, const m44& b) { return a += b; }
inline m44 operator-(m44 a, const m44& b) { return a -= b; }
inline m44 operator-(m44 a) { return a *= -1.0; }
inline m44 operator*(m44 a, double s) { return a *= s; }
inline m44 operator*(double s, m44 a) { return a *= s; }
inline m44 operator/(m44 a, double s) { return a /= s; }

inline m44 operator*(const m44& a, const m44& b) {
  m44 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
  return r;
}
inline m44& m44::operator*=(const m44& b) { return *this = *this * b; }
inline m44& m44::operator*=(const m33& R) { return *this = *this * m44(R, 1.0); }

// Row vector times matrix.
inline vec4 operator*(const vec4& v, const m44& T) {
  vec4 r;
  for (int j = 0; j < 4; ++j)
    r[j] = v.x * T.m[0][j] + v.y * T.m[1][j] + v.z * T.m[2][j] + v.w * T.m[3][j];
  return r;
}
inline vec4& operator*=(vec4& v, const m44& T) { return v = v * T; }
// The point p in homogeneous form: (p, 1) * T.
inline vec4 operator*(const vec3& p, const m44& T) {
  return vec4(p.x * T.m[0][0] + p.y * T.m[1][0] + p.z * T.m[2][0] + T.m[3][0],
              p.x * T.m[0][1] + p.y * T.m[1][1] + p.z * T.m[2][1] + T.m[3][1],
              p.x * T.m[0][2] + p.y * T.m[1][2] + p.z * T.m[2][2] + T.m[3][2],
              p.x * T.m[0][3] + p.y * T.m[1][3] + p.z * T.m[2][3] + T.m[3][3]);
}
// Column form.
inline vec4 operator*(const m44& T, const vec4& v) {
  vec4 r;
  for (int i = 0; i < 4; ++i)
    r[i] = T.m[i][0] * v.x + T.m[i][1] * v.y + T.m[i][2] * v.z + T.m[i][3] * v.w;
  return r;
}

inline m44 transposed(m44 a) { return a.transpose(); }
inline double trace(const m44& a) { return a.m[0][0] + a.m[1][1] + a.m[2][2] + a.m[3][3]; }
inline double abs_sum(const m44& a) {
  double s = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) s += std::fabs(a.m[i][j]);
  return s;
}
inline m44 outer(const vec4& a, const vec4& b) {
  m44 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = a[i] * b[j];
  return r;
}
inline m44 outer(const vec4& a) { return outer(a, a); }

// Laplace expansion along rows 0 and 1: 2x2 minors of those rows against the complementary
// minors of rows 2 and 3.
inline double determinant(const m44& a) {
  const auto& m = a.m;
  double s01 = m[0][0] * m[1][1] - m[0][1] * m[1][0];
  double s02 = m[0][0] * m[1][2] - m[0][2] * m[1][0];
  double s03 = m[0][0] * m[1][3] - m[0][3] * m[1][0];
  double s12 = m[0][1] * m[1][2] - m[0][2] * m[1][1];
  double s13 = m[0][1] * m[1][3] - m[0][3] * m[1][1];
  double s23 = m[0][2] * m[1][3] - m[0][3] * m[1][2];
  double c01 = m[2][0] * m[3][1] - m[2][1] * m[3][0];
  double c02 = m[2][0] * m[3][2] - m[2][2] * m[3][0];
  double c03 = m[2][0] * m[3][3] - m[2][3] * m[3][0];
  double c12 = m[2][1] * m[3][2] - m[2][2] * m[3][1];
  double c13 = m[2][1] * m[3][3] - m[2][3] * m[3][1];
  double c23 = m[2][2] * m[3][3] - m[2][3] * m[3][2];
  return s01 * c23 - s02 * c13 + s03 * c12 + s12 * c03 - s13 * c02 + s23 * c01;
}

inline m44& m44::invert(double* det) {
  const auto& a = m;
  double s01 = a[0][0] * a[1][1] - a[0][1] * a[1][0];
  double s02 = a[0][0] * a[1][2] - a[0][2] * a[1][0];
  double s03 = a[0][0] * a[1][3] - a[0][3] * a[1][0];
  double s12 = a[0][1] * a[1][2] - a[0][2] * a[1][1];
  double s13 = a[0][1] * a[1][3] - a[0][3] * a[1][1];
  double s23 = a[0][2] * a[1][3] - a[0][3] * a[1][2];
  double c01 = a[2][0] * a[3][1] - a[2][1] * a[3][0];
  double c02 = a[2][0] * a[3][2] - a[2][2] * a[3][0];
  double c03 = a[2][0] * a[3][3] - a[2][3] * a[3][0];
  double c12 = a[2][1] * a[3][2] - a[2][2] * a[3][1];
  double c13 = a[2][1] * a[3][3] - a[2][3] * a[3][1];
  double c23 = a[2][2] * a[3][3] - a[2][3] * a[3][2];
  double d = s01 * c23 - s02 * c13 + s03 * c12 + s12 * c03 - s13 * c02 + s23 * c01;
  if (det) *det = d;
  if (d == 0.0) {
    if (!det) report_determinant_zero();
    return *this;
  }
  // Adjugate (transposed cofactors) from the same minors.
  m44 r(a[1][1] * c23 - a[1][2] * c13 + a[1][3] * c12,   //
        -a[0][1] * c23 + a[0][2] * c13 - a[0][3] * c12,  //
        a[3][1] * s23 - a[3][2] * s13 + a[3][3] * s12,   //
        -a[2][1] * s23 + a[2][2] * s13 - a[2][3] * s12,  //
        -a[1][0] * c23 + a[1][2] * c03 - a[1][3] * c02,  //
        a[0][0] * c23 - a[0][2] * c03 + a[0][3] * c02,   //
        -a[3][0] * s23 + a[3][2] * s03 - a[3][3] * s02,  //
        a[2][0] * s23 - a[2][2] * s03 + a[2][3] * s02,   //
        a[1][0] * c13 - a[1][1] * c03 + a[1][3] * c01,   //
        -a[0][0] * c13 + a[0][1] * c03 - a[0][3] * c01,  //
        a[3][0] * s13 - a[3][1] * s03 + a[3][3] * s01,   //
        -a[2][0] * s13 + a[2][1] * s03 - a[2][3] * s01,  //
        -a[1][0] * c12 + a[1][1] * c02 - a[1][2] * c01,  //
        a[0][0] * c12 - a[0][1] * c02 + a[0][2] * c01,   //
        -a[3][0] * s12 + a[3][1] * s02 - a[3][2] * s01,  //
        a[2][0] * s12 - a[2][1] * s02 + a[2][2] * s01);
  return *this = r *= 1.0 / d;
}
inline m44 inverse(m44 a) { return a.invert(); }

// Transform builders; the fourth row and column are those of the identity unless stated.
inline m44 m44_translation(const vec3& t) { return m44(m33(1.0), t); }
inline m44 m44_scaling(const vec3& v) { return m44(diag(v), 1.0); }
inline m44 m44_rot_x(double a) { return m44(rot_x(a), 1.0); }
inline m44 m44_rot_y(double a) { return m44(rot_y(a), 1.0); }
inline m44 m44_rot_z(double a) { return m44(rot_z(a), 1.0); }
inline m44 m44_rot_axis(const vec3& v, double a) { return m44(rot_axis(v, a), 1.0); }
inline m44 m44_rot_axis(const vec3& v, double s, double c) { return m44(rot_axis(v, s, c), 1.0); }

inline m44& m44::translate(const vec3& t) { return *this *= m44_translation(t); }
inline m44& m44::scale_by(const vec3& v) { return *this *= diag(v); }
inline m44& m44::rotate_x(double a) { return *this *= rot_x(a); }
inline m44& m44::rotate_y(double a) { return *this *= rot_y(a); }
inline m44& m44::rotate_z(double a) { return *this *= rot_z(a); }
inline m44& m44::rotate_axis(const vec3& v, double a) { return *this *= rot_axis(v, a); }
inline m44& m44::rotate_axis(const vec3& v, double s, double c) {
  return *this *= rot_axis(v, s, c);
}

void print(const m44& a, std::FILE* f = stdout);  // "%d: { % f, % f, % f, % f },\n" per row
std::ostream& operator<<(std::ostream& os, const m44& a);

}  // namespace vk_3dla
