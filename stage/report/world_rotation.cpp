#include "stage/report/world_rotation.h"
#include "pmath/pmath.h"

#include <cmath>

namespace report {

stage::Mat3 rotation_part(const stage::Mat4& world) {
  stage::Mat3 r{};
  for (int i = 0; i < 3; ++i) {
    const double length = std::sqrt(world.m[i][0] * world.m[i][0] + world.m[i][1] * world.m[i][1] +
                                    world.m[i][2] * world.m[i][2]);
    for (int j = 0; j < 3; ++j) r.m[i][j] = length > 0 ? world.m[i][j] / length : 0.0;
  }
  return r;
}

stage::Vec3 hpb_of(const stage::Mat3& r) {
  // Row 2 is (cos p sin h, -sin p, cos p cos h); row 0 and 1 carry bank as (sin b cos p, cos b cos
  // p) in column 1.
  const double cp = pmath::hypot(r.m[2][0], r.m[2][2]);
  const double pitch = pmath::atan2(-r.m[2][1], cp);
  if (cp < 1e-12) return {pmath::atan2(-r.m[0][2], r.m[0][0]), pitch, 0.0};
  return {pmath::atan2(r.m[2][0], r.m[2][2]), pitch, pmath::atan2(r.m[0][1], r.m[1][1])};
}

std::array<double, 4> quaternion_of(const stage::Mat3& r) {
  // The rotation acts on row vectors: its column-vector matrix is the transpose.
  const auto& m = r.m;
  const double trace = m[0][0] + m[1][1] + m[2][2];
  std::array<double, 4> q{};
  if (trace > 0) {
    const double s = 2 * std::sqrt(trace + 1);
    q = {(m[1][2] - m[2][1]) / s, (m[2][0] - m[0][2]) / s, (m[0][1] - m[1][0]) / s, s / 4};
  } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
    const double s = 2 * std::sqrt(1 + m[0][0] - m[1][1] - m[2][2]);
    q = {s / 4, (m[1][0] + m[0][1]) / s, (m[2][0] + m[0][2]) / s, (m[1][2] - m[2][1]) / s};
  } else if (m[1][1] >= m[2][2]) {
    const double s = 2 * std::sqrt(1 + m[1][1] - m[0][0] - m[2][2]);
    q = {(m[1][0] + m[0][1]) / s, s / 4, (m[2][1] + m[1][2]) / s, (m[2][0] - m[0][2]) / s};
  } else {
    const double s = 2 * std::sqrt(1 + m[2][2] - m[0][0] - m[1][1]);
    q = {(m[2][0] + m[0][2]) / s, (m[2][1] + m[1][2]) / s, s / 4, (m[0][1] - m[1][0]) / s};
  }
  if (q[3] < 0)
    for (double& c : q) c = -c;
  return q;
}

}  // namespace report
