#include "solver/two_items.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "solver/chain_end.h"
#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::pi;

// The smallest admissible bend fraction of a two-item chain, as the chain set-up works it out.
double smallest_fraction(const Work& joint) {
  bool limited = (joint.channel == 0 && (joint.limit_flags & 1u)) ||
                 (joint.channel == 1 && (joint.limit_flags & 2u));
  if (!limited) return 0.0;
  if (joint.bend_angle == 0.0) return 0.0;
  double v =
      joint.bend_angle >= 0.0 ? joint.limit_min[joint.channel] : joint.limit_max[joint.channel];
  bool same_side = joint.bend_angle >= 0.0 ? v > 0.0 : v < 0.0;
  return same_side ? std::fabs(v / joint.bend_angle) : 0.0;
}

struct Sample {
  std::string name;
  std::vector<Work> works;
};

// A repeatable sample of two-item chains: every bend channel, flipped joints, both bend signs,
// pivots, FK rotations on the other channels, uniform and mirrored root scales, and limits.
std::vector<Sample> two_item_sample(unsigned seed, int count) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Sample> out;
  for (int i = 0; i < count; ++i) {
    Work root = plain_joint(vec3(0.0), vec3(0.0));
    double m = 0.5 + std::fabs(u(gen));
    root.scale = vec3(m, m, m);
    if (i % 3 == 1) root.scale.y = -m;
    if (i % 5 == 2) root.scale = vec3(-m, m, -m);
    set_pivot(&root, vec3(u(gen), u(gen), u(gen)));
    vec3 offset(0.3 * u(gen), 0.3 * u(gen), 1.0 + 0.5 * u(gen));
    vec3 end(0.3 * u(gen), 0.3 * u(gen), 0.8 + 0.5 * u(gen));
    double bend = (0.3 + 2.0 * std::fabs(u(gen))) * (i % 2 ? -1.0 : 1.0);
    Work joint;
    std::string kind;
    const int variant = i % 6;
    if (variant < 3 || variant == 5) {
      joint = channel_joint(variant == 5 ? 1 : variant, bend, offset, end);
      kind = "channel " + std::to_string(joint.channel);
    } else if (variant == 3) {
      joint = flipped_joint(u(gen), offset, end);
      // Turned back to within the flip tolerance, either way round, not only exactly.
      joint.rest_rot.x = (i % 4 == 1 ? -pi : pi) - 4e-4 * u(gen);
      kind = "flipped";
    } else {
      joint = free_axis_joint(vec3(u(gen), u(gen), u(gen)), offset, end);
      kind = "free axis";
    }
    if ((i / 6) % 4 == 1) set_pivot(&joint, vec3(0.3 * u(gen), 0.3 * u(gen), 0.3 * u(gen)));
    if ((i / 6) % 3 == 2) {
      // FK rotation on the channels the joint does not bend by.
      joint.fk_rot = vec3(0.4 * u(gen), 0.4 * u(gen), 0.4 * u(gen));
      if (joint.flipped) joint.fk_rot.x = vk_3dla::pi;
      joint.fk_rot[joint.channel] = 0.0;
      kind += " fk";
    }
    joint.scale = vec3(1.0 + 0.3 * u(gen), 1.0 + 0.3 * u(gen), 1.0 + 0.3 * u(gen));
    if (variant == 5 || (variant < 2 && (i / 6) % 2 == 1)) {
      double a = std::fabs(joint.bend_angle);
      double lo = joint.bend_angle > 0 ? 0.2 * a : -0.9 * a;
      double hi = joint.bend_angle > 0 ? 0.9 * a : -0.2 * a;
      vec3 lo3(0.0), hi3(0.0);
      lo3[joint.channel] = lo;
      hi3[joint.channel] = hi;
      set_limits(&joint, 1u << joint.channel, lo3, hi3);
      kind += " limited";
    }
    out.push_back({std::to_string(i) + " " + kind, link({root, joint})});
  }
  return out;
}

TEST(FractionForDistance, ReachesEveryDistanceBetweenShortestAndLongest) {
  int valid = 0;
  for (const Sample& c : two_item_sample(4711u, 144)) {
    SCOPED_TRACE(c.name);
    double s_min = smallest_fraction(c.works[1]);
    c_2items_ik record;
    double s_lo, s_hi, shortest, s_near, longest, s_far;
    two_item_setup(&s_lo, &s_hi, &shortest, &s_near, &longest, &s_far, c.works, s_min, &record);
    if (!record.valid) continue;
    ++valid;
    EXPECT_LE(s_lo, s_hi);
    EXPECT_NEAR(vk_3dla::abs(chain_end(c.works, s_near)), shortest, 1e-12);
    EXPECT_NEAR(vk_3dla::abs(chain_end(c.works, s_far)), longest, 1e-12);
    // The end turns on a circle about the axis: its component along the axis never changes.
    for (int k = 0; k <= 4; ++k) {
      double s = s_lo + (s_hi - s_lo) * k / 4.0;
      EXPECT_NEAR(vk_3dla::dot(chain_end(c.works, s), record.axis), record.axial, 1e-12);
    }
    const double tolerance = 1e-9;
    c_2items_ik invalid;  // forces the bisection
    for (int k = 1; k < 10; ++k) {
      double h = shortest + (longest - shortest) * k / 10.0;
      SCOPED_TRACE("h = " + std::to_string(h));
      double s_closed =
          fraction_for_distance(s_min, s_lo, s_hi, s_near, s_far, tolerance, h, record, c.works);
      EXPECT_NEAR(vk_3dla::abs(chain_end(c.works, s_closed)), h, 1e-9) << "closed form";
      EXPECT_GE(s_closed, s_lo - 1e-12);
      EXPECT_LE(s_closed, s_hi + 1e-12);
      double s_bisect =
          fraction_for_distance(s_min, s_lo, s_hi, s_near, s_far, tolerance, h, invalid, c.works);
      EXPECT_NEAR(vk_3dla::abs(chain_end(c.works, s_bisect)), h, 1e-6) << "bisection";
    }
  }
  EXPECT_GT(valid, 120);
}

TEST(TwoItemSetup, RootScaleMustBeUniformInMagnitude) {
  std::vector<Work> works = link({plain_joint(vec3(0.0), vec3(0.0)),
                                  channel_joint(1, 1.0, vec3(0.0, 0.2, 1.0), vec3(0.0, 0.0, 1.0))});
  struct Case {
    vec3 scale;
    bool valid;
  } cases[] = {{vec3(1.0, 1.0, 1.0), true},
               {vec3(1.0, -1.0, 1.0), true},
               {vec3(-2.0, -2.0, 2.0), true},
               {vec3(1.0, 2.0, 1.0), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.scale);
    works[0].scale = c.scale;
    c_2items_ik record;
    double out[6] = {-7, -7, -7, -7, -7, -7};
    two_item_setup(&out[0], &out[1], &out[2], &out[3], &out[4], &out[5], works, 0.0, &record);
    EXPECT_EQ(record.valid, c.valid);
    if (!c.valid) {
      for (double o : out) EXPECT_EQ(o, -7);  // outputs untouched
    }
  }
}

TEST(TwoItemSetup, RejectsChainsItCannotDescribe) {
  Work root = plain_joint(vec3(0.0), vec3(0.0));
  struct Case {
    const char* name;
    std::vector<Work> works;
  } cases[] = {
      {"one item", {plain_joint(vec3(0.0), vec3(0.0, 0.0, 1.0))}},
      {"three items", planar_chain(3, 1.0, 0.5)},
      // Bend axis X along link0.
      {"axis along link0", link({root, channel_joint(1, 1.0, vec3(1.0, 0.0, 0.0), vec3(0, 0, 1))})},
      // Second link along the bend axis.
      {"link along axis", link({root, channel_joint(1, 1.0, vec3(0, 0, 1), vec3(1.0, 0.0, 0.0))})},
      {"no bend", link({root, channel_joint(1, 0.0, vec3(0, 0, 1), vec3(0, 0, 1))})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c_2items_ik record;
    double o[6];
    two_item_setup(&o[0], &o[1], &o[2], &o[3], &o[4], &o[5], c.works, 0.0, &record);
    EXPECT_FALSE(record.valid);
  }
}

TEST(TwoItemSetup, NegativeBendReversesTheAxis) {
  Work root = plain_joint(vec3(0.0), vec3(0.0));
  for (double bend : {0.8, -0.8}) {
    SCOPED_TRACE(bend);
    std::vector<Work> works =
        link({root, channel_joint(1, bend, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 1.0))});
    c_2items_ik record;
    double o[6];
    two_item_setup(&o[0], &o[1], &o[2], &o[3], &o[4], &o[5], works, 0.0, &record);
    ASSERT_TRUE(record.valid);
    EXPECT_VEC3_NEAR(record.axis, vec3(bend > 0 ? 1.0 : -1.0, 0.0, 0.0), 1e-15);
    EXPECT_DOUBLE_EQ(record.rate, 0.8);
  }
}

TEST(TwoItemSetup, FoldedBackLinkAllowsAFullTurn) {
  // The second link points straight back along link0 at s_min = 0: phi_min = pi and the range is
  // a full turn, (2 pi - pi) / rate.
  Work root = plain_joint(vec3(0.0), vec3(0.0));
  std::vector<Work> works =
      link({root, channel_joint(1, 0.5, vec3(0.0, 0.0, 2.0), vec3(0.0, 0.0, -1.0))});
  c_2items_ik record;
  double s_lo, s_hi, shortest, s_near, longest, s_far;
  two_item_setup(&s_lo, &s_hi, &shortest, &s_near, &longest, &s_far, works, 0.0, &record);
  ASSERT_TRUE(record.valid);
  EXPECT_DOUBLE_EQ(record.phi_min, pi);
  EXPECT_DOUBLE_EQ(s_lo, 0.0);
  EXPECT_DOUBLE_EQ(s_hi, pi / 0.5);
}

TEST(FractionForDistance, StraightReachGivesOneFraction) {
  // axial = 0 and h = len0 + len1: theta = 0, so both candidates coincide.
  Work root = plain_joint(vec3(0.0), vec3(0.0));
  std::vector<Work> works =
      link({root, channel_joint(1, 1.0, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 1.0))});
  c_2items_ik record;
  double s_lo, s_hi, shortest, s_near, longest, s_far;
  two_item_setup(&s_lo, &s_hi, &shortest, &s_near, &longest, &s_far, works, 0.0, &record);
  ASSERT_TRUE(record.valid);
  double s = fraction_for_distance(0.0, s_lo, s_hi, s_near, s_far, 1e-9, 2.0, record, works);
  EXPECT_NEAR(s, 0.0, 1e-15);
}

TEST(FractionForDistance, BisectionStopsAfterAThousandHalvingsWithANaNTolerance) {
  std::vector<Work> works = planar_chain(3, 1.0, 1.0);
  c_2items_ik invalid;
  double s = fraction_for_distance(0.0, 0.0, 1.0, 1.0, 0.0, std::nan(""), 2.5, invalid, works);
  EXPECT_NEAR(vk_3dla::abs(chain_end(works, s)), 2.5, 1e-9);
}

}  // namespace
