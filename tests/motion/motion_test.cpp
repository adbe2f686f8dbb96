// Motion files on real clips: the imported scene against assimp's own node transforms, the CMU
// clip's legs re-solved through the loaded module, and the command line on bad input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/scene.h>
#include <algorithm>
#include <array>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "stage/error.h"
#include "stage/formats/anim_sample.h"
#include "stage/formats/bake.h"
#include "stage/formats/export.h"
#include "stage/formats/frame_math.h"
#include "stage/formats/import.h"
#include "stage/formats/rig.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "tests/motion/skinning.h"

namespace {

using formats::Matrix;
using stage::Vec3;

std::string model(const std::string& name) { return std::string(MOTION_MODELS_DIR) + "/" + name; }
const std::string cmu = model("BVH/01_01.bvh");

double distance(const Vec3& a, const Vec3& b) { return formats::norm(formats::sub(a, b)); }

// Every joint of a host scene by name.
std::map<std::string, LWItemID> bones_by_name(const stage::Scene& scene) {
  std::map<std::string, LWItemID> bones;
  for (std::size_t i = 0; i < scene.size(); ++i)
    if (scene.item(i).type == stage::Item_type::bone) bones[scene.item(i).name] = scene.item(i).id;
  return bones;
}

// assimp's world position of a node at `ticks`, in assimp's frame: the node transforms (keyed
// ones from the first animation) multiplied up to the scene's top.
Vec3 assimp_world(const aiNode* node, const std::map<const aiNode*, const aiNodeAnim*>& channels,
                  double ticks) {
  Matrix world;
  for (; node; node = node->mParent) {
    const auto it = channels.find(node);
    world = formats::node_local(*node, it == channels.end() ? nullptr : it->second, ticks) * world;
  }
  return {world.a4, world.b4, world.c4};
}

// The imported scene, run with no module, puts every joint where assimp's evaluation of the file
// puts it (Z mirrored into the host's left-handed frame), on every frame.
TEST(Import, JointsStandWhereAssimpPutsThem) {
  const struct {
    const char* file;
    int frame_step;  // 1: every frame
  } files[] = {{"BVH/01_01.bvh", 1},
               {"BVH/Boxing_Toes.bvh", 3},
               {"FBX/huesitos.fbx", 1},
               {"X/BCN_Epileptic.X", 3},
               {"X/Testwuson.X", 1}};  // .X: single-precision matrices
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    const stage::Scene_record record = formats::import_motion(model(f.file), {});
    stage::Host host;
    host.load_scene_record(record, f.file);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(model(f.file), 0);
    ASSERT_NE(scene, nullptr);
    const double tps = scene->mAnimations[0]->mTicksPerSecond;
    const std::map<std::string, LWItemID> bones = bones_by_name(host.scene());
    ASSERT_GE(bones.size(), 9u);
    std::map<const aiNode*, const aiNodeAnim*> channels;
    const aiAnimation& anim = *scene->mAnimations[0];
    for (unsigned c = 0; c < anim.mNumChannels; ++c)
      channels[scene->mRootNode->FindNode(anim.mChannels[c]->mNodeName)] = anim.mChannels[c];
    std::map<LWItemID, const aiNode*> nodes;
    for (const auto& [name, id] : bones) {
      nodes[id] = scene->mRootNode->FindNode(name.c_str());
      ASSERT_NE(nodes[id], nullptr) << name;
    }
    // The skeleton's size: the spread of its joints on the first frame.
    host.evaluate_frame(0);
    Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (const auto& [name, id] : bones) {
      const Vec3 p = host.world_position(id, 0);
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    }
    const double size = distance(lo, hi);
    double worst = 0;
    for (int frame = record.frame_start; frame <= record.frame_end; frame += f.frame_step) {
      const double time = frame / record.fps;
      host.evaluate(time);
      // BVH and FBX clips here key whole ticks, one a frame.
      const double ticks = std::fabs(record.fps - tps) < 1e-3 * tps ? frame : time * tps;
      for (const auto& [id, node] : nodes) {
        const Vec3 expected = formats::mirror_z(assimp_world(node, channels, ticks));
        worst = std::max(worst, distance(host.world_position(id, time), expected));
      }
    }
    EXPECT_LT(worst, 1e-9 * size) << "size " << size;
  }
}

// The CMU figure's left leg is on its left: with +Y up and the toes pointing forward, the host's
// left-handed frame has left = forward x up. A mirrored import would put it on the right.
TEST(Import, CmuFigureKeepsItsLeftOnTheLeft) {
  const stage::Scene_record record = formats::import_motion(cmu, {});
  stage::Host host;
  host.load_scene_record(record, "01_01");
  const std::map<std::string, LWItemID> b = bones_by_name(host.scene());
  for (int frame = 0; frame <= record.frame_end; frame += 25) {
    const double t = frame / record.fps;
    host.evaluate(t);
    const auto at = [&](const char* name) { return host.world_position(b.at(name), t); };
    const Vec3 up = formats::sub(at("Head"), at("Hips"));
    const Vec3 forward = formats::sub(at("LeftToeBase"), at("LeftFoot"));
    const Vec3 left = formats::sub(at("LeftUpLeg"), at("RightUpLeg"));
    ASSERT_GT(formats::dot(formats::cross(forward, up), left), 0) << "frame " << frame;
  }
  // The clip's first root position (9.3722, 17.8693, -17.3198) with Z mirrored.
  host.evaluate_frame(0);
  const Vec3 hips = host.world_position(b.at("Hips"), 0);
  EXPECT_NEAR(hips[0], 9.3722, 1e-5);
  EXPECT_NEAR(hips[1], 17.8693, 1e-5);
  EXPECT_NEAR(hips[2], 17.3198, 1e-5);
}

// Both legs of 01_01 rigged with their goals where the clip has the ankles: with the module, every
// ankle the leg can reach lands on the clip's ankle, and no knee turns to the other side of the
// hip-ankle line (nor away from the clip's knee at all).
stage::Scene_record rigged_legs(const stage::Scene_record& clip) {
  stage::Scene_record rigged = clip;
  formats::Rig_request request;
  request.chains = {{"LeftUpLeg", "LeftFoot"}, {"RightUpLeg", "RightFoot"}};
  formats::rig_scene(rigged, request, "01_01");
  return rigged;
}

// The world rotation of an item, and the angle of the turn between two rotations.
stage::Mat3 upper_turn(const stage::Host& host, LWItemID id, double t) {
  return stage::rotation_part(formats::linear(host.world(id, t)));
}
double turn_angle(const stage::Mat3& a, const stage::Mat3& b) {
  double trace = 0;  // of a * b^T
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += a.m[i][k] * b.m[i][k];
  return std::acos(std::max(-1.0, std::min(1.0, (trace - 1) / 2)));
}

TEST(Rig, CmuLegsReproduceTheClip) {
  const stage::Scene_record clip = formats::import_motion(cmu, {});
  const stage::Scene_record rigged = rigged_legs(clip);

  stage::Host original, solved;
  original.load_scene_record(clip, "01_01");
  solved.load_module(TARSEL_MODULE_PATH);
  solved.load_scene_record(rigged, "01_01-rigged");
  ASSERT_TRUE(solved.warnings().empty());
  const auto a = bones_by_name(original.scene()), b = bones_by_name(solved.scene());
  for (const char* side : {"Left", "Right"}) {
    SCOPED_TRACE(side);
    const std::string hip = std::string(side) + "UpLeg", knee = std::string(side) + "Leg",
                      ankle = std::string(side) + "Foot";
    const double leg =
        distance(original.world_position(a.at(hip), 0), original.world_position(a.at(knee), 0)) +
        distance(original.world_position(a.at(knee), 0), original.world_position(a.at(ankle), 0));
    int reachable = 0, wrong_side = 0, straight = 0;
    double worst = 0, worst_knee = 0, twist_excess = -1e300;
    stage::Mat3 clip_before{}, solved_before{};
    for (int frame = clip.frame_start; frame <= clip.frame_end; ++frame) {
      const double t = frame / clip.fps;
      original.evaluate(t);
      solved.evaluate(t);
      // The thigh turns per frame no more than the clip's does (+0.01 rad), straight frames too.
      const stage::Mat3 clip_now = upper_turn(original, a.at(hip), t);
      const stage::Mat3 solved_now = upper_turn(solved, b.at(hip), t);
      if (frame > clip.frame_start)
        twist_excess = std::max(twist_excess, turn_angle(solved_now, solved_before) -
                                                  turn_angle(clip_now, clip_before));
      clip_before = clip_now;
      solved_before = solved_now;
      const Vec3 h = original.world_position(a.at(hip), t);
      const Vec3 goal = original.world_position(a.at(ankle), t);
      straight += distance(h, goal) > leg * (1 - 1e-3);
      if (distance(h, goal) >= leg * (1 - 1e-9)) continue;
      ++reachable;
      worst = std::max(worst, distance(solved.world_position(b.at(ankle), t), goal));
      // Sides of the line: the knees' offsets square to it point the same way.
      const Vec3 u = formats::scaled(formats::sub(goal, h), 1 / distance(goal, h));
      const auto side_of = [&](const Vec3& k) {
        const Vec3 m = formats::sub(k, h);
        return formats::sub(m, formats::scaled(u, formats::dot(m, u)));
      };
      const Vec3 clip_side = side_of(original.world_position(a.at(knee), t));
      const Vec3 solved_side = side_of(solved.world_position(b.at(knee), t));
      if (formats::norm(clip_side) > 1e-3 * leg && formats::dot(clip_side, solved_side) <= 0)
        ++wrong_side;
      worst_knee = std::max(worst_knee, distance(clip_side, solved_side));
    }
    EXPECT_GT(reachable, clip.frame_end / 2);
    EXPECT_EQ(wrong_side, 0);
    std::printf(
        "%s leg: %d nearly straight frames, thigh's turn a frame at most %.3g rad more than "
        "the clip's\n",
        side, straight, twist_excess);
    EXPECT_LT(twist_excess, 0.01);
    // The clip's knee is a hinge, so the pole keeps the whole limb where the clip has it.
    EXPECT_LT(worst_knee, 1e-6 * leg);
    EXPECT_LT(worst, 1e-6 * leg);
  }
}

// Legs and arms rigged with their goals untouched reproduce the clip: every joint where the clip
// has it, within 1e-6 of the figure's size, on every frame the limbs reach. The feet and hands keep
// the clip's world orientation, so everything below a chain's end follows. Clips whose knees and
// elbows are not hinges reproduce every joint but those middle ones (reported, not checked).
struct Limb_clip {
  const char* file;
  std::vector<std::array<const char*, 2>> chains;
  bool hinges;  // middle joints checked too
  int frame_step;
};

TEST(Rig, RiggedLimbsKeepEveryJointBelowTheirEnds) {
  const Limb_clip clips[] = {
      {"BVH/01_01.bvh",
       {{"LeftUpLeg", "LeftFoot"},
        {"RightUpLeg", "RightFoot"},
        {"LeftArm", "LeftHand"},
        {"RightArm", "RightHand"}},
       true,
       1},
      {"BVH/Boxing_Toes.bvh",
       {{"LeftHip", "LeftAnkle"},
        {"RightHip", "RightAnkle"},
        {"LeftShoulder", "LeftWrist"},
        {"RightShoulder", "RightWrist"}},
       false,
       2},
      {"FBX/huesitos.fbx", {{"Bone.004", "Bone.006"}, {"Bone.003", "Bone.008"}}, false, 1},
  };
  for (const Limb_clip& c : clips) {
    SCOPED_TRACE(c.file);
    const stage::Scene_record clip = formats::import_motion(model(c.file), {});
    stage::Scene_record rigged = clip;
    formats::Rig_request request;
    for (const auto& ch : c.chains) request.chains.push_back({ch[0], ch[1]});
    formats::rig_scene(rigged, request, c.file);
    stage::Host original, solved;
    original.load_scene_record(clip, "clip");
    solved.load_module(TARSEL_MODULE_PATH);
    solved.load_scene_record(rigged, "rigged");
    const auto a = bones_by_name(original.scene()), b = bones_by_name(solved.scene());
    std::vector<LWItemID> middles;
    struct Reach {
      LWItemID root, end;
      double length;
    };
    std::vector<Reach> reaches;
    original.evaluate_frame(clip.frame_start);
    const double t0 = clip.frame_start / clip.fps;
    for (const auto& ch : c.chains) {
      const stage::Item* end = original.scene().find(a.at(ch[1]));
      const LWItemID mid = end->parent;
      middles.push_back(mid);
      const auto at = [&](LWItemID id) { return original.world_position(id, t0); };
      reaches.push_back({a.at(ch[0]), a.at(ch[1]),
                         distance(at(a.at(ch[0])), at(mid)) + distance(at(mid), at(a.at(ch[1])))});
    }
    Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (const auto& [name, id] : a) {
      const Vec3 p = original.world_position(id, t0);
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    }
    const double size = distance(lo, hi);
    double worst = 0, worst_middle = 0, twist_excess = -1e300;
    std::string worst_at;
    int frames = 0;
    std::vector<std::array<stage::Mat3, 2>> before(reaches.size());
    for (int frame = clip.frame_start; frame <= clip.frame_end; frame += c.frame_step) {
      const double t = frame / clip.fps;
      original.evaluate(t);
      solved.evaluate(t);
      // Each upper bone turns per frame no more than the clip's does, on every frame.
      for (std::size_t k = 0; k < reaches.size(); ++k) {
        const stage::Mat3 clip_now = upper_turn(original, reaches[k].root, t);
        const stage::Mat3 solved_now = upper_turn(solved, b.at(c.chains[k][0]), t);
        if (frame > clip.frame_start)
          twist_excess = std::max(twist_excess, turn_angle(solved_now, before[k][1]) -
                                                    turn_angle(clip_now, before[k][0]));
        before[k] = {clip_now, solved_now};
      }
      const bool reached = std::all_of(reaches.begin(), reaches.end(), [&](const Reach& r) {
        return distance(original.world_position(r.root, t), original.world_position(r.end, t)) <
               r.length * (1 - 1e-9);
      });
      if (!reached) continue;
      ++frames;
      for (const auto& [name, id] : a) {
        const double d =
            distance(original.world_position(id, t), solved.world_position(b.at(name), t));
        const bool middle = std::find(middles.begin(), middles.end(), id) != middles.end();
        if (middle && !c.hinges) {
          worst_middle = std::max(worst_middle, d);
        } else if (d > worst) {
          worst = d;
          worst_at = name + " frame " + std::to_string(frame);
        }
      }
    }
    std::printf(
        "%s: %d frames reached, worst joint %.3g of the figure's size (%s), middle joints "
        "%.3g; upper bones turn a frame at most %.3g rad more than the clip's\n",
        c.file, frames, worst / size, worst_at.c_str(), worst_middle / size, twist_excess);
    if (c.hinges) {
      EXPECT_LT(twist_excess, 0.01);
    }
    EXPECT_GT(frames, (clip.frame_end - clip.frame_start) / c.frame_step / 2);
    EXPECT_LT(worst, 1e-6 * size) << worst_at;
  }
}

// --end-orientation ITEM: the end joint takes a named item's world orientation on every frame
// (here the hips', keyed by the clip), whatever the chain does; a name no item has is refused.
TEST(Rig, EndOrientationFollowsANamedItem) {
  const stage::Scene_record clip = formats::import_motion(cmu, {});
  formats::Rig_request request;
  request.chains.push_back({"LeftUpLeg", "LeftFoot"});
  request.chains.back().end_orientation = "Hips";
  stage::Scene_record rigged = clip;
  formats::rig_scene(rigged, request, "01_01");
  stage::Host solved;
  solved.load_module(TARSEL_MODULE_PATH);
  solved.load_scene_record(rigged, "rigged");
  const auto b = bones_by_name(solved.scene());
  double worst = 0;
  for (int frame = clip.frame_start; frame <= clip.frame_end; frame += 25) {
    const double t = frame / clip.fps;
    solved.evaluate(t);
    // Element by element: an angle from acos is only good to about 1e-8 near zero.
    const stage::Mat3 foot = upper_turn(solved, b.at("LeftFoot"), t);
    const stage::Mat3 hips = upper_turn(solved, b.at("Hips"), t);
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::fabs(foot.m[i][k] - hips.m[i][k]));
  }
  EXPECT_LT(worst, 1e-9);

  request.chains.back().end_orientation = "NoSuchItem";
  stage::Scene_record refused = clip;
  try {
    formats::rig_scene(refused, request, "01_01");
    ADD_FAILURE() << "an unknown item was accepted";
  } catch (const stage::Error& e) {
    EXPECT_NE(std::string(e.what()).find("--end-orientation NoSuchItem: no item of that name"),
              std::string::npos)
        << e.what();
  }
}

// A pin holds the goal where the clip has the ankle on the pin's first frame, the whole foot with
// it (the toes stay put), and eases in and out: no step of the goal is larger than the clip's own
// step plus the smooth curve's share of the held offset (its steepest is 1.5 / EASE a frame). The
// leg follows the goal; an offset moves the other goal on every frame. A pin the leg cannot
// reach is warned about, naming the frames.
TEST(Rig, PinHoldsTheFootAndEasesInAndOut) {
  formats::Import_options part;
  part.has_frames = true;
  part.first = 250;
  part.last = 450;
  const stage::Scene_record clip = formats::import_motion(cmu, part);
  stage::Scene_record rigged = clip;
  formats::Rig_request request;
  request.chains = {{"LeftUpLeg", "LeftFoot"}, {"RightUpLeg", "RightFoot"}};
  formats::Goal_edit pin, offset;
  pin.end = "LeftFoot";
  pin.pin = true;
  pin.first = 282;
  pin.last = 420;
  pin.ease = 8;
  offset.end = "RightFoot";
  offset.offset = {0, 0.5, 0};
  request.edits = {pin, offset};
  EXPECT_TRUE(formats::rig_scene(rigged, request, "01_01").empty());

  stage::Host original, solved;
  original.load_scene_record(clip, "clip");
  solved.load_module(TARSEL_MODULE_PATH);
  solved.load_scene_record(rigged, "rigged");
  const auto a = bones_by_name(original.scene()), b = bones_by_name(solved.scene());
  LWItemID goal = LWITEM_NULL;
  for (std::size_t i = 0; i < solved.scene().size(); ++i)
    if (solved.scene().item(i).name == "LeftFoot_goal") goal = solved.scene().item(i).id;
  original.evaluate_frame(pin.first);
  const Vec3 held = original.world_position(a.at("LeftFoot"), pin.first / clip.fps);
  const double leg = 14.65;  // thigh and shin of the CMU figure
  int pinned_reached = 0;
  double toes_moved = 0, worst_step_excess = -1e300, worst_step = 0;
  Vec3 toes_held{}, previous_goal{}, previous_clip{};
  for (int frame = part.first; frame <= part.last; ++frame) {
    const double t = frame / clip.fps;
    original.evaluate(t);
    solved.evaluate(t);
    const Vec3 left = original.world_position(a.at("LeftFoot"), t);
    const Vec3 right = formats::add(original.world_position(a.at("RightFoot"), t), {0, 0.5, 0});
    const bool pinned = frame >= pin.first && frame <= pin.last;
    const Vec3 left_goal = solved.world_position(goal, t);
    if (pinned) {
      EXPECT_LT(distance(left_goal, held), 1e-12) << frame;
    } else if (frame < pin.first - pin.ease || frame > pin.last + pin.ease) {
      EXPECT_LT(distance(left_goal, left), 1e-12) << frame;
    }
    if (frame > part.first) {
      const double step = distance(left_goal, previous_goal);
      const double bound = distance(left, previous_clip) + 1.5 * distance(held, left) / pin.ease;
      worst_step_excess = std::max(worst_step_excess, step - bound);
      worst_step = std::max(worst_step, step);
    }
    previous_goal = left_goal;
    previous_clip = left;
    const Vec3 hip = solved.world_position(b.at("LeftUpLeg"), t);
    if (distance(hip, left_goal) < leg - 1e-3) {
      pinned_reached += pinned;
      ASSERT_LT(distance(solved.world_position(b.at("LeftFoot"), t), left_goal), 1e-6 * leg)
          << "frame " << frame;
      if (pinned) {
        const Vec3 toes = solved.world_position(b.at("LeftToeBase"), t);
        if (frame == pin.first) toes_held = toes;
        toes_moved = std::max(toes_moved, distance(toes, toes_held));
      }
    }
    const Vec3 rhip = solved.world_position(b.at("RightUpLeg"), t);
    if (distance(rhip, right) < leg - 1e-3) {
      ASSERT_LT(distance(solved.world_position(b.at("RightFoot"), t), right), 1e-6 * leg)
          << "frame " << frame;
    }
  }
  std::printf("pin: largest goal step %.3g, toes moved %.3g while held\n", worst_step, toes_moved);
  EXPECT_GT(pinned_reached, 100);
  EXPECT_LE(worst_step_excess, 1e-9);
  EXPECT_LT(toes_moved, 1e-6 * leg);

  // Held on through the next steps, the foot is left behind.
  stage::Scene_record far = clip;
  pin.last = 450;
  request.edits = {pin};
  const std::vector<std::string> warnings = formats::rig_scene(far, request, "01_01");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("--pin LeftFoot: the chain cannot reach the held place on"),
            std::string::npos)
      << warnings[0];
}

// The baked legs, written and read back as a file, play with no module where the rig put them.
TEST(Bake, BakedScenePlaysTheSameWithoutTheModule) {
  formats::Import_options part;
  part.has_frames = true;
  part.first = 100;
  part.last = 700;
  const stage::Scene_record rigged = rigged_legs(formats::import_motion(cmu, part));
  stage::Host solved, plain;
  solved.load_module(TARSEL_MODULE_PATH);
  solved.load_scene_record(rigged, "rigged");
  const stage::Scene_record baked = stage::parse_scene(
      stage::format_scene(formats::bake_scene(solved, part.first, part.last)), "baked");
  plain.load_scene_record(baked, "baked");
  for (const stage::Item_record& r : baked.items) ASSERT_TRUE(r.handlers.empty()) << r.name;
  ASSERT_EQ(plain.scene().size(), solved.scene().size());
  double worst = 0;
  for (int frame = part.first; frame <= part.last; ++frame) {
    const double t = frame / baked.fps;
    solved.evaluate(t);
    plain.evaluate(t);
    for (std::size_t i = 0; i < plain.scene().size(); ++i)
      worst = std::max(worst, distance(solved.world_position(solved.scene().item(i).id, t),
                                       plain.world_position(plain.scene().item(i).id, t)));
  }
  EXPECT_LT(worst, 1e-12);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A BVH reader as the format is commonly described, written apart from the exporter: each joint
// stands at its parent's transform applied to OFFSET plus its position channels, and turns by its
// rotation channels in the order listed. World positions by joint name on every frame; `joints`
// gets the ROOT/JOINT names in file order.
std::vector<std::map<std::string, Vec3>> read_bvh(const std::string& path,
                                                  std::vector<std::string>& joints) {
  struct Joint {
    std::string name;
    int parent;
    Vec3 offset;
    std::vector<std::string> channels;
  };
  std::vector<Joint> js;
  std::ifstream in(path);
  std::string word;
  std::vector<int> stack;
  bool end_site = false;
  while (in >> word && word != "MOTION") {
    if (word == "ROOT" || word == "JOINT") {
      Joint j;
      in >> j.name;
      j.parent = stack.empty() ? -1 : stack.back();
      js.push_back(j);
    } else if (word == "End") {
      in >> word;
      end_site = true;
    } else if (word == "{") {
      stack.push_back(end_site ? -2 : static_cast<int>(js.size()) - 1);
      end_site = false;
    } else if (word == "}") {
      stack.pop_back();
    } else if (word == "OFFSET") {
      Vec3 o;
      in >> o[0] >> o[1] >> o[2];
      if (stack.back() >= 0) js[stack.back()].offset = o;
    } else if (word == "CHANNELS") {
      int n = 0;
      in >> n;
      js.back().channels.resize(n);
      for (std::string& c : js.back().channels) in >> c;
    }
  }
  for (const Joint& j : js) joints.push_back(j.name);
  int frames = 0;
  double frame_time = 0;
  in >> word >> frames >> word >> word >> frame_time;
  std::vector<std::map<std::string, Vec3>> out(frames);
  using M = std::array<std::array<double, 3>, 3>;  // column form: p' = M p
  const auto mul = [](const M& a, const M& b) {
    M r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
  };
  for (int f = 0; f < frames; ++f) {
    std::vector<M> rot(js.size());
    std::vector<Vec3> at(js.size());
    for (std::size_t k = 0; k < js.size(); ++k) {
      Vec3 local = js[k].offset;
      M r{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
      for (const std::string& c : js[k].channels) {
        double v = 0;
        in >> v;
        const int axis = c[0] - 'X';
        if (c.find("position") != std::string::npos) {
          local[axis] += v;
          continue;
        }
        const double a = v * stage::pi / 180, ca = std::cos(a), sa = std::sin(a);
        M turn{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
        const int i = (axis + 1) % 3, j = (axis + 2) % 3;
        turn[i][i] = ca, turn[i][j] = -sa, turn[j][i] = sa, turn[j][j] = ca;
        r = mul(r, turn);
      }
      const int p = js[k].parent;
      if (p < 0) {
        rot[k] = r, at[k] = local;
      } else {
        rot[k] = mul(rot[p], r);
        for (int i = 0; i < 3; ++i)
          at[k][i] = at[p][i] + rot[p][i][0] * local[0] + rot[p][i][1] * local[1] +
                     rot[p][i][2] * local[2];
      }
      out[f][js[k].name] = at[k];
    }
  }
  return out;
}

// Exports of the re-solved legs read back by two readers each, which put every joint where the
// scene has it: the glTF (Khronos-validated) by assimp and by three.js, whose GLTFLoader makes its
// skin's joints Bones; the BVH by assimp and by the offset-adding reader above. The BVH keeps the
// clip's own joint list (End Sites written as End Sites, the top joint once), exported again too.
TEST(Export, FilesReadBackWhereTheSceneHasTheJoints) {
  formats::Import_options part;
  part.has_frames = true;
  part.first = 300;
  part.last = 500;
  const stage::Scene_record rigged = rigged_legs(formats::import_motion(cmu, part));
  stage::Host solved;
  solved.load_module(TARSEL_MODULE_PATH);
  solved.load_scene_record(rigged, "rigged");
  const std::map<std::string, LWItemID> bones = bones_by_name(solved.scene());
  const double tolerance = 1e-6 * 30;  // the figure is about 30 units tall
  const auto scene_at = [&](LWItemID id, int frame) {
    const double t = frame / rigged.fps;
    if (solved.evaluated_time() != t) solved.evaluate(t);
    return formats::mirror_z(solved.world_position(id, t));  // the files' right-handed frame
  };
  std::vector<std::string> source_joints;
  read_bvh(cmu, source_joints);
  for (const char* suffix : {".glb", ".gltf", ".bvh"}) {
    SCOPED_TRACE(suffix);
    const std::string out = std::string(MOTION_TEST_DIR) + "/legs" + suffix;
    const bool bvh = std::string(suffix) == ".bvh";
    const std::string bytes =
        bvh ? formats::export_bvh(solved, part.first, part.last)
            : formats::export_gltf(solved, part.first, part.last, std::string(suffix) == ".glb");
    stage::write_file_whole(out, bytes);
    if (!bvh) {
      const std::string command = "node '" MOTION_VALIDATOR "' '" + out + "' >/dev/null";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    const stage::Scene_record back = formats::import_motion(out, {});
    ASSERT_EQ(back.frame_end - back.frame_start, part.last - part.first);
    ASSERT_DOUBLE_EQ(back.fps, rigged.fps);
    stage::Host read;
    read.load_scene_record(back, out);
    const std::map<std::string, LWItemID> read_bones = bones_by_name(read.scene());
    double worst = 0, worst_second = 0;
    for (int frame = part.first; frame <= part.last; ++frame) {
      const double t_back = (frame - part.first) / back.fps;
      read.evaluate(t_back);
      for (const auto& [name, id] : bones) {
        ASSERT_EQ(read_bones.count(name), 1u) << name;
        worst = std::max(worst, distance(scene_at(id, frame), formats::mirror_z(read.world_position(
                                                                  read_bones.at(name), t_back))));
      }
    }
    EXPECT_LT(worst, tolerance) << "assimp: worst " << worst;
    if (bvh) {
      std::vector<std::string> joints;
      const auto frames = read_bvh(out, joints);
      EXPECT_EQ(joints, source_joints);
      for (int frame = part.first; frame <= part.last; ++frame)
        for (const auto& [name, at] : frames[frame - part.first])
          worst_second = std::max(worst_second, distance(scene_at(bones.at(name), frame), at));
      // Exported once more, the file keeps the same joints.
      stage::Host again;
      again.load_scene_record(back, out);
      const std::string again_file = std::string(MOTION_TEST_DIR) + "/legs_again.bvh";
      stage::write_file_whole(again_file, formats::export_bvh(again, 0, 10));
      std::vector<std::string> again_joints;
      read_bvh(again_file, again_joints);
      EXPECT_EQ(again_joints, source_joints);
    } else if (std::string(suffix) == ".glb") {
      const std::string json_file = std::string(MOTION_TEST_DIR) + "/three.json";
      const std::string command = "node '" MOTION_THREE_READER "' '" + out + "' " +
                                  std::to_string(rigged.fps) + " 0 73 200 > '" + json_file + "'";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      const nlohmann::json three = nlohmann::json::parse(read_file(json_file));
      EXPECT_EQ(three["skins"], 1);
      EXPECT_EQ(three["joints"], bones.size());
      EXPECT_TRUE(three["allBones"].get<bool>());
      for (const int frame : {0, 73, 200})
        for (const auto& [name, id] : bones) {
          const auto p = three["frames"][std::to_string(frame)][name];
          worst_second = std::max(
              worst_second, distance(scene_at(id, part.first + frame),
                                     {p[0].get<double>(), p[1].get<double>(), p[2].get<double>()}));
        }
    }
    if (std::string(suffix) != ".gltf") {
      EXPECT_LT(worst_second, tolerance) << "second reader";
    }
  }
}

// The skinned meshes of real characters, carried through import and glTF export (validated) and
// read back by assimp and by three.js: the same meshes and vertex counts, every vertex weighted,
// and every skinned vertex where the source puts it on the first, a middle and the last frame.
// Through --scale on import and back on export too. (These files weigh a vertex by at most four
// bones, all of which the export keeps.)
TEST(Export, SkinnedMeshesLandWhereTheSourcePutsThem) {
  const struct {
    const char* file;
    double import_scale, export_scale;
  } files[] = {{"FBX/huesitos.fbx", 0.01, 100},
               {"X/BCN_Epileptic.X", 1, 1},
               {"glTF2/simple_skin/simple_skin.gltf", 1, 1}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    formats::Import_options options;
    options.scale = f.import_scale;
    const stage::Scene_record record = formats::import_motion(model(f.file), options);
    ASSERT_FALSE(record.meshes.empty());
    stage::Host host;
    host.load_scene_record(record, f.file);
    const std::string out = std::string(MOTION_TEST_DIR) + "/skinned.glb";
    stage::write_file_whole(out, formats::export_gltf(host, record.frame_start, record.frame_end,
                                                      true, f.export_scale));
    const std::string command = "node '" MOTION_VALIDATOR "' '" + out + "' >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    Assimp::Importer source_reader, export_reader;
    const aiScene* source = source_reader.ReadFile(model(f.file), 0);
    const aiScene* back = export_reader.ReadFile(out, 0);
    ASSERT_TRUE(source && back);
    for (unsigned m = 0; m < back->mNumMeshes; ++m) {
      std::vector<double> weight(back->mMeshes[m]->mNumVertices, 0);
      for (unsigned b = 0; b < back->mMeshes[m]->mNumBones; ++b)
        for (unsigned w = 0; w < back->mMeshes[m]->mBones[b]->mNumWeights; ++w)
          weight[back->mMeshes[m]->mBones[b]->mWeights[w].mVertexId] +=
              back->mMeshes[m]->mBones[b]->mWeights[w].mWeight;
      for (const double w : weight) ASSERT_NEAR(w, 1, 1e-6) << "mesh " << m;
    }
    const int frames[] = {record.frame_start, (record.frame_start + record.frame_end) / 2,
                          record.frame_end};
    const std::string three_file = std::string(MOTION_TEST_DIR) + "/skinned_three.json";
    std::string three_command =
        "node '" MOTION_THREE_READER "' '" + out + "' " + std::to_string(record.fps);
    for (const int frame : frames)
      three_command += " " + std::to_string(frame - record.frame_start);
    ASSERT_EQ(std::system((three_command + " > '" + three_file + "'").c_str()), 0) << three_command;
    const nlohmann::json three = nlohmann::json::parse(read_file(three_file));
    const double source_tps = source->mAnimations[0]->mTicksPerSecond;
    for (const int frame : frames) {
      const double t = (frame - record.frame_start) / record.fps;
      const double ticks = std::fabs(record.fps - source_tps) < 1e-3 * source_tps
                               ? frame
                               : frame / record.fps * source_tps;
      const auto expected = motion_test::skinned_vertices(*source, ticks);
      const auto got =
          motion_test::skinned_vertices(*back, t * back->mAnimations[0]->mTicksPerSecond);
      const nlohmann::json& by_three = three["skinned"][std::to_string(frame - record.frame_start)];
      ASSERT_EQ(got.size(), expected.size());
      ASSERT_EQ(by_three.size(), expected.size());
      for (std::size_t m = 0; m < got.size(); ++m) {
        ASSERT_EQ(got[m].size(), expected[m].size()) << "mesh " << m;
        ASSERT_EQ(by_three[m].size(), 3 * expected[m].size()) << "mesh " << m;
        Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
        double worst = 0, worst_three = 0;
        for (std::size_t v = 0; v < got[m].size(); ++v) {
          worst = std::max(worst, distance(got[m][v], expected[m][v]));
          const Vec3 t{by_three[m][3 * v].get<double>(), by_three[m][3 * v + 1].get<double>(),
                       by_three[m][3 * v + 2].get<double>()};
          worst_three = std::max(worst_three, distance(t, expected[m][v]));
          for (int k = 0; k < 3; ++k)
            lo[k] = std::min(lo[k], expected[m][v][k]), hi[k] = std::max(hi[k], expected[m][v][k]);
        }
        EXPECT_LT(worst, 1e-6 * distance(lo, hi)) << "assimp: mesh " << m << " frame " << frame;
        EXPECT_LT(worst_three, 1e-6 * distance(lo, hi))
            << "three: mesh " << m << " frame " << frame;
      }
    }
  }
}

// Runs tarsel-stage with the arguments; returns its exit code, its standard error in `err`.
int run_stage(const std::string& args, std::string& err) {
  // One file a process: CTest runs these tests side by side.
  const std::string err_file =
      std::string(MOTION_TEST_DIR) + "/stderr." + std::to_string(getpid()) + ".txt";
  const int raw =
      std::system(("'" TARSEL_STAGE_EXE "' " + args + " >/dev/null 2>'" + err_file + "'").c_str());
  err = read_file(err_file);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Every bad input gets one line naming the file and the fault, exit code 1, and no output file.
TEST(CommandLine, BadInputGetsOneLineAndWritesNothing) {
  const std::string dir = MOTION_TEST_DIR;
  const std::string clip = dir + "/clip.json", out = dir + "/never.json";
  std::string err;
  ASSERT_EQ(run_stage("import '" + cmu + "' --frames 0-20 -o '" + clip + "'", err), 0) << err;
  // An animated box: one node, no skeleton.
  const float box_keys[] = {0, 1, 0, 0, 0, 1, 0, 0};
  stage::write_file_whole(dir + "/box.bin",
                          std::string(reinterpret_cast<const char*>(box_keys), sizeof box_keys));
  stage::write_file_whole(dir + "/box.gltf",
                          R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
          "nodes": [{"name": "Box"}], "buffers": [{"uri": "box.bin", "byteLength": 32}],
          "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 8},
                          {"buffer": 0, "byteOffset": 8, "byteLength": 24}],
          "accessors": [{"bufferView": 0, "componentType": 5126, "count": 2, "type": "SCALAR",
                         "min": [0], "max": [1]},
                        {"bufferView": 1, "componentType": 5126, "count": 2, "type": "VEC3"}],
          "animations": [{"channels": [{"sampler": 0, "target": {"node": 0, "path": "translation"}}],
                          "samplers": [{"input": 0, "output": 1}]}]})");
  // A scene whose character's file changed after the import.
  const std::string changed = dir + "/changing.fbx";
  stage::write_file_whole(changed, read_file(model("FBX/huesitos.fbx")));
  ASSERT_EQ(run_stage("import '" + changed + "' -o '" + dir + "/changing.json'", err), 0) << err;
  stage::write_file_whole(changed, read_file(model("FBX/animation_with_skeleton.fbx")));
  const struct {
    std::string args;
    std::string says;  // what the line must hold besides the file's name
    std::string file;
  } cases[] = {
      {"import '" + dir + "/missing.bvh'", "cannot open", "missing.bvh"},
      {"import '" + dir + "'", "cannot read", dir},
      {"import '" + model("BVH/01_nn.bvh.source.txt") + "'", "cannot import", "01_nn.bvh"},
      {"import '" + model("FBX/box.fbx") + "'", "no animation", "box.fbx"},
      {"import '" + dir + "/box.gltf'", "no skeleton", "box.gltf"},
      {"import '" + cmu + "' --frames 100-9999", "outside the clip's frames 0-2751", "01_01.bvh"},
      {"import '" + cmu + "' --chain LeftUpleg:LeftFoot",
       "no joint named \"LeftUpleg\" (nearest: \"LeftUpLeg\", ", "01_01.bvh"},
      {"import '" + cmu + "' --animation 1", "no such animation (the file has 0 \"", "01_01.bvh"},
      {"rig '" + clip + "' --chain LeftUpLeg:RightFoot", "is not a joint below", "clip.json"},
      {"rig '" + clip + "' --pin LeftFoot:0-5", "no chain ends at", "clip.json"},
      {"rig '" + clip + "' --chain LeftUpLeg:LeftFoot --pin LeftFoot:10-30", "outside",
       "clip.json"},
      {"rig '" + model("BVH/01_01.bvh") + "' --chain A:B", "not valid JSON", "01_01.bvh"},
      {"bake '" + clip + "' --frames 0-21", "outside the scene's frames 0-20", "clip.json"},
      {"export '" + clip + "' -o '" + dir + "/never.fbx'", "unknown kind of file", "never.fbx"},
      {"export '" + dir + "/changing.json' -o '" + dir + "/never.glb'",
       "is not the mesh imported (the file changed since): import it again", "changing.fbx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::remove(out.c_str());
    const bool to_json = c.args.find(" -o ") == std::string::npos;
    EXPECT_EQ(run_stage(c.args + (to_json ? " -o '" + out + "'" : ""), err), 1);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(c.file), std::string::npos) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    struct stat st;
    EXPECT_NE(stat(out.c_str(), &st), 0) << "an output was written";
    EXPECT_NE(stat((dir + "/never.fbx").c_str(), &st), 0);
    EXPECT_NE(stat((dir + "/never.glb").c_str(), &st), 0);
  }
}

// `import --list` shows the joints as a tree under the skeleton and the file's animations, and
// --animation takes one by index.
TEST(CommandLine, ListShowsTheJointTreeAndTheAnimations) {
  const std::string dir = MOTION_TEST_DIR;
  const std::string listed = dir + "/list.txt";
  ASSERT_EQ(std::system(
                ("'" TARSEL_STAGE_EXE "' import '" + cmu + "' --list > '" + listed + "'").c_str()),
            0);
  const std::string text = read_file(listed);
  EXPECT_NE(text.find("skeleton \"01_01\": 38 joints\n  Hips\n    LHipJoint\n      LeftUpLeg\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("animations:\n  0 \""), std::string::npos) << text;
  std::string err;
  EXPECT_EQ(
      run_stage("import '" + cmu + "' --animation 0 --frames 0-5 -o '" + dir + "/a0.json'", err), 0)
      << err;
}

// Foot-locking a clip is two commands: `contacts` lists the left foot's planted phases of 01_01 as
// --pin options (they cover most of the touch-down over frames 282-420, where the clip's ankle
// drifts by 0.37), and `rig` takes them as they are.
TEST(CommandLine, ContactsGiveThePinsOfAWalk) {
  const std::string dir = MOTION_TEST_DIR;
  std::string err;
  ASSERT_EQ(run_stage("import '" + cmu + "' -o '" + dir + "/walk.json'", err), 0) << err;
  const std::string listed = dir + "/contacts.txt";
  ASSERT_EQ(std::system(("'" TARSEL_STAGE_EXE "' contacts '" + dir +
                         "/walk.json' --joint LeftFoot > '" + listed + "'")
                            .c_str()),
            0);
  std::istringstream lines(read_file(listed));
  std::string option, pin, pins;
  int touch_down = 0;             // frames of 282-420 in some phase
  int phases = 0, in_stance = 0;  // in_stance: phases meeting 282-420, one footprint
  while (lines >> option >> pin) {
    ASSERT_EQ(option, "--pin");
    int first = 0, last = 0;
    ASSERT_EQ(std::sscanf(pin.c_str(), "LeftFoot:%d-%d", &first, &last), 2) << pin;
    touch_down += std::max(0, std::min(last, 420) - std::max(first, 282) + 1);
    in_stance += last >= 282 && first <= 420;
    ++phases;
    pins += " --pin " + pin;
  }
  std::printf("contacts: %d phases:%s\n", phases, pins.c_str());
  EXPECT_GT(touch_down, 100) << pins;
  EXPECT_EQ(in_stance, 1) << "the landing is split:" << pins;
  EXPECT_GE(phases, 4);
  const std::string locked = dir + "/locked.json";
  EXPECT_EQ(
      run_stage("rig '" + dir + "/walk.json' -o '" + locked + "' --chain LeftUpLeg:LeftFoot" + pins,
                err),
      0)
      << err;
  // A saved panel edit of the rigged file changes the option's value alone: every number the rig
  // wrote keeps its text, digit for digit.
  std::string expected = read_file(locked);
  const std::size_t at = expected.find("\"PostureWeight 1\"");
  ASSERT_NE(at, std::string::npos);
  expected.replace(at + 15, 1, "0.5");
  ASSERT_EQ(run_stage("panel '" + locked + "' --set 'Posture Weight=0.5' --save", err), 0) << err;
  EXPECT_TRUE(read_file(locked) == expected) << "more than the option's value changed";
}

// Units: the CMU clip imported in metres stands about 1.7 m tall, and exported back in its own unit
// it has the source's joints where the source has them, read by the offset-adding reader.
TEST(CommandLine, UnitsConvertOnImportAndBackOnExport) {
  const std::string dir = MOTION_TEST_DIR;
  std::string err;
  ASSERT_EQ(
      run_stage("import '" + cmu + "' --units cmu --frames 0-40 -o '" + dir + "/metres.json'", err),
      0)
      << err;
  const stage::Scene_record scene = stage::read_scene_file(dir + "/metres.json");
  stage::Host host;
  host.load_scene_record(scene, "metres");
  host.evaluate_frame(0);
  const auto b = bones_by_name(host.scene());
  const double tall = host.world_position(b.at("EndSite_Head"), 0)[1] -
                      host.world_position(b.at("LeftToeBase"), 0)[1];
  EXPECT_GT(tall, 1.4);
  EXPECT_LT(tall, 1.9);
  ASSERT_EQ(
      run_stage("export '" + dir + "/metres.json' --units cmu -o '" + dir + "/back.bvh'", err), 0)
      << err;
  std::vector<std::string> names, source_names;
  const auto back = read_bvh(dir + "/back.bvh", names);
  const auto source = read_bvh(cmu, source_names);
  EXPECT_EQ(names, source_names);
  double worst = 0;
  for (int f = 0; f <= 40; ++f)
    for (const auto& [name, at] : back[f])
      worst = std::max(worst, distance(at, source[f].at(name)));
  EXPECT_LT(worst, 1e-6 * 30);
}

}  // namespace
