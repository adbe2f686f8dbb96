#include "solver/chain_end.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::deg2rad;
using vk_3dla::pi;

const double kFractions[] = {-0.5, 0.0, 0.3, 1.0, 1.7};

void expect_matches_reference(const std::vector<Work>& works) {
  for (double s : kFractions) {
    SCOPED_TRACE("s = " + std::to_string(s));
    EXPECT_VEC3_NEAR(chain_end(works, s), reference_chain_end(works, s), 1e-12);
  }
}

TEST(ChainEnd, MatchesComposedTransformsForEachJointKind) {
  struct Case {
    const char* name;
    std::vector<Work> works;
  };
  Work heading = channel_joint(0, 0.4, vec3(0.1, 0.2, 1.0), vec3(0.0));
  heading.fk_rot = vec3(0.0, 0.2, -0.3);  // the other channels keep their FK rotation
  Work bank = channel_joint(2, -0.7, vec3(0.0, 0.5, 0.8), vec3(0.0));
  Work flipped_up = flipped_joint(0.3, vec3(0.0, 0.0, 1.2), vec3(0.0));
  flipped_up.fk_rot = vec3(1.0, 2.0, 0.25);  // only the FK bank is used
  Work flipped_down = flipped_joint(-0.5, vec3(0.0, 0.0, 0.7), vec3(0.0));
  Work free_axis = free_axis_joint(vec3(0.3, -0.4, 0.2), vec3(0.2, 0.0, 0.9), vec3(0.0));
  Work pivoted = channel_joint(1, 0.6, vec3(0.0, 0.0, 1.0), vec3(0.0));
  set_pivot(&pivoted, vec3(0.1, -0.2, 0.3));
  Work scaled = channel_joint(1, -0.9, vec3(0.0, 0.3, 1.0), vec3(0.0));
  scaled.scale = vec3(1.5, -0.5, 2.0);
  Work limited = channel_joint(1, 1.2, vec3(0.0, 0.0, 1.0), vec3(0.0));
  set_limits(&limited, 2u, vec3(0.0, 0.2, 0.0), vec3(0.0, 0.8, 0.0));
  Work flipped_limited = flipped_joint(0.4, vec3(0.0, 0.0, 1.0), vec3(0.0));
  set_limits(&flipped_limited, 2u, vec3(0.0, 1.0, 0.0), vec3(0.0, 2.5, 0.0));

  Work root = plain_joint(vec3(0.0), vec3(0.0));
  root.scale = vec3(2.0, 2.0, -2.0);
  set_pivot(&root, vec3(0.5, 0.5, 0.5));  // ignored by the chain end
  Work tip = channel_joint(1, 0.3, vec3(0.0, 0.0, 1.0), vec3(0.1, -0.2, 0.9));

  Case cases[] = {
      {"heading with fk", link({root, heading, tip})},
      {"bank", link({root, bank, tip})},
      {"flipped up", link({root, flipped_up, tip})},
      {"flipped down", link({root, flipped_down, tip})},
      {"free axis", link({root, free_axis, tip})},
      {"pivot", link({root, pivoted, tip})},
      {"mirrored scale", link({root, scaled, tip})},
      {"limited", link({root, limited, tip})},
      {"flipped limited", link({root, flipped_limited, tip})},
      {"all", link({root, heading, bank, flipped_up, free_axis, pivoted, scaled, limited, tip})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_matches_reference(c.works);
  }
}

// A chain of 2 to 7 joints of every kind, with FK turns, pivots, scales (mirrored for some
// trials) and, for odd trials, limits.
std::vector<Work> random_chain(std::mt19937& gen, int trial) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int n = 2 + trial % 6;
  std::vector<Work> works;
  works.push_back(plain_joint(vec3(0.0), vec3(0.0)));
  for (int k = 1; k < n; ++k) {
    vec3 offset(u(gen), u(gen), 1.0 + u(gen));
    Work w;
    switch (k % 4) {
      case 0:
        w = channel_joint(k % 3, 2.0 * u(gen), offset, vec3(0.0));
        break;
      case 1:
        w = flipped_joint(u(gen), offset, vec3(0.0));
        break;
      case 2:
        w = free_axis_joint(vec3(u(gen), u(gen), u(gen)), offset, vec3(0.0));
        break;
      default:
        w = channel_joint(1, 2.0 * u(gen), offset, vec3(0.0));
        break;
    }
    w.fk_rot = vec3(0.5 * u(gen), 0.5 * u(gen), 0.5 * u(gen));
    set_pivot(&w, vec3(0.3 * u(gen), 0.3 * u(gen), 0.3 * u(gen)));
    double m = 1.0 + 0.5 * u(gen);
    w.scale = vec3(m, (trial % 3 == 0 ? -m : m), m + 0.2 * u(gen));
    if (trial % 2) {
      set_limits(&w, 7u, vec3(-0.4, -0.3, -0.5), vec3(0.6, 0.5, 0.4));
      if (w.flipped) set_limits(&w, 2u, vec3(0.0, 2.0, 0.0), vec3(0.0, 3.0, 0.0));
    }
    works.push_back(w);
  }
  works.back().end_point = vec3(u(gen), u(gen), 1.0);
  works = link(works);
  works.back().end_point = vec3(0.2, -0.1, 0.8);
  return works;
}

TEST(ChainEnd, MatchesComposedTransformsOnRandomChains) {
  std::mt19937 gen(20240611u);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    expect_matches_reference(random_chain(gen, trial));
  }
}

bool same_bits(const vec3& a, const vec3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The searches rely on Chain_ends giving exactly chain_end's value, remembered or not: their
// comparisons (and so the abscissa that wins) must not depend on which of the two served them.
TEST(ChainEnds, GiveChainEndBitForBit) {
  std::mt19937 gen(977u);
  std::uniform_real_distribution<double> u(-1.5, 2.5);
  std::vector<std::vector<Work>> chains;
  for (int trial = 0; trial < 24; ++trial) chains.push_back(random_chain(gen, trial));
  // Joints bending alike share their turn; FK turns, a flipped joint and a limit on the way.
  std::vector<Work> alike = planar_chain(6, 0.5, 0.4);
  alike[3].fk_rot = vec3(0.1, 0.0, -0.2);
  set_limits(&alike[4], 2u, vec3(0.0, -0.1, 0.0), vec3(0.0, 0.1, 0.0));
  chains.push_back(link(alike));
  chains.push_back(planar_chain(1, 1.0, 0.0));
  for (std::size_t c = 0; c < chains.size(); ++c) {
    SCOPED_TRACE("chain " + std::to_string(c));
    const std::vector<Work>& works = chains[c];
    Chain_ends ends(works);
    // More fractions than the table holds, each asked for twice, and the edge values.
    std::vector<double> fractions{0.0, -0.0, 1.0, std::nan(""), 1e300, -1e300};
    for (int i = 0; i < 3000; ++i) fractions.push_back(u(gen));
    // The bisection's kept path too: filled on the first pass, read back on the second (after a
    // reset for every other chain), past its length as well.
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1 && c % 2 == 1) ends.reset();
      for (std::size_t k = 0; k < fractions.size(); ++k) {
        const double s = fractions[k];
        const vec3 expected = chain_end(works, s);
        const double distance = vk_3dla::abs(expected);
        const double on_path = ends.bisection_distance(static_cast<int>(k % 70), s);
        if (!same_bits(ends(s), expected) || std::memcmp(&on_path, &distance, sizeof on_path)) {
          ADD_FAILURE() << "s = " << s << " pass " << pass;
          break;
        }
      }
    }
  }
}

// The table is sized by what one solve asks of it: a solve that asks for few ends keeps a small
// one, one that walks thousands of fractions grows it to the top size, and later solves of the
// same size (or after a reset) leave it as it is.
TEST(ChainEnds, TableGrowsToWhatOneSolveAsks) {
  const std::vector<Work> works = planar_chain(5, 0.5, 0.3);
  Chain_ends ends(works);
  const auto solve = [&](int fractions) {
    ends.begin_solve();
    for (int i = 0; i < fractions; ++i) ends(i / static_cast<double>(fractions));
  };
  solve(130);
  const std::size_t few = ends.table_size();
  EXPECT_LE(few, 128u);
  solve(130);
  EXPECT_EQ(ends.table_size(), few);
  solve(5000);
  EXPECT_EQ(ends.table_size(), 2048u);
  ends.reset();
  solve(5000);
  EXPECT_EQ(ends.table_size(), 2048u);
}

TEST(ChainEnd, SingleElementIsItsScaledEndPointMovedByItsOffset) {
  Work w = plain_joint(vec3(0.5, -1.0, 2.0), vec3(1.0, 2.0, 3.0));
  w.scale = vec3(2.0, -1.0, 0.5);
  w.bend_angle = 1.0;
  set_pivot(&w, vec3(0.4, 0.2, 0.1));
  std::vector<Work> works{w};
  for (double s : kFractions) {
    EXPECT_VEC3_NEAR(chain_end(works, s), vec3(2.5, -3.0, 3.5), 0.0);
  }
}

TEST(ChainEnd, IgnoresTheFirstElementsPivotAndBend) {
  std::vector<Work> works = planar_chain(3, 1.0, 0.5);
  vec3 before = chain_end(works, 0.7);
  set_pivot(&works[0], vec3(1.0, 0.5, -0.5));
  works[0].bend_angle = 2.0;
  EXPECT_VEC3_NEAR(chain_end(works, 0.7), before, 0.0);
}

TEST(ChainEnd, LimitClampingFreezesTheJointBeyondItsLimit) {
  std::vector<Work> works = planar_chain(2, 1.0, 1.0);
  set_limits(&works[1], 2u, vec3(0.0, 0.25, 0.0), vec3(0.0, 0.75, 0.0));
  EXPECT_VEC3_NEAR(chain_end(works, 0.0), chain_end(works, 0.25), 1e-15);
  EXPECT_VEC3_NEAR(chain_end(works, 2.0), chain_end(works, 0.75), 1e-15);
  EXPECT_GT(vk_3dla::abs(chain_end(works, 0.5) - chain_end(works, 0.25)), 0.1);
}

TEST(ClampJointAngle, LimitsMirroringAndBits) {
  Work pitch = channel_joint(1, 1.0, vec3(0.0), vec3(0.0));
  set_limits(&pitch, 2u, vec3(9.0, -0.5, 9.0), vec3(-9.0, 0.5, -9.0));
  Work bank = channel_joint(2, 1.0, vec3(0.0), vec3(0.0));
  set_limits(&bank, 2u, vec3(0.0, -0.5, -0.1), vec3(0.0, 0.5, 0.1));  // bank bit clear
  Work heading = channel_joint(0, 1.0, vec3(0.0), vec3(0.0));
  set_limits(&heading, 1u, vec3(-0.2, 0.0, 0.0), vec3(0.3, 0.0, 0.0));
  Work flipped_zero = flipped_joint(0.0, vec3(0.0), vec3(0.0));
  Work flipped_up = flipped_joint(0.2, vec3(0.0), vec3(0.0));
  struct Case {
    const char* name;
    const Work& w;
    double theta;
    double expected;
  } cases[] = {
      {"at minimum", pitch, -0.5, -0.5},
      {"below minimum", pitch, -2.0, -0.5},
      {"above maximum", pitch, 0.6, 0.5},
      {"inside", pitch, 0.1, 0.1},
      {"bank bit clear", bank, 0.3, 0.3},
      {"heading", heading, 0.4, 0.3},
      {"flipped, rest pitch 0", flipped_zero, 0.3, -pi - 0.3},
      {"flipped, rest pitch > 0", flipped_up, 0.3, pi - 0.3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(clamp_joint_angle(c.theta, c.w), c.expected);
  }
  // A NaN bend goes to the lower limit rather than through the chain.
  EXPECT_EQ(clamp_joint_angle(std::nan(""), pitch), -0.5);
}

TEST(JointAngles, OneClampedAnglePerJointIncludingTheRoot) {
  std::vector<Work> works = planar_chain(3, 1.0, 0.8);
  set_limits(&works[0], 2u, vec3(0.0, 0.1, 0.0), vec3(0.0, 0.2, 0.0));
  set_limits(&works[2], 2u, vec3(0.0, -1.0, 0.0), vec3(0.0, 0.3, 0.0));
  std::vector<double> angles{5.0, 5.0, 5.0, 5.0, 5.0};
  joint_angles(&angles, 0.5, works);
  ASSERT_EQ(angles.size(), 3u);
  EXPECT_DOUBLE_EQ(angles[0], 0.1);  // the root's zero bend, clamped
  EXPECT_DOUBLE_EQ(angles[1], 0.4);
  EXPECT_DOUBLE_EQ(angles[2], 0.3);
}

}  // namespace
