#include "solver/twist_limit.h"
#include "pmath/pmath.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "solver/bend.h"
#include "solver/minimise.h"
#include "solver/sample_count.h"

using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::two_pi;
using vk_3dla::vec3;

namespace {

// Tolerance of the closer look at a candidate, as a fraction of angle_tolerance.
constexpr double fine_search_factor = 1e-3;

double clamp_turn(double x) {
  if (x < -two_pi) x = -two_pi;
  if (x > two_pi) x = two_pi;
  return x;
}

// Twist excess left after turning the joint by x about the (parent-frame) twist axis; a turn that
// overshoots to the other limit is never chosen.
struct Twist_excess_after_turn : Func {
  Twist_excess_after_turn(const Work& work, const m33& joint, const vec3& axis_parent, int sign)
      : work(work), joint(joint), axis_parent(axis_parent), sign(sign) {}
  double operator()(double x) override {
    x = clamp_turn(x);
    double b = twist_excess(joint * vk_3dla::rot_axis(axis_parent, x), work);
    int b_sign = b > 0.0 ? 1 : -1;
    if (b == 0.0 || b_sign == sign) return std::fabs(b);
    return DBL_MAX;
  }
  const Work& work;
  const m33& joint;
  const vec3& axis_parent;
  int sign;
};

// Twist error (half-turns) of the joint placed on the boundary at x.
struct Twist_error_on_boundary : Func {
  Twist_error_on_boundary(const Limit_dir& dir, const vec3& target, const vec3& ref, double rho)
      : dir(dir), target(target), ref(ref), rho(rho) {}
  double operator()(double x) override {
    m33 scratch;
    return place_on_boundary(&scratch, target, ref, rho, dir, &x);
  }
  const Limit_dir& dir;
  const vec3& target;
  const vec3& ref;
  double rho;
};

// Cone boundary direction at position *u (clamped in place).
vec3 cone_boundary_point(const std::vector<D_lim>& marks, double* u, const m33& from_limit) {
  double f;
  const D_lim* mark = find_piece(marks, u, &f);
  if (!mark || !mark->knot) return vec3(0.0, 0.0, 1.0) * from_limit;
  return cone_point(mark->knot[0], mark->knot[1], f, from_limit);
}

// Boundary positions where the joint's Z row p satisfies dot(p, target) = level, on the cone.
void cone_candidates(std::vector<double>* out, const std::vector<D_lim>& marks, double perimeter,
                     const m33& from_limit, const vec3& target, double level) {
  const int n = std::max(1, sample_count(perimeter, vk_3dla::deg2rad(5.0)));
  const double spacing = perimeter / n;
  for (int i = 0; i < n; ++i) {
    double u_a = i * spacing;
    double u_b = (i + 1) * spacing;
    vec3 p_a = cone_boundary_point(marks, &u_a, from_limit);
    vec3 p_b = cone_boundary_point(marks, &u_b, from_limit);
    vec3 axis = vk_3dla::cross(p_a, p_b);
    vec3 m = p_a + p_b;
    if (vk_3dla::abs(axis) == 0.0 || vk_3dla::abs(m) == 0.0) continue;
    axis = vk_3dla::normalized(axis);
    m = vk_3dla::normalized(m);
    vec3 e = vk_3dla::cross(axis, m);
    if (vk_3dla::abs(e) == 0.0) continue;
    e = vk_3dla::normalized(e);
    double arc = vk_3dla::angle_between(p_a, p_b);
    double f[2];
    int count = 0;
    if (arc_candidates(m, e, axis, arc, target, level, f, &count)) {
      out->push_back((u_a + u_b) / 2.0);
    } else {
      for (int k = 0; k < count; ++k) out->push_back((1.0 - f[k]) * u_a + f[k] * u_b);
    }
  }
}

// The same on a plane pair: plane 0 covers positions [0, pi], plane 1 [pi, 2 pi].
void plane_candidates(std::vector<double>* out, const Limit_plane* planes, const vec3& target,
                      double level) {
  for (int i = 0; i < 2; ++i) {
    const Limit_plane& p = planes[i];
    double f[2];
    int count = 0;
    double base = i == 0 ? 0.0 : pi;
    if (arc_candidates(p.dir, vk_3dla::cross(p.normal, p.dir), p.normal, pi, target, level, f,
                       &count)) {
      out->push_back(base + pi / 2.0);
    } else {
      for (int k = 0; k < count; ++k) out->push_back(base + pi * f[k]);
    }
  }
}

}  // namespace

double limit_twist_by_ik_twist(m33* joint, const Work& work, const vec3& twist_axis) {
  if (!(work.limit_flags & 4u)) return 0.0;
  double e = twist_excess(*joint, work);
  if (e == 0.0) return 0.0;
  int sign = e > 0.0 ? 1 : -1;
  vec3 axis_parent = twist_axis * *joint;
  Twist_excess_after_turn f(work, *joint, axis_parent, sign);
  double x;
  double r = find_minimum(&x, f, 0.0, vk_3dla::deg2rad(1.0), angle_tolerance);
  x = clamp_turn(x);
  *joint = *joint * vk_3dla::rot_axis(axis_parent, x);
  return r;
}

double place_on_boundary(m33* joint, const vec3& twist_target, const vec3& twist_ref, double rho,
                         const Limit_dir& dir, double* u) {
  vec3 d;
  dir(&d, u);
  *joint = frame_from_z(d);
  vec3 t = twist_target * vk_3dla::transposed(*joint);
  if (t.x == 0.0 && t.y == 0.0) return DBL_MAX;
  // Twist so that the target, seen in the joint's XY plane, has the reference's azimuth.
  *joint = vk_3dla::rot_z(pmath::atan2(t.y, t.x) - rho) * *joint;
  return vk_3dla::angle_between(twist_ref * *joint, twist_target) / pi;
}

bool arc_candidates(const vec3& m, const vec3& e, const vec3& axis, double arc_angle, const vec3& v,
                    double level, double fractions[2], int* count) {
  *count = 0;
  double x = vk_3dla::dot(v, m);
  double y = vk_3dla::dot(v, e);
  if (x == 0.0 && y == 0.0) return std::fabs(level) < 1e-6;
  double phi = pmath::atan2(y, x);
  double o = vk_3dla::dot(v, axis);
  // Length of v's part in the arc's plane; clamped so that rounding past 1 cannot give NaN.
  double r = vk_3dla::sqrt_clamped(1.0 - o * o);
  const double half = arc_angle / 2.0;
  if (r <= level) {
    // Out of reach: the nearest point of the circle, when on the arc.
    if (std::fabs(phi) <= half) fractions[(*count)++] = phi / arc_angle + 0.5;
    return false;
  }
  double q = level / r;
  if (q > 1.0 || q < -1.0) return false;
  double kappa = pmath::acos(q);
  double t1 = phi + kappa;
  if (t1 > pi) t1 -= two_pi;
  double t2 = phi - kappa;
  if (t2 < -pi) t2 += two_pi;
  if (std::fabs(t1) <= half) fractions[(*count)++] = t1 / arc_angle + 0.5;
  if (std::fabs(t2) <= half) fractions[(*count)++] = t2 / arc_angle + 0.5;
  return false;
}

double limit_with_twist_target(m33* joint, const std::vector<Work>& chain, const vec3& goal,
                               const vec3& twist_target, const vec3& twist_ref, double step,
                               double tolerance, double s_min, double s_max,
                               const c_2items_ik& two_items, bool cone_limit,
                               const Limit_plane* planes, const std::vector<D_lim>& marks,
                               double perimeter, const m33& from_limit, const Limit_dir& dir,
                               double s0, Chain_ends* ends) {
  // A twist about Z keeps the target's z in the joint frame, so an exact twist needs the joint's
  // Z row p with dot(p, target) = ref.z.
  const double rho = pmath::atan2(twist_ref.y, twist_ref.x);
  const double level = twist_ref.z;

  std::vector<double> own_candidates;
  std::vector<double>& candidates = ends != nullptr ? ends->candidates() : own_candidates;
  candidates.clear();
  if (cone_limit) {
    cone_candidates(&candidates, marks, perimeter, from_limit, twist_target, level);
  } else {
    plane_candidates(&candidates, planes, twist_target, level);
  }

  Twist_error_on_boundary f(dir, twist_target, twist_ref, rho);
  const double one_degree = vk_3dla::deg2rad(1.0);

  // Exact candidates: of those that meet the target, the one whose bend leaves the end nearest.
  double best = DBL_MAX;
  bool found = false;
  for (double& u : candidates) {
    double value = find_minimum(&u, f, u, u + one_degree, angle_tolerance);
    if (!(value < 0.0001)) {
      // Where a pure twist meets the target the error has a steep V-shaped minimum of 0, and a
      // search stopped within its tolerance of the kink can still read above the threshold:
      // look closer before turning the candidate down.
      double u_fine = u;
      const double fine =
          find_minimum(&u_fine, f, u, u + angle_tolerance, angle_tolerance * fine_search_factor);
      if (fine < 0.0001) {
        value = fine;
        u = u_fine;
      }
    }
    if (value < 0.0001) {
      m33 m_u;
      place_on_boundary(&m_u, twist_target, twist_ref, rho, dir, &u);
      double e_u = DBL_MAX;
      approach_by_bend(&e_u, chain, goal, step, tolerance, s_min, s_max, s0, two_items, m_u, ends);
      // Of candidates as good to within rounding (a symmetric boundary), the first one counts.
      if (clearly_below(e_u, best)) {
        best = e_u;
        *joint = m_u;
        found = true;
      }
    }
  }

  if (found) {
    clamp_twist(chain[0], *joint);
  } else {
    // Fallback: the boundary position with the least twist error.
    const int n = std::max(1, sample_count(perimeter, vk_3dla::deg2rad(5.0)));
    for (int i = 0; i < n; ++i) candidates.push_back(i * perimeter / n);
    double u_best = 0.0;
    double v_best = DBL_MAX;
    for (double u : candidates) {
      m33 scratch;
      double v = place_on_boundary(&scratch, twist_target, twist_ref, rho, dir, &u);
      if (v < v_best) {
        v_best = v;
        u_best = u;
      }
    }
    double u = u_best;
    find_minimum(&u, f, u, u + one_degree, angle_tolerance);
    place_on_boundary(joint, twist_target, twist_ref, rho, dir, &u);
    if (chain[0].limit_flags & 4u) {
      double e = twist_excess(*joint, chain[0]);
      if (e != 0.0) *joint = vk_3dla::rot_z(-e) * *joint;
    }
  }

  double scratch_error;
  return approach_by_bend(&scratch_error, chain, goal, step, tolerance, s_min, s_max, s0, two_items,
                          *joint, ends);
}
