#include "tests/sweep/rig_checks.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "stage/error.h"

namespace sweep {

using stage::Mat3;
using stage::pi;

namespace {

// --- Small vector helpers in the host's row-vector convention ---------------------------------

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }
Vec3 normalized(const Vec3& a) {
  const double n = norm(a);
  return n > 0 ? Vec3{a[0] / n, a[1] / n, a[2] / n} : a;
}
Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 scaled(const Vec3& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double angle_between(const Vec3& a, const Vec3& b) {
  return std::atan2(norm(cross(a, b)), dot(a, b));
}

Vec3 row(const Mat3& m, int i) { return {m.m[i][0], m.m[i][1], m.m[i][2]}; }
Mat3 upper3(const stage::Mat4& m) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = m.m[i][j];
  return r;
}
Vec3 times(const Vec3& v, const Mat3& m) {  // v * M
  Vec3 r{};
  for (int j = 0; j < 3; ++j) r[j] = v[0] * m.m[0][j] + v[1] * m.m[1][j] + v[2] * m.m[2][j];
  return r;
}
// The inverse, or the matrix itself when it is singular (as the module does).
Mat3 inverse(const Mat3& a) {
  const auto& m = a.m;
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (det == 0) return a;
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      r.m[i][j] = (m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1]) / det;
    }
  return r;
}
// Rows: the limit frame's X, Y, Z; any X perpendicular to z describes the same cone.
Mat3 frame_from_z(const Vec3& z_in) {
  const Vec3 z = normalized(z_in);
  const Vec3 helper = std::fabs(z[0]) < 0.6 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  const Vec3 x = normalized(sub(helper, scaled(z, dot(helper, z))));
  const Vec3 y = cross(z, x);
  return Mat3{{{x[0], x[1], x[2]}, {y[0], y[1], y[2]}, {z[0], z[1], z[2]}}};
}
Vec3 into_frame(const Vec3& d, const Mat3& f) {
  return {dot(d, row(f, 0)), dot(d, row(f, 1)), dot(d, row(f, 2))};
}

bool finite(const Vec3& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// Angle between two rotations given as heading, pitch, bank: from the chord between the matrices.
double rotation_difference(const Vec3& a, const Vec3& b) {
  const Mat3 ma = stage::hpb_matrix(a), mb = stage::hpb_matrix(b);
  double sum = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) sum += (ma.m[i][j] - mb.m[i][j]) * (ma.m[i][j] - mb.m[i][j]);
  return 2 * std::asin(std::min(1.0, std::sqrt(sum) / (2 * std::sqrt(2.0))));
}

// --- The cone limit: a periodic cubic spline of the half-angle over the polar angle -----------

class Cone {
 public:
  // Adds a knot unless one lies within 1e-9 rad of its polar angle (the first one counts).
  void add(const Vec3& d_limit) {
    const double half = angle_between(d_limit, {0, 0, 1});
    if (half < 1e-6 || half > pi - 1e-6) {  // on the axis (either way): no azimuth
      if (on_axis_ < 0) on_axis_ = half < pi / 2 ? 0 : max_half_angle;
      return;
    }
    double a = std::atan2(d_limit[1], d_limit[0]);
    if (a < 0) a += 2 * pi;
    if (a >= 2 * pi) a = 0;
    for (const auto& k : knots_)
      if (std::fabs(k.first - a) < 1e-9 || 2 * pi - std::fabs(k.first - a) < 1e-9) return;
    knots_.emplace(a, std::min(angle_between(d_limit, {0, 0, 1}), max_half_angle));
  }
  void add_knot(double angle, double radius) {
    knots_.emplace(angle, std::min(radius, max_half_angle));
  }
  bool empty() const { return knots_.empty(); }
  // Half-angle of the round cone left when every direction lay on the axis: that of the first.
  double on_axis_radius() const { return std::max(0.0, on_axis_); }

  double radius(double a) const { return cone_half_angle(knots_, a); }

 private:
  std::map<double, double> knots_;
  double on_axis_ = -1;
};

bool is_marker(const std::string& name) {
  return name.size() >= 12 && name.find("for-ik-limit") != std::string::npos;
}
bool is_origin(const std::string& name) {
  return name.size() >= 12 && name.find("ik-limit-org") != std::string::npos;
}

// The last bone the root evaluation gathers: depth first through children carrying the per-bone
// handler, in creation order.
int last_gathered(const Rig& rig, int k) {
  int last = k;
  for (int c = 0; c < static_cast<int>(rig.bones.size()); ++c)
    if (rig.bones[c].parent == k && rig.bones[c].in_chain) last = last_gathered(rig, c);
  return last;
}

uint64_t mix(uint64_t x) {  // splitmix64
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

double cone_half_angle(const std::map<double, double>& knots, double a) {
  std::vector<double> x, r;
  for (const auto& k : knots) {
    x.push_back(k.first);
    r.push_back(k.second);
  }
  const int m = static_cast<int>(x.size());
  if (m == 1) return r[0];
  std::vector<double> h(m), slope(m);
  for (int i = 0; i < m; ++i) {
    h[i] = (i + 1 < m ? x[i + 1] : x[0] + 2 * pi) - x[i];
    slope[i] = (r[(i + 1) % m] - r[i]) / h[i];
  }
  // h(i-1) s(i-1) + 2 (h(i-1) + h(i)) s(i) + h(i) s(i+1) = slope(i) - slope(i-1), cyclic.
  std::vector<std::vector<double>> A(m, std::vector<double>(m + 1, 0));
  for (int i = 0; i < m; ++i) {
    const int p = (i + m - 1) % m, n = (i + 1) % m;
    A[i][i] += 2 * (h[p] + h[i]);
    A[i][p] += h[p];
    A[i][n] += h[i];
    A[i][m] = slope[i] - slope[p];
  }
  for (int c = 0; c < m; ++c) {
    int best = c;
    for (int i = c + 1; i < m; ++i)
      if (std::fabs(A[i][c]) > std::fabs(A[best][c])) best = i;
    std::swap(A[c], A[best]);
    for (int i = 0; i < m; ++i) {
      if (i == c || A[c][c] == 0) continue;
      const double f = A[i][c] / A[c][c];
      for (int j = c; j <= m; ++j) A[i][j] -= f * A[c][j];
    }
  }
  std::vector<double> sigma(m);
  for (int i = 0; i < m; ++i) sigma[i] = A[i][i] != 0 ? A[i][m] / A[i][i] : 0;

  int i = m - 1;
  for (int k = 0; k < m; ++k)
    if (x[k] <= a) i = k;
  double t = a - x[i];
  if (t < 0) t += 2 * pi;
  const int n = (i + 1) % m;
  const double c0 = sigma[i], c1 = sigma[n];
  const double v = r[i] + t * ((r[n] - r[i]) / h[i] - h[i] * (2 * c0 + c1) +
                               t * (3 * c0 + t * (c1 - c0) / h[i]));
  return std::clamp(v, 0.0, max_half_angle);
}

// --- Rig_solver ---------------------------------------------------------------------------------

Rig_solver::Rig_solver(const std::string& module_path) { host_.load_module(module_path); }

void Rig_solver::solve(const Rig& rig) {
  host_.load_scene_record(rig_scene(rig), "sweep rig");
  // Loading creates the non-bone items first, in file order (carrier, then the rig's items), then
  // the bones.
  const stage::Scene& scene = host_.scene();
  const std::size_t n_items = rig.items.size();
  if (scene.size() != 1 + n_items + rig.bones.size()) throw stage::Error("unexpected scene size");
  carrier_ = scene.item(0).id;
  items_.assign(n_items, LWITEM_NULL);
  bones_.assign(rig.bones.size(), LWITEM_NULL);
  for (std::size_t i = 0; i < n_items; ++i) items_[i] = scene.item(1 + i).id;
  for (std::size_t k = 0; k < rig.bones.size(); ++k) bones_[k] = scene.item(1 + n_items + k).id;
  host_.evaluate(0);
}

Vec3 Rig_solver::rotation(int k) const { return host_.param(bones_[k], LWIP_ROTATION, 0); }

// --- Properties ---------------------------------------------------------------------------------

void Property_tally::add(long rig, double error, bool ok) {
  ++checked;
  if (!ok) {
    ++failed;
    if (failures.size() < 8) failures.push_back(rig);
  }
  if (!std::isnan(worst) && (std::isnan(error) || error > worst)) {  // a NaN stays the worst
    worst = error;
    worst_rig = rig;
  }
}

double root_limit_excess(Rig_solver& solver, const Rig& rig) {
  if (rig.plugin_effect >= 0) return -1;  // a blended solve need not keep the limit
  const stage::Limits& lim = rig.bones[0].limits;
  const Vec3 w = row(stage::hpb_matrix(solver.rotation(0)), 2);  // the root's direction

  std::vector<int> markers;
  int origin = -1;
  if (rig.arbitrary_limit) {
    for (std::size_t i = 0; i < rig.items.size(); ++i) {
      if (is_marker(rig.items[i].name)) markers.push_back(static_cast<int>(i));
      if (is_origin(rig.items[i].name)) origin = static_cast<int>(i);
    }
  }
  const bool heading = lim.flags & 1u, pitch = lim.flags & 2u;
  if (markers.empty() && !(heading && pitch)) {
    // One plane pair about Y (heading) or X (pitch): the directions whose angle about that axis
    // lies within the bounds, the axis itself included. Outside, the angle to the nearer of the
    // two bounding half-planes.
    const int c = heading ? 0 : pitch ? 1 : -1;
    if (c < 0 || lim.lower[c] > lim.upper[c]) return -1;
    const double u = c == 0 ? w[0] : -w[1], z = w[2], v = c == 0 ? w[1] : w[0];
    const double in_plane = std::hypot(u, z);
    const double a = std::atan2(u, z);
    if (in_plane == 0 || (lim.lower[c] <= a && a <= lim.upper[c])) return 0;
    const auto to_half_plane = [&](double b) {
      const double along = u * std::sin(b) + z * std::cos(b);
      const double across = u * std::cos(b) - z * std::sin(b);
      return along >= 0 ? std::atan2(std::fabs(across), std::hypot(along, v))
                        : std::atan2(in_plane, std::fabs(v));
    };
    return std::min(to_half_plane(lim.lower[c]), to_half_plane(lim.upper[c]));
  }
  if (markers.empty() && (lim.lower[0] > lim.upper[0] || lim.lower[1] > lim.upper[1])) return -1;

  // The root frame is the root's reference transform: no own rotation or scale.
  stage::Host& host = solver.host();
  const Rig_bone& root = rig.bones[0];
  const Mat3 w0 = stage::hpb_matrix(root.pivot_rotation) * upper3(host.world(solver.carrier(), 0));
  const Mat3 w0_inverse = inverse(w0);
  const auto root_dir = [&](LWItemID item) {
    return times(row(upper3(host.world(item, 0)), 2), w0_inverse);
  };

  Mat3 frame = stage::identity3();
  if (origin >= 0) frame = frame_from_z(root_dir(solver.item(origin)));
  Cone cone;
  if (!markers.empty()) {
    for (const int i : markers) cone.add(into_frame(root_dir(solver.item(i)), frame));
  } else if (lim.lower[0] < 0 && 0 < lim.upper[0] && lim.lower[1] < 0 && 0 < lim.upper[1]) {
    cone.add_knot(0, std::fabs(lim.upper[0]));
    cone.add_knot(pi / 2, std::fabs(lim.lower[1]));
    cone.add_knot(pi, std::fabs(lim.lower[0]));
    cone.add_knot(3 * pi / 2, std::fabs(lim.upper[1]));
  } else {
    // The rest direction lies outside the box: the cone is centred between the limit planes.
    const double mh = (lim.lower[0] + lim.upper[0]) / 2, mp = (lim.lower[1] + lim.upper[1]) / 2;
    const Vec3 nh = cross({0, 1, 0}, {std::sin(mh), 0, std::cos(mh)});
    const Vec3 b = {0, -std::sin(mp), std::cos(mp)};
    const Vec3 np = cross({-1, 0, 0}, b);
    Vec3 centre = normalized(cross(nh, np));
    if (dot(centre, b) < 0) centre = scaled(centre, -1);
    frame = frame_from_z(centre);
    const auto plane_normal = [](double a, bool is_heading, double side) {
      const Vec3 dir =
          is_heading ? Vec3{std::sin(a), 0, std::cos(a)} : Vec3{0, -std::sin(a), std::cos(a)};
      const Vec3 axis = is_heading ? Vec3{0, side, 0} : Vec3{-side, 0, 0};
      return cross(axis, dir);
    };
    const Vec3 normals[4] = {
        plane_normal(lim.lower[0], true, 1), plane_normal(lim.upper[0], true, -1),
        plane_normal(lim.lower[1], false, 1), plane_normal(lim.upper[1], false, -1)};
    for (const Vec3& n : normals) {
      const Vec3 p = normalized(sub(centre, scaled(n, dot(centre, n))));
      cone.add(into_frame(p, frame));
    }
  }
  const Vec3 w_limit = into_frame(w, frame);
  const double theta = angle_between(w_limit, {0, 0, 1});
  if (cone.empty()) return std::max(0.0, theta - cone.on_axis_radius());  // a round cone
  double a = std::atan2(w_limit[1], w_limit[0]);
  if (a < 0) a += 2 * pi;
  return std::max(0.0, theta - cone.radius(a));
}

Rig_errors check_rig(Rig_solver& solver, const Rig& rig, const Rig& carried_rig) {
  Rig_errors e;
  const int n = static_cast<int>(rig.bones.size());
  solver.solve(rig);
  std::vector<Vec3> first(n);
  for (int k = 0; k < n; ++k) {
    first[k] = solver.rotation(k);
    e.finite = e.finite && finite(first[k]);
  }
  if (!e.finite) return e;
  stage::Host& host = solver.host();

  // Within 1.4e-3 rad of straight up or down, heading, pitch and bank drop the bank and fold the
  // turn about the vertical into the heading: the root set through them then points up to that
  // far from its solved direction, a known limit of the host's rotation form.
  const bool root_at_pole = std::fabs(std::fabs(std::sin(first[0][1])) - 1) < 1.1e-6;
  if (rig.kind == Rig_class::reachable && !root_at_pole) {
    const Vec3 tip = host.bone_tip(solver.bone(n - 1), 0);
    const Vec3 goal = host.world_position(solver.item(rig.goal), 0);
    e.reach = norm(sub(tip, goal)) / (rig.chain_length() * rig.carrier_scale);
  }
  if (rig.kind == Rig_class::limited_root) e.limit = root_limit_excess(solver, rig);

  // A chain whose end sits on the root's pivot (scaled to nothing on the way) leaves the root's
  // rotation to rounding, as a goal on the pivot does.
  const LWItemID end_item = rig.goal_position >= 0 ? solver.item(rig.goal_position) : LWITEM_NULL;
  const Vec3 end_world = end_item ? host.world_position(end_item, 0)
                                  : host.bone_tip(solver.bone(last_gathered(rig, 0)), 0);
  const bool end_on_pivot =
      norm(sub(end_world, host.world_position(solver.bone(0), 0))) < 1e-9 * rig.carrier_scale;

  if (!rig.rounding_sensitive && !end_on_pivot) {
    solver.solve(carried_rig);
    e.invariance = 0;
    for (int k = 0; k < n; ++k) {
      const Vec3 second = solver.rotation(k);
      if (!finite(second)) {
        e.finite = false;
        e.invariance = -1;
        break;
      }
      e.invariance = std::max(e.invariance, rotation_difference(first[k], second));
    }
  }
  return e;
}

Rig_pair sweep_rigs(uint64_t seed, long index) {
  Seeded_source source(mix(mix(seed) + static_cast<uint64_t>(index)));
  const Rig_class kind = index % 4 == 0   ? Rig_class::reachable
                         : index % 4 == 1 ? Rig_class::limited_root
                                          : Rig_class::general;
  Rig_pair pair;
  pair.rig = generate_rig(source, kind);
  pair.carried = carried(pair.rig, source);
  return pair;
}

Sweep_summary run_sweep(Rig_solver& solver, uint64_t seed, long first, long count) {
  Sweep_summary s;
  for (long i = first; i < first + count; ++i) {
    const Rig_pair pair = sweep_rigs(seed, i);
    const Rig_errors e = check_rig(solver, pair.rig, pair.carried);
    ++s.rigs;
    if (!e.finite) ++s.non_finite;
    s.finite.add(i, e.finite ? 0 : 1, e.finite);
    if (e.reach >= 0) s.reach.add(i, e.reach, e.reach <= reach_tolerance);
    if (e.limit >= 0) s.limit.add(i, e.limit, e.limit <= limit_tolerance);
    if (e.invariance >= 0) s.invariance.add(i, e.invariance, e.invariance <= invariance_tolerance);
  }
  return s;
}

std::string rig_json(const Rig& rig) { return stage::format_scene(rig_scene(rig)); }

}  // namespace sweep
