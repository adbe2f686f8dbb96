#include "solver/root_limit.h"
#include "pmath/pmath.h"

#include <algorithm>
#include <cmath>

#include "solver/limits.h"
#include "solver/sample_count.h"

using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::two_pi;
using vk_3dla::vec3;

double max_cone_radius() { return vk_3dla::deg2rad(179.9); }

namespace {

bool finite(const vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Polar angle of (x, y) in [0, 2 pi). An angle within knot_merge_tolerance below 2 pi becomes 0:
// a direction a rounding step either side of the frame's X axis then starts the cycle of knots
// both times, rather than ending it once, which would shift every boundary position.
double azimuth(double y, double x) {
  double a = pmath::atan2(y, x);
  if (a < 0.0) a += two_pi;
  if (a >= two_pi - knot_merge_tolerance) a = 0.0;
  return a;
}

// The knots of the cone, kept sorted by angle. Inserting an angle that an earlier knot already
// holds (to within knot_merge_tolerance around the circle) leaves the earlier knot.
void insert_knot(std::vector<Limit_work>* knots, double angle, double radius) {
  for (const Limit_work& k : *knots) {
    double gap = std::fabs(k.angle - angle);
    if (std::min(gap, two_pi - gap) < knot_merge_tolerance) return;
  }
  Limit_work k{};
  k.angle = angle;
  k.radius = radius;
  auto at = std::lower_bound(knots->begin(), knots->end(), angle,
                             [](const Limit_work& w, double a) { return w.angle < a; });
  knots->insert(at, k);
}

// Inserts the knot of a limit-frame direction d. Directions without a usable azimuth are skipped:
// zero or non-finite ones, and those within limit_item_axis_tolerance of +Z or -Z. The first
// direction skipped on the axis leaves its half-angle (0 or pi) in *on_axis, if that is negative.
void insert_direction(std::vector<Limit_work>* knots, const vec3& d, double* on_axis) {
  if (!finite(d) || vk_3dla::abs(d) == 0.0) return;
  double half_angle = vk_3dla::angle_between(d, vec3(0.0, 0.0, 1.0));
  if (half_angle < limit_item_axis_tolerance || half_angle > pi - limit_item_axis_tolerance) {
    if (*on_axis < 0.0) *on_axis = half_angle < pi / 2.0 ? 0.0 : pi;
    return;
  }
  insert_knot(knots, azimuth(d.y, d.x), half_angle);
}

Limit_plane make_plane(const vec3& dir, const vec3& axis) {
  Limit_plane p;
  p.dir = dir;
  p.axis = axis;
  p.normal = vk_3dla::cross(axis, dir);
  return p;
}

// Heading planes turn about +-Y, pitch planes about -+X; the lower limit's axis is the positive
// one, so that the two half-circles join into one closed boundary.
void build_planes(Root_limit* limit, const Work& root) {
  if (limit->heading_limited) {
    double lo = root.limit_min.x, hi = root.limit_max.x;
    limit->planes[0][0] =
        make_plane(vec3(pmath::sin(lo), 0.0, pmath::cos(lo)), vec3(0.0, 1.0, 0.0));
    limit->planes[0][1] =
        make_plane(vec3(pmath::sin(hi), 0.0, pmath::cos(hi)), vec3(0.0, -1.0, 0.0));
  }
  if (limit->pitch_limited) {
    double lo = root.limit_min.y, hi = root.limit_max.y;
    limit->planes[1][0] =
        make_plane(vec3(0.0, -pmath::sin(lo), pmath::cos(lo)), vec3(-1.0, 0.0, 0.0));
    limit->planes[1][1] =
        make_plane(vec3(0.0, -pmath::sin(hi), pmath::cos(hi)), vec3(1.0, 0.0, 0.0));
  }
}

void set_frame(Root_limit* limit, const vec3& z_root) {
  limit->from_limit = frame_from_z(z_root);
  limit->to_limit = vk_3dla::transposed(limit->from_limit);
}

// Knots of a box of heading and pitch limits that does not hold the rest direction: the limit
// frame is centred between the planes and each plane contributes its point nearest the centre.
void off_centre_knots(Root_limit* limit, const Work& root, std::vector<Limit_work>* real,
                      double* on_axis) {
  double m_h = (root.limit_min.x + root.limit_max.x) / 2.0;
  double m_p = (root.limit_min.y + root.limit_max.y) / 2.0;
  vec3 n_h = vk_3dla::cross(vec3(0.0, 1.0, 0.0), vec3(pmath::sin(m_h), 0.0, pmath::cos(m_h)));
  vec3 b(0.0, -pmath::sin(m_p), pmath::cos(m_p));
  vec3 n_p = vk_3dla::cross(vec3(-1.0, 0.0, 0.0), b);
  double len = 0.0;
  vec3 w_c = vk_3dla::normalized(vk_3dla::cross(n_h, n_p), &len);
  if (len == 0.0) w_c = b;  // both middles at a pole: the middle pitch direction
  if (vk_3dla::dot(w_c, b) < 0.0) w_c = -w_c;
  set_frame(limit, w_c);
  const Limit_plane* order[4] = {&limit->planes[0][0], &limit->planes[0][1], &limit->planes[1][0],
                                 &limit->planes[1][1]};
  for (const Limit_plane* p : order) {
    vec3 near = vk_3dla::normalized(w_c - p->normal * vk_3dla::dot(w_c, p->normal));
    insert_direction(real, near * limit->to_limit, on_axis);
  }
}

// Solves the periodic tridiagonal system sub[i] x[i-1] + diag[i] x[i] + super[i] x[i+1] = rhs[i]
// (indices modulo m) by eliminating the band with an extra column for the wrap-around coupling.
// The spline's system is strictly diagonally dominant, so no pivoting is needed.
void solve_cyclic(const std::vector<double>& sub, const std::vector<double>& diag,
                  const std::vector<double>& super, const std::vector<double>& rhs,
                  std::vector<double>* x, Root_limit_scratch* scratch) {
  const std::size_t m = diag.size();
  x->assign(m, 0.0);
  if (m == 1) {
    (*x)[0] = rhs[0] / (sub[0] + diag[0] + super[0]);
    return;
  }
  if (m == 2) {
    double a = diag[0], b = sub[0] + super[0], c = sub[1] + super[1], d = diag[1];
    double det = a * d - b * c;
    (*x)[0] = (rhs[0] * d - b * rhs[1]) / det;
    (*x)[1] = (a * rhs[1] - c * rhs[0]) / det;
    return;
  }
  // Row i keeps d[i] on x[i], u[i] on x[i+1] and l[i] on x[m-1]; the last row is reduced alongside.
  std::vector<double>& d = scratch->d;
  std::vector<double>& u = scratch->u;
  std::vector<double>& l = scratch->l;
  std::vector<double>& r = scratch->r;
  d.assign(m, 0.0);
  u.assign(m, 0.0);
  l.assign(m, 0.0);
  r.assign(m, 0.0);
  d[0] = diag[0];
  u[0] = super[0];
  l[0] = sub[0];
  r[0] = rhs[0];
  double last_lead = super[m - 1];  // last row's coefficient on the variable being eliminated
  double last_diag = diag[m - 1];
  double last_rhs = rhs[m - 1];
  for (std::size_t i = 0; i + 2 < m; ++i) {
    double f = sub[i + 1] / d[i];
    d[i + 1] = diag[i + 1] - f * u[i];
    u[i + 1] = super[i + 1];
    l[i + 1] = -f * l[i];
    r[i + 1] = rhs[i + 1] - f * r[i];
    double g = last_lead / d[i];
    last_lead = -g * u[i];
    last_diag -= g * l[i];
    last_rhs -= g * r[i];
  }
  // Two unknowns remain: x[m-2] and x[m-1].
  const std::size_t k = m - 2;
  double s = u[k] + l[k];
  double p = last_lead + sub[m - 1];
  double xm = (last_rhs - p * r[k] / d[k]) / (last_diag - p * s / d[k]);
  (*x)[m - 1] = xm;
  (*x)[k] = (r[k] - s * xm) / d[k];
  for (std::size_t i = k; i-- > 0;) (*x)[i] = (r[i] - u[i] * (*x)[i + 1] - l[i] * xm) / d[i];
}

// Curvature terms (one sixth of the second derivative) that make the periodic spline through the
// real knots 1 .. m continuous in slope and curvature, the copies closing the cycle.
void solve_curvatures(std::vector<Limit_work>* knots, Root_limit_scratch* scratch) {
  const std::size_t m = knots->size() - 2;
  std::vector<double>& h = scratch->h;
  std::vector<double>& slope = scratch->slope;
  h.assign(m, 0.0);
  slope.assign(m, 0.0);
  for (std::size_t i = 0; i < m; ++i) {
    const Limit_work& k0 = (*knots)[i + 1];
    const Limit_work& k1 = (*knots)[i + 2];
    h[i] = k1.angle - k0.angle;
    slope[i] = (k1.radius - k0.radius) / h[i];
  }
  std::vector<double>& sub = scratch->sub;
  std::vector<double>& diag = scratch->diag;
  std::vector<double>& super = scratch->super;
  std::vector<double>& rhs = scratch->rhs;
  std::vector<double>& sigma = scratch->sigma;
  sub.assign(m, 0.0);
  diag.assign(m, 0.0);
  super.assign(m, 0.0);
  rhs.assign(m, 0.0);
  for (std::size_t i = 0; i < m; ++i) {
    std::size_t prev = (i + m - 1) % m;
    sub[i] = h[prev];
    diag[i] = 2.0 * (h[prev] + h[i]);
    super[i] = h[i];
    rhs[i] = slope[i] - slope[prev];
  }
  solve_cyclic(sub, diag, super, rhs, &sigma, scratch);
  for (std::size_t i = 0; i < m; ++i) (*knots)[i + 1].curve = sigma[i];
}

// The closing copies: the last real knot one turn back in front, the first one turn on at the end.
void refresh_copies(std::vector<Limit_work>* knots) {
  const std::size_t m = knots->size() - 2;
  (*knots)[0] = (*knots)[m];
  (*knots)[0].angle -= two_pi;
  (*knots)[m + 1] = (*knots)[1];
  (*knots)[m + 1].angle += two_pi;
}

void spline_marks(Root_limit* limit) {
  const std::size_t m = limit->knots.size() - 2;
  std::vector<Limit_work>& knots = limit->knots;
  double r = 0.0;
  for (std::size_t j = 0; j <= 2 * m; ++j) {
    Limit_work* k = &knots[1 + j % m];
    D_lim mark;
    mark.pos = r;
    mark.knot = k;
    limit->marks.push_back(mark);
    r += k->length;
  }
  r = 0.0;
  for (std::size_t j = m; j-- > 0;) {
    Limit_work* k = &knots[1 + j];
    r -= k->length;
    D_lim mark;
    mark.pos = r;
    mark.knot = k;
    limit->marks.push_back(mark);
  }
}

// One channel's plane pair: each pi of boundary position walks one plane's half-circle, lower and
// upper alternating, over -2 pi .. 4 pi.
void plane_marks(Root_limit* limit, int row) {
  auto add = [&](double pos, int col) {
    D_lim mark;
    mark.pos = pos;
    mark.plane = &limit->planes[row][col];
    limit->marks.push_back(mark);
  };
  for (int i = 0; i <= 4; ++i) add(i * pi, i % 2);
  add(-pi, 1);
  add(-two_pi, 0);
}

// The marks in order of position, equal positions in the order added (a stable insertion sort:
// a few dozen marks at most, and no buffer to allocate).
void sort_marks(std::vector<D_lim>* marks) {
  for (std::size_t i = 1; i < marks->size(); ++i) {
    const D_lim mark = (*marks)[i];
    std::size_t j = i;
    for (; j > 0 && mark.pos < (*marks)[j - 1].pos; --j) (*marks)[j] = (*marks)[j - 1];
    (*marks)[j] = mark;
  }
}

}  // namespace

double make_cone_knots(std::vector<Limit_work>* knots, const std::vector<Limit_work>& real,
                       const m33& from_limit, Root_limit_scratch* scratch) {
  Root_limit_scratch local;
  if (scratch == nullptr) scratch = &local;
  knots->clear();
  if (real.empty()) return 0.0;
  const std::size_t m = real.size();
  knots->reserve(m + 2);
  knots->push_back(Limit_work{});
  for (const Limit_work& k : real) {
    Limit_work w{};
    w.angle = k.angle;
    w.radius = std::min(std::max(k.radius, 0.0), max_cone_radius());
    knots->push_back(w);
  }
  knots->push_back(Limit_work{});
  refresh_copies(knots);
  solve_curvatures(knots, scratch);
  refresh_copies(knots);

  // Arc lengths on the unit sphere, sampled at most 5 degrees of polar angle apart.
  double perimeter = 0.0;
  for (std::size_t i = 1; i <= m; ++i) {
    Limit_work& k0 = (*knots)[i];
    const Limit_work& k1 = (*knots)[i + 1];
    int n = 1 + sample_count(k1.angle - k0.angle, vk_3dla::deg2rad(5.0));
    vec3 p_prev = cone_point(k0, k1, 0.0, from_limit);
    k0.length = 0.0;
    for (int j = 1; j <= n; ++j) {
      vec3 p = cone_point(k0, k1, static_cast<double>(j) / n, from_limit);
      k0.length += vk_3dla::angle_between(p_prev, p);
      p_prev = p;
    }
    k0.start = perimeter;
    perimeter += k0.length;
  }
  refresh_copies(knots);
  return perimeter;
}

void build_root_limit(Root_limit* limit, const Work& root, const m33& inv_w0,
                      const std::vector<vec3>& limit_z_world, const vec3* origin_z_world,
                      Root_limit_scratch* scratch) {
  Root_limit_scratch local;
  if (scratch == nullptr) scratch = &local;
  *limit = Root_limit();  // copies nothing in: the vectors keep their storage
  limit->heading_limited = (root.limit_flags & 1u) != 0;
  limit->pitch_limited = (root.limit_flags & 2u) != 0;
  build_planes(limit, root);

  // The limit origin's Z axis, carried into the root frame like the limit items and made unit
  // length so that the frame stays orthonormal under scaling.
  if (origin_z_world) {
    double len = 0.0;
    vec3 z_root = vk_3dla::normalized(*origin_z_world * inv_w0, &len);
    if (len != 0.0 && finite(z_root)) set_frame(limit, z_root);
  }

  limit->cone_limit = (limit->heading_limited && limit->pitch_limited) || !limit_z_world.empty();
  if (!limit->cone_limit) {
    if (limit->heading_limited != limit->pitch_limited) {
      plane_marks(limit, limit->heading_limited ? 0 : 1);
      sort_marks(&limit->marks);
      limit->period = two_pi;
    }
    return;
  }

  std::vector<Limit_work>& real = scratch->real;
  real.clear();
  double on_axis = -1.0;  // half-angle of the first direction skipped on the frame's axis
  if (!limit_z_world.empty()) {
    const m33 world_to_limit = inv_w0 * limit->to_limit;
    for (const vec3& z_world : limit_z_world)
      insert_direction(&real, z_world * world_to_limit, &on_axis);
  } else if (root.limit_min.x < 0.0 && 0.0 < root.limit_max.x && root.limit_min.y < 0.0 &&
             0.0 < root.limit_max.y) {
    // The box of limits holds the rest direction: a knot on each half-axis of the limit frame.
    insert_knot(&real, 0.0, std::fabs(root.limit_max.x));
    insert_knot(&real, pi / 2.0, std::fabs(root.limit_min.y));
    insert_knot(&real, pi, std::fabs(root.limit_min.x));
    insert_knot(&real, 3.0 * pi / 2.0, std::fabs(root.limit_max.y));
  } else {
    off_centre_knots(limit, root, &real, &on_axis);
  }
  // Nothing usable: a round cone whose half-angle the first direction on the axis gives: shrunk to
  // the axis for one on +Z (or for none), the widest cone for one on -Z.
  if (real.empty()) insert_knot(&real, 0.0, on_axis < 0.0 ? 0.0 : on_axis);

  limit->period = make_cone_knots(&limit->knots, real, limit->from_limit, scratch);
  spline_marks(limit);
  sort_marks(&limit->marks);
}

Root_limit::Root_limit(const Root_limit& other) { *this = other; }

Root_limit& Root_limit::operator=(const Root_limit& other) {
  if (this == &other) return *this;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) planes[r][c] = other.planes[r][c];
  heading_limited = other.heading_limited;
  pitch_limited = other.pitch_limited;
  cone_limit = other.cone_limit;
  knots = other.knots;
  marks = other.marks;
  period = other.period;
  from_limit = other.from_limit;
  to_limit = other.to_limit;
  // Re-point the copied marks at this record's own knots and planes.
  for (D_lim& mark : marks) {
    if (mark.knot) mark.knot = knots.data() + (mark.knot - other.knots.data());
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 2; ++c)
        if (mark.plane == &other.planes[r][c]) mark.plane = &planes[r][c];
  }
  return *this;
}
