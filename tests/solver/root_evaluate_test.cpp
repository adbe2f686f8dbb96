// The chain root's evaluation on a small in-memory scene: the effect weight and its blend, the
// chain without goal, the root alone, and the entries it leaves for the bones.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "la3d/vk_3dla.h"
#include "module/bone_results.h"
#include "module/root_evaluate.h"
#include "module/user_data.h"
#include "solver/process.h"
#include "tests/common/test_util.h"
#include "tests/solver/fake_scene.h"

namespace {

using vk_3dla::m33;
using vk_3dla::vec3;

class RootEvaluateTest : public ::testing::Test {
 protected:
  RootEvaluateTest() {
    tarsel::bone_results.clear();
    root = scene.add("root");
    scene[root].handlers = {"Tarsel_Top"};
    scene[root].rest_length = 1.0;
    b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.5, 0.0), 1.0);
    b2 = scene.add_bone("b2", b1, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.4, 0.0), 1.0);
    goal = scene.add("goal");
    scene[goal].position = vec3(0.8, 0.9, 1.4);
    scene[b2].goal = goal;
  }
  ~RootEvaluateTest() override { tarsel::bone_results.clear(); }

  // Evaluates the root from the host's rotation `host_rotation`; returns the rotation it set.
  vec3 evaluate() {
    scene[root].rotation = host_rotation;
    scene.set_rotations.clear();
    tarsel::root_evaluate(&options, scene.access(root, 1.25));
    EXPECT_EQ(scene.set_rotations.size(), 1u);
    return scene.set_rotations.empty() ? vec3(0.0) : scene.set_rotations.back();
  }

  // The solve alone, as the evaluation would call it.
  m33 solved(std::vector<Result>* results, const std::vector<LWItemID>& chain) {
    results->assign(chain.size(), Result{vec3(0.0), 1.0});
    tarsel::UserData copy = options;
    return process(results, &copy, scene.access(root, 1.25), chain, scene[chain.back()].goal,
                   options.arbitrary_limit);
  }

  fake_scene::Scene scene;
  tarsel::UserData options;
  vec3 host_rotation{0.3, -0.2, 0.1};
  LWItemID root, b1, b2, goal;
};

TEST_F(RootEvaluateTest, EffectItemWeightsTheSolve) {
  std::vector<Result> expected;
  const m33 full = solved(&expected, {root, b1, b2});
  const vk_3dla::quat q_host = vk_3dla::quat_from_m33(vk_3dla::m33_from_hpb(host_rotation));
  const vk_3dla::quat q_full = vk_3dla::quat_from_m33(full);

  const LWItemID effect = scene.add("effect");
  struct Case {
    const char* name;
    bool with_item;
    double x;
    double w;
  };
  const Case cases[] = {
      {"no effect item", false, 0.0, 1.0}, {"far below 0", true, -3.0, 0.0},
      {"exactly 0", true, 0.0, 0.0},       {"not a number", true, std::nan(""), 0.0},
      {"above 1", true, 7.0, 1.0},         {"a quarter", true, 0.25, 0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tarsel::bone_results.clear();
    options.plugin_effect = c.with_item ? effect : LWITEM_NULL;
    scene[effect].position = vec3(c.x, 5.0, -5.0);  // only x counts
    const vec3 out = evaluate();

    const m33 want = vk_3dla::m33_from_quat(vk_3dla::slerp(q_host, q_full, c.w));
    EXPECT_M33_NEAR(vk_3dla::m33_from_hpb(out), want, 1e-9);
    if (c.w == 0.0) {
      EXPECT_VEC3_NEAR(out, host_rotation, 0.0);
    }
    ASSERT_EQ(tarsel::bone_results.size(), 2u);
    for (std::size_t i = 1; i < 3; ++i) {
      const Result& r = tarsel::bone_results.at(i == 1 ? b1 : b2);
      EXPECT_EQ(r.weight, c.w);
      EXPECT_VEC3_NEAR(r.hpb, c.w == 0.0 ? vec3(0.0) : expected[i].hpb, 0.0);
    }
  }
}

TEST_F(RootEvaluateTest, QuarterEffectGoesAlongTheShorterArc) {
  // A host rotation more than half a turn from the solved one: the blend must still take the
  // short way, a quarter of the angle between them.
  std::vector<Result> results;
  const m33 full = solved(&results, {root, b1, b2});
  host_rotation = vk_3dla::hpb_from_m33(vk_3dla::rot_y(2.5) * full);
  const LWItemID effect = scene.add("effect");
  options.plugin_effect = effect;
  scene[effect].position = vec3(0.25, 0.0, 0.0);
  const vec3 out = evaluate();
  const m33 turn =
      vk_3dla::transposed(vk_3dla::m33_from_hpb(host_rotation)) * vk_3dla::m33_from_hpb(out);
  vec3 axis;
  double angle;
  vk_3dla::axis_angle(turn, axis, angle);
  EXPECT_NEAR(angle, 0.25 * 2.5, 1e-9);
}

TEST_F(RootEvaluateTest, ChainWithoutGoalKeepsTheHostRotation) {
  scene[b2].goal = LWITEM_NULL;
  tarsel::bone_results[b1] = Result{vec3(1.0, 2.0, 3.0), 1.0};  // from an earlier evaluation
  const vec3 out = evaluate();
  EXPECT_VEC3_NEAR(out, host_rotation, 0.0);
  ASSERT_EQ(tarsel::bone_results.size(), 2u);
  for (LWItemID b : {b1, b2}) {
    EXPECT_EQ(tarsel::bone_results.at(b).weight, 0.0);
    EXPECT_VEC3_NEAR(tarsel::bone_results.at(b).hpb, vec3(0.0), 0.0);
  }
}

TEST_F(RootEvaluateTest, RootAloneStoresNothingAndAimsAtItsGoal) {
  // The children carry no per-bone handler, so the chain is the root alone.
  scene[b1].handlers = {"Tarsel_Top"};
  scene[root].goal = goal;
  const vec3 out = evaluate();
  EXPECT_TRUE(tarsel::bone_results.empty());
  const vec3 tip = vec3(0.0, 0.0, 1.0) * vk_3dla::m33_from_hpb(out);
  EXPECT_VEC3_NEAR(tip, vk_3dla::normalized(scene.world_position(goal)), 1e-12);
}

TEST_F(RootEvaluateTest, BonesAreStoredBeforeTheRootIsSet) {
  std::size_t stored_at_set = 0;
  scene.on_set_param = [&] { stored_at_set = tarsel::bone_results.size(); };
  evaluate();
  EXPECT_EQ(stored_at_set, 2u);
  EXPECT_EQ(tarsel::bone_results.count(root), 0u);
}

TEST_F(RootEvaluateTest, SideBranchBonesKeepTheirRotation) {
  // A second branch under b1 is gathered after b2; the goal is its last bone's.
  const LWItemID c1 = scene.add_bone("c1", b1, vec3(0.1, 0.0, 1.0), vec3(0.0, 0.3, 0.0), 1.0);
  scene[c1].goal = goal;
  evaluate();
  ASSERT_EQ(tarsel::bone_results.size(), 3u);
  EXPECT_EQ(tarsel::bone_results.at(b1).weight, 1.0);
  EXPECT_EQ(tarsel::bone_results.at(b2).weight, 0.0);
  EXPECT_EQ(tarsel::bone_results.at(c1).weight, 1.0);

  // Posed with the stored results, the branch's tip is on the goal.
  scene[b1].rotation = tarsel::bone_results.at(b1).hpb;
  scene[c1].rotation = tarsel::bone_results.at(c1).hpb;
  const vec3 tip = scene.world_point(c1, vec3(0.0, 0.0, 1.0));
  EXPECT_VEC3_NEAR(tip, scene.world_position(goal), 1e-3);
}

}  // namespace
