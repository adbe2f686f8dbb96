// Rotations and frames shared by the importer and the exporters: the host's heading, pitch and
// bank taken back out of a matrix, and the change between assimp's right-handed frame and the
// host's left-handed one (docs/motion-files.md).
#ifndef TARSEL_STAGE_FORMATS_FRAME_MATH_H
#define TARSEL_STAGE_FORMATS_FRAME_MATH_H

#include <array>
#include <string>

#include "stage/transform.h"

namespace formats {

using stage::Mat3;
using stage::Mat4;
using stage::Vec3;

// A host local transform split into its channels: linear part diag(scale) * hpb_matrix(hpb).
struct Channels {
  Vec3 position{};
  Vec3 hpb{};  // radians
  Vec3 scale{1, 1, 1};
};

Mat3 transpose(const Mat3& m);
Mat3 linear(const Mat4& m);                 // the upper 3x3
Mat4 affine(const Mat3& l, const Vec3& t);  // linear part and translation row
Mat4 rigid_inverse(const Mat4& m);          // inverse of a rotation-and-translation matrix
Mat4 inverse(const Mat4& m);                // general affine inverse (row vectors)
Vec3 mul(const Vec3& v, const Mat3& m);     // v * m
double norm(const Vec3& v);
Vec3 sub(const Vec3& a, const Vec3& b);
Vec3 add(const Vec3& a, const Vec3& b);
Vec3 scaled(const Vec3& v, double s);
double dot(const Vec3& a, const Vec3& b);
Vec3 cross(const Vec3& a, const Vec3& b);

using stage::hpb_from_matrix;
// The same angles moved by whole turns to lie nearest the previous frame's, so that keys between
// neighbouring frames interpolate the short way.
Vec3 nearest_turn(const Vec3& hpb, const Vec3& previous);

// Splits a local transform into channels. Returns false when the linear part is not a scaling
// along the item's own axes followed by a rotation (a shear the channels cannot hold) within the
// relative tolerance. A scaling within tolerance / 10 (at least 1e-12) of uniform (or of 1) is
// made exactly so.
bool split_channels(const Mat4& m, Channels& out, double tolerance = 1e-9);
Mat4 channel_matrix(const Channels& c);
// Why split_channels refuses a transform, for a message: "its transform is not finite (nan or
// inf)", "its transform scales an axis to 0" or "its transform shears, ...".
std::string transform_fault(const Mat4& m);

// A rotation whose Z row is the unit vector z; its X and Y rows are the turn of the identity that
// takes +Z onto z by the shortest way (a half turn about X when z points along -Z).
Mat3 frame_with_z(const Vec3& z);

// Right-handed (assimp) to left-handed (host) and back: the Z axis is mirrored. For a transform
// in row form this is M * m * M with M = diag(1, 1, -1, 1); it is its own inverse.
Mat4 mirror_z(const Mat4& m);
Vec3 mirror_z(const Vec3& v);

// A unit quaternion (x, y, z, w) of a column-form rotation matrix c (c = transpose of row form).
std::array<double, 4> quaternion_of(const Mat3& column_form);
Mat3 column_matrix_of(const std::array<double, 4>& q);

}  // namespace formats

#endif
