// Small vector and matrix math for the stand-in host's world transforms. Row vectors, transformed
// as v * M; translation in the last row of a 4x4. The module composes items the same way, so the
// host's world positions are directly comparable with what the module aims for.
#ifndef TARSEL_STAGE_TRANSFORM_H
#define TARSEL_STAGE_TRANSFORM_H

#include <array>

namespace stage {

using Vec3 = std::array<double, 3>;

struct Mat3 {
  double m[3][3];
};

struct Mat4 {
  double m[4][4];
};

constexpr double pi = 3.14159265358979323846;
inline double deg_to_rad(double deg) { return deg * (pi / 180.0); }
inline double rad_to_deg(double rad) { return rad * (180.0 / pi); }
Vec3 deg_to_rad(const Vec3& deg);
Vec3 rad_to_deg(const Vec3& rad);

Mat3 identity3();
Mat4 identity4();
Mat3 operator*(const Mat3& a, const Mat3& b);  // a applied first
Mat4 operator*(const Mat4& a, const Mat4& b);  // a applied first

// Rotation of a heading (about Y), pitch (about X), bank (about Z) triple in radians:
// rot_z(bank) * rot_x(pitch) * rot_y(heading).
Mat3 hpb_matrix(const Vec3& hpb);
// The heading, pitch and bank whose hpb_matrix is the rotation r (rows orthonormal, det +1).
// Near pitch +-90 degrees the bank takes the whole turn about the shared axis.
Vec3 hpb_from_matrix(const Mat3& r);
// The rotation of a linear part whose rows may be scaled: rows made unit and square to each
// other (Z kept, then Y), so that a uniformly or axis-scaled frame gives its own turn.
Mat3 rotation_part(const Mat3& m);

// An item's local transform: linear part diag(scale) * R(rotation) * R(pivot_rotation),
// translation position - parent_pivot.
Mat4 local_matrix(const Vec3& scale, const Vec3& rotation, const Vec3& position,
                  const Vec3& pivot_rotation, const Vec3& parent_pivot);

Vec3 transform_point(const Vec3& p, const Mat4& m);  // (p, 1) * m
Vec3 translation(const Mat4& m);                     // the last row

}  // namespace stage

#endif
