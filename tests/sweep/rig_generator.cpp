#include "tests/sweep/rig_generator.h"

#include <cmath>
#include <cstdio>

#include "pmath/pmath.h"  // the same rigs drawn in every build

namespace sweep {

using stage::pi;

namespace {

Vec3 add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 scaled(const Vec3& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double norm(const Vec3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

Vec3 box(Source& s, double r) { return {s.uniform(-r, r), s.uniform(-r, r), s.uniform(-r, r)}; }

// A uniformly distributed unit vector.
Vec3 direction(Source& s) {
  const double z = s.uniform(-1, 1), a = s.uniform(0, 2 * pi);
  const double r = std::sqrt(std::max(0.0, 1 - z * z));
  return {r * pmath::cos(a), r * pmath::sin(a), z};
}

// An angle with the values that classify joints differently drawn often: exact zeros, half
// turns, components right at the threshold below which the solver treats them as zero.
double draw_angle(Source& s) {
  switch (s.below(10)) {
    case 0:
    case 1:
    case 2:
      return 0;
    case 3:
      return s.chance(0.5) ? pi : -pi;
    case 4:
      return (s.chance(0.5) ? 1 : -1) * 1e-4 * (1 + s.uniform(-0.01, 0.01));
    case 5:
      return s.uniform(-0.3, 0.3);
    default:
      return s.uniform(-pi, pi);
  }
}

Vec3 draw_rest_rotation(Source& s) {
  Vec3 r{};
  switch (s.below(6)) {
    case 0:  // straight joint
      break;
    case 1:
    case 2:  // one channel
      r[s.below(3)] = s.chance(0.8) ? s.uniform(-pi, pi) : draw_angle(s);
      break;
    case 3:  // turned round: heading of a half turn with a pitch
      r[0] = (s.chance(0.5) ? 1 : -1) * (pi + s.uniform(-4e-4, 4e-4) * s.below(2));
      r[1] = draw_angle(s);
      break;
    default:
      r = {draw_angle(s), draw_angle(s), draw_angle(s)};
  }
  return r;
}

Vec3 draw_scaling(Source& s) {
  switch (s.below(20)) {
    case 0:
      return {0, 0, 0};
    case 1: {
      Vec3 v{1, 1, 1};
      v[s.below(3)] = 0;
      return v;
    }
    case 2:
    case 3: {
      Vec3 v{s.uniform(0.3, 2), s.uniform(0.3, 2), s.uniform(0.3, 2)};
      v[s.below(3)] *= -1;
      return v;
    }
    case 4:
    case 5:
      return {s.uniform(0.2, 3), s.uniform(0.2, 3), s.uniform(0.2, 3)};
    case 6:
    case 7: {
      const double k = s.uniform(0.2, 3);
      return {k, k, k};
    }
    default:
      return {1, 1, 1};
  }
}

stage::Limits draw_limits(Source& s) {
  stage::Limits l;
  if (s.chance(0.5)) return l;
  l.flags = 1u + static_cast<unsigned>(s.below(7));
  for (int i = 0; i < 3; ++i) {
    double lo = s.chance(0.2) ? 0 : s.uniform(-pi, pi);
    double hi = s.chance(0.2) ? 0 : s.uniform(-pi, pi);
    if ((lo > hi) != s.chance(0.15)) std::swap(lo, hi);  // some with the lower above the upper
    l.lower[i] = lo;
    l.upper[i] = hi;
  }
  return l;
}

// A sound root limit for the limited-root class; returns whether limit markers are wanted.
bool draw_root_limit(Source& s, stage::Limits& l) {
  l = stage::Limits{};
  switch (s.below(5)) {
    case 0:  // heading only
      l.flags = 1;
      l.lower[0] = s.uniform(-pi * 0.9, pi * 0.3);
      l.upper[0] = l.lower[0] + s.uniform(0.05, pi * 0.95);
      return false;
    case 1:  // pitch only
      l.flags = 2;
      l.lower[1] = s.uniform(-pi * 0.45, pi * 0.2);
      l.upper[1] = std::min(pi * 0.49, l.lower[1] + s.uniform(0.05, pi * 0.9));
      return false;
    case 2:  // both, around the rest direction
      l.flags = 3;
      l.lower[0] = -s.uniform(0.05, pi * 0.9);
      l.upper[0] = s.uniform(0.05, pi * 0.9);
      l.lower[1] = -s.uniform(0.05, pi * 0.45);
      l.upper[1] = s.uniform(0.05, pi * 0.45);
      return false;
    case 3:  // both, off to one side
      l.flags = 3;
      l.lower[0] = s.uniform(0.05, pi * 0.4);
      l.upper[0] = l.lower[0] + s.uniform(0.05, pi * 0.4);
      l.lower[1] = s.uniform(-pi * 0.4, pi * 0.2);
      l.upper[1] = l.lower[1] + s.uniform(0.05, pi * 0.2);
      if (s.chance(0.5)) {
        std::swap(l.lower[0], l.upper[0]);
        l.lower[0] = -l.lower[0];
        l.upper[0] = -l.upper[0];
      }
      return false;
    default:
      if (s.chance(0.3)) l.flags = static_cast<unsigned>(1 + s.below(3));
      return true;
  }
}

// Limit markers around a centre direction, named as the user would mark them.
void add_markers(Rig& rig, Source& s, bool special_values) {
  const int count = 1 + s.below(6);
  const double centre_h = s.chance(0.5) ? 0 : s.uniform(-1, 1);
  const double centre_p = s.chance(0.5) ? 0 : s.uniform(-1, 1);
  const double spread = s.uniform(0.05, 1.5);
  static const char* const names[] = {"for-ik-limit", "L.for-ik-limit.1", "for-ik-limit-knee",
                                      "x_for-ik-limit"};
  for (int i = 0; i < count; ++i) {
    Rig_item m;
    m.name = names[s.below(4)];
    const double a = s.uniform(0, 2 * pi), r = spread * s.uniform(0.2, 1);
    m.rotation = {centre_h + r * pmath::cos(a), centre_p + r * pmath::sin(a), s.uniform(-pi, pi)};
    if (special_values) {
      switch (s.below(12)) {
        case 0:  // on the limit frame's axis
          m.rotation = {0, 0, 0};
          break;
        case 1:  // a polar angle just below zero
          m.rotation = {s.uniform(0.1, 1.5), 1e-17, 0};
          break;
        case 2:  // straight up or down
          m.rotation = {s.uniform(-pi, pi), (s.chance(0.5) ? 1 : -1) * pi / 2, 0};
          break;
        default:
          break;
      }
    }
    rig.items.push_back(m);
  }
  if (s.chance(0.25)) {
    Rig_item origin;
    origin.name = s.chance(0.5) ? "ik-limit-org" : "root.ik-limit-org";
    origin.rotation = {s.uniform(-0.8, 0.8), s.uniform(-0.8, 0.8), s.uniform(-pi, pi)};
    if (special_values && s.chance(0.1)) origin.rotation = {0, 0, 0};
    rig.items.push_back(origin);
  }
  if (s.chance(0.1)) {  // too short a name to count
    Rig_item decoy;
    decoy.name = "for-ik-lim";
    decoy.rotation = box(s, pi);
    rig.items.push_back(decoy);
  }
}

int add_item(Rig& rig, const std::string& name, int parent, const Vec3& position,
             const Vec3& rotation = {}) {
  Rig_item item;
  item.name = name;
  item.parent = parent;
  item.position = position;
  item.rotation = rotation;
  rig.items.push_back(item);
  return static_cast<int>(rig.items.size()) - 1;
}

double weight_position(Source& s) {
  static const double values[] = {-1, 0, 0.25, 0.5, 0.999, 1, 2};
  return s.chance(0.2) ? s.uniform(-0.5, 1.5) : values[s.below(7)];
}

float draw_posture_weight(Source& s) {
  static const float values[] = {0, -1, -1000, 1, 0.5f, 1000, 1e6f};
  return s.chance(0.3) ? static_cast<float>(s.uniform(0, 4)) : values[s.below(7)];
}

// Bones with arbitrary geometry: random offsets, rest poses, pivots, scales and limits.
void add_general_bones(Rig& rig, Source& s, int n, bool branching) {
  for (int k = 0; k < n; ++k) {
    Rig_bone b;
    b.parent = k == 0 ? -1 : (branching && k >= 2 && s.chance(0.4) ? s.below(k) : k - 1);
    const double parent_length = k == 0 ? 0 : rig.bones[b.parent].rest_length;
    if (k == 0)
      b.position = s.chance(0.3) ? Vec3{} : box(s, 2);
    else if (s.chance(0.6))
      b.position = {0, 0, parent_length};
    else
      b.position = s.chance(0.2) ? Vec3{} : box(s, 1.5);
    b.rest_rotation = draw_rest_rotation(s);
    b.rotation = s.chance(0.7) ? b.rest_rotation : box(s, pi);
    b.scaling = draw_scaling(s);
    if (s.chance(0.25)) b.pivot = box(s, 0.5);
    if (s.chance(0.25)) b.pivot_rotation = {draw_angle(s), draw_angle(s), draw_angle(s)};
    switch (s.below(8)) {
      case 0:
        b.rest_length = 0;
        break;
      case 1:
        b.rest_length = 1e-6;
        break;
      default:
        b.rest_length = s.uniform(0.05, 2);
    }
    b.limits = draw_limits(s);
    b.in_chain = k == 0 || s.chance(0.93);
    // A root scaled to nothing puts the whole chain on its pivot: nothing then fixes its rotation.
    // A root limit whose lower bound is above its upper one can be met by neither bound, and
    // which one the root is clamped to last is up to rounding.
    if (k == 0 && b.scaling == Vec3{0, 0, 0}) rig.rounding_sensitive = true;
    for (int c = 0; c < 3; ++c)
      if (k == 0 && (b.limits.flags & (1u << c)) && b.limits.lower[c] > b.limits.upper[c])
        rig.rounding_sensitive = true;
    rig.bones.push_back(b);
  }
}

// A rough reach used to place goals: every link at its full length.
double rough_reach(const Rig& rig) {
  double total = 0;
  for (std::size_t k = 1; k < rig.bones.size(); ++k) total += norm(rig.bones[k].position);
  return total + rig.bones.back().rest_length;
}

// Goal, option items and options for the general and limited-root classes.
void add_goal_and_options(Rig& rig, Source& s, bool allow_weight) {
  const Vec3 root = rig.bones[0].position;
  const double reach = std::max(rough_reach(rig), 1e-3);
  Vec3 goal{};
  switch (s.below(7)) {
    case 0:  // at the root's pivot
      goal = root;
      rig.rounding_sensitive = true;
      break;
    case 1:  // right beside it
      goal = add(root, scaled(direction(s), 1e-6));
      break;
    case 2:
    case 3:  // inside reach
      goal = add(root, scaled(direction(s), reach * s.uniform(0.01, 1)));
      break;
    case 4:  // at full reach
      goal = add(root, scaled(direction(s), reach));
      break;
    case 5:  // beyond
      goal = add(root, scaled(direction(s), reach * s.uniform(1, 3)));
      break;
    default:
      goal = box(s, 5);
  }
  rig.goal = add_item(rig, "goal", -1, goal);

  const int last = static_cast<int>(rig.bones.size()) - 1;
  if (s.chance(0.3)) rig.twist = add_item(rig, "twist", -1, {}, {0, 0, s.uniform(-pi, pi)});
  if (s.chance(0.35)) {
    Vec3 target = box(s, 4);
    if (s.chance(0.1)) {  // on the line from the root through the goal
      target = add(root, scaled(sub(goal, root), s.uniform(-2, 2)));
      rig.rounding_sensitive = true;
    }
    rig.twist_target = add_item(rig, "twist target", -1, target);
  }
  if (s.chance(0.2))
    rig.twist_effect = add_item(rig, "twist effect", -1, {weight_position(s), 0, 0});
  if (allow_weight && s.chance(0.15))
    rig.plugin_effect = add_item(rig, "effect", -1, {weight_position(s), 0, 0});
  if (s.chance(0.2)) rig.goal_position = add_item(rig, "tip", last, box(s, 1));
  rig.mix_with_fk = s.below(2);
  rig.excess_stretch = s.below(2);
  rig.posture_weight = draw_posture_weight(s);
}

// The world transform of bone k with the given rotation channels, up to (not through) the
// carrier: in the carrier's frame.
stage::Mat4 bone_in_carrier(const Rig& rig, int k, const std::vector<Vec3>& rotations) {
  stage::Mat4 m = stage::identity4();
  for (int j = k; j >= 0; j = rig.bones[j].parent) {
    const Rig_bone& b = rig.bones[j];
    const Vec3 parent_pivot = b.parent >= 0 ? rig.bones[b.parent].pivot : Vec3{};
    m = m * bone_local(b, rotations[j], parent_pivot);
  }
  return m;
}

Rig generate_reachable(Source& s) {
  Rig rig;
  rig.kind = Rig_class::reachable;
  const int n = 1 + s.below(8);
  const int channel = s.chance(0.7) ? 1 : 0;  // one bending plane: pitch or heading
  const double sign = s.chance(0.5) ? 1 : -1;
  const double total_bend = s.uniform(0.1, 0.9 * pi);
  std::vector<double> share(n, 0);
  double share_sum = 0;
  for (int k = 1; k < n; ++k) {
    share[k] = s.chance(0.15) ? 0 : s.uniform(0.2, 1);
    share_sum += share[k];
  }
  for (int k = 0; k < n; ++k) {
    Rig_bone b;
    b.parent = k - 1;
    b.rest_length = s.uniform(0.2, 2);
    if (k == 0) {
      b.position = box(s, 2);
      b.rotation = box(s, pi);
      if (s.chance(0.3)) b.pivot_rotation = box(s, pi);
    } else {
      b.position = {0, 0, rig.bones[k - 1].rest_length};
      if (share_sum > 0) b.rest_rotation[channel] = sign * total_bend * share[k] / share_sum;
      b.rotation = b.rest_rotation;
    }
    rig.bones.push_back(b);
  }

  // Pose the chain at a bend fraction in [0, 1] and a random root rotation; its tip is the goal.
  const double s_pose = s.chance(0.1) ? (s.chance(0.5) ? 0.0 : 1.0) : s.unit();
  std::vector<Vec3> posed(n);
  posed[0] = box(s, pi);
  for (int k = 1; k < n; ++k) posed[k] = scaled(rig.bones[k].rest_rotation, s_pose);
  const stage::Mat4 last = bone_in_carrier(rig, n - 1, posed);
  const Vec3 tip = stage::transform_point({0, 0, rig.bones[n - 1].rest_length}, last);
  rig.goal = add_item(rig, "goal", -1, tip);
  if (s.chance(0.3)) rig.twist_target = add_item(rig, "twist target", -1, box(s, 4));
  rig.excess_stretch = s.below(2);
  return rig;
}

Rig generate_limited_root(Source& s) {
  Rig rig;
  rig.kind = Rig_class::limited_root;
  add_general_bones(rig, s, 1 + s.below(8), false);
  const bool markers = draw_root_limit(s, rig.bones[0].limits);
  add_goal_and_options(rig, s, false);
  if (markers) {
    rig.arbitrary_limit = 1;
    add_markers(rig, s, true);
  }
  return rig;
}

Rig generate_general(Source& s) {
  Rig rig;
  rig.kind = Rig_class::general;
  add_general_bones(rig, s, 1 + s.below(8), true);
  add_goal_and_options(rig, s, true);
  rig.arbitrary_limit = s.chance(0.4) ? 1 : 0;
  if (rig.arbitrary_limit || s.chance(0.1)) add_markers(rig, s, true);
  return rig;
}

std::string format_float(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
  return buf;
}

}  // namespace

uint32_t Byte_source::next() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    v <<= 8;
    if (pos_ < size_) v |= data_[pos_++];
  }
  return v;
}

const char* rig_class_name(Rig_class kind) {
  switch (kind) {
    case Rig_class::reachable:
      return "reachable";
    case Rig_class::limited_root:
      return "limited root";
    default:
      return "general";
  }
}

double Rig::chain_length() const {
  double total = 0;
  for (std::size_t k = 1; k < bones.size(); ++k) total += norm(bones[k].position);
  return bones.empty() ? 0 : total + bones.back().rest_length;
}

Rig generate_rig(Source& source, Rig_class kind) {
  switch (kind) {
    case Rig_class::reachable:
      return generate_reachable(source);
    case Rig_class::limited_root:
      return generate_limited_root(source);
    default:
      return generate_general(source);
  }
}

Rig carried(const Rig& rig, Source& source) {
  Rig out = rig;
  out.carrier_rotation = box(source, pi);
  out.carrier_position = box(source, 10);
  out.carrier_scale = source.chance(0.5) ? source.uniform(0.1, 1) : source.uniform(1, 10);
  return out;
}

stage::Mat4 bone_local(const Rig_bone& bone, const Vec3& rotation, const Vec3& parent_pivot) {
  return stage::local_matrix(bone.scaling, rotation, bone.position, bone.pivot_rotation,
                             parent_pivot);
}

stage::Scene_record rig_scene(const Rig& rig) {
  using stage::ch_pivot;
  using stage::ch_pivot_rotation;
  using stage::ch_position;
  using stage::ch_rotation;
  using stage::ch_scaling;
  stage::Scene_record scene;
  const auto id_or_none = [](int index) { return index < 0 ? 0u : item_id(index); };

  stage::Item_record carrier = stage::item_record(carrier_id, stage::Item_type::object, "carrier");
  carrier.channels[ch_position].value = rig.carrier_position;
  carrier.channels[ch_rotation].value = rig.carrier_rotation;
  carrier.channels[ch_scaling].value = {rig.carrier_scale, rig.carrier_scale, rig.carrier_scale};
  scene.items.push_back(carrier);

  for (std::size_t k = 0; k < rig.bones.size(); ++k) {
    const Rig_bone& b = rig.bones[k];
    stage::Item_record r = stage::item_record(bone_id(static_cast<int>(k)), stage::Item_type::bone,
                                              "bone " + std::to_string(k));
    r.owner = carrier_id;
    r.parent = b.parent < 0 ? carrier_id : bone_id(b.parent);
    r.goal = id_or_none(rig.goal);
    r.channels[ch_position].value = b.position;
    r.channels[ch_rotation].value = b.rotation;
    r.channels[ch_scaling].value = b.scaling;
    r.channels[ch_pivot].value = b.pivot;
    r.channels[ch_pivot_rotation].value = b.pivot_rotation;
    r.rest_position = b.position;
    r.rest_rotation = b.rest_rotation;
    r.rest_length = b.rest_length;
    r.limits = b.limits;
    if (k == 0) {
      stage::Handler_record h;
      h.server = "Tarsel_Top";
      h.has_data = true;
      h.data = {"Twist " + std::to_string(id_or_none(rig.twist)),
                "TwistTarget " + std::to_string(id_or_none(rig.twist_target)),
                "TwistEffect " + std::to_string(id_or_none(rig.twist_effect)),
                "GoalPosition " + std::to_string(id_or_none(rig.goal_position)),
                "PluginEffect " + std::to_string(id_or_none(rig.plugin_effect)),
                "MixWithFk " + std::to_string(rig.mix_with_fk),
                "ExcessStretch " + std::to_string(rig.excess_stretch),
                "PostureWeight " + format_float(rig.posture_weight),
                "ArbitraryLimit " + std::to_string(rig.arbitrary_limit),
                "EndEnd"};
      r.handlers.push_back(h);
    } else if (b.in_chain) {
      stage::Handler_record h;
      h.server = "Tarsel";
      r.handlers.push_back(h);
    }
    scene.items.push_back(r);
  }

  for (std::size_t i = 0; i < rig.items.size(); ++i) {
    const Rig_item& it = rig.items[i];
    stage::Item_record r =
        stage::item_record(item_id(static_cast<int>(i)), stage::Item_type::object, it.name);
    r.parent = it.parent < 0 ? carrier_id : bone_id(it.parent);
    r.channels[ch_position].value = it.position;
    r.channels[ch_rotation].value = it.rotation;
    scene.items.push_back(r);
  }
  return scene;
}

}  // namespace sweep
