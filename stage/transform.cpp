#include "stage/transform.h"

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
  const double ch = std::cos(hpb[0]), sh = std::sin(hpb[0]);
  const double cp = std::cos(hpb[1]), sp = std::sin(hpb[1]);
  const double cb = std::cos(hpb[2]), sb = std::sin(hpb[2]);
  return Mat3{{{cb * ch + sb * sp * sh, sb * cp, sb * sp * ch - cb * sh},
               {cb * sp * sh - sb * ch, cb * cp, sb * sh + cb * sp * ch},
               {cp * sh, -sp, cp * ch}}};
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
