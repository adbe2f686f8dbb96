#include "stage/formats/frame_math.h"

#include <algorithm>
#include <cmath>

namespace formats {

Mat3 transpose(const Mat3& m) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = m.m[j][i];
  return r;
}

Mat3 linear(const Mat4& m) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = m.m[i][j];
  return r;
}

Mat4 affine(const Mat3& l, const Vec3& t) {
  Mat4 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = l.m[i][j];
  for (int j = 0; j < 3; ++j) r.m[3][j] = t[j];
  r.m[3][3] = 1;
  return r;
}

Vec3 mul(const Vec3& v, const Mat3& m) {
  Vec3 r{};
  for (int j = 0; j < 3; ++j) r[j] = v[0] * m.m[0][j] + v[1] * m.m[1][j] + v[2] * m.m[2][j];
  return r;
}

Mat4 rigid_inverse(const Mat4& m) {
  const Mat3 rt = transpose(linear(m));
  const Vec3 t = mul(stage::translation(m), rt);
  return affine(rt, {-t[0], -t[1], -t[2]});
}

Mat4 inverse(const Mat4& m) {
  const Mat3 a = linear(m);
  const double det = a.m[0][0] * (a.m[1][1] * a.m[2][2] - a.m[1][2] * a.m[2][1]) -
                     a.m[0][1] * (a.m[1][0] * a.m[2][2] - a.m[1][2] * a.m[2][0]) +
                     a.m[0][2] * (a.m[1][0] * a.m[2][1] - a.m[1][1] * a.m[2][0]);
  if (det == 0) return stage::identity4();
  Mat3 inv{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      inv.m[i][j] = (a.m[i1][j1] * a.m[i2][j2] - a.m[i1][j2] * a.m[i2][j1]) / det;
    }
  const Vec3 t = mul(stage::translation(m), inv);
  return affine(inv, {-t[0], -t[1], -t[2]});
}

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm(const Vec3& v) { return std::sqrt(dot(v, v)); }
Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 scaled(const Vec3& v, double s) { return {v[0] * s, v[1] * s, v[2] * s}; }
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vec3 nearest_turn(const Vec3& hpb, const Vec3& previous) {
  Vec3 r = hpb;
  for (int i = 0; i < 3; ++i) {
    if (i == 1) continue;  // pitch stays within +-90 degrees
    r[i] += 2 * stage::pi * std::round((previous[i] - r[i]) / (2 * stage::pi));
  }
  return r;
}

bool split_channels(const Mat4& m, Channels& out, double tolerance) {
  Mat3 l = linear(m);
  Vec3 s{};
  for (int i = 0; i < 3; ++i) {
    s[i] = norm({l.m[i][0], l.m[i][1], l.m[i][2]});
    if (!(s[i] > 0)) return false;
    for (int j = 0; j < 3; ++j) l.m[i][j] /= s[i];
  }
  const Vec3 r0{l.m[0][0], l.m[0][1], l.m[0][2]}, r1{l.m[1][0], l.m[1][1], l.m[1][2]},
      r2{l.m[2][0], l.m[2][1], l.m[2][2]};
  if (std::fabs(dot(r0, r1)) > tolerance || std::fabs(dot(r0, r2)) > tolerance ||
      std::fabs(dot(r1, r2)) > tolerance)
    return false;
  // Rounding leaves a rotation's rows a hair off unit length; a scaling that is 1, or the same on
  // every axis, is kept exactly so (the solver treats a uniform scaling apart).
  const double lo = std::min({s[0], s[1], s[2]}), hi = std::max({s[0], s[1], s[2]});
  const double snap = std::max(1e-12, tolerance / 10);
  if (hi - lo <= snap * hi) {
    const double k = std::fabs(hi - 1) <= snap ? 1.0 : (s[0] + s[1] + s[2]) / 3;
    s = {k, k, k};
  }
  if (dot(cross(r0, r1), r2) < 0) {  // a mirror: carried by a negative X scale
    s[0] = -s[0];
    for (int j = 0; j < 3; ++j) l.m[0][j] = -l.m[0][j];
  }
  out.scale = s;
  out.hpb = hpb_from_matrix(l);
  out.position = stage::translation(m);
  return true;
}

std::string transform_fault(const Mat4& m) {
  for (const auto& row : m.m)
    for (const double v : row)
      if (!std::isfinite(v)) return "its transform is not finite (nan or inf)";
  const Mat3 l = linear(m);
  for (int i = 0; i < 3; ++i)
    if (!(norm({l.m[i][0], l.m[i][1], l.m[i][2]}) > 0)) return "its transform scales an axis to 0";
  return "its transform shears, which a bone's scaling and rotation cannot hold";
}

Mat4 channel_matrix(const Channels& c) {
  return stage::local_matrix(c.scale, c.hpb, c.position, {0, 0, 0}, {0, 0, 0});
}

Mat3 frame_with_z(const Vec3& z) {
  // Rodrigues' turn about k = (0,0,1) x z by the angle between them.
  const double c = z[2];
  if (c < -1 + 1e-12) return Mat3{{{1, 0, 0}, {0, -1, 0}, {0, 0, -1}}};
  const Vec3 k{-z[1], z[0], 0};  // (0,0,1) x z, length sin
  const double f = 1 / (1 + c);
  // Row form: v * R with R = c I + [k]x^T + k k^T / (1 + c).
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = (i == j ? c : 0) + k[i] * k[j] * f;
  r.m[0][1] += k[2];
  r.m[1][0] -= k[2];
  r.m[0][2] -= k[1];
  r.m[2][0] += k[1];
  r.m[1][2] += k[0];
  r.m[2][1] -= k[0];
  return r;
}

Mat4 mirror_z(const Mat4& m) {
  Mat4 r = m;
  for (int i = 0; i < 4; ++i) {
    r.m[i][2] = -r.m[i][2];
    r.m[2][i] = -r.m[2][i];
  }
  return r;
}

Vec3 mirror_z(const Vec3& v) { return {v[0], v[1], -v[2]}; }

std::array<double, 4> quaternion_of(const Mat3& c) {
  const auto& m = c.m;
  const double tr = m[0][0] + m[1][1] + m[2][2];
  std::array<double, 4> q{};
  if (tr > 0) {
    const double s = 2 * std::sqrt(tr + 1);
    q = {(m[2][1] - m[1][2]) / s, (m[0][2] - m[2][0]) / s, (m[1][0] - m[0][1]) / s, s / 4};
  } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
    const double s = 2 * std::sqrt(1 + m[0][0] - m[1][1] - m[2][2]);
    q = {s / 4, (m[0][1] + m[1][0]) / s, (m[0][2] + m[2][0]) / s, (m[2][1] - m[1][2]) / s};
  } else if (m[1][1] > m[2][2]) {
    const double s = 2 * std::sqrt(1 + m[1][1] - m[0][0] - m[2][2]);
    q = {(m[0][1] + m[1][0]) / s, s / 4, (m[1][2] + m[2][1]) / s, (m[0][2] - m[2][0]) / s};
  } else {
    const double s = 2 * std::sqrt(1 + m[2][2] - m[0][0] - m[1][1]);
    q = {(m[0][2] + m[2][0]) / s, (m[1][2] + m[2][1]) / s, s / 4, (m[1][0] - m[0][1]) / s};
  }
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (double& x : q) x /= n;
  return q;
}

Mat3 column_matrix_of(const std::array<double, 4>& q) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  return Mat3{{{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
               {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
               {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}}};
}

}  // namespace formats
