#include "tests/sweep/bench_scenes.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace bench_scenes {
namespace {

constexpr double pi = 3.14159265358979323846;
double deg(double d) { return d * pi / 180; }

stage::Item_record object(uint32_t id, const std::string& name) {
  return stage::item_record(id, stage::Item_type::object, name);
}

stage::Item_record* find(stage::Scene_record& scene, uint32_t id) {
  for (stage::Item_record& r : scene.items)
    if (r.id == id) return &r;
  return nullptr;
}

// Keys holding `from` until t0 and `to` from t1 on, moving linearly between.
void key_move(stage::Channel& c, double t0, double t1, const stage::Vec3& from,
              const stage::Vec3& to) {
  c.keys.push_back({t0, from});
  c.keys.push_back({t1, to});
}

}  // namespace

void add_chain(stage::Scene_record& scene, uint32_t base, const Chain_options& o, double x) {
  const std::string tag = std::to_string(base);
  stage::Item_record parent = object(base, "rig" + tag);
  parent.channels[stage::ch_position].value = {x, 1, 0};
  scene.items.push_back(parent);
  stage::Item_record goal = object(base + 1, "goal" + tag);
  // Up and to the side: inside reach, and well outside the cone about +Z.
  goal.channels[stage::ch_position].value = {x + 0.55, 1.6, 0.25};
  scene.items.push_back(goal);
  std::vector<std::string> options;
  if (o.twist_target) {
    stage::Item_record target = object(base + 2, "target" + tag);
    target.channels[stage::ch_position].value = {x, 0.5, -0.5};
    scene.items.push_back(target);
    options.push_back("TwistTarget " + std::to_string(base + 2));
  }
  if (o.cone_limit) {
    options.push_back("ArbitraryLimit 1");
    stage::Item_record org = object(base + 3, "cone" + tag + "-ik-limit-org");
    org.parent = base;
    scene.items.push_back(org);
    for (int i = 0; i < 6; ++i) {
      const double phi = 2 * pi * i / 6, half = deg(25);
      const double dx = std::sin(half) * std::cos(phi), dy = std::sin(half) * std::sin(phi);
      stage::Item_record m =
          object(base + 4 + i, "cone" + tag + "-for-ik-limit-" + std::to_string(i));
      m.parent = base;
      m.channels[stage::ch_rotation].value = {std::atan2(dx, std::cos(half)), -std::asin(dy), 0};
      scene.items.push_back(m);
    }
  }
  options.push_back("EndEnd");
  const double length = 1.0 / o.bones;
  for (int k = 0; k < o.bones; ++k) {
    stage::Item_record b = stage::item_record(base + 20 + k, stage::Item_type::bone,
                                              "bone" + tag + "_" + std::to_string(k));
    b.owner = base;
    b.parent = k == 0 ? 0 : base + 20 + k - 1;
    const stage::Vec3 position{0, 0, k == 0 ? 0 : length};
    const stage::Vec3 rest{0, k == 0 ? 0 : deg(120.0 / std::max(1, o.bones - 1)), 0};
    b.channels[stage::ch_position].value = position;
    b.channels[stage::ch_rotation].value = rest;
    b.rest_position = position;
    b.rest_rotation = rest;
    b.rest_length = length;
    stage::Handler_record h;
    h.server = k == 0 ? "Tarsel_Top" : "Tarsel";
    if (k == 0) {
      h.has_data = true;
      h.data = options;
    }
    b.handlers.push_back(h);
    if (k + 1 == o.bones) b.goal = base + 1;
    scene.items.push_back(b);
  }
}

stage::Scene_record chain_scene(int chains, const Chain_options& o) {
  stage::Scene_record scene;
  for (int c = 0; c < chains; ++c) add_chain(scene, 1000u * (c + 1), o, 3.0 * c);
  return scene;
}

stage::Scene_record hundred_chain_scene() {
  stage::Scene_record scene;
  for (int c = 0; c < 100; ++c) {
    Chain_options o;
    o.cone_limit = c % 2 == 1;
    o.twist_target = c % 4 == 1;
    add_chain(scene, 1000u * (c + 1), o, 3.0 * c);
  }
  return scene;
}

stage::Scene_record animated_scene(int frames, bool moving_inputs) {
  Chain_options o;
  o.cone_limit = moving_inputs;
  stage::Scene_record scene = chain_scene(1, o);
  scene.fps = 30;
  scene.frame_start = 0;
  scene.frame_end = frames - 1;
  const uint32_t base = 1000;
  // The goal circles the chain's axis every 90 frames, its height swinging every 250.
  stage::Channel& goal = find(scene, base + 1)->channels[stage::ch_position];
  for (int f = 0; f < frames; f += 5) {
    const double a = 2 * pi * f / 90.0, h = 2 * pi * f / 250.0;
    goal.keys.push_back(
        {f / scene.fps, {0.45 * std::cos(a), 1.55 + 0.2 * std::sin(h), 0.45 * std::sin(a)}});
  }
  if (!moving_inputs) return scene;

  stage::Item_record& root = *find(scene, base + 20);
  for (std::string& line : root.handlers[0].data)
    if (line == "EndEnd") line = "MixWithFk 1";
  root.handlers[0].data.push_back("EndEnd");
  const double span = frames / 6.0 / scene.fps;  // seconds per stretch
  const auto stretch = [&](int i) { return i * span; };
  key_move(find(scene, base + 22)->channels[stage::ch_scaling], stretch(1), stretch(1) + span / 2,
           {1, 1, 1}, {1.2, 0.9, 1.3});
  key_move(find(scene, base + 23)->channels[stage::ch_pivot], stretch(2), stretch(2) + span / 2,
           {0, 0, 0}, {0.01, -0.02, 0.03});
  key_move(find(scene, base + 21)->channels[stage::ch_pivot_rotation], stretch(3),
           stretch(3) + span / 2, {0, 0, 0}, {deg(5), 0, deg(3)});
  key_move(find(scene, base + 24)->channels[stage::ch_rotation], stretch(4), stretch(4) + span / 2,
           {0, deg(30), 0}, {deg(10), deg(30), deg(4)});
  stage::Item_record& marker = *find(scene, base + 5);
  const stage::Vec3 r = marker.channels[stage::ch_rotation].value;
  key_move(marker.channels[stage::ch_rotation], stretch(5), stretch(5) + span / 2, r,
           {r[0] + deg(8), r[1] - deg(5), r[2]});
  return scene;
}

}  // namespace bench_scenes
