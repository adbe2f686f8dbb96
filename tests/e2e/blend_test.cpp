// The effect weight through the stand-in host: a Plugin Effect item blends the root between the
// host's rotation and the solved one along the shorter arc, and a chain without a goal keeps the
// host's rotations.
#include <gtest/gtest.h>

#include "tests/e2e/rig.h"

namespace e2e {
namespace {

Rig_plan three_bone_chain() {
  Rig_plan plan;
  plan.lengths = {1.0, 0.8, 0.5};
  plan.rest_rotations = {V3{}, V3{0, deg(30), 0}, V3{0, deg(20), 0}};
  plan.parent_position = {0, 1, 0};
  plan.root_rotation = {deg(10), deg(-20), deg(5)};
  return plan;
}

M4 root_rotation(const Rig& rig) {
  const stage::Vec3 hpb = rig.host.param(rig.bones[0], LWIP_ROTATION, 0.0);
  return rotation_hpb({hpb[0], hpb[1], hpb[2]});
}

TEST(EffectWeight, PluginEffectBlendsTheRootAlongTheShorterArc) {
  Rig_plan plan = three_bone_chain();
  plan.plugin_effect = true;
  Rig rig(plan);
  rig.set_position(rig.goal, {1.2, 1.9, 0.8});
  const M4 host_rotation = rotation_hpb(plan.root_rotation);
  rig.set_position(rig.effect, {1, 0, 0});
  rig.evaluate();
  const M4 solved = root_rotation(rig);
  EXPECT_LE(norm(rig.chain_end() - V3{1.2, 1.9, 0.8}), 1e-4 * rig.world_length());
  const double full = rotation_angle(host_rotation, solved);
  ASSERT_GT(full, 0.1);  // the case must move the root for the blend to show

  // The effect item's x, clamped to [0, 1], is the fraction of the way from the host's rotation
  // to the solved one; its y and z play no part.
  const struct {
    V3 effect;
    double weight;
  } cases[] = {{{-3, 0, 0}, 0},     {{0, 5, 5}, 0}, {{0.25, 0, 0}, 0.25},
               {{0.5, -2, 9}, 0.5}, {{1, 0, 0}, 1}, {{7, 0, 0}, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE("effect x = " + std::to_string(c.effect[0]));
    rig.set_position(rig.effect, c.effect);
    rig.evaluate();
    ASSERT_TRUE(rig.finite_pose());
    const M4 blended = root_rotation(rig);
    EXPECT_NEAR(rotation_angle(host_rotation, blended), c.weight * full, 1e-6);
    EXPECT_NEAR(rotation_angle(blended, solved), (1 - c.weight) * full, 1e-6);
  }
}

TEST(EffectWeight, ChainWithoutGoalKeepsTheHostsRotations) {
  Rig_plan plan = three_bone_chain();
  plan.has_goal = false;
  Rig rig(plan);
  rig.evaluate();
  for (std::size_t k = 0; k < rig.bones.size(); ++k) {
    SCOPED_TRACE("bone " + std::to_string(k));
    const stage::Vec3 r = rig.host.param(rig.bones[k], LWIP_ROTATION, 0.0);
    const V3 expected = k == 0 ? plan.root_rotation : plan.rest_rotations[k];
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(r[i], expected[i], 1e-12);
  }
}

}  // namespace
}  // namespace e2e
