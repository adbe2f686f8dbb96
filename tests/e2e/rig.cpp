#include "tests/e2e/rig.h"

#include <algorithm>

#include "stage/scene_file.h"

namespace e2e {

M4 identity() { return M4{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}; }

M4 operator*(const M4& a, const M4& b) {
  M4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

namespace {

// Row-vector rotations: a positive heading turns +Z towards +X, a positive pitch turns +Z towards
// -Y, a positive bank turns +X towards +Y.
M4 about_y(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return M4{{{c, 0, -s, 0}, {0, 1, 0, 0}, {s, 0, c, 0}, {0, 0, 0, 1}}};
}
M4 about_x(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return M4{{{1, 0, 0, 0}, {0, c, s, 0}, {0, -s, c, 0}, {0, 0, 0, 1}}};
}
M4 about_z(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return M4{{{c, s, 0, 0}, {-s, c, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

V3 triple(const stage::Vec3& v) { return {v[0], v[1], v[2]}; }
stage::Vec3 vec(const V3& v) { return {v[0], v[1], v[2]}; }

}  // namespace

M4 rotation_hpb(const V3& hpb) { return about_z(hpb[2]) * about_x(hpb[1]) * about_y(hpb[0]); }

M4 local_transform(const V3& scale, const V3& rotation, const V3& position,
                   const V3& pivot_rotation, const V3& parent_pivot) {
  M4 s = identity();
  for (int i = 0; i < 3; ++i) s.m[i][i] = scale[i];
  M4 m = s * rotation_hpb(rotation) * rotation_hpb(pivot_rotation);
  for (int j = 0; j < 3; ++j) m.m[3][j] = position[j] - parent_pivot[j];
  return m;
}

V3 transform(const V3& p, const M4& m) {
  V3 r{};
  for (int j = 0; j < 3; ++j)
    r[j] = p[0] * m.m[0][j] + p[1] * m.m[1][j] + p[2] * m.m[2][j] + m.m[3][j];
  return r;
}

V3 row(const M4& m, int r) { return {m.m[r][0], m.m[r][1], m.m[r][2]}; }

M4 rotation_axis(const V3& axis, double angle) {
  // Rodrigues, written for row vectors: v * M = v cos + (axis x v) sin + axis (axis . v)(1 - cos).
  const V3 a = unit(axis);
  const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  M4 m = identity();
  for (int i = 0; i < 3; ++i) {
    V3 e{};
    e[i] = 1;
    const V3 axe = cross(a, e);
    for (int j = 0; j < 3; ++j) m.m[i][j] = e[j] * c + axe[j] * s + a[j] * a[i] * t;
  }
  return m;
}

V3 operator+(const V3& a, const V3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
V3 operator-(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
V3 operator*(const V3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V3 cross(const V3& a, const V3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const V3& a) { return std::sqrt(dot(a, a)); }
V3 unit(const V3& a) {
  const double n = norm(a);
  return n > 0 ? a * (1 / n) : a;
}
double angle_between(const V3& a, const V3& b) {
  const double na = norm(a), nb = norm(b);
  if (na == 0 || nb == 0) return 0;
  return std::atan2(norm(cross(a, b)), dot(a, b));
}

double rotation_angle(const M4& a, const M4& b) {
  // trace(a * b^T) = 1 + 2 cos(angle)
  double trace = 0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += a.m[i][k] * b.m[i][k];
  return std::acos(std::max(-1.0, std::min(1.0, (trace - 1) / 2)));
}

V3 random_direction(std::mt19937& rng) {
  std::normal_distribution<double> n(0, 1);
  for (;;) {
    const V3 v{n(rng), n(rng), n(rng)};
    if (norm(v) > 1e-6) return unit(v);
  }
}

Rig::Rig(const Rig_plan& plan) : plan_(plan) {
  host.load_module(TARSEL_MODULE_PATH);
  stage::Scene_record record;
  const auto object = [](uint32_t id, const std::string& name) {
    return stage::item_record(id, stage::Item_type::object, name);
  };
  stage::Item_record parent_record = object(1, "rig");
  parent_record.channels[stage::ch_position].value = vec(plan.parent_position);
  parent_record.channels[stage::ch_rotation].value = vec(plan.parent_rotation);
  parent_record.channels[stage::ch_scaling].value = vec(plan.parent_scale);
  record.items.push_back(parent_record);
  record.items.push_back(object(2, "goal"));
  std::vector<std::string> options = plan.options;
  if (plan.twist_target) {
    record.items.push_back(object(3, "twist_target"));
    options.push_back("TwistTarget 3");
  }
  if (plan.plugin_effect) {
    record.items.push_back(object(4, "effect"));
    options.push_back("PluginEffect 4");
  }
  options.push_back("EndEnd");
  for (std::size_t i = 0; i < plan.siblings.size(); ++i) {
    stage::Item_record r = object(static_cast<uint32_t>(100 + i), plan.siblings[i].first);
    r.parent = 1;
    r.channels[stage::ch_rotation].value = vec(plan.siblings[i].second);
    record.items.push_back(r);
  }
  const std::size_t n = plan.lengths.size();
  for (std::size_t k = 0; k < n; ++k) {
    stage::Item_record r = stage::item_record(static_cast<uint32_t>(10 + k), stage::Item_type::bone,
                                              "bone_" + std::to_string(k));
    r.owner = 1;
    r.parent = k == 0 ? 0 : static_cast<uint32_t>(10 + k - 1);
    const V3 position = k == 0 ? V3{} : V3{0, 0, plan.lengths[k - 1]};
    r.channels[stage::ch_position].value = vec(position);
    r.rest_position = vec(position);
    r.rest_rotation = vec(plan.rest_rotations[k]);
    r.channels[stage::ch_rotation].value =
        vec(k == 0 ? plan.root_rotation : plan.rest_rotations[k]);
    r.rest_length = plan.lengths[k];
    stage::Handler_record h;
    if (k == 0) {
      r.limits = plan.root_limits;
      h.server = "Tarsel_Top";
      h.has_data = true;
      h.data = options;
    } else {
      h.server = "Tarsel";
    }
    r.handlers.push_back(h);
    if (k + 1 == n && plan.has_goal) r.goal = 2;
    record.items.push_back(r);
  }
  host.load_scene_record(record, "rig");
  const stage::Scene& scene = host.scene();
  parent = scene.find_by_name("rig");
  goal = scene.find_by_name("goal");
  twist_target = scene.find_by_name("twist_target");
  effect = scene.find_by_name("effect");
  for (std::size_t k = 0; k < n; ++k)
    bones.push_back(scene.find_by_name("bone_" + std::to_string(k)));
}

void Rig::set_position(LWItemID item, const V3& p) {
  stage::Channel& c = host.scene().at(item).channels[stage::ch_position];
  c.keys.clear();
  c.value = vec(p);
}

M4 Rig::world(LWItemID item) const {
  M4 m = identity();
  const stage::Scene& scene = host.scene();
  for (const stage::Item* it = scene.find(item); it != nullptr; it = scene.find(it->parent)) {
    const auto ch = [&](LWItemID id, LWItemParam p) { return triple(host.param(id, p, 0.0)); };
    const V3 parent_pivot = it->parent != LWITEM_NULL ? ch(it->parent, LWIP_PIVOT) : V3{};
    m = m * local_transform(ch(it->id, LWIP_SCALING), ch(it->id, LWIP_ROTATION),
                            ch(it->id, LWIP_POSITION), ch(it->id, LWIP_PIVOT_ROT), parent_pivot);
  }
  return m;
}

V3 Rig::chain_end() const {
  const LWItemID last = bones.back();
  const V3 pivot = triple(host.param(last, LWIP_PIVOT, 0.0));
  return transform(V3{0, 0, plan_.lengths.back()} - pivot, world(last));
}

double Rig::world_length() const {
  double sum = 0;
  for (double l : plan_.lengths) sum += l;
  return sum * plan_.parent_scale[0];  // rigs are scaled uniformly
}

V3 Rig::root_z_in_parent() const {
  return row(rotation_hpb(triple(host.param(bones[0], LWIP_ROTATION, 0.0))), 2);
}

V3 Rig::posed_end(const std::vector<double>& fractions) const {
  M4 w = local_transform(plan_.parent_scale, plan_.parent_rotation, plan_.parent_position, {}, {});
  const V3 one{1, 1, 1};
  w = local_transform(one, {}, {}, {}, {}) * w;
  for (std::size_t k = 1; k < plan_.lengths.size(); ++k) {
    const V3 r = plan_.rest_rotations[k] * fractions[k];
    w = local_transform(one, r, {0, 0, plan_.lengths[k - 1]}, {}, {}) * w;
  }
  return transform({0, 0, plan_.lengths.back()}, w);
}

bool Rig::finite_pose() const {
  for (LWItemID b : bones) {
    for (LWItemParam p : {LWIP_ROTATION, LWIP_POSITION}) {
      const stage::Vec3 v = host.param(b, p, 0.0);
      if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) return false;
    }
  }
  const V3 e = chain_end();
  return std::isfinite(e[0]) && std::isfinite(e[1]) && std::isfinite(e[2]);
}

}  // namespace e2e
