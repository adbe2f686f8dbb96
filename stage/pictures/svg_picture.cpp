#include "stage/pictures/svg_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <vector>

#include "stage/pictures/view_data.h"
#include "stage/report/chains.h"

namespace pictures {

namespace {

using stage::Vec3;

Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 mul(const Vec3& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }
Vec3 unit(const Vec3& a) {
  const double l = norm(a);
  return l > 0 ? mul(a, 1 / l) : a;
}
Vec3 display(const Vec3& p) { return {p[0], p[1], -p[2]}; }  // the scene is left-handed
Vec3 row(const stage::Mat4& m, int r) { return {m.m[r][0], m.m[r][1], m.m[r][2]}; }
Vec3 times(const Vec3& d, const stage::Mat4& m) {  // a direction through the 3x3 part
  return {d[0] * m.m[0][0] + d[1] * m.m[1][0] + d[2] * m.m[2][0],
          d[0] * m.m[0][1] + d[1] * m.m[1][1] + d[2] * m.m[2][1],
          d[0] * m.m[0][2] + d[1] * m.m[1][2] + d[2] * m.m[2][2]};
}

// A 3x3 as rows; d * M for a direction d.
using M3 = std::array<Vec3, 3>;
Vec3 times3(const Vec3& d, const M3& m) {
  return add(add(mul(m[0], d[0]), mul(m[1], d[1])), mul(m[2], d[2]));
}
M3 transposed(const M3& m) {
  return {Vec3{m[0][0], m[1][0], m[2][0]}, Vec3{m[0][1], m[1][1], m[2][1]},
          Vec3{m[0][2], m[1][2], m[2][2]}};
}
M3 inverse3(const stage::Mat4& w) {  // of the 3x3 part; the matrix itself when singular
  const M3 m{row(w, 0), row(w, 1), row(w, 2)};
  const Vec3 c0 = cross(m[1], m[2]), c1 = cross(m[2], m[0]), c2 = cross(m[0], m[1]);
  const double det = dot(m[0], c0);
  if (det == 0) return m;
  return transposed(M3{mul(c0, 1 / det), mul(c1, 1 / det), mul(c2, 1 / det)});
}
M3 frame_from_z(const Vec3& z_in) {
  const Vec3 z = unit(z_in);
  const Vec3 x = unit(cross(std::fabs(z[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0}, z));
  return {x, cross(z, x), z};
}

// The cone a root's direction is held in: a closed cubic spline of the half-angle over the polar
// angle about the limit frame's Z, through knots (angle -> half-angle), as the solve builds it.
struct Cone {
  M3 frame{Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}};  // limit frame, rows in the root frame
  std::vector<double> angle, radius, curve;

  void fit(const std::map<double, double>& knots) {
    for (const auto& k : knots) {
      angle.push_back(k.first);
      radius.push_back(std::min(k.second, stage::deg_to_rad(179.9)));
    }
    const int m = static_cast<int>(angle.size());
    const auto wrap = [m](int i) { return ((i % m) + m) % m; };
    const auto ang = [&](int i) { return angle[wrap(i)] + 2 * stage::pi * ((i - wrap(i)) / m); };
    const auto rad = [&](int i) { return radius[wrap(i)]; };
    const auto h = [&](int i) { return ang(i + 1) - ang(i); };
    const auto slope = [&](int i) { return (rad(i + 1) - rad(i)) / h(i); };
    std::vector<std::vector<double>> a(m, std::vector<double>(m + 1, 0.0));
    for (int i = 0; i < m; ++i) {
      a[i][wrap(i - 1)] += h(i - 1);
      a[i][i] += 2 * (h(i - 1) + h(i));
      a[i][wrap(i + 1)] += h(i);
      a[i][m] = slope(i) - slope(i - 1);
    }
    for (int c = 0; c < m; ++c) {  // Gauss-Jordan with partial pivoting
      int p = c;
      for (int r = c + 1; r < m; ++r)
        if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
      std::swap(a[c], a[p]);
      for (int r = 0; r < m; ++r) {
        if (r == c || a[c][c] == 0) continue;
        const double k = a[r][c] / a[c][c];
        for (int j = c; j <= m; ++j) a[r][j] -= k * a[c][j];
      }
    }
    for (int i = 0; i < m; ++i) curve.push_back(a[i][i] != 0 ? a[i][m] / a[i][i] : 0);
  }
  double radius_at(double x) const {
    const std::size_t m = angle.size();
    x = std::fmod(std::fmod(x, 2 * stage::pi) + 2 * stage::pi, 2 * stage::pi);
    if (m == 1) return radius[0];
    std::size_t i = m - 1;
    for (std::size_t j = 0; j < m; ++j)
      if (angle[j] <= x) i = j;
    const std::size_t n = (i + 1) % m;
    double a0 = angle[i], a1 = i + 1 < m ? angle[n] : angle[n] + 2 * stage::pi;
    if (x < a0) a0 -= 2 * stage::pi, a1 -= 2 * stage::pi;
    const double h = a1 - a0, u = x - a0;
    return radius[i] + u * ((radius[n] - radius[i]) / h - h * (2 * curve[i] + curve[n]) +
                            u * (3 * curve[i] + u * (curve[n] - curve[i]) / h));
  }
  // How far (radians) a root-frame direction lies outside the cone: about 0 on it.
  double margin(const Vec3& w) const {
    const Vec3 d = times3(w, transposed(frame));
    double a = std::atan2(d[1], d[0]);
    if (a < 0) a += 2 * stage::pi;
    return std::acos(std::max(-1.0, std::min(1.0, d[2] / std::max(norm(d), 1e-300)))) -
           radius_at(a);
  }
};

// The viewer's camera presets: the eye's direction from the target as spherical angles about
// display +Y (theta from +Z towards +X, phi from +Y).
struct Camera {
  Vec3 center{}, eye{}, right{}, up{}, forward{};
  double scale = 1;  // orthographic: pixels per unit; perspective: focal length in pixels
  bool perspective = false;
  double width = 0, height = 0;

  struct Point {
    double x, y, depth;
  };
  Point project(const Vec3& scene_point) const {
    const Vec3 p = display(scene_point);
    const Vec3 d = sub(p, eye);
    const double depth = dot(d, forward);
    if (perspective) {
      const double z = std::max(depth, 1e-9);
      return {width / 2 + scale * dot(d, right) / z, height / 2 - scale * dot(d, up) / z, depth};
    }
    const Vec3 c = sub(p, center);
    return {width / 2 + scale * dot(c, right), height / 2 - scale * dot(c, up), depth};
  }
};

Camera camera_for(View_kind view, const std::vector<Vec3>& points, double width, double height) {
  double theta = 0, phi = stage::pi / 2;
  if (view == View_kind::side) theta = stage::pi / 2;
  if (view == View_kind::top) phi = 1e-4;
  if (view == View_kind::persp) theta = 0.62, phi = 1.12;
  Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
  for (const Vec3& p : points)
    for (int k = 0; k < 3; ++k)
      if (std::isfinite(p[k])) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
  if (lo[0] > hi[0]) lo = {-1, -1, -1}, hi = {1, 1, 1};
  Camera cam;
  cam.width = width;
  cam.height = height;
  cam.center = display(mul(add(lo, hi), 0.5));
  const double size = std::max(norm(sub(hi, lo)), 1e-6);
  const Vec3 dir{std::sin(phi) * std::sin(theta), std::cos(phi), std::sin(phi) * std::cos(theta)};
  cam.forward = mul(dir, -1);
  cam.right = unit(cross(cam.forward, {0, 1, 0}));
  cam.up = cross(cam.right, cam.forward);
  if (view == View_kind::top) cam.forward = {0, -1, 0}, cam.right = {1, 0, 0}, cam.up = {0, 0, -1};
  double ex = 0, ey = 0;
  for (const Vec3& p : points) {
    const Vec3 c = sub(display(p), cam.center);
    if (!std::isfinite(dot(c, c))) continue;
    ex = std::max(ex, std::fabs(dot(c, cam.right)));
    ey = std::max(ey, std::fabs(dot(c, cam.up)));
  }
  const double aspect = width / height;
  const double half = std::max({ey, ex / aspect, size * 0.05}) * 1.2;
  const double tan_half_fov = std::tan(stage::deg_to_rad(20));
  cam.perspective = view == View_kind::persp;
  const double dist = cam.perspective ? half / tan_half_fov + size * 0.3 : size * 4;
  cam.eye = add(cam.center, mul(dir, dist));
  cam.scale = cam.perspective ? (height / 2) / tan_half_fov : (height / 2) / half;
  return cam;
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", std::isfinite(v) ? v : 0.0);
  return buf;
}

std::string escape(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// One drawn element with the depth it is sorted by (farther first).
struct Shape {
  double depth;
  std::string svg;
};

std::string points_attr(const std::vector<Camera::Point>& pts) {
  std::string s;
  for (const Camera::Point& p : pts) s += (s.empty() ? "" : " ") + num(p.x) + "," + num(p.y);
  return s;
}

}  // namespace

bool parse_view(const std::string& name, View_kind& view) {
  if (name == "front")
    view = View_kind::front;
  else if (name == "side")
    view = View_kind::side;
  else if (name == "top")
    view = View_kind::top;
  else if (name == "persp")
    view = View_kind::persp;
  else
    return false;
  return true;
}

std::string svg_picture(stage::Host& host, const std::string& title, int frame, View_kind view,
                        int width, int height) {
  const std::vector<LWItemID> reported = report::reported_items(host.scene());
  const std::vector<report::Chain> chains = report::find_chains(host);
  const report::Frame_sample sample = report::sample_frame(host, frame, reported, chains);
  const double t = sample.time;
  const stage::Scene& scene = host.scene();

  // Roles of items in the chains.
  enum Role { none, goal, twist, goal_position };
  std::vector<Role> role(scene.size(), none);
  std::vector<bool> in_chain(scene.size(), false);
  for (const report::Chain& c : chains) {
    for (const LWItemID id : report::gather_chain(scene, c.root))
      in_chain[scene.index_of(id)] = true;
    const Root_options o = root_options(host, c.root);
    const auto set = [&](LWItemID id, Role r) {
      const std::size_t i = scene.index_of(id);
      if (i != stage::Scene::npos && role[i] == none) role[i] = r;
    };
    set(c.goal, goal);
    set(o.twist_target, twist);
    set(c.goal_position, goal_position);
  }

  std::vector<Vec3> base(scene.size()), tip(scene.size());
  std::vector<stage::Mat4> world(scene.size());
  std::vector<Vec3> extent;
  for (std::size_t i = 0; i < scene.size(); ++i) {
    const stage::Item& item = scene.item(i);
    world[i] = host.world(item.id, t);
    base[i] = stage::translation(world[i]);
    extent.push_back(base[i]);
    if (item.type == stage::Item_type::bone) {
      tip[i] = host.bone_tip(item.id, t);
      extent.push_back(tip[i]);
    }
  }
  double size = 0;
  for (const Vec3& a : extent)
    for (const Vec3& b : extent) size = std::max(size, norm(sub(a, b)));
  size = std::max(size, 1e-6);

  // Root limits about each root, in its frame without its own rotation: heading and pitch wedges,
  // and the cone the solve holds the root to (from marker items with Arbitrary Limit on, or through
  // the four limits when both channels are limited about the rest direction). Red when the root
  // is on its limit.
  struct Limit_shape {
    std::string kind;
    std::vector<Vec3> points;  // wedges: the apex, then the arc; cone: the rim; surface: pairs
    bool on_limit = false;
  };
  std::vector<Limit_shape> limit_shapes;
  const double on_limit_tolerance = stage::deg_to_rad(0.01);
  for (const report::Chain& c : chains) {
    const stage::Item& root = scene.at(c.root);
    std::vector<LWItemID> markers;
    LWItemID origin = LWITEM_NULL;
    if (root_options(host, c.root).arbitrary_limit) {
      for (std::size_t i = 0; i < scene.size(); ++i) {
        const stage::Item& item = scene.item(i);
        if (item.id == c.root || item.parent != root.parent || item.name.size() < 12) continue;
        if (item.name.find("for-ik-limit") != std::string::npos) markers.push_back(item.id);
        if (item.name.find("ik-limit-org") != std::string::npos) origin = item.id;
      }
    }
    const bool heading_limited = (root.limits.flags & 1u) != 0;
    const bool pitch_limited = (root.limits.flags & 2u) != 0;
    if (!heading_limited && !pitch_limited && markers.empty()) continue;
    const Vec3 pos = host.param(c.root, LWIP_POSITION, t);
    const Vec3 parent_pivot = host.param(root.parent, LWIP_PIVOT, t);
    const stage::Mat4 w0 =
        stage::local_matrix({1, 1, 1}, {0, 0, 0}, pos, host.param(c.root, LWIP_PIVOT_ROT, t),
                            parent_pivot) *
        (root.parent != LWITEM_NULL ? host.world(root.parent, t) : stage::identity4());
    double length = 0;
    for (const LWItemID id : report::gather_chain(scene, c.root))
      length += scene.at(id).rest_length;
    const double radius = std::max(length * 0.45, size * 0.08);
    const Vec3 apex = base[scene.index_of(c.root)];
    const Vec3 hpb = host.param(c.root, LWIP_ROTATION, t);
    const stage::Mat3 r = stage::hpb_matrix(hpb);
    const Vec3 direction{r.m[2][0], r.m[2][1], r.m[2][2]};  // the root's Z in its frame

    Cone cone;
    std::map<double, double> knots;
    const Vec3 lo = root.limits.lower, hi = root.limits.upper;
    if (!markers.empty()) {
      if (origin != LWITEM_NULL) cone.frame = frame_from_z(row(host.world(origin, t), 2));
      const M3 inv = inverse3(w0), ft = transposed(cone.frame);
      for (const LWItemID m : markers) {
        const Vec3 d = unit(times3(times3(row(host.world(m, t), 2), inv), ft));
        double a = std::atan2(d[1], d[0]);
        if (a < 0) a += 2 * stage::pi;
        knots.emplace(a, std::acos(std::max(-1.0, std::min(1.0, d[2]))));
      }
    } else if (heading_limited && pitch_limited && lo[0] < 0 && hi[0] > 0 && lo[1] < 0 &&
               hi[1] > 0) {
      knots = {{0, std::fabs(hi[0])},
               {stage::pi / 2, std::fabs(lo[1])},
               {stage::pi, std::fabs(lo[0])},
               {1.5 * stage::pi, std::fabs(hi[1])}};
    }
    bool on_limit = false;
    if (!knots.empty()) {
      cone.fit(knots);
      on_limit = cone.margin(direction) > -on_limit_tolerance;
    } else {
      for (int ch = 0; ch < 2; ++ch)
        if ((root.limits.flags & (1u << ch)) != 0 &&
            (hpb[ch] > hi[ch] - on_limit_tolerance || hpb[ch] < lo[ch] + on_limit_tolerance))
          on_limit = true;
    }
    const auto to_world = [&](const Vec3& d) { return add(apex, mul(unit(times(d, w0)), radius)); };
    if (markers.empty()) {
      for (int ch = 0; ch < 2; ++ch) {
        if ((root.limits.flags & (1u << ch)) == 0) continue;
        // With a cone from both limits, the wedges are outlines of what was set.
        Limit_shape wedge{
            std::string(ch == 0 ? "heading" : "pitch") + (knots.empty() ? "" : " outline"),
            {apex},
            on_limit};
        for (int j = 0; j <= 32; ++j) {
          const double a = lo[ch] + (hi[ch] - lo[ch]) * j / 32;
          wedge.points.push_back(to_world(ch == 0
                                              ? Vec3{std::sin(a), 0, std::cos(a)}
                                              : Vec3{std::cos(a) * std::sin(hpb[0]), -std::sin(a),
                                                     std::cos(a) * std::cos(hpb[0])}));
        }
        extent.insert(extent.end(), wedge.points.begin(), wedge.points.end());
        limit_shapes.push_back(std::move(wedge));
      }
    }
    if (!knots.empty()) {
      Limit_shape rim{"cone", {}, on_limit};
      for (int j = 0; j < 64; ++j) {
        const double a = 2 * stage::pi * j / 64, rr = cone.radius_at(a);
        rim.points.push_back(to_world(times3(
            {std::sin(rr) * std::cos(a), std::sin(rr) * std::sin(a), std::cos(rr)}, cone.frame)));
      }
      extent.insert(extent.end(), rim.points.begin(), rim.points.end());
      Limit_shape surface{"cone-surface", {}, on_limit};
      for (int j = 0; j < 64; j += 8)
        surface.points.insert(surface.points.end(), {apex, rim.points[j]});
      limit_shapes.push_back(std::move(rim));
      limit_shapes.push_back(std::move(surface));
    }
  }

  const Camera cam = camera_for(view, extent, width, height);
  const double px = cam.perspective ? cam.scale / norm(sub(cam.eye, cam.center)) : cam.scale;
  const double joint_r = std::max(2.0, size * 0.008 * px), marker = std::max(5.0, size * 0.02 * px);

  std::vector<Shape> shapes;
  for (const Limit_shape& l : limit_shapes) {
    std::vector<Camera::Point> pts;
    double depth = 0;
    for (const Vec3& p : l.points) pts.push_back(cam.project(p)), depth += pts.back().depth;
    const std::string cls = "limit-" + l.kind + (l.on_limit ? " on-limit" : "");
    if (l.kind == "cone-surface") {  // lines from the apex to the rim
      std::string path;
      for (std::size_t j = 0; j + 1 < pts.size(); j += 2)
        path += "M" + num(pts[j].x) + "," + num(pts[j].y) + "L" + num(pts[j + 1].x) + "," +
                num(pts[j + 1].y);
      shapes.push_back(
          {depth / pts.size() + size, "<path class=\"" + cls + "\" d=\"" + path + "\"/>"});
    } else {
      shapes.push_back({depth / pts.size() + size,
                        "<polygon class=\"" + cls + "\" points=\"" + points_attr(pts) + "\"/>"});
    }
  }

  // Bones as long diamonds from base to tip, joints at both ends.
  for (std::size_t i = 0; i < scene.size(); ++i) {
    const stage::Item& item = scene.item(i);
    if (item.type != stage::Item_type::bone) continue;
    const Camera::Point b = cam.project(base[i]), e = cam.project(tip[i]);
    const double dx = e.x - b.x, dy = e.y - b.y;
    const double wx = -dy * 0.06, wy = dx * 0.06;
    const Camera::Point m{b.x + dx * 0.15, b.y + dy * 0.15, 0};
    const std::vector<Camera::Point> pts{b, {m.x + wx, m.y + wy, 0}, e, {m.x - wx, m.y - wy, 0}};
    shapes.push_back({(b.depth + e.depth) / 2, "<polygon class=\"bone" +
                                                   std::string(in_chain[i] ? " chain" : "") +
                                                   "\" data-item=\"" + escape(item.name) +
                                                   "\" points=\"" + points_attr(pts) + "\"/>"});
    for (const Camera::Point& p : {b, e}) {
      shapes.push_back({p.depth - size * 1e-3, "<circle class=\"joint\" cx=\"" + num(p.x) +
                                                   "\" cy=\"" + num(p.y) + "\" r=\"" +
                                                   num(joint_r) + "\"/>"});
    }
  }
  // Objects: their axes, and the look of their role.
  for (std::size_t i = 0; i < scene.size(); ++i) {
    const stage::Item& item = scene.item(i);
    if (item.type == stage::Item_type::bone) continue;
    const Camera::Point p = cam.project(base[i]);
    const char* const axis_class[] = {"axis-x", "axis-y", "axis-z"};
    for (int a = 0; a < 3; ++a) {
      const Camera::Point e = cam.project(add(base[i], mul(unit(row(world[i], a)), size * 0.05)));
      shapes.push_back({(p.depth + e.depth) / 2, "<line class=\"" + std::string(axis_class[a]) +
                                                     "\" x1=\"" + num(p.x) + "\" y1=\"" + num(p.y) +
                                                     "\" x2=\"" + num(e.x) + "\" y2=\"" + num(e.y) +
                                                     "\"/>"});
    }
    const std::string at = "data-item=\"" + escape(item.name) + "\"";
    const double r = marker / 2;
    if (role[i] == goal) {
      shapes.push_back({p.depth, "<circle class=\"goal\" " + at + " cx=\"" + num(p.x) + "\" cy=\"" +
                                     num(p.y) + "\" r=\"" + num(r) + "\"/>"});
    } else if (role[i] == twist) {
      shapes.push_back({p.depth, "<polygon class=\"twist-target\" " + at + " points=\"" +
                                     points_attr({{p.x, p.y - r * 1.3, 0},
                                                  {p.x + r, p.y, 0},
                                                  {p.x, p.y + r * 1.3, 0},
                                                  {p.x - r, p.y, 0}}) +
                                     "\"/>"});
    } else if (role[i] == goal_position) {
      shapes.push_back({p.depth, "<rect class=\"goal-position\" " + at + " x=\"" +
                                     num(p.x - r * 0.7) + "\" y=\"" + num(p.y - r * 0.7) +
                                     "\" width=\"" + num(r * 1.4) + "\" height=\"" + num(r * 1.4) +
                                     "\"/>"});
    }
  }
  // Chain end to goal, when apart.
  for (const report::Chain& c : chains) {
    if (c.goal == LWITEM_NULL) continue;
    const Vec3 end = chain_end(host, c, t), g = base[scene.index_of(c.goal)];
    if (norm(sub(end, g)) <= size * 1e-4) continue;
    const Camera::Point a = cam.project(end), b = cam.project(g);
    shapes.push_back({std::min(a.depth, b.depth) - size,
                      "<line class=\"end-to-goal\" data-item=\"" + escape(scene.at(c.root).name) +
                          "\" x1=\"" + num(a.x) + "\" y1=\"" + num(a.y) + "\" x2=\"" + num(b.x) +
                          "\" y2=\"" + num(b.y) + "\"/>"});
  }
  std::stable_sort(shapes.begin(), shapes.end(),
                   [](const Shape& a, const Shape& b) { return a.depth > b.depth; });

  const char* const view_names[] = {"front", "side", "top", "persp"};
  const std::string view_name = view_names[static_cast<int>(view)];
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                    "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                    std::to_string(width) + " " + std::to_string(height) + "\" data-view=\"" +
                    view_name + "\" data-frame=\"" + std::to_string(frame) + "\"";
  if (!cam.perspective) {
    const auto vec = [](const Vec3& v) {
      char buf[100];
      std::snprintf(buf, sizeof buf, "%.9g %.9g %.9g", v[0] == 0 ? 0.0 : v[0],
                    v[1] == 0 ? 0.0 : v[1], v[2] == 0 ? 0.0 : v[2]);
      return std::string(buf);
    };
    char scale[40];
    std::snprintf(scale, sizeof scale, "%.9g", cam.scale);
    char center[100];
    std::snprintf(center, sizeof center, "%.9g %.9g %.9g", cam.center[0], cam.center[1],
                  cam.center[2]);
    svg += " data-center=\"" + std::string(center) + "\" data-right=\"" + vec(cam.right) +
           "\" data-up=\"" + vec(cam.up) + "\" data-scale=\"" + scale + "\"";
  }
  svg +=
      ">\n<style>\n"
      ".bone{fill:#c9ad7f;stroke:#6b5431;stroke-width:1}.bone.chain{fill:#e0a24a}\n"
      ".joint{fill:#4d5661}.goal{fill:#d62f2f}.twist-target{fill:#2f6fd6}"
      ".goal-position{fill:#2e9c4a}\n"
      ".axis-x{stroke:#d84a4a}.axis-y{stroke:#3fa34d}.axis-z{stroke:#3b6fd8}"
      "line{stroke-width:1.5}\n"
      ".end-to-goal{stroke:#c04f9a;stroke-dasharray:5 3}\n"
      ".limit-heading,.limit-pitch,.limit-cone{fill:#8a63c7;fill-opacity:.16;stroke:#8a63c7}"
      ".limit-cone-surface{fill:none;stroke:#8a63c7;stroke-opacity:.5}.outline{fill:none}"
      ".on-limit{stroke:#00a3b4}.limit-heading.on-limit,.limit-pitch.on-limit,"
      ".limit-cone.on-limit{fill:#00a3b4}.outline.on-limit{fill:none}\n"
      "text{font:12px sans-serif;fill:#1d232a}.legend{fill:#5b6570}\n"
      "</style>\n<rect width=\"100%\" height=\"100%\" fill=\"#fbfbfc\"/>\n";
  for (const Shape& s : shapes) svg += s.svg + "\n";
  svg += "<text x=\"8\" y=\"16\">" + escape(title) + " · frame " + std::to_string(frame) + " · " +
         view_name + "</text>\n";
  // Legend: what this picture holds.
  std::vector<std::pair<std::string, std::string>> legend{{"#e0a24a", "bone in a chain"}};
  const auto has = [&](Role r) { return std::find(role.begin(), role.end(), r) != role.end(); };
  if (has(goal)) legend.push_back({"#d62f2f", "goal"});
  if (has(twist)) legend.push_back({"#2f6fd6", "twist target"});
  if (has(goal_position)) legend.push_back({"#2e9c4a", "goal position item"});
  if (!limit_shapes.empty()) legend.push_back({"#8a63c7", "root limit"});
  if (std::any_of(limit_shapes.begin(), limit_shapes.end(),
                  [](const Limit_shape& l) { return l.on_limit; }))
    legend.push_back({"#00a3b4", "root on its limit"});
  if (svg.find("class=\"end-to-goal\"") != std::string::npos)
    legend.push_back({"#c04f9a", "chain end to goal (dashed)"});
  for (std::size_t k = 0; k < legend.size(); ++k) {
    const double y = height - 10.0 - 15.0 * (legend.size() - 1 - k);
    svg += "<rect x=\"8\" y=\"" + num(y - 9) + "\" width=\"12\" height=\"9\" fill=\"" +
           legend[k].first + "\"/><text class=\"legend\" x=\"26\" y=\"" + num(y) + "\">" +
           legend[k].second + "</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace pictures
