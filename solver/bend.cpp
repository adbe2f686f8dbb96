#include "solver/bend.h"
#include "pmath/pmath.h"

#include <cmath>

#include "solver/chain_end.h"

using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::quat;
using vk_3dla::vec2;
using vk_3dla::vec3;

namespace {

// `ends` when it serves this chain, else null.
inline Chain_ends* ends_for(const std::vector<Work>& chain, Chain_ends* ends) {
  return ends && &ends->works() == &chain ? ends : nullptr;
}

// chain_end of the chain, through `ends` when that serves this chain.
inline vec3 end_of(const std::vector<Work>& chain, double s, Chain_ends* ends) {
  ends = ends_for(chain, ends);
  return ends ? (*ends)(s) : chain_end(chain, s);
}

// Distance from the chain's end at bend fraction x (clamped to the range) to the target point.
struct Bend_distance : Func {
  Bend_distance(const std::vector<Work>* chain, const vec3* target, double s_min, double s_max,
                Chain_ends* ends)
      : chain(chain), target(target), s_min(s_min), s_max(s_max), ends(ends_for(*chain, ends)) {}
  double operator()(double x) override {
    if (x < s_min) x = s_min;
    if (x > s_max) x = s_max;
    return vk_3dla::abs(*target - (ends ? (*ends)(x) : chain_end(*chain, x)));
  }
  const std::vector<Work>* chain;
  const vec3* target;
  double s_min;
  double s_max;
  Chain_ends* ends;  // serves *chain, or null
};

double clamp_fraction(double s, double s_min, double s_max) {
  if (s < s_min) s = s_min;
  if (s > s_max) s = s_max;
  return s;
}

// End distance over the distance scale plus the posture change from q0, a half-turn weighing
// posture_weight.
double placement_cost(double error, const m33& joint, double dist_scale, double posture_weight,
                      const quat& q0) {
  return error / dist_scale + posture_weight *
                                  vk_3dla::half_angle(vk_3dla::quat_from_m33(joint), q0) /
                                  vk_3dla::deg2rad(90.0);
}

}  // namespace

double approach_by_bend(double* error, const std::vector<Work>& chain, const vec3& goal,
                        double step, double tolerance, double s_min, double s_max, double s0,
                        const c_2items_ik& two_items, const m33& joint, Chain_ends* ends) {
  const vec3 g_joint = goal * vk_3dla::transposed(joint);
  if (two_items.valid) {
    // The second link's in-plane angle from its direction at s_mid gives the fraction directly.
    double s = s0;
    vec3 r = g_joint - two_items.link0;
    double a = vk_3dla::dot(r, two_items.mid_in_plane);
    double b = vk_3dla::dot(r, two_items.mid_normal);
    if (a != 0.0 || b != 0.0) {
      s = pmath::atan2(b, a) / std::fabs(chain[1].bend_angle) + two_items.s_mid;
      s = clamp_fraction(s, s_min, s_max);
    }
    if (error) *error = vk_3dla::abs(g_joint - end_of(chain, s, ends));
    return s;
  }
  Bend_distance f(&chain, &g_joint, s_min, s_max, ends);
  double x_up;
  double d_up = step_search(&x_up, f, step, s0, tolerance);
  x_up = clamp_fraction(x_up, s_min, s_max);
  double x_down;
  double d_down = step_search(&x_down, f, -step, s0, tolerance);
  x_down = clamp_fraction(x_down, s_min, s_max);
  if (error) *error = d_down < d_up ? d_down : d_up;
  return d_up < d_down ? x_up : x_down;
}

double pick_twist(m33* joint, double* error, const std::vector<Work>& chain, const Work& first,
                  const vec3& goal, double step, double tolerance, double s_min, double s_max,
                  double s0, const c_2items_ik& two_items, double dist_scale, double posture_weight,
                  const quat& q0, const m33& a, const m33& b, Chain_ends* ends) {
  // One candidate: its twist held inside the bank limit, then the bend that serves it best.
  struct Placement {
    m33 joint;
    double error = 0.0;
    double s = 0.0;
    double cost = 0.0;
  };
  auto place = [&](const m33& candidate) {
    Placement p{candidate};
    clamp_twist(first, p.joint);
    p.s = approach_by_bend(&p.error, chain, goal, step, tolerance, s_min, s_max, s0, two_items,
                           p.joint, ends);
    p.cost = placement_cost(p.error, p.joint, dist_scale, posture_weight, q0);
    return p;
  };
  const Placement pa = place(a);
  const Placement pb = place(b);

  // Costs within rounding of each other tie. Where the twist cannot move the chain's end (an end on
  // the joint's axis, no posture weight) they differ only by noise, which must not pick the side.
  const Placement& chosen = clearly_below(pa.cost, pb.cost) ? pa : pb;
  *joint = chosen.joint;
  *error = chosen.error;
  return chosen.s;
}

double solve_twist(m33* joint, bool* solved, double* error, const std::vector<Work>& chain,
                   const vec3& goal, double step, double tolerance, double s_min, double s_max,
                   const c_2items_ik& two_items, IK_kind kind, const vec3& twist_plane,
                   const vec2& twist_dir, double s0, double dist_scale, double posture_weight,
                   const quat& q0, Chain_ends* ends) {
  *solved = false;
  if (kind == IK_free) return s0;
  const vec3 g_joint = goal * vk_3dla::transposed(*joint);
  if (g_joint.x == 0.0 && g_joint.y == 0.0) return s0;  // goal on the joint's Z axis

  if (kind == IK_align_dir) {
    if (twist_dir.x == 0.0 && twist_dir.y == 0.0) return s0;
    // Turn the goal's XY direction onto twist_dir; the bend is kept.
    vec2 p = vk_3dla::perpendicular(twist_dir);
    vec2 h(g_joint.x, g_joint.y);
    double psi = pmath::atan2(vk_3dla::dot(p, h), vk_3dla::dot(twist_dir, h));
    *joint = vk_3dla::rot_z(psi) * *joint;
    vec3 g_new = goal * vk_3dla::transposed(*joint);
    *error = vk_3dla::abs(g_new - end_of(chain, s0, ends));
    *solved = true;
    return s0;
  }

  if (twist_plane.z == 0.0) {
    // Bending plane through the joint's Z axis: turn the goal onto the reference axis, either
    // sense.
    double alpha = pmath::atan2(g_joint.y, g_joint.x);
    double beta = kind == IK_align_y ? pmath::atan2(1.0, 0.0) : pmath::atan2(0.0, 1.0);
    double delta = alpha - beta;
    m33 a = vk_3dla::rot_z(delta) * *joint;
    m33 b = vk_3dla::rot_z(pi + delta) * *joint;
    double s = pick_twist(joint, error, chain, chain[0], goal, step, tolerance, s_min, s_max, s0,
                          two_items, dist_scale, posture_weight, q0, a, b, ends);
    *solved = true;
    return s;
  }

  // Bending plane off the Z axis: its trace a x + b y + c = 0 (normalised to c <= 0); turning the
  // joint by phi turns the goal's projection by -phi.
  vec3 l = twist_plane.z > 0.0 ? -twist_plane : twist_plane;
  double a0 = l.x * g_joint.x + l.y * g_joint.y;
  double b0 = l.x * g_joint.y - l.y * g_joint.x;
  double len = std::sqrt(a0 * a0 + b0 * b0);
  double s;
  if (std::fabs(l.z) <= len) {
    double psi = pmath::atan2(b0, a0);
    double kappa = vk_3dla::acos_clamped(-l.z / len);
    m33 a = vk_3dla::rot_z(psi + kappa) * *joint;
    m33 b = vk_3dla::rot_z(psi - kappa) * *joint;
    s = pick_twist(joint, error, chain, chain[0], goal, step, tolerance, s_min, s_max, s0,
                   two_items, dist_scale, posture_weight, q0, a, b, ends);
  } else {
    // The line lies beyond the goal: turn the goal as close to it as possible.
    *joint = vk_3dla::rot_z(pmath::atan2(b0, a0)) * *joint;
    clamp_twist(chain[0], *joint);
    s = approach_by_bend(error, chain, goal, step, tolerance, s_min, s_max, s0, two_items, *joint,
                         ends);
  }
  *solved = true;
  return s;
}

double Boundary_cost::evaluate(double u, m33* joint_out, double* s_out) const {
  vec3 d;
  dir(&d, &u);
  m33 joint = frame_from_z(d);
  bool solved = false;
  double e = 0.0;
  double s = solve_twist(&joint, &solved, &e, chain, goal, step, tolerance, s_min, s_max, two_items,
                         kind, twist_plane, twist_dir, s0, dist_scale, posture_weight, *q0, ends);
  if (!solved) {
    // No twist solve: the minimal turn of the previous rotation onto the boundary.
    joint = *joint_before * vk_3dla::rotation_between(joint_before->row(2), d);
    clamp_twist(chain[0], joint);
    s = approach_by_bend(&e, chain, goal, step, tolerance, s_min, s_max, s0, two_items, joint,
                         ends);
  }
  double cost = placement_cost(e, joint, dist_scale, posture_weight, *q0);
  if (joint_out) *joint_out = joint;
  if (s_out) *s_out = s;
  return cost;
}
