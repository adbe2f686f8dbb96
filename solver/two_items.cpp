#include "solver/two_items.h"
#include "pmath/pmath.h"

#include <algorithm>
#include <cmath>

#include "solver/chain_end.h"

using vk_3dla::pi;
using vk_3dla::vec3;

void two_item_setup(double* s_lo, double* s_hi, double* shortest, double* s_near, double* longest,
                    double* s_far, const std::vector<Work>& works, double s_min,
                    c_2items_ik* record) {
  if (works.size() != 2) return;
  const Work& root = works[0];
  const Work& joint = works[1];
  // The root must scale uniformly (mirroring allowed) for the bend to stay a circle.
  double sx = std::fabs(root.scale.x), sy = std::fabs(root.scale.y), sz = std::fabs(root.scale.z);
  if (!(sx == sy && sy == sz)) return;

  c_2items_ik r;
  r.link0 = vec3(root.end_point.x * root.scale.x, root.end_point.y * root.scale.y,
                 root.end_point.z * root.scale.z);

  // The joint's bend axis in the root frame: through the FK rotations applied after the bend
  // (heading for a pitch joint; pitch and heading for a bank joint), its pivot rotation and the
  // root's scale (as a normal: cofactor of the scale). A flipped joint turns by its rest heading,
  // not its FK heading, and its mirrored pitch angle falls as the bend grows, so it bends about
  // -X carried by that heading (+X only when the heading is exactly +-180 deg).
  vec3 a = joint.bend_axis;
  if (joint.flipped) {
    a = -(a * vk_3dla::rot_y(joint.rest_rot.x));
  } else if (joint.one_channel) {
    if (joint.channel == 1 && joint.fk_rot.x != 0.0) {
      a = a * vk_3dla::rot_y(joint.fk_rot.x);
    } else if (joint.channel == 2 && (joint.fk_rot.x != 0.0 || joint.fk_rot.y != 0.0)) {
      a = a * vk_3dla::rot_x(joint.fk_rot.y) * vk_3dla::rot_y(joint.fk_rot.x);
    }
  }
  a = a * joint.pivot_mat;
  a = a * vk_3dla::cofactor(vk_3dla::diag(root.scale));
  double a_len = vk_3dla::abs(a);
  if (a_len == 0.0) return;
  a = vk_3dla::normalized(a);
  if (joint.bend_angle < 0.0) a = -a;
  r.axis = a;

  vec3 side = vk_3dla::cross(r.axis, r.link0);
  if (vk_3dla::abs(side) == 0.0) return;
  vec3 d_side = vk_3dla::normalized(side);
  vec3 d_in = vk_3dla::cross(d_side, r.axis);

  vec3 e = chain_end(works, s_min);
  vec3 link1 = e - r.link0;
  double vx = vk_3dla::dot(link1, d_in);
  double vy = vk_3dla::dot(link1, d_side);
  if (vx == 0.0 && vy == 0.0) return;
  r.phi_min = pmath::atan2(vy, vx);
  r.rate = std::fabs(joint.bend_angle);
  // A joint that does not bend has no range to solve over.
  if (r.rate == 0.0) return;

  const unsigned bit = 1u << joint.channel;
  const bool limited = (joint.limit_flags & bit) != 0;
  double s_lim = 0.0;
  double phi_lim = 0.0;
  if (limited) {
    double v_lim =
        joint.bend_angle >= 0.0 ? joint.limit_max[joint.channel] : joint.limit_min[joint.channel];
    s_lim = v_lim / joint.bend_angle;
    phi_lim = r.phi_min + r.rate * (s_lim - s_min);
  }

  double lo;
  double hi;
  if (r.phi_min >= 0.0) {
    lo = s_min;
    // A second link folded straight back can turn a full circle.
    double full = (vx < 0.0 && vy == 0.0) ? vk_3dla::deg2rad(360.0) : vk_3dla::deg2rad(180.0);
    if (!limited) {
      hi = s_min + (full - r.phi_min) / r.rate;
    } else {
      double top = phi_lim <= full ? phi_lim : full;
      hi = s_min + (top - r.phi_min) / r.rate;
    }
  } else if (!limited) {
    lo = s_min - r.phi_min / r.rate;
    hi = s_min + (pi - r.phi_min) / r.rate;
  } else if (phi_lim <= 0.0) {
    lo = s_min;
    hi = s_lim;
  } else if (std::fabs(r.phi_min) >= phi_lim) {
    lo = s_min;
    hi = s_min - r.phi_min / r.rate;
  } else {
    lo = s_min - r.phi_min / r.rate;
    hi = s_lim;
  }
  if (lo < s_min) lo = s_min;
  if (hi < lo) hi = lo;

  double d_lo = vk_3dla::abs(chain_end(works, lo));
  double d_hi = vk_3dla::abs(chain_end(works, hi));

  r.axial = vk_3dla::dot(e, r.axis);
  r.axial_sq = r.axial * r.axial;
  double l0_in = vk_3dla::dot(r.link0, d_in);
  double l0_side = vk_3dla::dot(r.link0, d_side);
  r.len0_sq = l0_in * l0_in + l0_side * l0_side;
  r.len0 = std::sqrt(r.len0_sq);
  r.len1_sq = vx * vx + vy * vy;

  r.s_mid = (s_min + hi) / 2.0;
  vec3 m = chain_end(works, r.s_mid) - r.link0;
  vec3 normal = vk_3dla::cross(r.axis, m);
  if (vk_3dla::abs(normal) == 0.0) return;
  r.mid_normal = vk_3dla::normalized(normal);
  r.mid_in_plane = vk_3dla::cross(r.mid_normal, r.axis);
  r.valid = true;

  *record = r;
  *s_lo = lo;
  *s_hi = hi;
  if (d_lo < d_hi) {
    *shortest = d_lo;
    *s_near = lo;
    *longest = d_hi;
    *s_far = hi;
  } else {
    *shortest = d_hi;
    *s_near = hi;
    *longest = d_lo;
    *s_far = lo;
  }
}

namespace {

// Law of cosines in the bending plane: the in-plane angle of the second link that puts the end at
// distance h, and the two fractions (+theta and -theta) that give it.
double closed_form(double s_min, double s_lo, double s_hi, double h, const c_2items_ik& r) {
  double x = (h * h - r.axial_sq - r.len1_sq + r.len0_sq) / (2.0 * r.len0);
  double y_sq = h * h - x * x - r.axial_sq;
  if (y_sq < 0.0) y_sq = 0.0;
  double theta = pmath::atan2(std::sqrt(y_sq), x - r.len0);
  double s1 = s_min + (theta - r.phi_min) / r.rate;
  double s2 = s_min + (-theta - r.phi_min) / r.rate;
  auto inside = [&](double s) { return s >= s_lo && s <= s_hi; };
  if (!inside(s1)) return s2;
  if (!inside(s2)) return s1;
  return std::fabs(s2 - s_lo) > std::fabs(s1 - s_lo) ? s1 : s2;
}

}  // namespace

double fraction_for_distance(double s_min, double s_lo, double s_hi, double s_near, double s_far,
                             double tolerance, double distance, const c_2items_ik& record,
                             const std::vector<Work>& works, Chain_ends* ends) {
  if (record.valid) return closed_form(s_min, s_lo, s_hi, distance, record);
  double near = s_near;  // end too short
  double far = s_far;    // end too long
  for (int i = 0; i < bisection_limit && !(std::fabs(near - far) <= tolerance); ++i) {
    double mid = (near + far) / 2.0;
    const double d = ends && &ends->works() == &works ? ends->bisection_distance(i, mid)
                                                      : vk_3dla::abs(chain_end(works, mid));
    if (d < distance) {
      near = mid;
    } else {
      far = mid;
    }
  }
  return far;
}
