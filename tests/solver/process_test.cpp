// The chain-level solve driven through a small in-memory scene: the set-up's measures and choices,
// the solved chain composed back by forward kinematics, and the faults of branching, bank-limited,
// tiny-link and near-rigid chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "la3d/vk_3dla.h"
#include "module/user_data.h"
#include "solver/chain_end.h"
#include "solver/chain_setup.h"
#include "solver/limits.h"
#include "solver/process.h"
#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"
#include "tests/solver/fake_scene.h"

namespace {

using vk_3dla::deg2rad;
using vk_3dla::m33;
using vk_3dla::m44;
using vk_3dla::pi;
using vk_3dla::vec3;

struct Solved {
  m33 root{1};
  std::vector<Result> results;
};

class ProcessTest : public ::testing::Test {
 protected:
  ProcessTest() { options.excess_stretch = 0; }

  Solved solve(const std::vector<LWItemID>& items, LWItemID goal, int arbitrary_limit = 0) {
    Solved s;
    s.results.assign(items.size(), Result{vec3(0.0), 1.0});
    s.root =
        process(&s.results, &options, scene.access(items[0], time), items, goal, arbitrary_limit);
    return s;
  }

  // The set-up alone, for its measures; the limit is built into `limit`.
  Chain_setup set_up(const std::vector<LWItemID>& items, LWItemID goal, int arbitrary_limit = 0) {
    Chain_setup setup;
    limit = Root_limit();
    set_up_chain(&setup, &limit, options, *scene.access(items[0], time), items, goal,
                 arbitrary_limit);
    return setup;
  }

  // Gives the scene the solved rotations (bones with weight 0 keep theirs) and returns the world
  // position of the last item's tip.
  vec3 posed_tip(const std::vector<LWItemID>& items, const Solved& s) {
    scene[items[0]].rotation = vk_3dla::hpb_from_m33(s.root);
    for (std::size_t i = 1; i < items.size(); ++i) {
      if (s.results[i].weight > 0.0) scene[items[i]].rotation = s.results[i].hpb;
    }
    return tip(items.back());
  }

  vec3 tip(LWItemID bone) {
    const fake_scene::Item& b = scene[bone];
    return scene.world_point(bone, vec3(0.0, 0.0, b.rest_length) - b.pivot);
  }

  fake_scene::Scene scene;
  tarsel::UserData options;
  Root_limit limit;
  double time = 0.5;
};

bool finite(const vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Positive by how far the direction w (root frame) lies outside the limit's cone, read from the
// knots independently of the joint solve.
double cone_excess(const Root_limit& limit, const vec3& w) {
  const vec3 d = w * limit.to_limit;
  double phi = std::atan2(d.y, d.x);
  if (phi < 0.0) phi += 2.0 * pi;
  const double theta = vk_3dla::acos_clamped(d.z);
  std::size_t i = 1;
  while (i + 2 < limit.knots.size() && limit.knots[i + 1].angle <= phi) ++i;
  return theta - cone_radius(limit.knots[i], limit.knots[i + 1], phi);
}

// ---- One item, zero rest rotations --------------------------------------------------------

TEST_F(ProcessTest, OneItemChainAimsItsTipAndWritesNoResult) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.3, -0.2, 0.1), vec3(0.0), 2.0);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(1.3, 0.8, -0.9);

  const Chain_setup setup = set_up({root}, goal);
  EXPECT_EQ(setup.s_min, 0.0);
  EXPECT_EQ(setup.s_sol, 0.0);
  EXPECT_EQ(setup.kind, IK_align_dir);
  EXPECT_FALSE(scene.wrong_time_asked);

  const Solved s = solve({root}, goal);
  EXPECT_EQ(s.results[0].weight, 1.0);
  EXPECT_VEC3_NEAR(s.results[0].hpb, vec3(0.0), 0.0);
  // The tip lies on the line from the root's pivot to the goal.
  const vec3 to_goal = scene.world_position(goal) - scene.world_position(root);
  const vec3 to_tip = posed_tip({root}, s) - scene.world_position(root);
  EXPECT_VEC3_NEAR(vk_3dla::normalized(to_tip), vk_3dla::normalized(to_goal), 1e-12);
}

TEST_F(ProcessTest, AllZeroRestRotationsNeverBend) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0), 1.0);
  const LWItemID b2 = scene.add_bone("b2", b1, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.00009, 0.0), 1.0);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.0, 1.0, 1.0);

  const Chain_setup setup = set_up({root, b1, b2}, goal);
  EXPECT_EQ(setup.largest_arc, 0.0);
  EXPECT_EQ(setup.step, 1.0);
  EXPECT_FALSE(setup.range_measured);
  EXPECT_EQ(setup.s_sol, 0.0);
  EXPECT_EQ(setup.kind, IK_align_dir);
  EXPECT_EQ(setup.works[2].rest_rot.y, 0.0);  // below 1e-4: stored as zero
  EXPECT_EQ(setup.works[2].channel, setup.works[1].channel);

  const Solved s = solve({root, b1, b2}, goal);
  EXPECT_VEC3_NEAR(s.results[1].hpb, vec3(0.0), 0.0);
  EXPECT_VEC3_NEAR(s.results[2].hpb, vec3(0.0), 0.0);
  const vec3 t = posed_tip({root, b1, b2}, s);
  EXPECT_VEC3_NEAR(vk_3dla::normalized(t), vk_3dla::normalized(scene.world_position(goal)), 1e-12);
}

// ---- Reading the joints ---------------------------------------------------------------------

TEST_F(ProcessTest, JointsAreClassifiedByTheirRestRotation) {
  struct Case {
    const char* name;
    vec3 rest;
    bool one_channel;
    bool flipped;
    int channel;
    double bend;
  };
  const Case cases[] = {
      {"heading", vec3(0.4, 0.0, 0.0), true, false, 0, 0.4},
      {"pitch", vec3(0.0, -0.4, 0.0), true, false, 1, -0.4},
      {"bank", vec3(0.0, 0.0, 0.4), true, false, 2, 0.4},
      {"pitch with tiny heading", vec3(0.00009, 0.4, 0.0), true, false, 1, 0.4},
      {"heading 1e-4 is kept", vec3(0.0001, 0.4, 0.0), false, false, 1, -1.0},
      {"flipped positive pitch", vec3(pi, 0.3, 0.0), true, true, 1, pi - 0.3},
      {"flipped negative pitch", vec3(-pi + 0.0004, -0.3, 0.0), true, true, 1, -pi + 0.3},
      {"flipped needs zero bank", vec3(pi, 0.3, 0.2), false, false, -1, -1.0},
      {"mixed", vec3(0.3, 0.4, 0.0), false, false, 1, -1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_scene::Scene local;
    const LWItemID root = local.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
    const LWItemID b = local.add_bone("b", root, vec3(0.0, 0.0, 1.0), c.rest, 1.0);
    Chain_setup setup;
    Root_limit lim;
    set_up_chain(&setup, &lim, options, *local.access(root), {root, b}, LWITEM_NULL, 0);
    const Work& w = setup.works[1];
    EXPECT_EQ(w.one_channel, c.one_channel);
    EXPECT_EQ(w.flipped, c.flipped);
    if (c.channel >= 0) {
      EXPECT_EQ(w.channel, c.channel);
    }
    if (c.bend != -1.0) {
      EXPECT_NEAR(w.bend_angle, c.bend, 1e-15);
    }
    if (!w.one_channel) {
      // The axis and angle rebuild the rest rotation.
      EXPECT_M33_NEAR(vk_3dla::rot_axis(w.bend_axis, w.bend_angle),
                      vk_3dla::m33_from_hpb(w.rest_rot), 1e-12);
    }
  }
}

TEST_F(ProcessTest, FlippedJointMirrorsItsPitchLimitsAndStillReachesTheGoal) {
  for (double rest_pitch : {0.6, -0.6}) {
    SCOPED_TRACE(rest_pitch);
    fake_scene::Scene local;
    const LWItemID root = local.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
    const LWItemID b =
        local.add_bone("b", root, vec3(0.0, 0.0, 1.0), vec3(pi, rest_pitch, 0.0), 1.0);
    local[b].limit_flags = 2;
    local[b].limit_min = vec3(0.0, -2.0, 0.0);
    local[b].limit_max = vec3(0.0, 2.5, 0.0);
    const LWItemID goal = local.add("goal");
    local[goal].position = vec3(0.5, 0.4, 0.7);

    Chain_setup setup;
    Root_limit lim;
    set_up_chain(&setup, &lim, options, *local.access(root), {root, b}, goal, 0);
    const double c = rest_pitch > 0.0 ? pi : -pi;
    EXPECT_NEAR(setup.works[1].bend_angle, c - rest_pitch, 1e-15);
    EXPECT_NEAR(setup.works[1].limit_min.y, c - 2.5, 1e-15);
    EXPECT_NEAR(setup.works[1].limit_max.y, c + 2.0, 1e-15);

    std::vector<Result> results(2, Result{vec3(0.0), 1.0});
    const m33 r = process(&results, &options, local.access(root), {root, b}, goal, 0);
    EXPECT_NEAR(results[1].hpb.x, pi, 1e-15);  // the rest heading is kept
    local[root].rotation = vk_3dla::hpb_from_m33(r);
    local[b].rotation = results[1].hpb;
    const vec3 end = local.world_point(b, vec3(0.0, 0.0, 1.0));
    EXPECT_VEC3_NEAR(end, local.world_position(goal), 1e-4 * setup.total_length);
  }
}

// ---- Smallest bend fraction, reach and the chosen fraction ----------------------------------

TEST_F(ProcessTest, SmallestBendFractionFollowsTheChannelLimits) {
  struct Case {
    const char* name;
    vec3 rest;
    unsigned flags;
    vec3 lo, hi;
    double s_min;
  };
  const Case cases[] = {
      {"unlimited", vec3(0.0, 0.8, 0.0), 0, vec3(0.0), vec3(0.0), 0.0},
      {"lower limit above 0", vec3(0.0, 0.8, 0.0), 2, vec3(0.0, 0.2, 0.0), vec3(0.0, 1.0, 0.0),
       0.25},
      {"lower limit at 0 straightens fully", vec3(0.0, 0.8, 0.0), 2, vec3(0.0), vec3(0.0, 1.0, 0.0),
       0.0},
      {"negative bend uses the upper limit", vec3(-0.8, 0.0, 0.0), 1, vec3(-1.0, 0.0, 0.0),
       vec3(-0.4, 0.0, 0.0), 0.5},
      {"other channel limited only", vec3(0.0, 0.8, 0.0), 1, vec3(0.5, 0.0, 0.0),
       vec3(1.0, 0.0, 0.0), 0.0},
      {"limited bank counts", vec3(0.0, 0.0, 1.5), 4, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 2.0),
       1.0 / 1.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_scene::Scene local;
    const LWItemID root = local.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
    const LWItemID b = local.add_bone("b", root, vec3(0.0, 0.0, 1.0), c.rest, 1.0);
    local[b].limit_flags = c.flags;
    local[b].limit_min = c.lo;
    local[b].limit_max = c.hi;
    Chain_setup setup;
    Root_limit lim;
    set_up_chain(&setup, &lim, options, *local.access(root), {root, b}, LWITEM_NULL, 0);
    EXPECT_NEAR(setup.s_min, c.s_min, 1e-15);
  }
}

// A three-item chain whose tip sits off its bone's axis (by its pivot), so that its longest reach
// is not at the straightened pose: the range searches run, and s_lo differs from s_min.
class ReachTest : public ProcessTest {
 protected:
  ReachTest() {
    root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
    b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.5, 0.0), 1.0);
    b2 = scene.add_bone("b2", b1, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.7, 0.0), 1.0);
    scene[b2].pivot = vec3(0.0, -0.6, 0.0);
    goal = scene.add("goal");
    items = {root, b1, b2};
  }
  LWItemID root, b1, b2, goal;
  std::vector<LWItemID> items;
};

TEST_F(ReachTest, GoalAtTheLongestReachIsOutOfReach) {
  const Chain_setup probe = set_up(items, goal);
  ASSERT_FALSE(probe.two_items.valid);
  ASSERT_NE(probe.s_min, probe.s_lo);
  scene[goal].position = vec3(0.0, 0.0, probe.longest);

  options.excess_stretch = 0;
  Chain_setup setup = set_up(items, goal);
  EXPECT_EQ(vk_3dla::abs(setup.goal_local), probe.longest);
  EXPECT_EQ(setup.s_sol, setup.s_far);

  options.excess_stretch = 1;
  setup = set_up(items, goal);
  EXPECT_EQ(setup.s_sol, setup.s_lo);  // the stretch formula with no excess

  // Beyond the reach the stretch moves the fraction towards s_min in proportion, never past it.
  const double k = setup.total_length / 4.0;
  scene[goal].position = vec3(0.0, 0.0, probe.longest + 0.25 * k);
  setup = set_up(items, goal);
  EXPECT_NEAR(setup.s_sol, setup.s_lo + 0.25 * (setup.s_min - setup.s_lo), 1e-12);
  scene[goal].position = vec3(0.0, 0.0, probe.longest + 10.0 * k);
  setup = set_up(items, goal);
  EXPECT_EQ(setup.s_sol, setup.s_min);
}

TEST_F(ReachTest, GoalAtTheShortestReachTakesTheNearestFraction) {
  const Chain_setup probe = set_up(items, goal);
  scene[goal].position = vec3(0.0, probe.shortest, 0.0);
  const Chain_setup setup = set_up(items, goal);
  EXPECT_EQ(vk_3dla::abs(setup.goal_local), probe.shortest);
  EXPECT_EQ(setup.s_sol, setup.s_near);
}

TEST_F(ReachTest, MeasuresMatchTheChainEnd) {
  const Chain_setup setup = set_up(items, goal);
  EXPECT_NEAR(setup.longest, vk_3dla::abs(chain_end(setup.works, setup.s_far)), 1e-12);
  EXPECT_NEAR(setup.shortest, vk_3dla::abs(chain_end(setup.works, setup.s_near)), 1e-12);
  EXPECT_LE(setup.s_lo, setup.s_hi);
  // No sampled fraction of the range reaches farther than the longest reach found.
  for (int i = 0; i <= 100; ++i) {
    const double s = setup.s_lo + (setup.s_hi - setup.s_lo) * i / 100.0;
    EXPECT_LE(vk_3dla::abs(chain_end(setup.works, s)), setup.longest + 1e-9);
  }
  EXPECT_NEAR(setup.length_tolerance, setup.total_length * 1e-4, 1e-15);
  EXPECT_NEAR(setup.fraction_tolerance, setup.step * 1e-3, 1e-18);
}

// ---- Chain kind -----------------------------------------------------------------------------

TEST(PlaneKind, TellsWhetherTheChainBendsInOnePlane) {
  using namespace chain_builders;
  const vec3 z(0.0, 0.0, 1.0);
  auto chain = [&](std::vector<Work> joints) {
    joints.insert(joints.begin(), plain_joint(vec3(0.0), z));
    return link(joints);
  };
  auto with_fk = [](Work w, const vec3& fk) {
    w.fk_rot = fk;
    return w;
  };
  auto with_pivot = [](Work w, const vec3& p) {
    set_pivot(&w, p);
    return w;
  };
  struct Case {
    const char* name;
    std::vector<Work> works;
    int kind;
    int kind_ignoring_fk;
  };
  const Case cases[] = {
      {"root alone", chain({}), 1, 1},
      {"no bend", chain({plain_joint(z, z)}), 1, 1},
      {"pitch joints", chain({channel_joint(1, 0.3, z, z), channel_joint(1, -0.2, z, z)}), 1, 1},
      {"bank joint", chain({channel_joint(2, 0.3, z, z)}), 1, 1},
      {"heading joints", chain({channel_joint(0, 0.3, z, z), channel_joint(0, 0.5, z, z)}), 0, 0},
      {"heading then pitch", chain({channel_joint(0, 0.3, z, z), channel_joint(1, 0.5, z, z)}), -1,
       -1},
      {"pitch then bank", chain({channel_joint(1, 0.3, z, z), channel_joint(2, 0.5, z, z)}), 1, 1},
      {"mixed axis", chain({free_axis_joint(vec3(0.3, 0.4, 0.0), z, z)}), -1, -1},
      {"extra turn before the last",
       chain({with_fk(channel_joint(1, 0.3, z, z), vec3(0, 0, 0.2)), channel_joint(1, 0.3, z, z)}),
       -1, 1},
      {"last heading joint banked", chain({with_fk(channel_joint(0, 0.3, z, z), vec3(0, 0, 0.2))}),
       0, 0},
      {"last heading joint pitched", chain({with_fk(channel_joint(0, 0.3, z, z), vec3(0, 0.2, 0))}),
       -1, 0},
      {"last pitch joint banked", chain({with_fk(channel_joint(1, 0.3, z, z), vec3(0, 0, 0.2))}), 1,
       1},
      {"last pitch joint headed", chain({with_fk(channel_joint(1, 0.3, z, z), vec3(0.2, 0, 0))}),
       -1, 1},
      {"last bank joint pitched", chain({with_fk(channel_joint(2, 0.3, z, z), vec3(0, 0.2, 0))}),
       -1, 1},
      {"flipped joint's heading ignored",
       chain({with_fk(flipped_joint(0.3, z, z), vec3(0.4, 0.2, 0.0)), channel_joint(1, 0.3, z, z)}),
       1, 1},
      {"pivot off the bend plane",
       chain({with_pivot(channel_joint(1, 0.3, z, z), vec3(0.1, 0, 0))}), -1, -1},
      {"pivot about the bend axis",
       chain({with_pivot(channel_joint(1, 0.3, z, z), vec3(0, 0.1, 0))}), 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plane_kind(c.works, false), c.kind);
    EXPECT_EQ(plane_kind(c.works, true), c.kind_ignoring_fk);
  }
}

TEST_F(ProcessTest, KindFollowsThePlaneUnlessTheLengthIsFixed) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.4, 0.0, 0.0), 1.0);
  const LWItemID b2 = scene.add_bone("b2", b1, vec3(0.0, 0.0, 1.0), vec3(0.3, 0.0, 0.0), 1.0);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.5, 0.0, 1.5);
  EXPECT_EQ(set_up({root, b1, b2}, goal).kind, IK_align_x);
  // Both joints pinned at their rest bend: the chain cannot change its length.
  for (LWItemID b : {b1, b2}) {
    scene[b].limit_flags = 1;
    scene[b].limit_min = scene[b].limit_max = scene[b].rest_rotation;
  }
  const Chain_setup setup = set_up({root, b1, b2}, goal);
  EXPECT_EQ(setup.s_min, 1.0);
  EXPECT_EQ(setup.kind, IK_align_dir);
}

// ---- Limit items ----------------------------------------------------------------------------

TEST(LimitItemNames, NeedTheMarkerTextAndTwelveCharacters) {
  struct Case {
    const char* name;
    bool item;
    bool origin;
  };
  const Case cases[] = {
      {"for-ik-limit", true, false},
      {"left.for-ik-limit.07", true, false},
      {"For-ik-limit", false, false},
      {"for-ik-limi", false, false},
      {"ik-limit-org", false, true},
      {"arm ik-limit-org (2)", false, true},
      {"for-ik-limit-org", true, true},
      {"ik-limit", false, false},
      {"", false, false},
      {nullptr, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    EXPECT_EQ(is_limit_item_name(c.name), c.item);
    EXPECT_EQ(is_limit_origin_name(c.name), c.origin);
  }
}

TEST_F(ProcessTest, LimitItemsAreTheRootsMarkedSiblingsInOrder) {
  const LWItemID rig = scene.add("rig");
  const LWItemID a = scene.add("a.for-ik-limit", rig);
  const LWItemID root = scene.add_bone("for-ik-limit root", rig, vec3(0.0), vec3(0.0), 1.0);
  scene.add("short-limit", rig);
  const LWItemID o1 = scene.add("ik-limit-org", rig);
  const LWItemID b = scene.add("b.for-ik-limit", rig);
  const LWItemID o2 = scene.add("second ik-limit-org", rig);
  scene.add("c.for-ik-limit", root);  // a child, not a sibling
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.0, 0.0, 2.0);
  (void)o1;

  Chain_setup setup = set_up({root}, goal, 1);
  EXPECT_EQ(setup.limit_items, (std::vector<LWItemID>{a, b}));
  EXPECT_EQ(setup.limit_origin, o2);
  EXPECT_TRUE(limit.cone_limit);

  setup = set_up({root}, goal, 0);
  EXPECT_TRUE(setup.limit_items.empty());
  EXPECT_EQ(setup.limit_origin, LWITEM_NULL);
  EXPECT_FALSE(limit.cone_limit);
}

// ---- Root limits through the whole solve -----------------------------------------------------

// A two-bone arm whose root has rotation limits; the goal is put in a direction from the root.
class LimitedRootTest : public ProcessTest {
 protected:
  LimitedRootTest() {
    rig = scene.add("rig");  // limit markers are the root's siblings under it
    root = scene.add_bone("root", rig, vec3(0.0), vec3(0.0), 1.0);
    b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.6, 0.0), 1.0);
    goal = scene.add("goal");
    items = {root, b1};
  }
  void limit_root(unsigned flags, const vec3& lo, const vec3& hi) {
    scene[root].limit_flags = flags;
    scene[root].limit_min = lo;
    scene[root].limit_max = hi;
  }
  // The goal at distance r in the direction of heading h and pitch p from the root.
  void goal_towards(double h, double p, double r) {
    scene[goal].position = vec3(0.0, 0.0, r) * vk_3dla::m33_from_hpb(vec3(h, p, 0.0));
  }
  LWItemID rig, root, b1, goal;
  std::vector<LWItemID> items;
};

TEST_F(LimitedRootTest, StraddlingLimitsHoldTheRootOnTheirCone) {
  limit_root(3, vec3(deg2rad(-30), deg2rad(-20), 0.0), vec3(deg2rad(60), deg2rad(40), 0.0));
  goal_towards(deg2rad(120), 0.3, 1.5);
  const Chain_setup setup = set_up(items, goal);
  ASSERT_TRUE(limit.cone_limit);
  ASSERT_EQ(limit.knots.size(), 6u);
  const double radii[] = {60, 20, 30, 40};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(limit.knots[i + 1].radius, deg2rad(radii[i]), 1e-12);

  const Solved s = solve(items, goal);
  const vec3 z = s.root.row(2);
  EXPECT_NEAR(cone_excess(limit, z), 0.0, 1e-3);  // on the boundary, not beyond it
  EXPECT_TRUE(finite(s.results[1].hpb));
  (void)setup;

  // A goal whose solve leaves the root inside the cone is met exactly.
  goal_towards(deg2rad(10), deg2rad(35), 1.5);
  const Solved inside = solve(items, goal);
  EXPECT_LE(cone_excess(limit, inside.root.row(2)), 0.0);
  EXPECT_VEC3_NEAR(posed_tip(items, inside), scene.world_position(goal), 2e-4);
}

TEST_F(LimitedRootTest, OffCentreLimitsKeepTheRootInsideThem) {
  limit_root(3, vec3(deg2rad(10), deg2rad(15), 0.0), vec3(deg2rad(50), deg2rad(45), 0.0));
  goal_towards(deg2rad(-60), deg2rad(-30), 1.5);
  const Chain_setup setup = set_up(items, goal);
  (void)setup;
  ASSERT_TRUE(limit.cone_limit);
  // The limit frame's Z points between the limits, not along the root's rest direction.
  const vec3 centre = vec3(0.0, 0.0, 1.0) * limit.from_limit;
  EXPECT_GT(centre.x, 0.0);
  EXPECT_LT(centre.y, 0.0);  // positive pitch turns +Z towards -Y

  const Solved s = solve(items, goal);
  EXPECT_NEAR(cone_excess(limit, s.root.row(2)), 0.0, 1e-3);
}

TEST_F(LimitedRootTest, OneLimitedChannelHoldsTheRootOnItsPlane) {
  limit_root(1, vec3(deg2rad(-20), 0.0, 0.0), vec3(deg2rad(40), 0.0, 0.0));
  goal_towards(deg2rad(100), 0.2, 1.5);
  const Solved s = solve(items, goal);
  const vec3 z = s.root.row(2);
  EXPECT_NEAR(std::atan2(z.x, z.z), deg2rad(40), 1e-3);
}

TEST_F(LimitedRootTest, SingleLimitItemMakesACircularCone) {
  const LWItemID marker = scene.add("a.for-ik-limit", rig);
  scene[marker].rotation = vec3(0.4, 0.0, 0.0);  // its Z axis is 0.4 rad off the root's
  goal_towards(-1.2, 0.5, 1.5);
  const Chain_setup setup = set_up(items, goal, 1);
  (void)setup;
  ASSERT_EQ(limit.knots.size(), 3u);
  EXPECT_NEAR(limit.knots[1].radius, 0.4, 1e-12);

  const Solved s = solve(items, goal, 1);
  EXPECT_NEAR(vk_3dla::angle_between(s.root.row(2), vec3(0.0, 0.0, 1.0)), 0.4, 1e-3);
}

// ---- Twist target and its effect -------------------------------------------------------------

TEST_F(LimitedRootTest, PartialTwistEffectBlendsTheTwoSolves) {
  // The root is held inside a tight cone far from the goal, so the boundary solve with and without
  // the twist target settles on different bends.
  b1 = items[1];
  const LWItemID b2 = scene.add_bone("b2", b1, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.4, 0.0), 1.0);
  items.push_back(b2);
  limit_root(3, vec3(deg2rad(-5), deg2rad(-5), 0.0), vec3(deg2rad(5), deg2rad(5), 0.0));
  goal_towards(1.5, 0.3, 2.0);
  const LWItemID target = scene.add("target");
  scene[target].position = vec3(2.0, 1.5, 0.0);
  const LWItemID effect = scene.add("effect");

  options.twist_target = LWITEM_NULL;
  const Solved without = solve(items, goal);
  options.twist_target = target;
  options.twist_effect = effect;
  scene[effect].position = vec3(1.5, 0.0, 0.0);  // clamped to full effect: one solve
  const Solved with = solve(items, goal);
  scene[effect].position = vec3(0.25, 0.0, 0.0);
  const Solved blend = solve(items, goal);

  bool differs = false;
  for (std::size_t k = 1; k < items.size(); ++k) {
    SCOPED_TRACE(k);
    const double first = with.results[k].hpb.y, second = without.results[k].hpb.y;
    differs = differs || std::fabs(first - second) > 1e-6;
    EXPECT_NEAR(blend.results[k].hpb.y, 0.25 * first + 0.75 * second, 1e-12);
  }
  EXPECT_TRUE(differs) << "the twist target should change the bend";
  // The root is the slerp of the two, turned back into the cone by the least turn where the slerp
  // of two rotations on the boundary points outside it.
  const vk_3dla::quat q =
      vk_3dla::slerp(vk_3dla::quat_from_m33(without.root), vk_3dla::quat_from_m33(with.root), 0.25);
  const m33 slerped = vk_3dla::m33_from_quat(q);
  set_up(items, goal);
  const double outside = cone_excess(limit, slerped.row(2));
  EXPECT_LE(cone_excess(limit, blend.root.row(2)), 1e-6);
  EXPECT_LE(vk_3dla::angle_between(slerped.row(2), blend.root.row(2)),
            std::fmax(outside, 0.0) + 1e-9);
  EXPECT_M33_NEAR(blend.root,
                  slerped * vk_3dla::rotation_between(slerped.row(2), blend.root.row(2)), 1e-12);

  // An effect that is not a number, or 0, leaves the twist target out.
  for (double x : {0.0, -2.0, std::nan("")}) {
    scene[effect].position = vec3(x, 0.0, 0.0);
    const Solved off = solve(items, goal);
    EXPECT_M33_NEAR(off.root, without.root, 1e-12);
  }
}

TEST_F(ProcessTest, NegativeOrUnsetPostureWeightIsClampedInTheInstance) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.0, 1.0, 1.0);
  for (double w : {-2.0, std::nan("")}) {
    options.posture_weight = w;
    solve({root}, goal);
    EXPECT_EQ(options.posture_weight, 0.0);
  }
  options.posture_weight = 3.0;
  solve({root}, goal);
  EXPECT_EQ(options.posture_weight, 3.0);
}

// ---- Reaching goals -------------------------------------------------------------------------

// Random serial chains of 2 to 6 items under a rotated, translated, scaled parent, with rest
// bends by one channel or a mixed axis, random pivots, scales and host rotations; no limits. A goal
// strictly inside the reach the set-up finds is met by the chain composed back from the returned
// root rotation and the bones' results.
TEST_F(ProcessTest, SerialChainsMeetGoalsInsideTheirReach) {
  std::mt19937 gen(20240611);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto in = [&](double a, double b) { return a + (b - a) * u(gen); };
  int solved = 0;
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    fake_scene::Scene local;
    const int n = 2 + trial % 5;
    const LWItemID rig = local.add("rig");
    local[rig].position = vec3(in(-2, 2), in(-2, 2), in(-2, 2));
    local[rig].rotation = vec3(in(-3, 3), in(-1.5, 1.5), in(-3, 3));
    const double rig_scale = in(0.5, 2.0);
    local[rig].scaling = vec3(rig_scale);
    local[rig].pivot = vec3(in(-0.2, 0.2), in(-0.2, 0.2), in(-0.2, 0.2));

    std::vector<LWItemID> items;
    items.push_back(local.add_bone("root", rig, vec3(in(-1, 1), in(-1, 1), in(-1, 1)), vec3(0.0),
                                   in(0.5, 1.5)));
    for (int k = 1; k < n; ++k) {
      vec3 rest(0.0);
      const double bend = (u(gen) < 0.5 ? -1.0 : 1.0) * in(0.2, 1.2);
      if (u(gen) < 0.75) {
        rest[static_cast<int>(in(0, 2.999))] = bend;
      } else {
        rest = vec3(in(-0.8, 0.8), in(-0.8, 0.8), in(-0.8, 0.8));
      }
      const vec3 pos(in(-0.3, 0.3), in(-0.3, 0.3), in(0.5, 1.5));
      items.push_back(
          local.add_bone("b" + std::to_string(k), items.back(), pos, rest, in(0.5, 1.5)));
    }
    for (LWItemID it : items) {
      local[it].pivot = vec3(in(-0.1, 0.1), in(-0.1, 0.1), in(-0.1, 0.1));
      if (u(gen) < 0.3) local[it].pivot_rot = vec3(in(-0.3, 0.3), in(-0.3, 0.3), in(-0.3, 0.3));
      if (it != items[0]) local[it].scaling = vec3(in(0.8, 1.25), in(0.8, 1.25), in(0.8, 1.25));
      local[it].rotation = vec3(in(-0.5, 0.5), in(-0.5, 0.5), in(-0.5, 0.5));
    }
    options.mix_with_fk = trial % 3 == 0;
    const LWItemID goal = local.add("goal");

    Chain_setup setup;
    Root_limit lim;
    set_up_chain(&setup, &lim, options, *local.access(items[0]), items, goal, 0);
    if (!setup.range_measured || setup.longest - setup.shortest < 1e-3 * setup.total_length)
      continue;
    // The goal at a distance strictly inside the reach, in a random direction from the root.
    const double d = setup.shortest + in(0.05, 0.95) * (setup.longest - setup.shortest);
    const vec3 dir = vk_3dla::normalized(vec3(in(-1, 1), in(-1, 1), in(-1, 1)));
    const vec3 root_rot = local[items[0]].rotation, root_scale = local[items[0]].scaling;
    local[items[0]].rotation = vec3(0.0);
    local[items[0]].scaling = vec3(1.0);
    local[goal].position = local.world_point(items[0], dir * d);  // goal is top-level
    local[items[0]].rotation = root_rot;
    local[items[0]].scaling = root_scale;

    std::vector<Result> results(items.size(), Result{vec3(0.0), 1.0});
    const m33 r = process(&results, &options, local.access(items[0]), items, goal, 0);
    local[items[0]].rotation = vk_3dla::hpb_from_m33(r);
    for (std::size_t k = 1; k < items.size(); ++k) local[items[k]].rotation = results[k].hpb;
    const fake_scene::Item& last = local[items.back()];
    const vec3 end = local.world_point(items.back(), vec3(0.0, 0.0, last.rest_length) - last.pivot);
    EXPECT_VEC3_NEAR(end, local.world_position(goal), 1e-4 * setup.total_length * rig_scale);
    ++solved;
  }
  EXPECT_GE(solved, 150);
}

// ---- Mended faults ---------------------------------------------------------------------------

// A side branch must not become a link of the path to the goal.
TEST_F(ProcessTest, BranchingChainSolvesThePathToItsLastItem) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID b11 = scene.add_bone("b11", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.5, 0.0), 1.0);
  const LWItemID b12 = scene.add_bone("b12", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.3, 0.0), 1.0);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.0, 1.0, 1.2);
  scene[b11].rotation = vec3(0.1, 0.2, 0.3);
  const std::vector<LWItemID> items = {root, b11, b12};

  const Chain_setup setup = set_up(items, goal);
  ASSERT_EQ(setup.works.size(), 2u);
  EXPECT_EQ(setup.works[1].item, b12);
  EXPECT_EQ(setup.result_index, (std::vector<std::size_t>{0, 2}));

  const Solved s = solve(items, goal);
  EXPECT_EQ(s.results[1].weight, 0.0);  // the side branch keeps the host's rotation
  EXPECT_EQ(s.results[2].weight, 1.0);
  EXPECT_VEC3_NEAR(posed_tip(items, s), scene.world_position(goal), 1e-4 * setup.total_length);
  EXPECT_VEC3_NEAR(scene[b11].rotation, vec3(0.1, 0.2, 0.3), 0.0);
}

TEST_F(ProcessTest, DeeperBranchesKeepTheResultsAlignedWithTheGatheredList) {
  // root -> a -> (a1 -> a2), (b -> b1); gathered as root, a, a1, a2, b, b1.
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID a = scene.add_bone("a", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.4, 0.0), 1.0);
  const LWItemID a1 = scene.add_bone("a1", a, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.4, 0.0), 1.0);
  const LWItemID a2 = scene.add_bone("a2", a1, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.4, 0.0), 1.0);
  const LWItemID b = scene.add_bone("b", a, vec3(0.1, 0.0, 1.0), vec3(0.0, 0.5, 0.0), 0.8);
  const LWItemID b1 = scene.add_bone("b1", b, vec3(0.0, 0.0, 0.8), vec3(0.0, 0.5, 0.0), 0.8);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.3, 1.2, 1.6);
  const std::vector<LWItemID> items = {root, a, a1, a2, b, b1};

  const Chain_setup setup = set_up(items, goal);
  EXPECT_EQ(setup.result_index, (std::vector<std::size_t>{0, 1, 4, 5}));
  const Solved s = solve(items, goal);
  const double weights[] = {1, 1, 0, 0, 1, 1};
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(s.results[i].weight, weights[i]) << i;
  EXPECT_VEC3_NEAR(posed_tip(items, s), scene.world_position(goal), 1e-4 * setup.total_length);
}

TEST_F(ProcessTest, ListNotFollowingParentsIsTakenAsSerial) {
  // The hierarchy says b2 hangs from the root, but the list was not gathered from it.
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.4, 0.0), 1.0);
  const LWItemID other = scene.add("other");
  const LWItemID b2 = scene.add_bone("b2", other, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.4, 0.0), 1.0);
  const Chain_setup setup = set_up({root, b1, b2}, LWITEM_NULL);
  EXPECT_EQ(setup.result_index, (std::vector<std::size_t>{0, 1, 2}));
}

// The chain end's clamp of a bank-limited joint is taken into account by its smallest fraction.
TEST_F(ProcessTest, TwoItemChainWithBankLimitMeetsItsGoal) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID b = scene.add_bone("b", root, vec3(0.5, 0.0, 1.0), vec3(0.0, 0.0, 1.5), 1.0);
  scene[b].pivot = vec3(0.6, 0.0, 0.0);
  scene[b].limit_flags = 4;
  scene[b].limit_min = vec3(0.0, 0.0, 1.0);
  scene[b].limit_max = vec3(0.0, 0.0, 2.0);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.0, 1.32, 1.76);

  const Chain_setup setup = set_up({root, b}, goal);
  EXPECT_NEAR(setup.s_min, 1.0 / 1.5, 1e-15);
  const Solved s = solve({root, b}, goal);
  EXPECT_VEC3_NEAR(posed_tip({root, b}, s), scene.world_position(goal), 1e-4 * setup.total_length);
}

// A joint with an almost zero link of its own that swings the rest of the chain.
TEST_F(ProcessTest, TinyLinkJointKeepsTheSearchStepMeaningful) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 0.35);
  const LWItemID b11 =
      scene.add_bone("b11", root, vec3(0.0, 0.0, 0.35), vec3(-1.2, 0.0, 0.0), 1e-6);
  const LWItemID b12 = scene.add_bone("b12", b11, vec3(0.0, 0.0, 1e-6), vec3(0.0), 0.64);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.0, 0.9, 0.0);
  const std::vector<LWItemID> items = {root, b11, b12};

  const Chain_setup setup = set_up(items, goal);
  EXPECT_NEAR(setup.largest_arc, 1.2 * (0.64 + 1e-6), 1e-12);
  EXPECT_LT(setup.step, 0.1);
  const Solved s = solve(items, goal);
  for (std::size_t k = 1; k < items.size(); ++k) {
    EXPECT_TRUE(finite(s.results[k].hpb));
    EXPECT_LE(std::fabs(s.results[k].hpb.x), pi);
  }
  EXPECT_VEC3_NEAR(posed_tip(items, s), scene.world_position(goal), 1e-4 * setup.total_length);
}

// A chain whose reach hardly changes is held at one length: a tiny goal move moves it tinily.
TEST_F(ProcessTest, NearRigidChainIsTreatedAsFixedLength) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.5, 0.0), 1.0);
  const LWItemID b2 = scene.add_bone("b2", b1, vec3(0.0, 0.0, 1e-6), vec3(0.0, 0.7, 0.0), 1e-5);
  const LWItemID goal = scene.add("goal");
  // b1's link is almost all the chain; make b1 stiff so only b2's tiny link can change the reach.
  scene[b1].limit_flags = 2;
  scene[b1].limit_min = vec3(0.0, 0.5, 0.0);
  scene[b1].limit_max = vec3(0.0, 0.5, 0.0);
  const std::vector<LWItemID> items = {root, b1, b2};
  scene[goal].position = vec3(0.2, 0.7, 1.0);

  const Chain_setup setup = set_up(items, goal);
  ASSERT_TRUE(setup.range_measured);
  ASSERT_LT(setup.longest - setup.shortest, setup.length_tolerance);
  EXPECT_EQ(setup.kind, IK_align_dir);
  EXPECT_EQ(setup.s_sol, setup.s_near);

  const Solved a = solve(items, goal);
  scene[goal].position = vec3(0.2, 0.7, 1.0 + 1e-9);
  const Solved b = solve(items, goal);
  for (std::size_t k = 1; k < items.size(); ++k) {
    EXPECT_VEC3_NEAR(a.results[k].hpb, b.results[k].hpb, 1e-6);
    EXPECT_LE(std::fabs(a.results[k].hpb.y), pi);
  }
  EXPECT_M33_NEAR(a.root, b.root, 1e-6);
}

// ---- Degenerate input ------------------------------------------------------------------------

TEST_F(ProcessTest, DegenerateScenesGiveFiniteRotations) {
  struct Case {
    const char* name;
    vec3 rig_scale;
    vec3 goal;
    double length;
    bool limited_root;
  };
  const Case cases[] = {
      {"goal at the root's pivot", vec3(1.0), vec3(0.0), 1.0, false},
      {"goal at the pivot of a limited root", vec3(1.0), vec3(0.0), 1.0, true},
      {"zero scale above the root", vec3(0.0, 1.0, 1.0), vec3(0.0, 1.0, 1.0), 1.0, false},
      {"zero-length chain", vec3(1.0), vec3(0.0, 1.0, 1.0), 0.0, false},
      {"zero-length chain, limited root", vec3(1.0), vec3(0.0, 1.0, -1.0), 0.0, true},
      {"goal behind a limited root", vec3(1.0), vec3(0.0, 0.0, -2.0), 1.0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_scene::Scene local;
    const LWItemID rig = local.add("rig");
    local[rig].scaling = c.rig_scale;
    const double len = c.length;
    const LWItemID root = local.add_bone("root", rig, vec3(0.0), vec3(0.0), len);
    const LWItemID b1 = local.add_bone("b1", root, vec3(0.0, 0.0, len), vec3(0.0, 0.5, 0.0), len);
    const LWItemID b2 = local.add_bone("b2", b1, vec3(0.0, 0.0, len), vec3(0.3, 0.0, 0.0), len);
    if (c.limited_root) {
      local[root].limit_flags = 3;
      local[root].limit_min = vec3(-0.3, -0.2, 0.0);
      local[root].limit_max = vec3(0.4, 0.5, 0.0);
    }
    const LWItemID goal = local.add("goal");
    local[goal].position = c.goal;
    const std::vector<LWItemID> items = {root, b1, b2};
    std::vector<Result> results(items.size(), Result{vec3(0.0), 1.0});
    testing::internal::CaptureStderr();
    const m33 r = process(&results, &options, local.access(root), items, goal, 0);
    testing::internal::GetCapturedStderr();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(finite(r.row(i)));
    for (const Result& res : results) EXPECT_TRUE(finite(res.hpb));
  }
}

TEST_F(ProcessTest, GoalPositionItemIsTheEndPoint) {
  const LWItemID root = scene.add_bone("root", LWITEM_NULL, vec3(0.0), vec3(0.0), 1.0);
  const LWItemID b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.6, 0.0), 1.0);
  scene[b1].pivot = vec3(0.0, 0.1, 0.0);
  const LWItemID marker = scene.add("end marker", b1);
  scene[marker].position = vec3(0.2, 0.0, 0.8);
  const LWItemID goal = scene.add("goal");
  scene[goal].position = vec3(0.5, 0.8, 1.0);
  options.goal_position = marker;

  const Chain_setup setup = set_up({root, b1}, goal);
  EXPECT_VEC3_NEAR(setup.works[1].end_point, vec3(0.2, -0.1, 0.8), 1e-15);
  const Solved s = solve({root, b1}, goal);
  posed_tip({root, b1}, s);
  EXPECT_VEC3_NEAR(scene.world_position(marker), scene.world_position(goal),
                   1e-4 * setup.total_length);
}

}  // namespace
