#include "stage/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "stage/error.h"
#include "tests/stage/stage_test_util.h"

namespace {

using stage::Item_type;
using stage::Scene;

std::vector<LWItemID> walk(const Scene& s, LWItemType type, LWItemID owner) {
  std::vector<LWItemID> out;
  for (LWItemID i = s.first(type, owner); i != LWITEM_NULL; i = s.next(i)) out.push_back(i);
  return out;
}

std::vector<LWItemID> children(const Scene& s, LWItemID parent) {
  std::vector<LWItemID> out;
  for (LWItemID c = s.first_child(parent); c != LWITEM_NULL; c = s.next_child(parent, c))
    out.push_back(c);
  return out;
}

TEST(Scene, ItemsComeInHostOrderPerTypeAndBonesPerOwner) {
  Scene s;
  const LWItemID a = s.add(Item_type::object, "A");
  const LWItemID cam = s.add(Item_type::camera, "C");
  const LWItemID b = s.add(Item_type::object, "B");
  const LWItemID l1 = s.add(Item_type::light, "L1");
  const LWItemID b1 = s.add(Item_type::bone, "b1", b);
  const LWItemID a1 = s.add(Item_type::bone, "a1", a);
  const LWItemID b2 = s.add(Item_type::bone, "b2", b);
  const LWItemID l2 = s.add(Item_type::light, "L2");

  EXPECT_EQ(walk(s, LWI_OBJECT, LWITEM_NULL), (std::vector<LWItemID>{a, b}));
  EXPECT_EQ(walk(s, LWI_LIGHT, LWITEM_NULL), (std::vector<LWItemID>{l1, l2}));
  EXPECT_EQ(walk(s, LWI_CAMERA, LWITEM_NULL), (std::vector<LWItemID>{cam}));
  EXPECT_EQ(walk(s, LWI_BONE, b), (std::vector<LWItemID>{b1, b2}));
  EXPECT_EQ(walk(s, LWI_BONE, a), (std::vector<LWItemID>{a1}));
  // Bones need an object to be listed under; other owners and types list nothing.
  EXPECT_EQ(s.first(LWI_BONE, LWITEM_NULL), LWITEM_NULL);
  EXPECT_EQ(s.first(LWI_BONE, cam), LWITEM_NULL);
  EXPECT_EQ(s.first(17, LWITEM_NULL), LWITEM_NULL);
  EXPECT_EQ(s.next(stage::id_from_value(12345)), LWITEM_NULL);
  // A bone starts as its owner's child.
  EXPECT_EQ(s.at(b2).parent, b);
  EXPECT_EQ(children(s, b), (std::vector<LWItemID>{b1, b2}));
}

TEST(Scene, IdentifiersAreNonZeroDistinctAnd32Bit) {
  Scene s;
  s.avoid_ids({0x01000002u, 0x04000003u});
  std::set<uintptr_t> seen;
  const LWItemID o = s.add(Item_type::object, "o");
  for (int i = 0; i < 20; ++i) {
    for (LWItemID id : {s.add(Item_type::object, "x"), s.add(Item_type::bone, "b", o),
                        s.add(Item_type::light, "l"), s.add(Item_type::camera, "c")}) {
      const uintptr_t v = reinterpret_cast<uintptr_t>(id);
      EXPECT_NE(v, 0u);
      EXPECT_LE(v, 0xFFFFFFFFu);
      EXPECT_NE(v, 0x01000002u);
      EXPECT_NE(v, 0x04000003u);
      EXPECT_TRUE(seen.insert(v).second);
      EXPECT_EQ(s.find(id)->id, id);
    }
  }
  EXPECT_EQ(s.find(LWITEM_NULL), nullptr);
  EXPECT_THROW(s.at(stage::id_from_value(7)), stage::Error);
}

TEST(Scene, ChildrenStayInCreationOrderWhateverTheOrderOfLinking) {
  Scene s;
  const LWItemID a = s.add(Item_type::object, "a");
  const LWItemID b = s.add(Item_type::object, "b");
  const LWItemID c = s.add(Item_type::object, "c");
  const LWItemID p = s.add(Item_type::object, "p");
  const LWItemID q = s.add(Item_type::object, "q");
  s.set_parent(c, p);
  s.set_parent(a, p);
  s.set_parent(b, p);
  EXPECT_EQ(children(s, p), (std::vector<LWItemID>{a, b, c}));
  s.set_parent(b, q);
  EXPECT_EQ(children(s, p), (std::vector<LWItemID>{a, c}));
  EXPECT_EQ(children(s, q), (std::vector<LWItemID>{b}));
  EXPECT_EQ(s.next_child(p, b), LWITEM_NULL);  // b is no longer p's child
  s.set_parent(b, LWITEM_NULL);
  EXPECT_EQ(s.at(b).parent, LWITEM_NULL);
  EXPECT_TRUE(children(s, q).empty());
}

TEST(Scene, RefusesBadLinks) {
  Scene s;
  const LWItemID a = s.add(Item_type::object, "a");
  const LWItemID b = s.add(Item_type::object, "b");
  const LWItemID c = s.add(Item_type::object, "c");
  const LWItemID bone = s.add(Item_type::bone, "bone", a);
  s.set_parent(b, a);
  s.set_parent(c, b);
  struct Case {
    const char* what;
    LWItemID item, parent;
  } cases[] = {{"cycle through two links", a, c},
               {"own parent", a, a},
               {"bone without parent", bone, LWITEM_NULL},
               {"unknown parent", a, stage::id_from_value(99)}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_THROW(s.set_parent(k.item, k.parent), stage::Error);
  }
  EXPECT_EQ(s.at(a).parent, LWITEM_NULL);  // nothing changed
  EXPECT_EQ(s.at(bone).parent, a);
  EXPECT_THROW(s.add(Item_type::bone, "orphan"), stage::Error);
  EXPECT_THROW(s.add(Item_type::bone, "under a bone", bone), stage::Error);
  EXPECT_THROW(s.add(Item_type::light, "owned", a), stage::Error);
}

TEST(Scene, EvaluationOrderPutsEveryParentFirst) {
  Scene s;
  const LWItemID leaf = s.add(Item_type::object, "leaf");
  const LWItemID mid = s.add(Item_type::object, "mid");
  const LWItemID other = s.add(Item_type::light, "other");
  const LWItemID top = s.add(Item_type::object, "top");
  s.set_parent(leaf, mid);
  s.set_parent(mid, top);
  std::vector<LWItemID> order;
  for (std::size_t i : s.evaluation_order()) order.push_back(s.item(i).id);
  EXPECT_EQ(order, (std::vector<LWItemID>{top, mid, leaf, other}));
}

TEST(Channel, KeysInterpolateLinearlyAndHoldTheirEnds) {
  stage::Channel constant;
  constant.value = {1, 2, 3};
  EXPECT_TRIPLE_NEAR(stage::channel_value(constant, -5.0), (stage::Vec3{1, 2, 3}), 0);

  stage::Channel keyed;
  keyed.keys = {{1.0, {0, 10, -2}}, {2.0, {4, 20, -2}}, {4.0, {0, 0, 2}}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double time;
    stage::Vec3 expected;
  } cases[] = {{0.0, {0, 10, -2}}, {1.0, {0, 10, -2}}, {1.25, {1, 12.5, -2}}, {2.0, {4, 20, -2}},
               {3.0, {2, 10, 0}},  {4.0, {0, 0, 2}},   {100.0, {0, 0, 2}},    {nan, {0, 10, -2}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    EXPECT_TRIPLE_NEAR(stage::channel_value(keyed, c.time), c.expected, 1e-12);
  }
}

}  // namespace
