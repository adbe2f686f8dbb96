#include "solver/chain_end.h"

#include <cmath>

using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::vec3;

namespace {

// Row vector times rot_x(a), rot_y(a), rot_z(a), with the sine and cosine given. Turning by
// exactly 0 is skipped: it would leave the vector unchanged anyway.
inline void turn_x(vec3& p, double a) {
  if (a == 0.0) return;
  double c = std::cos(a), s = std::sin(a);
  double y = p.y * c - p.z * s;
  p.z = p.y * s + p.z * c;
  p.y = y;
}

inline void turn_y(vec3& p, double a) {
  if (a == 0.0) return;
  double c = std::cos(a), s = std::sin(a);
  double x = p.x * c + p.z * s;
  p.z = p.z * c - p.x * s;
  p.x = x;
}

inline void turn_z(vec3& p, double a) {
  if (a == 0.0) return;
  double c = std::cos(a), s = std::sin(a);
  double x = p.x * c - p.y * s;
  p.y = p.x * s + p.y * c;
  p.x = x;
}

// p * m33_from_hpb(h): bank first, then pitch, then heading.
inline void turn_hpb(vec3& p, const vec3& h) {
  turn_z(p, h.z);
  turn_x(p, h.y);
  turn_y(p, h.x);
}

}  // namespace

double clamp_joint_angle(double theta, const Work& w) {
  unsigned bit = w.channel == 1 ? 2u : w.channel == 2 ? 4u : 1u;
  if (w.limit_flags & bit) {
    if (!(theta > w.limit_min[w.channel])) theta = w.limit_min[w.channel];
    if (!(theta < w.limit_max[w.channel])) theta = w.limit_max[w.channel];
  }
  if (w.flipped) return w.rest_rot.y > 0.0 ? pi - theta : -pi - theta;
  return theta;
}

// Each joint's link transform is L_k = [diag(scale_k) * R_k * pivot_k, offset_k], and the chain's
// transform is L_{n-1} * ... * L_0. Carrying the last end point through it from the last joint back
// to the root needs only vector products: p = ((p .* scale_k) * R_k) * pivot_k + offset_k, with
// R_k applied as the plane turns it is made of.
vec3 chain_end(const std::vector<Work>& works, double s) {
  const std::size_t n = works.size();
  vec3 p = works[n - 1].end_point;
  for (std::size_t k = n; k-- > 1;) {
    const Work& w = works[k];
    p = vec3(p.x * w.scale.x, p.y * w.scale.y, p.z * w.scale.z);
    double theta = clamp_joint_angle(s * w.bend_angle, w);
    if (w.flipped) {
      // rot_z(fk bank) * rot_x(theta) * rot_y(rest heading)
      turn_z(p, w.fk_rot.z);
      turn_x(p, theta);
      turn_y(p, w.rest_rot.x);
    } else if (w.one_channel) {
      vec3 h = w.fk_rot;
      h[w.channel] = theta;
      turn_hpb(p, h);
    } else {
      p = p * vk_3dla::rot_axis(w.bend_axis, theta);
    }
    p = p * w.pivot_mat + w.offset;
  }
  // The first joint contributes its scale and offset only.
  const Work& root = works[0];
  return vec3(p.x * root.scale.x, p.y * root.scale.y, p.z * root.scale.z) + root.offset;
}

void joint_angles(std::vector<double>* out, double s, const std::vector<Work>& works) {
  out->assign(works.size(), 0.0);
  for (std::size_t i = 0; i < works.size(); ++i) {
    (*out)[i] = clamp_joint_angle(s * works[i].bend_angle, works[i]);
  }
}
