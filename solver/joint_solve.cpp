#include "solver/joint_solve.h"
#include "pmath/pmath.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <optional>

#include "solver/bend.h"
#include "solver/chain_end.h"
#include "solver/limits.h"
#include "solver/minimise.h"
#include "solver/sample_count.h"
#include "solver/twist_limit.h"

using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::quat;
using vk_3dla::two_pi;
using vk_3dla::vec2;
using vk_3dla::vec3;

namespace {

double clamp01(double t) { return t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t); }

// t taken round a closed piece: its fraction in [0, 1).
double wrap01(double t) { return t - std::floor(t); }

// Minus the alignment of w with the boundary point at fraction t of one cone piece. A closed piece
// (the only piece of a single knot, once round the cone) wraps t; any other piece clamps it.
struct Cone_alignment : Func {
  Cone_alignment(const Limit_work* piece, const vec3& w, const m33& from_limit, bool closed)
      : piece(piece), w(w), from_limit(from_limit), closed(closed) {}
  double operator()(double t) override {
    t = closed ? wrap01(t) : clamp01(t);
    return -vk_3dla::dot(w, cone_point(piece[0], piece[1], t, from_limit));
  }
  const Limit_work* piece;
  const vec3& w;
  const m33& from_limit;
  bool closed;
};

// The boundary cost, remembering what the latest positions gave: the search ends on a position
// it has evaluated, whose joint and bend fraction are then taken as they were rather than worked
// out again (a position no longer remembered is worked out again, to the same bits).
struct Remembered_cost : Func {
  explicit Remembered_cost(const Boundary_cost& cost) : cost(cost) {}
  double operator()(double u) override {
    Evaluation& e = seen[count % capacity];
    ++count;
    e.u = u;
    e.value = cost.evaluate(u, &e.joint, &e.s);
    return e.value;
  }
  // The joint and bend fraction of the boundary position u.
  void result(double u, m33* joint, double* s) const {
    const std::size_t n = count < capacity ? count : capacity;
    for (std::size_t i = 0; i < n; ++i) {
      const Evaluation& e = seen[i];
      if (std::memcmp(&e.u, &u, sizeof u) == 0) {
        *joint = e.joint;
        *s = e.s;
        return;
      }
    }
    cost.evaluate(u, joint, s);
  }

  struct Evaluation {
    double u;
    double value;
    m33 joint;
    double s;
  };
  static constexpr std::size_t capacity = 128;
  const Boundary_cost& cost;
  std::array<Evaluation, capacity> seen;
  std::size_t count = 0;
};

// A limit boundary that has shrunk to a single direction: every position gives that direction.
class Point_dir final : public Limit_dir {
 public:
  explicit Point_dir(const vec3& p) : p_(p) {}
  void operator()(vec3* out, double*) const override { *out = p_; }

 private:
  vec3 p_;
};

// Fraction along the arc from p_a to p_b of the point nearest to w: the arc's start for an arc of
// no length, its middle when w has no component in the arc's plane.
double nearest_on_arc(const vec3& w, const vec3& p_a, const vec3& p_b) {
  double len = 0.0;
  vec3 axis = vk_3dla::normalized(vk_3dla::cross(p_a, p_b), &len);
  double arc = vk_3dla::angle_between(p_a, p_b);
  if (len == 0.0 || arc == 0.0) return 0.0;
  vec3 m = vk_3dla::normalized(p_a + p_b);
  vec3 e = vk_3dla::cross(axis, m);
  double d1 = vk_3dla::dot(w, m);
  double d2 = vk_3dla::dot(w, e);
  if (d1 == 0.0 && d2 == 0.0) return 0.5;
  double g = pmath::atan2(d2, d1);
  if (std::fabs(g) <= arc / 2.0) return (g + arc / 2.0) / arc;
  return g < 0.0 ? 0.0 : 1.0;
}

// The joint's turn about twist_axis that brings twist_ref towards the twist target. A reference
// along the axis (or a zero one) has no direction about it to turn: the joint stays, as it would
// stay for a target without one.
void turn_to_twist_target(m33* joint, const vec3& twist_axis, const vec3& twist_target,
                          const vec3& twist_ref) {
  vec3 t_joint = twist_target * vk_3dla::transposed(*joint);
  double across = 0.0;
  vec3 u = vk_3dla::normalized(vk_3dla::cross(twist_axis, twist_ref), &across);
  if (across == 0.0) return;
  double d1 = vk_3dla::dot(t_joint, twist_ref);
  double d2 = vk_3dla::dot(t_joint, u);
  if (d1 == 0.0 && d2 == 0.0) return;
  *joint = vk_3dla::rot_axis(twist_axis, pmath::atan2(d2, d1)) * *joint;
}

}  // namespace

bool cone_violated(const vec3& w, const std::vector<Limit_work>& knots, const m33& to_limit) {
  if (knots.size() < 3) return false;
  vec3 d = w * to_limit;
  double phi = pmath::atan2(d.y, d.x);
  if (phi < 0.0) phi += two_pi;
  double theta = vk_3dla::acos_clamped(d.z);
  auto it = std::lower_bound(knots.begin(), knots.end(), phi,
                             [](const Limit_work& k, double a) { return k.angle < a; });
  if (it != knots.begin()) --it;
  if (it + 1 == knots.end()) --it;  // every piece needs the knot after it
  return theta > cone_radius(it[0], it[1], phi);
}

vec3 nearest_cone_point(double* pos, const vec3& w, const std::vector<Limit_work>& knots,
                        const m33& from_limit) {
  *pos = 0.0;
  vec3 best_point = vec3(0.0, 0.0, 1.0) * from_limit;
  double best = DBL_MAX;
  const double ten_degrees = vk_3dla::deg2rad(10.0);
  // A single knot's piece ends where it starts: the search may cross that seam, which a clamped
  // piece would turn into a flat step that stops it on the wrong side.
  const bool closed = knots.size() == 3;
  for (std::size_t k = 1; k + 1 < knots.size(); ++k) {
    const Limit_work* piece = &knots[k];
    const double length = std::isfinite(piece->length) ? piece->length : 0.0;
    Cone_alignment f1(piece, w, from_limit, closed);

    // Coarse: the nearest point of each short arc between samples.
    const int n = sample_count(length, ten_degrees) + 1;
    const double step = 1.0 / n;
    double t_best = 0.0;
    double v_best = DBL_MAX;
    vec3 p_prev = cone_point(piece[0], piece[1], 0.0, from_limit);
    for (int i = 0; i < n; ++i) {
      double t_a = i * step;
      double t_b = clamp01((i + 1) * step);
      vec3 p_b = cone_point(piece[0], piece[1], t_b, from_limit);
      double f = nearest_on_arc(w, p_prev, p_b);
      double t = (1.0 - f) * t_a + f * t_b;
      double v = f1(t);
      if (v < v_best) {
        v_best = v;
        t_best = t;
      }
      p_prev = p_b;
    }

    // Fine: search in the piece's fraction, scaled to arc length. A piece of no length is a single
    // point and needs no refinement.
    double v = v_best;
    const double per_length = 1.0 / length;
    if (std::isfinite(per_length)) {
      v = find_minimum(&t_best, f1, t_best, t_best + per_length * vk_3dla::deg2rad(1.0),
                       per_length * angle_tolerance);
    }
    if (v < best) {
      best = v;
      t_best = closed ? wrap01(t_best) : clamp01(t_best);
      best_point = cone_point(piece[0], piece[1], t_best, from_limit);
      *pos = piece->start + t_best * length;
    }
  }
  return best_point;
}

vec3 nearest_plane_point(double* pos, const vec3& w, const Limit_plane* pair, bool heading_planes) {
  const Fallback_axis fallback = heading_planes ? Fallback_axis::y : Fallback_axis::x;
  vec3 c0 = plane_point(w, pair[0], fallback);
  vec3 c1 = plane_point(w, pair[1], fallback);
  double a0 = vk_3dla::angle_between(c0, w);
  double a1 = vk_3dla::angle_between(c1, w);
  if (a1 <= a0) {
    *pos = pi + vk_3dla::angle_between(c1, pair[1].axis);
    return c1;
  }
  *pos = vk_3dla::angle_between(c0, pair[0].axis);
  return c0;
}

void process2(m33* joint, std::vector<double>* angles, const std::vector<Work>& works,
              const vec3& goal, const vec3& twist_axis, bool has_twist_target,
              const vec3& twist_target, const vec3& twist_ref, double step, double tolerance,
              double s_min, double s_max, const c_2items_ik& two_items, double s0, IK_kind kind,
              const vec3& twist_plane, const vec2& twist_dir, bool cone_limit, bool heading_planes,
              const Limit_plane (*planes)[2], const std::vector<Limit_work>& knots,
              const std::vector<D_lim>& marks, double perimeter, const m33& from_limit,
              const m33& to_limit, double dist_scale, double posture_weight, const m33& base,
              Chain_ends* ends) {
  joint_angles(angles, s0, works);
  if (has_twist_target) turn_to_twist_target(joint, twist_axis, twist_target, twist_ref);
  if (works.empty()) return;
  const quat q0 = vk_3dla::quat_from_m33(*joint);  // posture reference of the boundary cost
  if (works.size() >= 2) limit_twist_by_ik_twist(joint, works[0], twist_axis);

  // Limit test on the joint's direction.
  const vec3 w = joint->row(2);
  const Limit_plane* pair = planes ? planes[heading_planes ? 0 : 1] : nullptr;
  bool violated = false;
  if (cone_limit) {
    violated = cone_violated(w, knots, to_limit);
  } else if (pair) {
    violated = heading_excess(w, works[0]) > 0.0 || pitch_excess(w, works[0]) > 0.0;
  }

  if (!violated) {
    double s = s0;
    if (clamp_twist(works[0], *joint) && works.size() >= 2 && kind == IK_free) {
      s = approach_by_bend(nullptr, works, goal, step, tolerance, s_min, s_max, s0, two_items,
                           *joint, ends);
    }
    joint_angles(angles, s, works);
    return;
  }

  // Outside: the boundary point nearest to the joint's direction.
  const m33 joint_before = *joint;
  double pos = 0.0;
  const vec3 nearest = cone_limit ? nearest_cone_point(&pos, w, knots, from_limit)
                                  : nearest_plane_point(&pos, w, pair, heading_planes);

  // A cone whose boundary has no length is one direction: walking it gives that direction.
  const bool collapsed = cone_limit && !(perimeter > 0.0 && std::isfinite(perimeter));
  const double boundary_span = std::isfinite(perimeter) && perimeter > 0.0 ? perimeter : 0.0;
  const Limit_dir1 plane_dir(marks, from_limit);
  const Limit_dir2 cone_dir(marks, from_limit);
  const Point_dir point_dir(nearest);
  const Limit_dir* dir = &plane_dir;
  if (cone_limit) dir = collapsed ? static_cast<const Limit_dir*>(&point_dir) : &cone_dir;

  // The boundary searches approach the bend from s0 again and again.
  std::optional<Chain_ends> own_ends;
  if (!ends || &ends->works() != &works) ends = &own_ends.emplace(works);

  if (has_twist_target) {
    double s = limit_with_twist_target(joint, works, goal, twist_target, twist_ref, step, tolerance,
                                       s_min, s_max, two_items, cone_limit, pair, marks,
                                       boundary_span, from_limit, *dir, s0, ends);
    joint_angles(angles, s, works);
    return;
  }

  if (kind == IK_align_dir && twist_dir.x == 0.0 && twist_dir.y == 0.0) {
    // No planar direction to align to: the base orientation turned onto the boundary.
    *joint = base * vk_3dla::rotation_between(base.row(2), nearest);
    clamp_twist(works[0], *joint);
    return;
  }

  *joint = *joint * vk_3dla::rotation_between(joint->row(2), nearest);
  Boundary_cost cost(*dir, works, goal, step, tolerance, s_min, s_max, two_items, kind, twist_plane,
                     twist_dir, s0, dist_scale, posture_weight, &q0, &joint_before);
  cost.ends = ends;
  Remembered_cost remembered(cost);
  double u_best = pos;
  if (!collapsed) {
    // Samples over a quarter of the boundary on each side of the nearest point, then a refinement.
    const double half = boundary_span / 2.0;
    const int n = std::max(1, sample_count(half, vk_3dla::deg2rad(5.0)));
    const double spacing = half / (n + 1);
    const double first = pos - half / 2.0;
    double best = DBL_MAX;
    for (int i = 1; i <= n; ++i) {
      double u = first + i * spacing;
      double c = remembered(u);
      // Samples as good to within rounding (a boundary symmetric about the nearest point): the
      // first one counts.
      if (clearly_below(c, best)) {
        best = c;
        u_best = u;
      }
    }
    find_minimum(&u_best, remembered, u_best, u_best + vk_3dla::deg2rad(1.0), angle_tolerance);
  }
  double s = s0;
  remembered.result(u_best, joint, &s);
  joint_angles(angles, s, works);
}
