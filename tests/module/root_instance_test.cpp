#include <cmath>
#include <string>
#include <vector>

#include "module/root_instance.h"
#include "tests/module/host_fixture.h"

namespace {

using fake::Block;
using tarsel::UserData;

// Item identifiers as the 4-byte integers of a scene file.
int32_t i4(LWItemID item) { return static_cast<int32_t>(reinterpret_cast<std::uintptr_t>(item)); }

Block int_block(LWID id, int32_t value) {
  Block b;
  b.id = id;
  b.ints = {value};
  return b;
}
Block float_block(LWID id, float value) {
  Block b;
  b.id = id;
  b.floats = {value};
  return b;
}
Block end_block() {
  Block b;
  b.id = tarsel::block_end_end;
  return b;
}

class RootInstanceTest : public HostTest {
 protected:
  UserData& create(LWItemID owner) {
    LWInstance inst = tarsel::root_create(nullptr, owner, nullptr);
    instances.push_back(inst);
    return *static_cast<UserData*>(inst);
  }
  ~RootInstanceTest() override {
    for (LWInstance inst : instances) tarsel::root_destroy(inst);
  }
  void load(UserData& data, const std::vector<Block>& blocks) {
    host.load_from(blocks);
    EXPECT_EQ(tarsel::root_load(&data, &host.load_state), nullptr);
  }
  std::vector<LWInstance> instances;
};

TEST_F(RootInstanceTest, FreshRecordHoldsTheDefaults) {
  const UserData& d = create(fake::id(0x321));
  EXPECT_EQ(d.twist, LWITEM_NULL);
  EXPECT_EQ(d.twist_target, LWITEM_NULL);
  EXPECT_EQ(d.twist_effect, LWITEM_NULL);
  EXPECT_EQ(d.plugin_effect, LWITEM_NULL);
  EXPECT_EQ(d.goal_position, LWITEM_NULL);
  EXPECT_EQ(d.mix_with_fk, 0);
  EXPECT_EQ(d.excess_stretch, 1);
  EXPECT_EQ(d.posture_weight, 1.0);
  EXPECT_EQ(d.arbitrary_limit, 0);
  EXPECT_EQ(d.soft_reach, 0.0);
  EXPECT_EQ(d.max_stretch, 1.0);
  EXPECT_EQ(d.owner, fake::id(0x321));
  EXPECT_TRUE(d.used_items.empty());
  tarsel::root_destroy(nullptr);  // accepted and ignored
}

TEST_F(RootInstanceTest, CopyTakesTheOptionsAndKeepsOwnerAndItemBuffer) {
  UserData& from = create(fake::id(0x10));
  from.twist = fake::id(0x11);
  from.twist_target = fake::id(0x12);
  from.twist_effect = fake::id(0x13);
  from.plugin_effect = fake::id(0x14);
  from.goal_position = fake::id(0x15);
  from.mix_with_fk = 1;
  from.excess_stretch = 0;
  from.posture_weight = 0.25;
  from.arbitrary_limit = 7;
  from.soft_reach = 0.125;
  from.max_stretch = 2.0;
  UserData& to = create(fake::id(0x20));
  to.used_items = {fake::id(0x99), LWITEM_NULL};

  EXPECT_EQ(tarsel::root_copy(&to, &from), nullptr);
  EXPECT_EQ(to.twist, from.twist);
  EXPECT_EQ(to.twist_target, from.twist_target);
  EXPECT_EQ(to.twist_effect, from.twist_effect);
  EXPECT_EQ(to.plugin_effect, from.plugin_effect);
  EXPECT_EQ(to.goal_position, from.goal_position);
  EXPECT_EQ(to.mix_with_fk, 1);
  EXPECT_EQ(to.excess_stretch, 0);
  EXPECT_EQ(to.posture_weight, 0.25);
  EXPECT_EQ(to.arbitrary_limit, 7);
  EXPECT_EQ(to.soft_reach, 0.125);
  EXPECT_EQ(to.max_stretch, 2.0);
  EXPECT_EQ(to.owner, fake::id(0x20));
  EXPECT_EQ(to.used_items, (std::vector<LWItemID>{fake::id(0x99), LWITEM_NULL}));
}

TEST_F(RootInstanceTest, SaveWritesTheLeafBlocksInFixedOrder) {
  struct Expected {
    LWID id;
    const char* token;
    std::vector<int32_t> ints;
    std::vector<float> floats;
  };
  struct Case {
    const char* name;
    void (*edit)(UserData&);
    std::vector<Expected> blocks;
  };
  const Case cases[] = {
      {"fresh record",
       [](UserData&) {},
       {{0x20202021, "Twist", {0}, {}},
        {0x20202022, "TwistTarget", {0}, {}},
        {0x20202023, "TwistEffect", {0}, {}},
        {0x20202024, "GoalPosition", {0}, {}},
        {0x20202025, "PluginEffect", {0}, {}},
        {0x20202026, "MixWithFk", {0}, {}},
        {0x20202027, "ExcessStretch", {1}, {}},
        {0x20202028, "PostureWeight", {}, {1.0f}},
        {0x20202029, "ArbitraryLimit", {0}, {}},
        {0x20202020, "EndEnd", {}, {}}}},
      {"every option set",
       [](UserData& d) {
         d.twist = fake::id(0x101);
         d.twist_target = fake::id(0x102);
         d.twist_effect = fake::id(0x103);
         d.plugin_effect = fake::id(0x104);
         d.goal_position = fake::id(0x105);
         d.mix_with_fk = 1;
         d.excess_stretch = 0;
         d.posture_weight = 0.1;
         d.arbitrary_limit = 3;
         d.soft_reach = 0.25;
         d.max_stretch = 3.0;
       },
       {{0x20202021, "Twist", {0x101}, {}},
        {0x20202022, "TwistTarget", {0x102}, {}},
        {0x20202023, "TwistEffect", {0x103}, {}},
        {0x20202024, "GoalPosition", {0x105}, {}},
        {0x20202025, "PluginEffect", {0x104}, {}},
        {0x20202026, "MixWithFk", {1}, {}},
        {0x20202027, "ExcessStretch", {0}, {}},
        {0x20202028, "PostureWeight", {}, {0.1f}},
        {0x20202029, "ArbitraryLimit", {3}, {}},
        {0x2020202A, "SoftReach", {}, {0.25f}},
        {0x2020202B, "MaxStretch", {}, {3.0f}},
        {0x20202020, "EndEnd", {}, {}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UserData& d = create(fake::id(0x200));
    c.edit(d);
    host.saved.clear();
    EXPECT_EQ(tarsel::root_save(&d, &host.save_state), nullptr);
    ASSERT_EQ(host.saved.size(), c.blocks.size());
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
      SCOPED_TRACE(c.blocks[i].token);
      EXPECT_EQ(host.saved[i].id, c.blocks[i].id);
      EXPECT_EQ(host.saved[i].token, c.blocks[i].token);
      EXPECT_EQ(host.saved[i].leaf, 1);
      EXPECT_EQ(host.saved[i].ints, c.blocks[i].ints);
      EXPECT_EQ(host.saved[i].floats, c.blocks[i].floats);
    }
  }
}

TEST_F(RootInstanceTest, SavedRecordLoadsBackWithThePostureWeightAsFloat) {
  UserData& original = create(fake::id(0x200));
  original.twist = fake::id(0x111);
  original.goal_position = fake::id(0x222);
  original.plugin_effect = fake::id(0x333);
  original.excess_stretch = 0;
  original.posture_weight = 0.1;
  original.soft_reach = tarsel::clamp_soft_reach(0.3);
  original.max_stretch = tarsel::clamp_max_stretch(1.7);
  ASSERT_EQ(tarsel::root_save(&original, &host.save_state), nullptr);

  UserData& copy = create(fake::id(0x300));
  load(copy, host.saved);
  EXPECT_EQ(copy.twist, fake::id(0x111));
  EXPECT_EQ(copy.goal_position, fake::id(0x222));
  EXPECT_EQ(copy.plugin_effect, fake::id(0x333));
  EXPECT_EQ(copy.excess_stretch, 0);
  EXPECT_EQ(copy.posture_weight, static_cast<double>(0.1f));
  EXPECT_NE(copy.posture_weight, 0.1);
  EXPECT_EQ(copy.soft_reach, original.soft_reach);
  EXPECT_EQ(copy.max_stretch, original.max_stretch);
  EXPECT_EQ(copy.owner, fake::id(0x300));
  EXPECT_EQ(host.end_blocks, 11);  // every option block closed, EndEnd left open
}

TEST_F(RootInstanceTest, LoadReadsWhatTheFileHolds) {
  const LWID unknown_id = LWID_('X', 'T', 'R', 'A');
  Block unreadable_twist = int_block(tarsel::block_twist, 0x777);
  unreadable_twist.unreadable = true;
  Block empty_stretch;
  empty_stretch.id = tarsel::block_excess_stretch;  // holds no value at all

  struct Case {
    const char* name;
    std::vector<Block> blocks;
    UserData expected;
  };
  auto defaults_with = [](void (*edit)(UserData&)) {
    UserData d;
    edit(d);
    return d;
  };
  const std::vector<Case> cases = {
      {"blocks in reverse order",
       {float_block(tarsel::block_max_stretch, 4.0f), float_block(tarsel::block_soft_reach, 0.125f),
        int_block(tarsel::block_arbitrary_limit, 1),
        float_block(tarsel::block_posture_weight, 2.5f), int_block(tarsel::block_excess_stretch, 0),
        int_block(tarsel::block_mix_with_fk, 1), int_block(tarsel::block_plugin_effect, 0x105),
        int_block(tarsel::block_goal_position, 0x104), int_block(tarsel::block_twist_effect, 0x103),
        int_block(tarsel::block_twist_target, 0x102), int_block(tarsel::block_twist, 0x101),
        end_block()},
       defaults_with([](UserData& d) {
         d.max_stretch = 4.0;
         d.soft_reach = 0.125;
         d.arbitrary_limit = 1;
         d.posture_weight = 2.5;
         d.excess_stretch = 0;
         d.mix_with_fk = 1;
         d.plugin_effect = fake::id(0x105);
         d.goal_position = fake::id(0x104);
         d.twist_effect = fake::id(0x103);
         d.twist_target = fake::id(0x102);
         d.twist = fake::id(0x101);
       })},
      {"only MixWithFk and EndEnd",
       {int_block(tarsel::block_mix_with_fk, 1), end_block()},
       defaults_with([](UserData& d) { d.mix_with_fk = 1; })},
      {"switches are not normalised",
       {int_block(tarsel::block_mix_with_fk, 5), int_block(tarsel::block_arbitrary_limit, -2),
        end_block()},
       defaults_with([](UserData& d) {
         d.mix_with_fk = 5;
         d.arbitrary_limit = -2;
       })},
      {"soft reach and stretch out of range are brought into it",
       {float_block(tarsel::block_soft_reach, 0.9f), float_block(tarsel::block_max_stretch, 0.5f),
        end_block()},
       defaults_with([](UserData& d) { d.soft_reach = 0.5; })},
      {"negative posture weight is kept",
       {float_block(tarsel::block_posture_weight, -0.5f), end_block()},
       defaults_with([](UserData& d) { d.posture_weight = -0.5; })},
      {"a repeated block leaves the later value",
       {int_block(tarsel::block_twist, 0x10), int_block(tarsel::block_twist, 0x20), end_block()},
       defaults_with([](UserData& d) { d.twist = fake::id(0x20); })},
      {"unknown blocks are skipped",
       {int_block(unknown_id, 9), int_block(tarsel::block_twist_target, 0x42), end_block()},
       defaults_with([](UserData& d) { d.twist_target = fake::id(0x42); })},
      {"nothing after EndEnd is read",
       {int_block(tarsel::block_mix_with_fk, 1), end_block(), int_block(tarsel::block_twist, 0x99)},
       defaults_with([](UserData& d) { d.mix_with_fk = 1; })},
      {"a record without EndEnd ends with the blocks",
       {int_block(tarsel::block_arbitrary_limit, 1)},
       defaults_with([](UserData& d) { d.arbitrary_limit = 1; })},
      {"a block whose value cannot be read keeps its field",
       {unreadable_twist, empty_stretch, int_block(tarsel::block_mix_with_fk, 1), end_block()},
       defaults_with([](UserData& d) { d.mix_with_fk = 1; })},
      {"an empty record", {}, UserData()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UserData& d = create(fake::id(0x400));
    load(d, c.blocks);
    EXPECT_EQ(d.twist, c.expected.twist);
    EXPECT_EQ(d.twist_target, c.expected.twist_target);
    EXPECT_EQ(d.twist_effect, c.expected.twist_effect);
    EXPECT_EQ(d.plugin_effect, c.expected.plugin_effect);
    EXPECT_EQ(d.goal_position, c.expected.goal_position);
    EXPECT_EQ(d.mix_with_fk, c.expected.mix_with_fk);
    EXPECT_EQ(d.excess_stretch, c.expected.excess_stretch);
    EXPECT_EQ(d.posture_weight, c.expected.posture_weight);
    EXPECT_EQ(d.arbitrary_limit, c.expected.arbitrary_limit);
    EXPECT_EQ(d.soft_reach, c.expected.soft_reach);
    EXPECT_EQ(d.max_stretch, c.expected.max_stretch);
    EXPECT_EQ(d.owner, fake::id(0x400));
  }
}

TEST_F(RootInstanceTest, UseItemsListsTheChainGoalThenTheTwistItems) {
  // root R carries the chain-root handler; its bone b carries the per-bone handler.
  const LWItemID root = host.add(LWI_OBJECT, "R");
  const LWItemID bone = host.add(LWI_BONE, "b", root, root);
  host.item(bone).handlers = {"Tarsel"};
  const LWItemID goal = host.add(LWI_OBJECT, "G");
  const LWItemID t1 = host.add(LWI_OBJECT, "T1");
  const LWItemID t2 = host.add(LWI_OBJECT, "T2");
  const LWItemID t3 = host.add(LWI_OBJECT, "T3");
  const LWItemID t4 = host.add(LWI_OBJECT, "T4");

  struct Case {
    const char* name;
    bool goal_set;
    LWItemID twist, twist_target, twist_effect, plugin_effect;
    std::vector<LWItemID> expected;
  };
  const Case cases[] = {
      {"goal and twist effect",
       true,
       LWITEM_NULL,
       LWITEM_NULL,
       t3,
       LWITEM_NULL,
       {goal, t3, LWITEM_NULL}},
      {"every item, goal position not listed",
       true,
       t1,
       t2,
       t3,
       t4,
       {goal, t1, t2, t3, t4, LWITEM_NULL}},
      {"chain without goal",
       false,
       t1,
       LWITEM_NULL,
       LWITEM_NULL,
       LWITEM_NULL,
       {LWITEM_NULL, t1, LWITEM_NULL}},
      {"nothing at all",
       false,
       LWITEM_NULL,
       LWITEM_NULL,
       LWITEM_NULL,
       LWITEM_NULL,
       {LWITEM_NULL, LWITEM_NULL}},
  };
  UserData& d = create(root);
  d.goal_position = t4;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.item(bone).goal = c.goal_set ? goal : LWITEM_NULL;
    d.twist = c.twist;
    d.twist_target = c.twist_target;
    d.twist_effect = c.twist_effect;
    d.plugin_effect = c.plugin_effect;
    const LWItemID* list = tarsel::root_use_items(&d);
    EXPECT_EQ(list, d.used_items.data());
    EXPECT_EQ(std::vector<LWItemID>(list, list + c.expected.size()), c.expected);
    EXPECT_EQ(d.used_items.size(), c.expected.size());
  }
}

TEST_F(RootInstanceTest, ChangeIdAppliesEveryPairInOrder) {
  const LWItemID a = fake::id(0xA), b = fake::id(0xB), c = fake::id(0xC), x = fake::id(0x5);
  UserData& d = create(a);
  d.twist = a;
  d.twist_target = b;
  d.twist_effect = x;
  d.plugin_effect = a;
  d.goal_position = b;
  d.mix_with_fk = 0xA;  // not an item: never remapped

  const LWItemID pairs[] = {a, b, b, c, LWITEM_NULL, LWITEM_NULL, x, a};
  tarsel::root_change_id(&d, pairs);
  EXPECT_EQ(d.owner, c);
  EXPECT_EQ(d.twist, c);
  EXPECT_EQ(d.twist_target, c);
  EXPECT_EQ(d.twist_effect, x);  // the pair after the terminator is not applied
  EXPECT_EQ(d.plugin_effect, c);
  EXPECT_EQ(d.goal_position, c);
  EXPECT_EQ(d.mix_with_fk, 0xA);

  const LWItemID swap[] = {c, x, x, c, LWITEM_NULL, LWITEM_NULL};
  tarsel::root_change_id(&d, swap);  // c -> x -> c again
  EXPECT_EQ(d.twist, c);
  EXPECT_EQ(d.twist_effect, c);
  EXPECT_EQ(i4(d.owner), 0xC);
}

}  // namespace
