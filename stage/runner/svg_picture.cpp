#include "stage/runner/svg_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "stage/runner/chains.h"
#include "stage/runner/view_data.h"

namespace runner {

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
  const std::vector<LWItemID> reported = reported_items(host.scene());
  const std::vector<Chain> chains = find_chains(host);
  const Frame_sample sample = sample_frame(host, frame, reported, chains);
  const double t = sample.time;
  const stage::Scene& scene = host.scene();

  // Roles of items in the chains.
  enum Role { none, goal, twist, goal_position };
  std::vector<Role> role(scene.size(), none);
  std::vector<bool> in_chain(scene.size(), false);
  for (const Chain& c : chains) {
    for (const LWItemID id : gather_chain(scene, c.root)) in_chain[scene.index_of(id)] = true;
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

  // Root limits: heading and pitch wedges about the root, in its frame without its own rotation.
  struct Wedge {
    std::string kind;
    std::vector<Vec3> points;  // the apex, then the arc
  };
  std::vector<Wedge> wedges;
  for (const Chain& c : chains) {
    const stage::Item& root = scene.at(c.root);
    if ((root.limits.flags & 3u) == 0) continue;
    const Vec3 pos = host.param(c.root, LWIP_POSITION, t);
    const Vec3 parent_pivot = host.param(root.parent, LWIP_PIVOT, t);
    const stage::Mat4 w0 =
        stage::local_matrix({1, 1, 1}, {0, 0, 0}, pos, host.param(c.root, LWIP_PIVOT_ROT, t),
                            parent_pivot) *
        (root.parent != LWITEM_NULL ? host.world(root.parent, t) : stage::identity4());
    double length = 0;
    for (const LWItemID id : gather_chain(scene, c.root)) length += scene.at(id).rest_length;
    const double radius = std::max(length * 0.45, size * 0.08);
    const Vec3 apex = base[scene.index_of(c.root)];
    const double heading = host.param(c.root, LWIP_ROTATION, t)[0];
    for (int channel = 0; channel < 2; ++channel) {
      if ((root.limits.flags & (1u << channel)) == 0) continue;
      Wedge wedge{channel == 0 ? "heading" : "pitch", {apex}};
      const double a0 = root.limits.lower[channel], a1 = root.limits.upper[channel];
      for (int j = 0; j <= 32; ++j) {
        const double a = a0 + (a1 - a0) * j / 32;
        const Vec3 d = channel == 0 ? Vec3{std::sin(a), 0, std::cos(a)}
                                    : Vec3{std::cos(a) * std::sin(heading), -std::sin(a),
                                           std::cos(a) * std::cos(heading)};
        wedge.points.push_back(add(apex, mul(unit(times(d, w0)), radius)));
      }
      extent.insert(extent.end(), wedge.points.begin(), wedge.points.end());
      wedges.push_back(std::move(wedge));
    }
  }

  const Camera cam = camera_for(view, extent, width, height);
  const double px = cam.perspective ? cam.scale / norm(sub(cam.eye, cam.center)) : cam.scale;
  const double joint_r = std::max(2.0, size * 0.008 * px), marker = std::max(5.0, size * 0.02 * px);

  std::vector<Shape> shapes;
  for (const Wedge& wedge : wedges) {
    std::vector<Camera::Point> pts;
    for (const Vec3& p : wedge.points) pts.push_back(cam.project(p));
    shapes.push_back({pts[17].depth + size, "<polygon class=\"limit-" + wedge.kind +
                                                "\" points=\"" + points_attr(pts) + "\"/>"});
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
  for (const Chain& c : chains) {
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
      ".end-to-goal{stroke:#d62f2f;stroke-dasharray:5 3}\n"
      ".limit-heading,.limit-pitch{fill:#8a63c7;fill-opacity:.16;stroke:#8a63c7}\n"
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
  if (!wedges.empty()) legend.push_back({"#8a63c7", "root heading / pitch limits"});
  if (svg.find("class=\"end-to-goal\"") != std::string::npos)
    legend.push_back({"#d62f2f", "chain end to goal (dashed)"});
  for (std::size_t k = 0; k < legend.size(); ++k) {
    const double y = height - 10.0 - 15.0 * (legend.size() - 1 - k);
    svg += "<rect x=\"8\" y=\"" + num(y - 9) + "\" width=\"12\" height=\"9\" fill=\"" +
           legend[k].first + "\"/><text class=\"legend\" x=\"26\" y=\"" + num(y) + "\">" +
           legend[k].second + "</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace runner
