#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "module/bone_handler.h"
#include "module/root_evaluate.h"
#include "module/root_instance.h"
#include "tests/module/host_fixture.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// Rotation matrix of a heading/pitch/bank triple, written out here independently of the module:
// bank about Z, then pitch about X, then heading about Y, for row vectors.
struct Mat {
  double m[3][3];
};
Mat mul(const Mat& a, const Mat& b) {
  Mat r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}
Mat from_hpb(const std::vector<double>& hpb) {
  const double ch = std::cos(hpb[0]), sh = std::sin(hpb[0]);
  const double cp = std::cos(hpb[1]), sp = std::sin(hpb[1]);
  const double cb = std::cos(hpb[2]), sb = std::sin(hpb[2]);
  const Mat bank = {{{cb, sb, 0}, {-sb, cb, 0}, {0, 0, 1}}};
  const Mat pitch = {{{1, 0, 0}, {0, cp, sp}, {0, -sp, cp}}};
  const Mat heading = {{{ch, 0, -sh}, {0, 1, 0}, {sh, 0, ch}}};
  return mul(mul(bank, pitch), heading);
}
// The angle of the rotation that takes one orientation to the other, in [0, pi].
double angle_between(const std::vector<double>& p, const std::vector<double>& q) {
  const Mat a = from_hpb(p), b = from_hpb(q);
  double trace = 0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += a.m[i][k] * b.m[i][k];
  return std::acos(std::max(-1.0, std::min(1.0, (trace - 1) / 2)));
}

// Chain root R, bone b1 (the bone under test) and b2 below it, both carrying the per-bone
// handler; b2's goal is G.
class BoneHandlerTest : public HostTest {
 protected:
  BoneHandlerTest() {
    root = host.add(LWI_OBJECT, "R");
    host.item(root).handlers = {"Tarsel_Top"};
    b1 = host.add(LWI_BONE, "b1", root, root);
    b2 = host.add(LWI_BONE, "b2", b1, root);
    host.item(b1).handlers = {"Tarsel"};
    host.item(b2).handlers = {"Tarsel"};
    host.item(b2).goal = host.add(LWI_OBJECT, "G");
  }
  void store(LWItemID bone, vk_3dla::vec3 hpb, double weight) {
    tarsel::bone_results[bone] = Result{hpb, weight};
  }
  void evaluate(LWItemID bone) {
    host.evaluate_as(bone, 1.5);
    tarsel::bone_evaluate(reinterpret_cast<LWInstance>(std::uintptr_t{1}), &host.access);
  }
  LWItemID root, b1, b2;
};

TEST_F(BoneHandlerTest, StoredWeightDecidesTheRotation) {
  const std::vector<double> host_rot = {0.3, -0.2, 0.1};
  const std::vector<double> solved = {-1.1, 0.4, 0.25};
  struct Case {
    const char* name;
    double weight;
    bool reads_host;
    std::vector<double> expected;
  };
  const Case cases[] = {
      {"weight 1 sets the stored rotation", 1.0, false, solved},
      {"weight above 1 as 1", 1.5, false, solved},
      {"weight not a number as 1", std::nan(""), false, solved},
      {"weight 0 keeps the host rotation", 0.0, true, host_rot},
      {"negative weight keeps the host rotation", -0.3, true, host_rot},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store(b1, vk_3dla::vec3(solved[0], solved[1], solved[2]), c.weight);
    host.access_rotation = host_rot;
    evaluate(b1);
    EXPECT_EQ(host.get_param_calls, c.reads_host ? 1 : 0);
    EXPECT_EQ(host.set_param_calls, 1);
    EXPECT_EQ(host.set_rotation, c.expected);  // exact: no round trip through a matrix
  }
}

TEST_F(BoneHandlerTest, PartialWeightBlendsAlongTheShorterArc) {
  struct Case {
    const char* name;
    std::vector<double> host_rot, solved;
    double weight;
  };
  const Case cases[] = {
      // Heading 0 to heading 270 degrees: the shorter way turns -90 degrees through -45.
      {"across the wrap", {0, 0, 0}, {1.5 * pi, 0, 0}, 0.5},
      {"general half", {0.3, -0.2, 0.1}, {-1.1, 0.4, 0.25}, 0.5},
      {"quarter", {0.2, 0.5, -0.7}, {2.0, -0.3, 1.2}, 0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store(b1, vk_3dla::vec3(c.solved[0], c.solved[1], c.solved[2]), c.weight);
    host.access_rotation = c.host_rot;
    evaluate(b1);
    ASSERT_EQ(host.set_param_calls, 1);
    const double total = angle_between(c.host_rot, c.solved);
    ASSERT_LT(total, pi);
    EXPECT_NEAR(angle_between(c.host_rot, host.set_rotation), c.weight * total, 1e-9);
    EXPECT_NEAR(angle_between(host.set_rotation, c.solved), (1 - c.weight) * total, 1e-9);
  }
  // The wrap case lands at heading -45 degrees.
  store(b1, vk_3dla::vec3(1.5 * pi, 0, 0), 0.5);
  host.access_rotation = {0, 0, 0};
  evaluate(b1);
  EXPECT_NEAR(angle_between(host.set_rotation, {-pi / 4, 0, 0}), 0.0, 1e-7);
}

TEST_F(BoneHandlerTest, RotationIsLeftAloneWithoutEntryOrGoal) {
  // No root evaluation yet: no entry.
  evaluate(b1);
  EXPECT_EQ(host.set_param_calls, 0);

  // An entry, but the bone's own chain ends in an item without a goal.
  store(b1, vk_3dla::vec3(0.1, 0.2, 0.3), 1.0);
  host.item(b2).goal = LWITEM_NULL;
  evaluate(b1);
  EXPECT_EQ(host.set_param_calls, 0);
  EXPECT_EQ(host.get_param_calls, 0);

  // A branch whose own chain has no goal keeps its host rotation though the root's chain, which
  // ends in a later branch, has one.
  host.item(b2).goal = host.add(LWI_OBJECT, "G2");
  const LWItemID branch = host.add(LWI_BONE, "branch", root, root);
  host.item(branch).handlers = {"Tarsel"};
  const LWItemID late = host.add(LWI_BONE, "late", root, root);
  host.item(late).handlers = {"Tarsel"};
  host.item(late).goal = host.item(b2).goal;
  store(branch, vk_3dla::vec3(0.5, 0.5, 0.5), 1.0);
  evaluate(branch);
  EXPECT_EQ(host.set_param_calls, 0);

  // A bone that has left the chain but still ends in a goal keeps receiving its frozen entry.
  host.item(b1).parent = LWITEM_NULL;
  evaluate(b1);
  EXPECT_EQ(host.set_rotation, (std::vector<double>{0.1, 0.2, 0.3}));
}

// Bones find the entries their root wrote in any order, and after the root's instance is gone
// (its entries frozen; nothing of the destroyed record is read, which the sanitizer run checks);
// the root's own item, should it carry an entry, has it frozen.
TEST_F(BoneHandlerTest, EntriesReachTheirBonesInAnyOrderAndOutliveTheRoot) {
  LWInstance inst = tarsel::root_create(nullptr, root, nullptr);
  ASSERT_NE(inst, nullptr);
  host.access_reads_item = true;
  host.item(host.item(b2).goal).params[LWIP_POSITION] = {0.3, 0.4, 0.5};
  // The fake's bones all sit at their parents' pivots: the module notes a zero-length link.
  testing::internal::CaptureStderr();
  host.evaluate_as(root, 1.5);
  tarsel::root_evaluate(inst, &host.access);
  const auto stored = [&](LWItemID bone) {
    const vk_3dla::vec3 hpb = tarsel::bone_results.at(bone).hpb;
    return std::vector<double>{hpb.x, hpb.y, hpb.z};
  };
  for (LWItemID bone : {b2, b1}) {
    evaluate(bone);
    EXPECT_EQ(host.set_rotation, stored(bone));
  }
  host.evaluate_as(root, 1.5);
  tarsel::root_evaluate(inst, &host.access);
  // An entry the root's own item gets in between, as a bone of another chain, is frozen by the
  // root's next evaluation, though the chain is the same as before.
  tarsel::bone_results[root] = tarsel::Bone_entry(Result{vk_3dla::vec3(0.0), 1.0}, b2, 1);
  host.evaluate_as(root, 1.5);
  tarsel::root_evaluate(inst, &host.access);
  EXPECT_EQ(tarsel::bone_results.at(root).last, LWITEM_NULL);
  testing::internal::GetCapturedStderr();
  tarsel::root_destroy(inst);
  for (LWItemID bone : {b1, b2}) {
    evaluate(bone);
    EXPECT_EQ(host.set_rotation, stored(bone));
  }
}

}  // namespace
