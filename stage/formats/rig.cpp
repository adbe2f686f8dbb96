#include "stage/formats/rig.h"

#include <algorithm>
#include <cctype>
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

// Edit distance of two names, letters compared without case, for suggesting joint names.
std::size_t name_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::size_t find_bone(const Scene_record& scene, const std::string& name, const std::string& file,
                      const std::string& what) {
  std::vector<std::pair<std::size_t, std::string>> near;
  for (std::size_t i = 0; i < scene.items.size(); ++i) {
    if (scene.items[i].type != stage::Item_type::bone) continue;
    if (scene.items[i].name == name) return i;
    near.emplace_back(name_distance(name, scene.items[i].name), scene.items[i].name);
  }
  std::stable_sort(near.begin(), near.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string names;
  for (std::size_t k = 0; k < near.size() && k < 3; ++k)
    names += (k ? ", \"" : " (nearest: \"") + near[k].second + "\"";
  if (!names.empty()) names += ")";
  throw Error(file + ": " + what + ": no joint named \"" + name + "\"" + names);
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
    if (chain.size() == 1) {
      // One bone only points at its goal: END meets the goal only at that bone's length.
      const std::size_t above = world.parent(root);
      const std::string higher = above != npos && scene_.items[above].type == stage::Item_type::bone
                                     ? "--chain " + scene_.items[above].name + ":" + c.end
                                     : "a ROOT one joint higher";
      warnings_.push_back(file_ + ": " + what + ": the chain is the one bone \"" + c.root +
                          "\", which turns to point at the goal but cannot bend, so \"" + c.end +
                          "\" is on its goal only where the goal is that bone's length away; to "
                          "bend at \"" +
                          c.root + "\", start the chain one joint higher (" + higher + ")");
    }
    for (const std::size_t i : chain)
      if (!scene_.items[i].handlers.empty())
        throw Error(file_ + ": " + what + ": \"" + scene_.items[i].name +
                    "\" already carries a motion handler (is it in another chain?)");

    // Where the clip has the joints, frame by frame.
    const int first = scene_.frame_start, last = scene_.frame_end;
    const std::size_t mid = chain[chain.size() / 2];
    std::vector<Vec3> end_at, root_at, mid_at, end_turn;
    std::vector<Mat3> root_turn;
    int most_bent = first;
    double closest = 0;
    for (long long f = first; f <= last; ++f) {
      const std::vector<Mat4>& w = world.at(f / scene_.fps);
      end_at.push_back(stage::translation(w[end]));
      root_at.push_back(stage::translation(w[root]));
      mid_at.push_back(stage::translation(w[mid]));
      const Vec3 turn = hpb_from_matrix(stage::rotation_part(linear(w[end])));
      end_turn.push_back(end_turn.empty() ? turn : nearest_turn(turn, end_turn.back()));
      root_turn.push_back(stage::rotation_part(linear(w[root])));
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
    if (c.end_orientation == "clip") goal.channels[stage::ch_rotation] = keyed(end_turn);
    const uint32_t goal_id = goal.id;
    scene_.items.push_back(goal);

    uint32_t pole_id = 0;
    if (c.pole == "auto" && chain.size() >= 2) {
      pole_id =
          add_pole(scene_.items[mid].name + "_pole", root_at, mid_at, end_at, root_turn, length);
    } else if (c.pole != "auto" && c.pole != "NONE") {
      const auto it = std::find_if(scene_.items.begin(), scene_.items.end(),
                                   [&](const Item_record& r) { return r.name == c.pole; });
      if (it == scene_.items.end())
        throw Error(file_ + ": --pole " + c.pole + ": no item of that name");
      pole_id = it->id;
    }
    uint32_t orientation_id = 0;
    if (c.end_orientation == "clip") {
      orientation_id = goal_id;
    } else if (c.end_orientation != "free") {
      const auto it =
          std::find_if(scene_.items.begin(), scene_.items.end(),
                       [&](const Item_record& r) { return r.name == c.end_orientation; });
      if (it == scene_.items.end())
        throw Error(file_ + ": --end-orientation " + c.end_orientation + ": no item of that name");
      orientation_id = it->id;
    }
    // (push_back may have moved the items: index again from here.)
    scene_.items[chain.back()].goal = goal_id;
    if (orientation_id != 0) {
      // END's own goal only turns it: the module takes the chain's goal from the chain's last
      // bone, END's parent.
      scene_.items[end].goal = orientation_id;
      scene_.items[end].match_goal_orientation = true;
    }
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
      warn_overlap(e, what);
      pin(scene_.items[goal], e);
      warn_unreached(world, last, end, e, what,
                     stage::channel_value(position, e.first / scene_.fps));
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
  // on the side the clip bends the limb to on that frame. Where the limb is (nearly) straight
  // that side is undefined, so it is carried in the root bone's own frame from the nearest
  // clearly bent frame: the knee or elbow keeps bending the way the clip's upper bone points it,
  // turning with the upper bone's twist rather than staying fixed in the world. Between the two
  // (a bend below 5% of the chain's length) the sides are blended smoothly.
  uint32_t add_pole(const std::string& name, const std::vector<Vec3>& root_at,
                    const std::vector<Vec3>& mid_at, const std::vector<Vec3>& end_at,
                    const std::vector<Mat3>& root_turn, double length) {
    const std::size_t n = root_at.size();
    std::vector<Vec3> side(n), unit_line(n);
    std::vector<double> bend(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      const Vec3 line = sub(end_at[i], root_at[i]);
      const double l = norm(line);
      unit_line[i] = l > 0 ? scaled(line, 1 / l) : Vec3{0, 0, 0};
      const Vec3 m = sub(mid_at[i], root_at[i]);
      side[i] = sub(m, scaled(unit_line[i], dot(m, unit_line[i])));
      bend[i] = norm(side[i]);
    }
    // Bones placed by their positions alone (no rest_position) give no rest length: the limb's
    // own length in the clip stands in for it.
    if (!(length > 0))
      for (std::size_t i = 0; i < n; ++i)
        length =
            std::max(length, norm(sub(mid_at[i], root_at[i])) + norm(sub(end_at[i], mid_at[i])));
    if (!(length > 0) || !std::isfinite(length)) return 0;  // nothing to stand a pole in front of
    const double clear = 0.05 * length;
    // The side in the root's frame on the nearest clearly bent frame, before and after each frame.
    std::vector<Vec3> carried(n);
    std::vector<long> from(n, -1);
    for (std::size_t pass = 0; pass < 2; ++pass) {
      long last = -1;
      for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = pass == 0 ? k : n - 1 - k;
        if (bend[i] >= clear && bend[i] > 0) last = static_cast<long>(i);
        if (last < 0) continue;
        const long d = std::labs(last - static_cast<long>(i));
        if (from[i] < 0 || d < std::labs(from[i] - static_cast<long>(i))) from[i] = last;
      }
    }
    if (from[0] < 0) return 0;  // the limb never bends clearly: no side to keep
    std::vector<Vec3> at(n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t b = static_cast<std::size_t>(from[i]);
      // Root frame of the bent frame -> world on this frame (rows are the root's axes).
      const Vec3 local = mul(scaled(side[b], 1 / bend[b]), transpose(root_turn[b]));
      Vec3 kept = mul(local, root_turn[i]);
      kept = sub(kept, scaled(unit_line[i], dot(kept, unit_line[i])));
      const double kn = norm(kept);
      Vec3 dir = kn > 1e-12 ? scaled(kept, 1 / kn) : scaled(side[b], 1 / bend[b]);
      if (bend[i] > 0) {
        const double x = std::min(bend[i] / clear, 1.0), w = x * x * (3 - 2 * x);
        const Vec3 mixed = add(scaled(dir, 1 - w), scaled(side[i], w / bend[i]));
        if (norm(mixed) > 1e-9) dir = scaled(mixed, 1 / norm(mixed));
      }
      at[i] = add(mid_at[i], scaled(dir, length));
    }
    Item_record pole = stage::item_record(next_id(scene_), stage::Item_type::object, name);
    pole.channels[stage::ch_position] = keyed(at);
    scene_.items.push_back(pole);
    return pole.id;
  }

  // The goal held at its frame-A place from A to B, eased in over the EASE frames before A and
  // out over those after B: goal = clip + w (held - clip), w = 3x^2 - 2x^3 of the frames' share
  // of the ease, rotations turned the same share of the way along the shorter arc.
  void pin(Item_record& goal, const Goal_edit& e) {
    stage::Channel& position = goal.channels[stage::ch_position];
    stage::Channel& rotation = goal.channels[stage::ch_rotation];
    const bool turns = !rotation.keys.empty();
    const double fps = scene_.fps;
    const Vec3 held = stage::channel_value(position, e.first / fps);
    const Vec3 held_turn = stage::channel_value(rotation, e.first / fps);
    const int ease = std::max(e.ease, 0);
    // In long long: a pin may end at the last frame an int holds.
    const long long from = std::max<long long>(scene_.frame_start, 0LL + e.first - ease);
    const long long to = std::min<long long>(scene_.frame_end, 0LL + e.last + ease);
    std::vector<stage::Key> keys, turn_keys;
    Vec3 previous_turn{};
    for (long long f = from; f <= to; ++f) {
      const double x = f < e.first  ? double(f - (0LL + e.first - ease)) / ease
                       : f > e.last ? double(0LL + e.last + ease - f) / ease
                                    : 1.0;
      const double w = x * x * (3 - 2 * x);
      const Vec3 clip = stage::channel_value(position, f / fps);
      keys.push_back({f / fps, add(clip, scaled(sub(held, clip), w))});
      if (turns) {
        Vec3 turn = turn_between(stage::channel_value(rotation, f / fps), held_turn, w);
        if (f > from) turn = nearest_turn(turn, previous_turn);
        previous_turn = turn;
        turn_keys.push_back({f / fps, turn});
      }
    }
    replace_keys(position, keys);
    if (turns) replace_keys(rotation, turn_keys);
  }

  // The rotation a share w of the way from a to b (heading, pitch, bank), the shorter way.
  static Vec3 turn_between(const Vec3& a, const Vec3& b, double w) {
    std::array<double, 4> qa = quaternion_of(transpose(stage::hpb_matrix(a)));
    const std::array<double, 4> qb = quaternion_of(transpose(stage::hpb_matrix(b)));
    double d = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
    if (d < 0) {
      for (double& c : qa) c = -c;
      d = -d;
    }
    const double angle = std::acos(std::min(d, 1.0));
    const double ka = angle < 1e-9 ? 1 - w : std::sin((1 - w) * angle) / std::sin(angle);
    const double kb = angle < 1e-9 ? w : std::sin(w * angle) / std::sin(angle);
    std::array<double, 4> q{};
    double n = 0;
    for (int c = 0; c < 4; ++c) n += (q[c] = ka * qa[c] + kb * qb[c]) * q[c];
    for (double& c : q) c /= std::sqrt(n);
    return hpb_from_matrix(transpose(column_matrix_of(q)));
  }

  // The channel's keys within the new keys' times replaced by them.
  static void replace_keys(stage::Channel& channel, const std::vector<stage::Key>& keys) {
    const double t0 = keys.front().time - 1e-9, t1 = keys.back().time + 1e-9;
    std::vector<stage::Key> out;
    for (const stage::Key& k : channel.keys)
      if (k.time < t0 || k.time > t1) out.push_back(k);
    out.insert(out.end(), keys.begin(), keys.end());
    std::sort(out.begin(), out.end(),
              [](const stage::Key& a, const stage::Key& b) { return a.time < b.time; });
    channel.keys = std::move(out);
    channel.value = channel.keys.front().value;
  }

  // A pin whose hold meets another pin's frames on the same goal: the later one's keys replace the
  // earlier one's over its frames, eases included, so one of the holds is not kept as given.
  void warn_overlap(const Goal_edit& e, const std::string& what) {
    const auto span = [](const Goal_edit& p) {
      return std::make_pair(0LL + p.first - p.ease, 0LL + p.last + p.ease);
    };
    for (const Goal_edit& p : pins_) {
      if (p.end != e.end) continue;
      // The frames where one's hold meets the other's frames.
      long long from = std::max<long long>(p.first, span(e).first);
      long long to = std::min<long long>(p.last, span(e).second);
      if (from > to) {
        from = std::max<long long>(e.first, span(p).first);
        to = std::min<long long>(e.last, span(p).second);
      }
      if (from > to) continue;
      const auto pin_text = [](const Goal_edit& x) {
        return std::to_string(x.first) + "-" + std::to_string(x.last) + ":" +
               std::to_string(x.ease);
      };
      warnings_.push_back(file_ + ": " + what + ":" + pin_text(e) + " overlaps --pin " + p.end +
                          ":" + pin_text(p) + " on frames " + std::to_string(from) + "-" +
                          std::to_string(to) + " (holds with their EASE frames), so the later " +
                          "pin replaces the earlier one there; leave EASE frames between the " +
                          "holds, or give one pin over both");
    }
    pins_.push_back(e);
  }

  // A warning naming the held frames on which the chain's root is farther from the held place
  // than the chain is long, so that the leg cannot stand on it.
  void warn_unreached(Record_world& world, std::size_t last, std::size_t end, const Goal_edit& e,
                      const std::string& what, const Vec3& held) {
    std::size_t root = last;
    double length = norm(scene_.items[end].rest_position);
    for (std::size_t i = last; i != npos; i = world.parent(i)) {
      root = i;
      const auto& hs = scene_.items[i].handlers;
      if (std::any_of(hs.begin(), hs.end(),
                      [](const stage::Handler_record& h) { return h.server == "Tarsel_Top"; }))
        break;
      length += norm(scene_.items[i].rest_position);
    }
    std::string frames;
    long long run_start = -1;
    int count = 0;
    const auto close_run = [&](long long f) {
      if (run_start < 0) return;
      frames += (frames.empty() ? "" : ", ") + std::to_string(run_start) +
                (f - 1 > run_start ? "-" + std::to_string(f - 1) : "");
      run_start = -1;
    };
    for (long long f = e.first; f <= 0LL + e.last + 1; ++f) {
      const bool out = f <= e.last && norm(sub(stage::translation(world.at(f / scene_.fps)[root]),
                                               held)) > length * (1 + 1e-9);
      if (out) {
        ++count;
        if (run_start < 0) run_start = f;
      } else {
        close_run(f);
      }
    }
    if (count > 0)
      warnings_.push_back(file_ + ": " + what + ": the chain cannot reach the held place on " +
                          std::to_string(count) + " frames (" + frames + ")");
  }

 public:
  std::vector<std::string> warnings_;

 private:
  std::vector<Goal_edit> pins_;  // the pins applied so far
  Scene_record& scene_;
  std::string file_;
};

}  // namespace

std::vector<std::string> rig_scene(Scene_record& scene, const Rig_request& request,
                                   const std::string& file) {
  Scene_record work = scene;  // all or nothing
  Rigger rigger(work, file);
  for (const Chain_request& c : request.chains) rigger.add_chain(c);
  for (const Goal_edit& e : request.edits) rigger.edit(e);
  scene = std::move(work);
  return rigger.warnings_;
}

}  // namespace formats
