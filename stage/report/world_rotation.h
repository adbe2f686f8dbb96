// An item's world rotation in the forms the report gives: heading/pitch/bank and a quaternion.
#ifndef TARSEL_STAGE_REPORT_WORLD_ROTATION_H
#define TARSEL_STAGE_REPORT_WORLD_ROTATION_H

#include <array>

#include "stage/transform.h"

namespace report {

// The rotation of a world transform: its upper 3x3 with each row scaled to unit length (the scale
// of the item and its parents taken out). A zero row stays zero.
stage::Mat3 rotation_part(const stage::Mat4& world);

// Heading, pitch, bank (radians) of a rotation built as stage::hpb_matrix builds it; pitch in
// [-90°, 90°]. Straight up or down (no heading to tell from bank), bank is 0.
stage::Vec3 hpb_of(const stage::Mat3& rotation);

// The unit quaternion [x, y, z, w] of the rotation (vector part first), w >= 0, such that turning
// a vector by it equals v * rotation.
std::array<double, 4> quaternion_of(const stage::Mat3& rotation);

}  // namespace report

#endif
