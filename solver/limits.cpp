#include "solver/limits.h"
#include "pmath/pmath.h"

#include <algorithm>
#include <cmath>

using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::vec3;

double heading_excess(const vec3& w, const Work& work) {
  if (!(work.limit_flags & 1u)) return 0.0;
  if (w.x == 0.0 && w.z == 0.0) return 0.0;
  double a = pmath::atan2(w.x, w.z);
  return std::max(work.limit_min.x - a, a - work.limit_max.x);
}

double pitch_excess(const vec3& w, const Work& work) {
  if (!(work.limit_flags & 2u)) return 0.0;
  if (w.y == 0.0 && w.z == 0.0) return 0.0;
  double a = pmath::atan2(-w.y, w.z);
  return std::max(work.limit_min.y - a, a - work.limit_max.y);
}

double twist_excess(const m33& m, const Work& work) {
  // Twist measured after the minimal turn that brings the joint's Z row onto +Z.
  m33 r = vk_3dla::rotation_between(m.row(2), vec3(0.0, 0.0, 1.0));
  vec3 x = m.row(0) * r;
  if (x.x == 0.0 && x.y == 0.0) return 0.0;
  double a = pmath::atan2(x.y, x.x);
  if (a < work.limit_min.z) return a - work.limit_min.z;
  if (a > work.limit_max.z) return a - work.limit_max.z;
  return 0.0;
}

bool clamp_twist(const Work& work, m33& m) {
  if (!(work.limit_flags & 4u)) return false;
  double e = twist_excess(m, work);
  if (e == 0.0) return false;
  m = vk_3dla::rot_z(-e) * m;
  return true;
}

double cone_radius(const Limit_work& k0, const Limit_work& k1, double a) {
  double h = k1.angle - k0.angle;
  double x = a - k0.angle;
  double r = k0.radius + x * ((k1.radius - k0.radius) / h - h * (2.0 * k0.curve + k1.curve) +
                              x * (3.0 * k0.curve + x * (k1.curve - k0.curve) / h));
  // The periodic cubic can swing below 0 or past the knots' own bound across a long gap between
  // few knots; clamping here keeps the limit test and the boundary walk describing one set.
  return std::clamp(r, 0.0, vk_3dla::deg2rad(179.9));
}

vec3 cone_point(const Limit_work& k0, const Limit_work& k1, double t, const m33& from_limit) {
  double a = (1.0 - t) * k0.angle + t * k1.angle;
  double r = cone_radius(k0, k1, a);
  double sr = pmath::sin(r);
  vec3 d(sr * pmath::cos(a), sr * pmath::sin(a), pmath::cos(r));
  return d * from_limit;
}

const D_lim* find_piece(const std::vector<D_lim>& marks, double* u, double* f) {
  *f = 0.0;
  if (marks.empty()) return nullptr;
  // Clamp to the marks' range; a NaN position goes to the first mark.
  if (!(*u >= marks.front().pos)) *u = marks.front().pos;
  if (*u > marks.back().pos) *u = marks.back().pos;
  auto it = std::lower_bound(marks.begin(), marks.end(), *u,
                             [](const D_lim& m, double v) { return m.pos < v; });
  if (it != marks.begin()) --it;
  auto next = it + 1;
  // A piece of zero length (or a single mark) gives its start rather than 0/0.
  if (next != marks.end() && next->pos != it->pos) *f = (*u - it->pos) / (next->pos - it->pos);
  return &*it;
}

vec3 plane_point(const vec3& w, const Limit_plane& plane, Fallback_axis fallback) {
  if (vk_3dla::dot(w, plane.dir) < 0.0) {
    if (fallback == Fallback_axis::y) return vec3(0.0, w.y < 0.0 ? -1.0 : 1.0, 0.0);
    return vec3(w.x < 0.0 ? -1.0 : 1.0, 0.0, 0.0);
  }
  vec3 p = w - plane.normal * vk_3dla::dot(plane.normal, w);
  double len = vk_3dla::abs(p);
  if (len == 0.0) return plane.dir;
  return vk_3dla::normalized(p);
}

m33 frame_from_z(const vec3& d) {
  vec3 x = vk_3dla::normalized(vk_3dla::perpendicular(d));
  return m33(x, vk_3dla::cross(d, x), d);
}

void Limit_dir1::operator()(vec3* out, double* u) const {
  double f;
  const D_lim* mark = find_piece(marks_, u, &f);
  if (!mark || !mark->plane) {  // no boundary: the rest direction
    *out = vec3(0.0, 0.0, 1.0);
    return;
  }
  const Limit_plane& p = *mark->plane;
  // The plane's half-circle from axis (f = 0) to -axis (f = 1), turning about the normal.
  *out = p.axis * vk_3dla::rot_axis(p.normal, pi * f);
}

void Limit_dir2::operator()(vec3* out, double* u) const {
  double f;
  const D_lim* mark = find_piece(marks_, u, &f);
  if (!mark || !mark->knot) {  // no boundary: the limit frame's axis
    *out = vec3(0.0, 0.0, 1.0) * from_limit_;
    return;
  }
  *out = cone_point(mark->knot[0], mark->knot[1], f, from_limit_);
}
