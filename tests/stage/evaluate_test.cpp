#include <gtest/gtest.h>

#include "stage/host.h"
#include "tests/stage/stage_test_util.h"
#include "tests/stage/test_module.h"

namespace {

using stage::deg_to_rad;
using stage::Item_type;
using stage::Vec3;
using stage_test::Host_with_test_module;

struct Evaluation : Host_with_test_module {};

Bank_instance& bank_of(stage::Host& host, LWItemID item, int index = 0) {
  return *static_cast<Bank_instance*>(host.instance(item, "Test_Bank", index));
}

TEST_F(Evaluation, HandlersRunParentsFirstAndSeeTheChannelsSoFar) {
  // The child is created first, so only the parent link can put the parent first.
  const LWItemID child = scene.add(Item_type::object, "Child");
  const LWItemID parent = scene.add(Item_type::object, "Parent");
  scene.set_parent(child, parent);
  scene.at(parent).channels[stage::ch_rotation].value = {0.5, 0, 0.2};
  scene.at(child).channels[stage::ch_rotation].keys = {{0.0, {0, 0, 0}}, {2.0, {0, 0.4, 1.0}}};
  host.attach_handler(child, "Test_Bank");
  host.attach_handler(parent, "Test_Bank");

  host.evaluate_frame(30);  // 1 s at 30 fps
  const Bank_instance& p = bank_of(host, parent);
  const Bank_instance& c = bank_of(host, child);
  EXPECT_LT(p.order, c.order);
  EXPECT_EQ(c.seen_item, child);
  EXPECT_EQ(c.seen_frame, 30);
  EXPECT_DOUBLE_EQ(c.seen_time, 1.0);
  EXPECT_TRIPLE_NEAR((Vec3{c.seen_rotation[0], c.seen_rotation[1], c.seen_rotation[2]}),
                     (Vec3{0, 0.2, 0.5}), 1e-12);
  // The parent was evaluated at this time: the child sees its rotation with the bank added.
  EXPECT_TRIPLE_NEAR(
      (Vec3{c.seen_parent_rotation[0], c.seen_parent_rotation[1], c.seen_parent_rotation[2]}),
      (Vec3{0.5, 0, 0.2 + TEST_BANK_DEFAULT}), 1e-12);

  EXPECT_TRIPLE_NEAR(host.param(child, LWIP_ROTATION, 1.0), (Vec3{0, 0.2, 0.5 + 0.1}), 1e-12);
  // At another time the item has not been evaluated: its keys answer.
  EXPECT_TRIPLE_NEAR(host.param(child, LWIP_ROTATION, 2.0), (Vec3{0, 0.4, 1.0}), 1e-12);
  // Evaluating again starts from the keys: the bank is added once, not twice.
  host.evaluate(1.0);
  EXPECT_TRIPLE_NEAR(host.param(child, LWIP_ROTATION, 1.0), (Vec3{0, 0.2, 0.6}), 1e-12);
  EXPECT_EQ(c.evaluations, 2);
}

TEST_F(Evaluation, HandlersOfOneItemRunInOrderOnEachOthersResults) {
  const LWItemID rig = scene.add(Item_type::object, "Rig");
  host.attach_handler(rig, "Test_Bank");
  host.attach_handler(rig, "Test_Idle");  // no evaluate: nothing to do
  host.attach_handler(rig, "Test_Bank");
  bank_of(host, rig, 1).bank = 0.25;
  host.evaluate(0.0);
  const Bank_instance& second = bank_of(host, rig, 1);
  EXPECT_NEAR(second.seen_rotation[2], 0.1, 1e-12);
  EXPECT_GT(second.order, bank_of(host, rig, 0).order);
  EXPECT_NEAR(host.param(rig, LWIP_ROTATION, 0.0)[2], 0.35, 1e-12);
}

TEST_F(Evaluation, WorldTransformsComposeThroughParentsWithEvaluatedChannels) {
  const LWItemID parent = scene.add(Item_type::object, "Parent");
  const LWItemID child = scene.add(Item_type::object, "Child");
  scene.set_parent(child, parent);
  stage::Item& p = scene.at(parent);

  struct Case {
    const char* what;
    Vec3 position, rotation_deg, scaling, pivot, pivot_rotation_deg;
    Vec3 child_world;
  } cases[] = {
      {"identity", {0, 0, 0}, {0, 0, 0}, {1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {2, 1, 0}},
      {"heading and pivot", {1, 2, 3}, {90, 0, 0}, {1, 1, 1}, {0.5, 0, 0}, {0, 0, 0}, {1, 3, 1.5}},
      {"scaled", {1, 2, 3}, {90, 0, 0}, {2, 1, 1}, {0.5, 0, 0}, {0, 0, 0}, {1, 3, 0}},
      {"bank", {0, 0, 0}, {0, 0, 90}, {2, 2, 2}, {0, 0, 0}, {0, 0, 0}, {-2, 4, 0}},
      {"pivot rotation", {1, 2, 3}, {0, 0, 0}, {1, 1, 1}, {0, 0, 0}, {0, 90, 0}, {3, 2, 4}},
  };
  scene.at(child).channels[stage::ch_position].value = {2, 1, 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    p.channels[stage::ch_position].value = c.position;
    p.channels[stage::ch_rotation].value = deg_to_rad(c.rotation_deg);
    p.channels[stage::ch_scaling].value = c.scaling;
    p.channels[stage::ch_pivot].value = c.pivot;
    p.channels[stage::ch_pivot_rotation].value = deg_to_rad(c.pivot_rotation_deg);
    EXPECT_TRIPLE_NEAR(host.world_position(child, 0.0), c.child_world, 1e-12);
    EXPECT_TRIPLE_NEAR(host.world_position(parent, 0.0), c.position, 1e-12);
  }

  // After an evaluation the world follows the handler's rotation at that time only.
  p.channels = {};
  p.channels[stage::ch_scaling].value = {1, 1, 1};
  host.attach_handler(parent, "Test_Bank");
  bank_of(host, parent).bank = stage::pi / 2;
  host.evaluate(0.0);
  EXPECT_TRIPLE_NEAR(host.world_position(child, 0.0), (Vec3{-1, 2, 0}), 1e-12);
  EXPECT_TRIPLE_NEAR(host.world_position(child, 1.0), (Vec3{2, 1, 0}), 1e-12);
}

TEST_F(Evaluation, BoneTipLiesAtTheRestLengthAlongItsZ) {
  const LWItemID rig = scene.add(Item_type::object, "Rig");
  const LWItemID bone = scene.add(Item_type::bone, "Bone", rig);
  scene.at(rig).channels[stage::ch_rotation].value = deg_to_rad(Vec3{90, 0, 0});
  scene.at(rig).channels[stage::ch_position].value = {0, 1, 0};
  stage::Item& b = scene.at(bone);
  b.rest_length = 2;
  b.channels[stage::ch_pivot].value = {0, 0, 0.5};
  b.channels[stage::ch_position].value = {0, 0, 1};
  // Bone origin: (0, 0, 1) turned by heading 90 gives (1, 0, 0), plus the rig's (0, 1, 0).
  EXPECT_TRIPLE_NEAR(host.world_position(bone, 0.0), (Vec3{1, 1, 0}), 1e-12);
  // Tip: 1.5 further along the bone's Z, which the heading turns onto +X.
  EXPECT_TRIPLE_NEAR(host.bone_tip(bone, 0.0), (Vec3{2.5, 1, 0}), 1e-12);
}

}  // namespace
