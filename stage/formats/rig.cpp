#include "stage/formats/rig.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "stage/error.h"
#include "stage/formats/frame_math.h"
#include "stage/formats/record_world.h"

namespace formats {

namespace {

using stage::Error;
using stage::Item_record;
using stage::Scene_record;

constexpr std::size_t npos = Record_world::npos;

std::size_t find_bone(const Scene_record& scene, const std::string& name, const std::string& file,
                      const std::string& what) {
  for (std::size_t i = 0; i < scene.items.size(); ++i)
    if (scene.items[i].type == stage::Item_type::bone && scene.items[i].name == name) return i;
  throw Error(file + ": " + what + ": no joint named \"" + name + "\"");
}

uint32_t next_id(const Scene_record& scene) {
  uint32_t id = 0;
  for (const Item_record& r : scene.items) id = std::max(id, r.id);
  return id + 1;
}

// A rotation turned to `deg` degrees about its own axis (about X when it does not turn).
Vec3 with_angle(const Vec3& hpb, double deg) {
  std::array<double, 4> q = quaternion_of(transpose(stage::hpb_matrix(hpb)));
  Vec3 axis{q[0], q[1], q[2]};
  const double s = norm(axis);
  axis = s > 1e-12 ? scaled(axis, (q[3] < 0 ? -1 : 1) / s) : Vec3{1, 0, 0};
  const double half = stage::deg_to_rad(deg) / 2;
  q = {axis[0] * std::sin(half), axis[1] * std::sin(half), axis[2] * std::sin(half),
       std::cos(half)};
  return hpb_from_matrix(transpose(column_matrix_of(q)));
}

std::vector<std::string> root_data(uint32_t twist_target, uint32_t goal_position) {
  return {"Twist 0",          "TwistTarget " + std::to_string(twist_target),
          "TwistEffect 0",    "GoalPosition " + std::to_string(goal_position),
          "PluginEffect 0",   "MixWithFk 0",
          "ExcessStretch 1",  "PostureWeight 1",
          "ArbitraryLimit 0", "EndEnd"};
}

class Rigger {
 public:
  Rigger(Scene_record& scene, const std::string& file) : scene_(scene), file_(file) {}

  void add_chain(const Chain_request& c) {
    const std::string what = "--chain " + c.root + ":" + c.end;
    const std::size_t root = find_bone(scene_, c.root, file_, what);
    const std::size_t end = find_bone(scene_, c.end, file_, what);
    Record_world world(scene_);
    // The turning bones: END's parent up to ROOT, then put root first.
    std::vector<std::size_t> chain;
    for (std::size_t i = world.parent(end); i != npos && chain.size() <= scene_.items.size();
         i = world.parent(i)) {
      chain.push_back(i);
      if (i == root) break;
    }
    if (chain.empty() || chain.back() != root)
      throw Error(file_ + ": " + what + ": \"" + c.end + "\" is not a joint below \"" + c.root +
                  "\"");
    std::reverse(chain.begin(), chain.end());
    for (const std::size_t i : chain)
      if (!scene_.items[i].handlers.empty())
        throw Error(file_ + ": " + what + ": \"" + scene_.items[i].name +
                    "\" already carries a motion handler (is it in another chain?)");

    // Where the clip has the joints, frame by frame.
    const int first = scene_.frame_start, last = scene_.frame_end;
    const std::size_t mid = chain[chain.size() / 2];
    std::vector<Vec3> end_at, root_at, mid_at;
    int most_bent = first;
    double closest = 0;
    for (long long f = first; f <= last; ++f) {
      const std::vector<Mat4>& w = world.at(f / scene_.fps);
      end_at.push_back(stage::translation(w[end]));
      root_at.push_back(stage::translation(w[root]));
      mid_at.push_back(stage::translation(w[mid]));
      const double d = norm(sub(end_at.back(), root_at.back()));
      if (f == first || d < closest) {
        closest = d;
        most_bent = static_cast<int>(f);
      }
    }
    double length = 0;
    for (std::size_t k = 1; k < chain.size(); ++k)
      length += norm(scene_.items[chain[k]].rest_position);
    length += norm(scene_.items[end].rest_position);

    if (chain.size() >= 2) turn_chain_to_plane(world, chain, end, most_bent);

    // Rest bends: the bending joints' rotations on the most bent frame.
    for (std::size_t k = 1; k < chain.size(); ++k) {
      Item_record& r = scene_.items[chain[k]];
      const Vec3 bent =
          stage::channel_value(r.channels[stage::ch_rotation], most_bent / scene_.fps);
      r.rest_rotation = c.has_bend ? with_angle(bent, c.bend_deg) : bent;
    }

    // The goal, keyed where the clip has END.
    Item_record goal =
        stage::item_record(next_id(scene_), stage::Item_type::object, c.end + "_goal");
    goal.channels[stage::ch_position] = keyed(end_at);
    const uint32_t goal_id = goal.id;
    scene_.items.push_back(goal);

    uint32_t pole_id = 0;
    if (c.pole == "auto" && chain.size() >= 2) {
      pole_id = add_pole(scene_.items[mid].name + "_pole", root_at, mid_at, end_at, length);
    } else if (c.pole != "auto" && c.pole != "NONE") {
      const auto it = std::find_if(scene_.items.begin(), scene_.items.end(),
                                   [&](const Item_record& r) { return r.name == c.pole; });
      if (it == scene_.items.end())
        throw Error(file_ + ": --pole " + c.pole + ": no item of that name");
      pole_id = it->id;
    }
    // (push_back may have moved the items: index again from here.)
    scene_.items[chain.back()].goal = goal_id;
    scene_.items[root].handlers.push_back(
        {"Tarsel_Top", true, root_data(pole_id, scene_.items[end].id)});
    for (std::size_t k = 1; k < chain.size(); ++k)
      scene_.items[chain[k]].handlers.push_back({"Tarsel", false, {}});
  }

  // A value no file can hold (an offset of 1e308 on a goal at 1e308) is refused here, not
  // written as null into the scene.
  void check_finite(const stage::Channel& c, const std::string& what) const {
    const auto finite = [](const Vec3& v) {
      return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
    };
    bool ok = finite(c.value);
    for (const stage::Key& k : c.keys) ok = ok && finite(k.value);
    if (!ok) throw Error(file_ + ": " + what + ": the goal's position would not be finite");
  }

  void edit(const Goal_edit& e) {
    const std::string what = std::string(e.pin ? "--pin " : "--offset ") + e.end;
    const std::size_t end = find_bone(scene_, e.end, file_, what);
    Record_world world(scene_);
    const std::size_t last = world.parent(end);
    const std::size_t goal = last == npos ? npos : world.index(scene_.items[last].goal);
    if (goal == npos) throw Error(file_ + ": " + what + ": no chain ends at \"" + e.end + "\"");
    stage::Channel& position = scene_.items[goal].channels[stage::ch_position];
    if (e.pin) {
      if (e.first < scene_.frame_start || e.last > scene_.frame_end)
        throw Error(file_ + ": " + what + ":" + std::to_string(e.first) + "-" +
                    std::to_string(e.last) + ": outside the scene's frames " +
                    std::to_string(scene_.frame_start) + "-" + std::to_string(scene_.frame_end));
      const Vec3 held = stage::channel_value(position, e.first / scene_.fps);
      std::vector<stage::Key> keys;
      for (const stage::Key& k : position.keys) {
        const double f = k.time * scene_.fps;
        if (f < e.first - 1e-9 || f > e.last + 1e-9) keys.push_back(k);
      }
      for (long long f = e.first; f <= e.last; ++f) keys.push_back({f / scene_.fps, held});
      std::sort(keys.begin(), keys.end(),
                [](const stage::Key& a, const stage::Key& b) { return a.time < b.time; });
      position.keys = std::move(keys);
      position.value = position.keys.front().value;
    } else {
      position.value = add(position.value, e.offset);
      for (stage::Key& k : position.keys) k.value = add(k.value, e.offset);
      check_finite(position, what);
    }
  }

 private:
  stage::Channel keyed(const std::vector<Vec3>& at) const {
    stage::Channel c;
    for (std::size_t i = 0; i < at.size(); ++i)
      c.keys.push_back({(scene_.frame_start + static_cast<int>(i)) / scene_.fps, at[i]});
    c.value = at.front();
    return c;
  }

  // Turns the chain's bones about their own Z axes, all by one angle (their children turned back,
  // so no joint moves), until the root's X axis is square to the limb's plane on the most bent
  // frame: the solver turns the root's X square to the plane of the goal and the twist target,
  // and a hinge square to that plane (a knee) then bends by pitch alone.
  void turn_chain_to_plane(Record_world& world, const std::vector<std::size_t>& chain,
                           std::size_t end, int frame) {
    const double t = frame / scene_.fps;
    for (const std::size_t i : chain) {
      const Vec3 s = stage::channel_value(scene_.items[i].channels[stage::ch_scaling], t);
      if (s[0] != s[1]) return;  // a turn about Z would not commute with the scaling
    }
    const std::vector<Mat4>& w = world.at(t);
    const Mat4 to_root = inverse(w[chain[0]]);
    const Vec3 k = stage::transform_point(stage::translation(w[chain[1]]), to_root);
    const Vec3 e = stage::transform_point(stage::translation(w[end]), to_root);
    Vec3 n = cross(k, e);
    n[2] = 0;
    if (norm(n) < 1e-9 * norm(e)) return;  // straight on its most bent frame: no plane
    const Mat3 turn = stage::hpb_matrix({0, 0, std::atan2(n[1], n[0])});
    const Mat3 back = transpose(turn);
    const auto turned = [](stage::Channel& c, const auto& f, bool angles) {
      c.value = f(c.value);
      Vec3 previous = c.keys.empty() ? c.value : f(c.keys.front().value);
      for (stage::Key& key : c.keys) {
        key.value = angles ? nearest_turn(f(key.value), previous) : f(key.value);
        previous = key.value;
      }
    };
    const auto before = [&](const Vec3& hpb) {
      return hpb_from_matrix(turn * stage::hpb_matrix(hpb));
    };
    const auto after = [&](const Vec3& hpb) {
      return hpb_from_matrix(stage::hpb_matrix(hpb) * back);
    };
    const auto moved = [&](const Vec3& v) { return mul(v, back); };
    std::unordered_set<uint32_t> ids;
    for (const std::size_t i : chain) ids.insert(scene_.items[i].id);
    const auto in_chain = [&](uint32_t id) { return ids.count(id) > 0; };
    for (Item_record& r : scene_.items) {
      if (in_chain(r.id)) {
        turned(r.channels[stage::ch_rotation], before, true);
        r.rest_rotation = before(r.rest_rotation);
      }
      if (r.parent != 0 && in_chain(r.parent)) {
        turned(r.channels[stage::ch_rotation], after, true);
        turned(r.channels[stage::ch_position], moved, false);
        r.rest_rotation = after(r.rest_rotation);
        r.rest_position = moved(r.rest_position);
      }
    }
  }

  // The pole stands one chain length in front of the middle joint, square to the root-end line,
  // in the plane the clip's limb has on that frame (on a straight frame, as on the last bent one).
  uint32_t add_pole(const std::string& name, const std::vector<Vec3>& root_at,
                    const std::vector<Vec3>& mid_at, const std::vector<Vec3>& end_at,
                    double length) {
    std::vector<Vec3> out(root_at.size());
    std::vector<char> good(root_at.size(), 0);
    for (std::size_t i = 0; i < root_at.size(); ++i) {
      const Vec3 line = sub(end_at[i], root_at[i]);
      const double l = norm(line);
      const Vec3 u = l > 0 ? scaled(line, 1 / l) : Vec3{0, 0, 0};
      const Vec3 m = sub(mid_at[i], root_at[i]);
      const Vec3 side = sub(m, scaled(u, dot(m, u)));
      const double s = norm(side);
      if (s > 1e-4 * length) {
        out[i] = scaled(side, 1 / s);
        good[i] = 1;
      }
    }
    const auto first_good = std::find(good.begin(), good.end(), 1);
    if (first_good == good.end()) return 0;  // the limb never bends: no plane to keep
    Vec3 dir = out[first_good - good.begin()];
    std::vector<Vec3> at(root_at.size());
    for (std::size_t i = 0; i < root_at.size(); ++i) {
      if (good[i]) dir = out[i];
      at[i] = add(mid_at[i], scaled(dir, length));
    }
    Item_record pole = stage::item_record(next_id(scene_), stage::Item_type::object, name);
    pole.channels[stage::ch_position] = keyed(at);
    scene_.items.push_back(pole);
    return pole.id;
  }

  Scene_record& scene_;
  std::string file_;
};

}  // namespace

void rig_scene(Scene_record& scene, const Rig_request& request, const std::string& file) {
  Scene_record work = scene;  // all or nothing
  Rigger rigger(work, file);
  for (const Chain_request& c : request.chains) rigger.add_chain(c);
  for (const Goal_edit& e : request.edits) rigger.edit(e);
  scene = std::move(work);
}

}  // namespace formats
