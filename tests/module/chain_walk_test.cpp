#include <string>
#include <vector>

#include "module/chain_walk.h"
#include "tests/module/host_fixture.h"

namespace {

using Chain = std::vector<LWItemID>;

class ChainWalkTest : public HostTest {
 protected:
  LWItemID bone(const std::string& name, LWItemID parent, std::vector<std::string> handlers) {
    const LWItemID b = host.add(LWI_BONE, name, parent, root);
    host.item(b).handlers = std::move(handlers);
    return b;
  }
  Chain gather(LWItemID from) {
    Chain chain;
    tarsel::gather_chain(chain, from);
    return chain;
  }
  const std::vector<std::string> tarsel_handler = {"Tarsel"};
  LWItemID root = host.add(LWI_OBJECT, "root");
};

TEST_F(ChainWalkTest, BranchingTreeIsWalkedDepthFirstParentBeforeChildren) {
  const LWItemID a = bone("a", root, tarsel_handler);
  const LWItemID left = bone("left", a, tarsel_handler);
  const LWItemID right = bone("right", a, tarsel_handler);
  const LWItemID left_tip = bone("left_tip", left, tarsel_handler);
  const LWItemID right_tip = bone("right_tip", right, tarsel_handler);
  const LWItemID goal_left = host.add(LWI_OBJECT, "goal_left");
  const LWItemID goal_right = host.add(LWI_OBJECT, "goal_right");
  host.item(left_tip).goal = goal_left;
  host.item(right_tip).goal = goal_right;

  EXPECT_EQ(gather(root), (Chain{root, a, left, left_tip, right, right_tip}));
  EXPECT_EQ(tarsel::chain_goal(root), goal_right);  // the last descendant of the last child
  EXPECT_EQ(tarsel::chain_goal(left), goal_left);

  Chain appended = {fake::id(0x42)};
  tarsel::gather_chain(appended, left);
  EXPECT_EQ(appended, (Chain{fake::id(0x42), left, left_tip}));
}

TEST_F(ChainWalkTest, OnlyChildrenCarryingExactlyTarselAreEntered) {
  struct Case {
    const char* name;
    std::vector<std::string> handlers;
    bool entered;
  };
  const Case cases[] = {
      {"no handler", {}, false},
      {"chain-root handler", {"Tarsel_Top"}, false},
      {"longer name", {"Tarsel2"}, false},
      {"shorter name", {"Tarse"}, false},
      {"other case", {"tarsel"}, false},
      {"after another handler", {"Noise", "Tarsel"}, true},
      {"carried twice", {"Tarsel", "Tarsel"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LWItemID top = host.add(LWI_OBJECT, "top");
    const LWItemID child = bone("child", top, c.handlers);
    const LWItemID below = bone("below", child, tarsel_handler);  // never reached through child
    host.item(below).goal = host.add(LWI_OBJECT, "goal");
    const Chain expected = c.entered ? Chain{top, child, below} : Chain{top};
    EXPECT_EQ(gather(top), expected);
    EXPECT_EQ(tarsel::chain_goal(top), c.entered ? host.item(below).goal : LWITEM_NULL);
  }
}

TEST_F(ChainWalkTest, ChainGoalIsTheGoalOfTheLastItemOnly) {
  const LWItemID a = bone("a", root, tarsel_handler);
  const LWItemID b = bone("b", a, tarsel_handler);
  host.item(a).goal = host.add(LWI_OBJECT, "goal_a");
  EXPECT_EQ(tarsel::chain_goal(root), LWITEM_NULL);  // b, the last item, has none
  EXPECT_EQ(tarsel::chain_goal(a), LWITEM_NULL);

  host.item(root).goal = host.add(LWI_OBJECT, "goal_root");
  host.item(b).handlers.clear();  // the chain is now root, a
  EXPECT_EQ(gather(root), (Chain{root, a}));
  EXPECT_EQ(tarsel::chain_goal(root), host.item(a).goal);
  EXPECT_EQ(tarsel::chain_goal(b), LWITEM_NULL);
}

}  // namespace
