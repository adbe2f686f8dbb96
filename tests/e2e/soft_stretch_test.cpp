// Soft Reach and Max Stretch through the module in the stand-in host: a goal walking through full
// extension turns the joints by steps proportional to its own (and, with Soft Reach off, pops),
// and a stretchy chain meets goals up to Max Stretch times its longest reach and points at those
// beyond it. Every check rebuilds the chain from the host's evaluated channels.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/e2e/rig.h"

namespace e2e {
namespace {

// A leg bending about X: a thigh and a shin (and a foot for three bones), 60 degrees of knee.
Rig_plan leg(int bones, std::vector<std::string> options) {
  Rig_plan plan;
  for (int k = 0; k < bones; ++k) {
    plan.lengths.push_back(k == 2 ? 0.4 : 1.0);
    plan.rest_rotations.push_back(k == 0 ? V3{} : V3{0, deg(k == 1 ? 60 : 20), 0});
  }
  plan.options = std::move(options);
  return plan;
}

// The largest turn of any bone's rotation channel between two evaluations.
double largest_turn(const std::vector<M4>& before, const Rig& rig) {
  double turn = 0.0;
  for (std::size_t k = 0; k < rig.bones.size(); ++k) {
    const V3 hpb = {rig.host.param(rig.bones[k], LWIP_ROTATION, 0.0)[0],
                    rig.host.param(rig.bones[k], LWIP_ROTATION, 0.0)[1],
                    rig.host.param(rig.bones[k], LWIP_ROTATION, 0.0)[2]};
    turn = std::max(turn, rotation_angle(before[k], rotation_hpb(hpb)));
  }
  return turn;
}

std::vector<M4> rotations(const Rig& rig) {
  std::vector<M4> out;
  for (LWItemID b : rig.bones) {
    const auto r = rig.host.param(b, LWIP_ROTATION, 0.0);
    out.push_back(rotation_hpb({r[0], r[1], r[2]}));
  }
  return out;
}

TEST(SoftReach, AGoalWalkingThroughFullReachTurnsJointsInProportionToItsStep) {
  struct Case {
    int bones;
    const char* soft;  // SoftReach block value; null for the option left out
    bool pops;
  };
  const Case cases[] = {{2, nullptr, true}, {3, nullptr, true}, {2, "0.1", false},
                        {3, "0.1", false},  {2, "0.25", false}, {3, "0.5", false}};
  constexpr int frames = 400;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bones) + " bones, soft reach " + (c.soft ? c.soft : "off"));
    std::vector<std::string> options;
    if (c.soft) options.push_back(std::string("SoftReach ") + c.soft);
    Rig rig(leg(c.bones, options));
    const double length = rig.world_length();
    // A line past the root at a tenth of the chain's length, from well inside to well beyond the
    // longest reach, walked at constant speed.
    const V3 from{0, 0.1 * length, 0.5 * length}, to{0, 0.1 * length, 1.5 * length};
    const double step = norm(to - from) / frames;
    rig.set_position(rig.goal, from);
    rig.evaluate();
    double turn = 0.0;
    for (int f = 1; f <= frames; ++f) {
      const std::vector<M4> before = rotations(rig);
      const V3 goal = from + (to - from) * (static_cast<double>(f) / frames);
      rig.set_position(rig.goal, goal);
      rig.evaluate();
      ASSERT_TRUE(rig.finite_pose());
      turn = std::max(turn, largest_turn(before, rig));
      const V3 end = rig.chain_end() - rig.root_origin(), aim = goal - rig.root_origin();
      EXPECT_LT(angle_between(end, aim), 1e-6) << "frame " << f;  // still points at the goal
    }
    // Eight radians per chain length of goal travel: a few times the smooth rate of the
    // narrowest band tried.
    const double bound = 8.0 * step / length;
    if (c.pops) {
      EXPECT_GT(turn, 3.0 * bound);
    } else {
      EXPECT_LE(turn, bound);
    }
  }
}

TEST(SoftReach, TheEndLagsAReachableGoalByLessThanTheBand) {
  Rig rig(leg(2, {"SoftReach 0.2"}));
  const double length = rig.world_length(), band = 0.2 * length;
  for (double d : {0.5, 0.79, 0.85, 0.95, 1.0}) {
    const V3 goal{0, 0, d * length};
    rig.set_position(rig.goal, goal);
    rig.evaluate();
    const double lag = norm(rig.chain_end() - goal);
    if (d <= 0.8) {
      EXPECT_LT(lag, 1e-4 * length) << d;  // below the band: reached
    }
    EXPECT_LE(lag, band / 2.718281828 + 1e-4 * length) << d;  // at most band / e
  }
}

double last_scale_z(const Rig& rig) {
  return rig.host.param(rig.bones.back(), LWIP_SCALING, 0.0)[2];
}

TEST(MaxStretch, GoalsUpToTheFactorAreMetAndThoseBeyondArePointedAtFullStretch) {
  std::mt19937 rng(1414);
  for (int bones = 1; bones <= 4; ++bones) {
    SCOPED_TRACE(std::to_string(bones) + " bones");
    Rig rig(leg(bones, {"MaxStretch 2.5"}));
    const double length = rig.world_length();  // the straight chain: its longest reach
    for (double d : {1.0001, 1.3, 2.0, 2.4999, 2.5, 2.5001, 3.0, 6.0}) {
      SCOPED_TRACE("goal at " + std::to_string(d) + " lengths");
      const V3 goal = rig.root_origin() + random_direction(rng) * (d * length);
      rig.set_position(rig.goal, goal);
      for (int again = 0; again < 2; ++again) {  // what the handlers set is not read back
        rig.evaluate();
        ASSERT_TRUE(rig.finite_pose());
        const V3 end = rig.chain_end() - rig.root_origin(), aim = goal - rig.root_origin();
        if (d <= 2.5) {
          EXPECT_LE(norm(end - aim), 1e-9 * length);
          EXPECT_NEAR(last_scale_z(rig), d, 1e-9);
        } else {
          EXPECT_LT(angle_between(end, aim), 1e-9);
          EXPECT_NEAR(norm(end), 2.5 * length, 1e-9 * length);
          EXPECT_EQ(last_scale_z(rig), 2.5);
        }
      }
    }
  }
}

TEST(MaxStretch, TheStretchIsBlendedByTheEffectWeight) {
  Rig_plan plan = leg(2, {"MaxStretch 3"});
  plan.plugin_effect = true;
  Rig rig(plan);
  const double length = rig.world_length();
  rig.set_position(rig.goal, {0, 0, 2.0 * length});
  for (double w : {0.0, 0.5, 1.0}) {
    rig.set_position(rig.effect, {w, 0, 0});
    rig.evaluate();
    EXPECT_NEAR(last_scale_z(rig), 1.0 + w, 1e-12) << w;
    EXPECT_NEAR(rig.host.param(rig.bones[1], LWIP_POSITION, 0.0)[2], 1.0 + w, 1e-12) << w;
  }
}

TEST(MaxStretch, WithSoftReachTheStretchStartsSmoothly) {
  Rig rig(leg(2, {"SoftReach 0.1", "MaxStretch 2"}));
  const double length = rig.world_length();
  constexpr int frames = 300;
  double previous_scale = 1.0, previous_rate = 0.0, largest_change_of_rate = 0.0;
  for (int f = 0; f <= frames; ++f) {
    const V3 goal{0, 0, (0.6 + 1.0 * f / frames) * length};
    rig.set_position(rig.goal, goal);
    rig.evaluate();
    EXPECT_LE(norm(rig.chain_end() - goal), 1e-4 * length) << f;  // met while below the factor
    const double scale = last_scale_z(rig), rate = scale - previous_scale;
    if (f > 0)
      largest_change_of_rate = std::max(largest_change_of_rate, std::fabs(rate - previous_rate));
    previous_scale = scale;
    previous_rate = rate;
  }
  // The factor's rate of change moves by small steps only: no kink where stretching begins.
  EXPECT_LT(largest_change_of_rate, 1e-3);
}

}  // namespace
}  // namespace e2e
