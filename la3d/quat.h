#pragma once
// quat: a quaternion stored as vector part (x, y, z) then scalar w. Unit quaternions are rotations;
// q and -q are the same rotation.

#include <cmath>
#include <cstdio>
#include <iosfwd>

#include "la3d/angles.h"
#include "la3d/diagnostics.h"
#include "la3d/m33.h"
#include "la3d/vec3.h"
#include "pmath/pmath.h"

namespace vk_3dla {

struct quat {
  double x, y, z, w;

  quat() = default;  // components left unset
  quat(double x_, double y_, double z_, double w_) : x(x_), y(y_), z(z_), w(w_) {}
  explicit quat(int n) : x(0.0), y(0.0), z(0.0), w(n) {}
  explicit quat(double n) : x(0.0), y(0.0), z(0.0), w(n) {}
  quat(const vec3& v, double w_) : x(v.x), y(v.y), z(v.z), w(w_) {}

  vec3 v() const { return vec3(x, y, z); }

  quat& operator+=(const quat& b) {
    x += b.x;
    y += b.y;
    z += b.z;
    w += b.w;
    return *this;
  }
  quat& operator-=(const quat& b) {
    x -= b.x;
    y -= b.y;
    z -= b.z;
    w -= b.w;
    return *this;
  }
  quat& operator*=(double s) {
    x *= s;
    y *= s;
    z *= s;
    w *= s;
    return *this;
  }
  quat& operator/=(double s) { return *this *= 1.0 / s; }
  quat& operator*=(const quat& b);

  // Unit length in place; a zero quaternion stays unchanged and is reported.
  quat& normalize() {
    double d = std::sqrt(x * x + y * y + z * z + w * w);
    if (d != 0.0) {
      *this *= 1.0 / d;
    } else {
      report_abs_zero();
    }
    return *this;
  }
};

inline vec3::vec3(const quat& q) : x(q.x), y(q.y), z(q.z) {}

inline quat operator+(quat a, const quat& b) { return a += b; }
inline quat operator-(quat a, const quat& b) { return a -= b; }
inline quat operator-(const quat& a) { return quat(-a.x, -a.y, -a.z, -a.w); }
inline quat operator*(quat a, double s) { return a *= s; }
inline quat operator*(double s, quat a) { return a *= s; }
inline quat operator/(quat a, double s) { return a /= s; }

// Hamilton product.
inline quat operator*(const quat& a, const quat& b) {
  return quat(a.w * b.x + b.w * a.x + (a.y * b.z - a.z * b.y),
              a.w * b.y + b.w * a.y + (a.z * b.x - a.x * b.z),
              a.w * b.z + b.w * a.z + (a.x * b.y - a.y * b.x),
              a.w * b.w - (a.x * b.x + a.y * b.y + a.z * b.z));
}
inline quat& quat::operator*=(const quat& b) { return *this = *this * b; }

inline double dot(const quat& a, const quat& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}
inline double abs2(const quat& q) { return dot(q, q); }
inline double abs(const quat& q) { return std::sqrt(abs2(q)); }
inline quat normalized(quat q) { return q.normalize(); }
inline quat conj(const quat& q) { return quat(-q.x, -q.y, -q.z, q.w); }
inline quat inverse(const quat& q) { return conj(q) * (1.0 / abs2(q)); }

// Rotation by angle a about axis v (a zero axis gives a pure scalar cos(a/2)).
inline quat quat_from_axis(const vec3& v, double a) {
  return quat(normalized(v) * pmath::sin(a / 2.0), pmath::cos(a / 2.0));
}
// Vector part of q * (v, 0) * conj(q).
inline vec3 rotate(const quat& q, const vec3& v) { return (q * quat(v, 0.0) * conj(q)).v(); }

inline quat quat_exp(const quat& q) {
  vec3 v = q.v();
  double th = abs(v);
  if (th != 0.0) v *= pmath::sin(th) / th;
  return quat(v, pmath::cos(th)) * std::exp(q.w);
}
inline quat quat_log(const quat& q) {
  double n = abs(q);
  double k = n != 0.0 ? q.w / n : q.w;
  if (k < -1.0) k = -1.0;
  if (k > 1.0) k = 1.0;
  return quat(normalized(q.v()) * pmath::acos(k), std::log(n));
}

// Rotation matrix of q, in the row-vector form: v * m33_from_quat(q) = rotate(q, v). Scaled by
// 2/|q|^2, so a quaternion of any non-zero length gives its rotation; zero gives the identity.
inline m33 m33_from_quat(const quat& q) {
  double n2 = abs2(q);
  if (n2 == 0.0) return m33(1.0);
  double s = 2.0 / n2;
  double x = q.x, y = q.y, z = q.z, w = q.w;
  return m33(1.0 - s * (y * y + z * z), s * (x * y + z * w), s * (x * z - y * w),
             s * (x * y - z * w), 1.0 - s * (x * x + z * z), s * (y * z + x * w),
             s * (x * z + y * w), s * (y * z - x * w), 1.0 - s * (x * x + y * y));
}
inline m33::m33(const quat& q) : m33(m33_from_quat(q)) {}

// Quaternion of a rotation matrix; neither normalised nor sign-canonical.
inline quat quat_from_m33(const m33& M) {
  const auto& m = M.m;
  double t = m[0][0] + m[1][1] + m[2][2];
  if (t > 0.0) {
    double r = std::sqrt(t + 1.0);
    double k = 0.5 / r;
    return quat((m[1][2] - m[2][1]) * k, (m[2][0] - m[0][2]) * k, (m[0][1] - m[1][0]) * k, r / 2.0);
  }
  int e = m[1][1] > m[0][0] ? 1 : 0;
  if (m[2][2] > m[e][e]) e = 2;
  int f = (e + 1) % 3, g = (f + 1) % 3;
  double h = sqrt_clamped(m[e][e] - (m[g][g] + m[f][f]) + 1.0);
  double l = h != 0.0 ? 0.5 / h : 0.0;
  double v[3];
  v[e] = h / 2.0;
  v[f] = l * (m[f][e] + m[e][f]);
  v[g] = l * (m[g][e] + m[e][g]);
  return quat(v[0], v[1], v[2], l * (m[f][g] - m[g][f]));
}

// Spherical interpolation with the dot product d of q0 and q1 given; not renormalised.
inline quat slerp_core(double t, double d, const quat& q0, const quat& q1) {
  if (1.0 - d < 1e-8) return q0 * (1.0 - t) + q1 * t;
  if (d < -1.0) d = -1.0;
  if (d > 1.0) d = 1.0;
  double th = pmath::acos(d);
  return (q0 * pmath::sin((1.0 - t) * th) + q1 * pmath::sin(t * th)) / pmath::sin(th);
}
// Along the shorter arc: q1 is flipped when it lies in the other hemisphere.
inline quat slerp(const quat& q0, const quat& q1, double t) {
  double d = dot(q0, q1);
  if (d < 0.0) return slerp_core(t, -d, q0, -q1);
  return slerp_core(t, d, q0, q1);
}
inline quat slerp_direct(const quat& q0, const quat& q1, double t) {
  return slerp_core(t, dot(q0, q1), q0, q1);
}
inline quat squad(const quat& q1, const quat& a, const quat& b, const quat& q2, double t) {
  return slerp_direct(slerp_direct(q1, q2, t), slerp_direct(a, b, t), 2.0 * t * (1.0 - t));
}

// Half the angle of the rotation between two orientations, in [0, pi/2].
inline double half_angle(const quat& a, const quat& b) {
  return acos_clamped(std::fabs(dot(normalized(a), normalized(b))));
}

// A random unit quaternion from the shared generator (see random.h).
quat random_quat();

void print(const quat& q, std::FILE* f = stdout);  // "i:% f j:% f k:% f r:% f\n"
std::ostream& operator<<(std::ostream& os, const quat& q);

}  // namespace vk_3dla
