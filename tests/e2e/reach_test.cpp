// The module inside the stand-in host: serial chains reach goals inside their reach, point at goals
// beyond it, and stay finite on degenerate goals. Every check rebuilds the chain's end from the
// host's evaluated channels with the tests' own transform code.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "tests/e2e/rig.h"

namespace e2e {
namespace {

struct Parent_case {
  const char* name;
  V3 position, rotation;
  double scale;
};

const Parent_case parent_cases[] = {
    {"identity", {0, 0, 0}, {0, 0, 0}, 1.0},
    {"translated", {1, -2, 0.5}, {0, 0, 0}, 1.0},
    {"rotated", {0.3, 1, -1}, {deg(40), deg(-25), deg(70)}, 1.0},
    {"rotated and scaled", {-1, 0, 2}, {deg(-15), deg(10), 0}, 2.5},
};

// A chain of n bones bending in one plane about X: random lengths, rest pitches of one sign
// adding up to at most 120 degrees, and a random rotation channel on the root (which the solve
// replaces).
Rig_plan random_chain(std::mt19937& rng, int n, const Parent_case& parent) {
  std::uniform_real_distribution<double> length(0.5, 2.0), share(0.5, 1.0), angle(-3.0, 3.0);
  const double sign = rng() % 2 == 0 ? 1.0 : -1.0;
  Rig_plan plan;
  for (int k = 0; k < n; ++k) {
    plan.lengths.push_back(length(rng));
    plan.rest_rotations.push_back(k == 0 ? V3{} : V3{0, sign * share(rng) * deg(120) / (n - 1), 0});
  }
  plan.parent_position = parent.position;
  plan.parent_rotation = parent.rotation;
  plan.parent_scale = {parent.scale, parent.scale, parent.scale};
  plan.root_rotation = {angle(rng), angle(rng) / 3, angle(rng)};
  return plan;
}

std::string describe(const char* what, int n, const Parent_case& parent, int rig, int sample) {
  std::ostringstream s;
  s << what << ": " << n << " bones, parent " << parent.name << ", rig " << rig << ", sample "
    << sample;
  return s.str();
}

TEST(ChainReach, GoalsInsideReachAreReached) {
  // Round trip: pose the chain at bend fractions strictly inside its range, take the posed end,
  // turn it about the root by a random rotation, and ask the chain to reach it.
  std::mt19937 rng(20240601);
  std::uniform_real_distribution<double> fraction(0.15, 0.85), turn(0.0, 3.14159);
  std::uniform_real_distribution<double> spread(0.5, 1.5);
  for (int n = 2; n <= 6; ++n) {
    for (const Parent_case& parent : parent_cases) {
      for (int r = 0; r < 3; ++r) {
        Rig_plan plan = random_chain(rng, n, parent);
        plan.twist_target = r == 2;  // a twist target turns the chain about the goal line only
        Rig rig(plan);
        rig.evaluate();
        const V3 origin = rig.root_origin();
        for (int s = 0; s < 6; ++s) {
          SCOPED_TRACE(
              describe(plan.twist_target ? "with twist target" : "plain", n, parent, r, s));
          std::vector<double> fractions(n);
          for (double& f : fractions) f = fraction(rng);
          const V3 posed = rig.posed_end(fractions);
          const V3 goal =
              origin + transform(posed - origin, rotation_axis(random_direction(rng), turn(rng)));
          rig.set_position(rig.goal, goal);
          if (plan.twist_target)
            rig.set_position(rig.twist_target,
                             origin + random_direction(rng) * (rig.world_length() * spread(rng)));
          rig.evaluate();
          ASSERT_TRUE(rig.finite_pose());
          EXPECT_LE(norm(rig.chain_end() - goal), 1e-4 * rig.world_length());
        }
      }
    }
  }
}

TEST(ChainReach, EveryBendFractionOfAnyLengthIsReached) {
  // Property: a chain bending one way by the same pitch at every joint reaches every goal its
  // one-fraction bend can pose, at any fraction from straight to where the joints fold back on
  // themselves, turned any way about the root. Long chains curl past their first reach minimum.
  std::mt19937 rng(1812);
  std::uniform_real_distribution<double> turn(0.0, 3.14159), bend_deg(5.0, 30.0);
  for (int n : {2, 3, 5, 9, 16, 32, 64, 128}) {
    Rig_plan plan;
    const double bend = deg(bend_deg(rng));
    for (int k = 0; k < n; ++k) {
      plan.lengths.push_back(1.0 / (1.0 + 0.1 * k));
      plan.rest_rotations.push_back(k == 0 ? V3{} : V3{0, bend, 0});
    }
    Rig rig(plan);
    rig.evaluate();
    const V3 origin = rig.root_origin();
    std::uniform_real_distribution<double> fraction(0.0, 0.99 * deg(180) / bend);
    for (int s = 0; s < 12; ++s) {
      const double f = fraction(rng);
      SCOPED_TRACE(std::to_string(n) + " bones of " + std::to_string(bend) + " rad, fraction " +
                   std::to_string(f));
      const V3 posed = rig.posed_end(std::vector<double>(n, f)) - origin;
      const V3 goal = origin + transform(posed, rotation_axis(random_direction(rng), turn(rng)));
      rig.set_position(rig.goal, goal);
      rig.evaluate();
      ASSERT_TRUE(rig.finite_pose());
      EXPECT_LE(norm(rig.chain_end() - goal), 1e-4 * rig.world_length());
    }
  }
}

TEST(ChainReach, TwistTargetTurnsTheBendPlaneOntoItself) {
  // A chain bending in one plane, its goal inside reach: the twist target turns the chain about
  // the root-to-goal line until every joint lies in the plane of root, goal and target, with the
  // first bend on the target's side of that line.
  std::mt19937 rng(4711);
  std::uniform_real_distribution<double> fraction(0.15, 0.85), turn(0.0, 3.14159);
  std::uniform_real_distribution<double> spread(0.5, 1.5);
  for (int n = 2; n <= 4; ++n) {
    for (const Parent_case& parent : parent_cases) {
      Rig_plan plan = random_chain(rng, n, parent);
      plan.twist_target = true;
      Rig rig(plan);
      rig.evaluate();
      const V3 origin = rig.root_origin();
      for (int s = 0; s < 6; ++s) {
        SCOPED_TRACE(describe("twist target", n, parent, 0, s));
        std::vector<double> fractions(n);
        for (double& f : fractions) f = fraction(rng);
        const V3 goal = origin + transform(rig.posed_end(fractions) - origin,
                                           rotation_axis(random_direction(rng), turn(rng)));
        const V3 target = origin + random_direction(rng) * (rig.world_length() * spread(rng));
        rig.set_position(rig.goal, goal);
        rig.set_position(rig.twist_target, target);
        rig.evaluate();
        ASSERT_TRUE(rig.finite_pose());
        const V3 line = unit(goal - origin);
        const V3 normal = unit(cross(line, target - origin));
        for (std::size_t k = 1; k < rig.bones.size(); ++k) {
          const V3 joint = Rig::translation(rig.world(rig.bones[k])) - origin;
          EXPECT_LT(std::fabs(dot(joint, normal)), 1e-4 * rig.world_length()) << "joint " << k;
        }
        const V3 elbow = Rig::translation(rig.world(rig.bones[1])) - origin;
        const V3 toward = target - origin;
        EXPECT_GT(dot(elbow - line * dot(elbow, line), toward - line * dot(toward, line)), 0);
      }
    }
  }
}

TEST(ChainReach, GoalsBeyondReachArePointedAt) {
  std::mt19937 rng(777);
  for (int n = 2; n <= 6; ++n) {
    for (const Parent_case& parent : parent_cases) {
      for (const char* stretch : {"ExcessStretch 1", "ExcessStretch 0"}) {
        Rig_plan plan = random_chain(rng, n, parent);
        plan.options = {stretch};
        Rig rig(plan);
        rig.evaluate();
        const V3 origin = rig.root_origin();
        for (int s = 0; s < 6; ++s) {
          SCOPED_TRACE(describe(stretch, n, parent, 0, s));
          const V3 goal = origin + random_direction(rng) * (3 * rig.world_length());
          rig.set_position(rig.goal, goal);
          rig.evaluate();
          ASSERT_TRUE(rig.finite_pose());
          EXPECT_LT(angle_between(rig.chain_end() - origin, goal - origin), 1e-3);
        }
      }
    }
  }
}

TEST(ChainReach, OneBoneChainAimsAtItsGoal) {
  std::mt19937 rng(31);
  for (const Parent_case& parent : parent_cases) {
    Rig_plan plan;
    plan.lengths = {1.3};
    plan.rest_rotations = {V3{}};
    plan.parent_position = parent.position;
    plan.parent_rotation = parent.rotation;
    plan.parent_scale = {parent.scale, parent.scale, parent.scale};
    Rig rig(plan);
    rig.evaluate();
    const V3 origin = rig.root_origin();
    for (double distance : {0.4, 1.3, 5.0}) {
      SCOPED_TRACE(std::string(parent.name) + ", goal at " + std::to_string(distance));
      const V3 goal = origin + random_direction(rng) * distance;
      rig.set_position(rig.goal, goal);
      rig.evaluate();
      ASSERT_TRUE(rig.finite_pose());
      EXPECT_LT(angle_between(rig.chain_end() - origin, goal - origin), 1e-3);
    }
  }
}

TEST(ChainReach, DegenerateGoalsGiveFinitePoses) {
  // Goals on the boundaries of what a chain can do: at the root, at exactly the full stretch, at
  // the rest pose, straight behind the rest pose, and a chain whose bones have no rest bend.
  Rig_plan bent;
  bent.lengths = {1.0, 0.8, 0.6};
  bent.rest_rotations = {V3{}, V3{0, deg(30), 0}, V3{0, deg(40), 0}};
  Rig_plan straight = bent;
  straight.rest_rotations = {V3{}, V3{}, V3{}};
  const std::vector<double> rest(3, 1.0), flat(3, 0.0);
  for (const Rig_plan* plan : {&bent, &straight}) {
    Rig rig(*plan);
    rig.evaluate();
    const V3 origin = rig.root_origin();
    const V3 rest_end = rig.posed_end(rest);
    const struct {
      const char* name;
      V3 goal;
    } goals[] = {
        {"at the root", origin},
        {"at full stretch", rig.posed_end(flat)},
        {"at the rest pose", rest_end},
        {"behind the rest pose", origin - (rest_end - origin) * 0.5},
        {"beside the root", origin + V3{1e-9, 0, 0}},
    };
    for (const auto& g : goals) {
      SCOPED_TRACE(std::string(plan == &bent ? "bent chain, goal " : "straight chain, goal ") +
                   g.name);
      rig.set_position(rig.goal, g.goal);
      rig.evaluate();
      EXPECT_TRUE(rig.finite_pose());
    }
  }
}

}  // namespace
}  // namespace e2e
