#include "stage/transform.h"
#include "pmath/pmath.h"

#include <cmath>

namespace stage {

Vec3 deg_to_rad(const Vec3& deg) {
  return {deg_to_rad(deg[0]), deg_to_rad(deg[1]), deg_to_rad(deg[2])};
}

Vec3 rad_to_deg(const Vec3& rad) {
  return {rad_to_deg(rad[0]), rad_to_deg(rad[1]), rad_to_deg(rad[2])};
}

Mat3 identity3() { return Mat3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }

Mat4 identity4() { return Mat4{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}; }

Mat3 operator*(const Mat3& a, const Mat3& b) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
  return r;
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

Mat3 hpb_matrix(const Vec3& hpb) {
  const double ch = pmath::cos(hpb[0]), sh = pmath::sin(hpb[0]);
  const double cp = pmath::cos(hpb[1]), sp = pmath::sin(hpb[1]);
  const double cb = pmath::cos(hpb[2]), sb = pmath::sin(hpb[2]);
  return Mat3{{{cb * ch + sb * sp * sh, sb * cp, sb * sp * ch - cb * sh},
               {cb * sp * sh - sb * ch, cb * cp, sb * sh + cb * sp * ch},
               {cp * sh, -sp, cp * ch}}};
}

Vec3 hpb_from_matrix(const Mat3& r) {
  // hpb_matrix rows: row 2 = (cp sh, -sp, cp ch). With the heading known, rows 0 and 1 give
  // cb = m00 ch - m02 sh and sb = m12 sh - m10 ch whatever the pitch, so the bank makes up for
  // a heading that is poorly defined near pitch +-90 degrees.
  const double h = pmath::atan2(r.m[2][0], r.m[2][2]);
  const double p = pmath::atan2(-r.m[2][1], pmath::hypot(r.m[2][0], r.m[2][2]));
  const double ch = pmath::cos(h), sh = pmath::sin(h);
  const double b = pmath::atan2(r.m[1][2] * sh - r.m[1][0] * ch, r.m[0][0] * ch - r.m[0][2] * sh);
  return {h, p, b};
}

Mat3 rotation_part(const Mat3& m) {
  const auto unit = [](double* v) {
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (n > 0)
      for (int i = 0; i < 3; ++i) v[i] /= n;
  };
  Mat3 r = m;
  unit(r.m[2]);
  const double d = r.m[1][0] * r.m[2][0] + r.m[1][1] * r.m[2][1] + r.m[1][2] * r.m[2][2];
  for (int i = 0; i < 3; ++i) r.m[1][i] -= d * r.m[2][i];
  unit(r.m[1]);
  // X = Y x Z keeps the frame right-handed in the rows' sense of hpb_matrix.
  r.m[0][0] = r.m[1][1] * r.m[2][2] - r.m[1][2] * r.m[2][1];
  r.m[0][1] = r.m[1][2] * r.m[2][0] - r.m[1][0] * r.m[2][2];
  r.m[0][2] = r.m[1][0] * r.m[2][1] - r.m[1][1] * r.m[2][0];
  return r;
}

Mat4 local_matrix(const Vec3& scale, const Vec3& rotation, const Vec3& position,
                  const Vec3& pivot_rotation, const Vec3& parent_pivot) {
  const Mat3 scale_m{{{scale[0], 0, 0}, {0, scale[1], 0}, {0, 0, scale[2]}}};
  const Mat3 linear = scale_m * hpb_matrix(rotation) * hpb_matrix(pivot_rotation);
  Mat4 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = linear.m[i][j];
  for (int j = 0; j < 3; ++j) r.m[3][j] = position[j] - parent_pivot[j];
  r.m[3][3] = 1;
  return r;
}

Vec3 transform_point(const Vec3& p, const Mat4& m) {
  Vec3 r{};
  for (int j = 0; j < 3; ++j)
    r[j] = p[0] * m.m[0][j] + p[1] * m.m[1][j] + p[2] * m.m[2][j] + m.m[3][j];
  return r;
}

Vec3 translation(const Mat4& m) { return {m.m[3][0], m.m[3][1], m.m[3][2]}; }

}  // namespace stage
