#include "solver/bend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "solver/chain_end.h"
#include "solver/two_items.h"
#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::quat;
using vk_3dla::vec2;

// Search measures as the chain set-up derives them.
struct Measures {
  double step;
  double tolerance;
};

Measures measures(const std::vector<Work>& works) {
  double total = 0.0, arc = 0.0;
  for (const Work& w : works) {
    double len = vk_3dla::abs(w.end_point);
    total += len;
    arc = std::max(arc, std::fabs(w.bend_angle) * len);
  }
  double step = arc > 0.0 ? total * 0.01 / arc : 1.0;
  return {step, step * 0.001};
}

const m33 kJoint = vk_3dla::rot_x(0.3) * vk_3dla::rot_y(-0.8) * vk_3dla::rot_z(0.25);

TEST(ApproachByBend, ClosedFormReachesGoalsOnTheSweptCurve) {
  std::vector<Work> chains[] = {
      link({plain_joint(vec3(0.0), vec3(0.0)),
            channel_joint(1, 1.2, vec3(0.0, 0.3, 1.0), vec3(0.1, 0.0, 0.8))}),
      link({plain_joint(vec3(0.0), vec3(0.0)),
            free_axis_joint(vec3(0.4, -0.6, 0.2), vec3(0.2, 0.0, 1.0), vec3(0.0, 0.3, 0.7))}),
      link({plain_joint(vec3(0.0), vec3(0.0)),
            flipped_joint(-0.4, vec3(0.0, 0.0, 1.5), vec3(0.0, 0.2, 1.0))}),
  };
  chains[0][0].scale = vec3(1.5, -1.5, 1.5);
  for (std::vector<Work>& works : chains) {
    c_2items_ik record;
    double s_lo, s_hi, shortest, s_near, longest, s_far;
    two_item_setup(&s_lo, &s_hi, &shortest, &s_near, &longest, &s_far, works, 0.0, &record);
    ASSERT_TRUE(record.valid);
    for (int k = 0; k <= 8; ++k) {
      double s_goal = s_lo + (s_hi - s_lo) * k / 8.0;
      SCOPED_TRACE("s_goal = " + std::to_string(s_goal));
      vec3 goal = chain_end(works, s_goal) * kJoint;
      double error = -1.0;
      double s = approach_by_bend(&error, works, goal, 0.1, 1e-4, 0.0, s_hi, 0.5, record, kJoint);
      EXPECT_NEAR(s, s_goal, 1e-9);
      EXPECT_LT(error, 1e-9);
    }
  }
}

TEST(ApproachByBend, SearchReachesGoalsOnTheSweptCurve) {
  struct Case {
    const char* name;
    std::vector<Work> works;
  } cases[] = {
      {"two joints", planar_chain(2, 1.0, 1.0)},
      {"five joints", planar_chain(5, 0.6, 0.5)},
  };
  c_2items_ik none;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Measures m = measures(c.works);
    for (double s_goal : {0.1, 0.35, 0.8, 1.0}) {
      SCOPED_TRACE("s_goal = " + std::to_string(s_goal));
      vec3 goal = chain_end(c.works, s_goal) * kJoint;
      double error = -1.0;
      double s =
          approach_by_bend(&error, c.works, goal, m.step, m.tolerance, 0.0, 1.0, 0.5, none, kJoint);
      vec3 end = chain_end(c.works, s) * kJoint;
      // Within the fraction tolerance of the goal's fraction (golden accuracy: 5 tolerances).
      EXPECT_NEAR(s, s_goal, 5.0 * m.tolerance);
      EXPECT_LT(vk_3dla::abs(end - goal), 1e-3);
      EXPECT_NEAR(error, vk_3dla::abs(end - goal), 1e-15);
    }
  }
}

TEST(ApproachByBend, ClosedFormKeepsS0WithoutInPlaneOffsetAndClampsToTheRange) {
  std::vector<Work> works = link({plain_joint(vec3(0.0), vec3(0.0)),
                                  channel_joint(1, 1.0, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 1.0))});
  c_2items_ik record;
  double s_lo, s_hi, shortest, s_near, longest, s_far;
  two_item_setup(&s_lo, &s_hi, &shortest, &s_near, &longest, &s_far, works, 0.0, &record);
  ASSERT_TRUE(record.valid);
  // Goal straight along the axis from the joint: no in-plane component.
  vec3 on_axis = record.link0 + 2.0 * record.axis;
  EXPECT_EQ(approach_by_bend(nullptr, works, on_axis, 0.1, 1e-4, 0.0, 3.0, 0.37, record, m33(1.0)),
            0.37);
  // A goal at bend 2.5 with the range ending at 1.2.
  vec3 far = chain_end(works, 2.5);
  EXPECT_EQ(approach_by_bend(nullptr, works, far, 0.1, 1e-4, 0.0, 1.2, 0.5, record, m33(1.0)), 1.2);
  EXPECT_EQ(approach_by_bend(nullptr, works, far, 0.1, 1e-4, 2.9, 3.0, 0.5, record, m33(1.0)), 2.9);
}

TEST(ApproachByBend, SearchClampsAndPrefersTheNegatedStepOnATie) {
  // A joint limited to +-0.5 rad: beyond the limits the end stops, at equal distances from a goal
  // straight behind the rest direction. Both searches end on equal distances.
  std::vector<Work> works = link({plain_joint(vec3(0.0), vec3(0.0)),
                                  channel_joint(1, 1.0, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 1.0))});
  set_limits(&works[1], 2u, vec3(0.0, -0.5, 0.0), vec3(0.0, 0.5, 0.0));
  c_2items_ik none;
  vec3 goal(0.0, 0.0, -10.0);
  double error;
  double s = approach_by_bend(&error, works, goal, 0.1, 1e-6, -2.0, 2.0, 0.0, none, m33(1.0));
  EXPECT_LE(s, -0.5);
  EXPECT_NEAR(error, vk_3dla::abs(goal - chain_end(works, 0.5)), 1e-15);
  // Clamping: a range ending at 0.2 stops the upward search there.
  double s_up = approach_by_bend(&error, works, vec3(0.0, -1.0, 1.0), 0.1, 1e-6, -0.1, 0.2, 0.0,
                                 none, m33(1.0));
  EXPECT_EQ(s_up, 0.2);
}

TEST(PickTwist, EqualCostsTakeTheSecondCandidate) {
  std::vector<Work> works = planar_chain(3, 1.0, 0.6);
  c_2items_ik none;
  vec3 goal(0.0, 0.0, 2.5);  // on the Z axis: any twist reaches it equally
  m33 a(1.0);
  m33 b = vk_3dla::rot_z(pi);
  m33 joint(0.0);
  double error = -1.0;
  quat q0 = vk_3dla::quat_from_m33(m33(1.0));
  Measures m = measures(works);
  pick_twist(&joint, &error, works, works[0], goal, m.step, m.tolerance, 0.0, 1.0, 0.5, none, 3.0,
             0.0, q0, a, b);
  EXPECT_M33_NEAR(joint, b, 0.0);
  // With a posture weight the unturned candidate is cheaper.
  pick_twist(&joint, &error, works, works[0], goal, m.step, m.tolerance, 0.0, 1.0, 0.5, none, 3.0,
             1.0, q0, a, b);
  EXPECT_M33_NEAR(joint, a, 0.0);
}

// Repro: a straight chain along the joint's axis, so that no twist moves its end; the two
// candidates' costs came out a rounding step apart either way, and the twist with them.
TEST(PickTwist, CostsWithinRoundingTakeTheSecondCandidate) {
  std::vector<Work> works = planar_chain(3, 1.0, 0.0);
  c_2items_ik none;
  const vec3 goal = vk_3dla::normalized(vec3(-0.3, 0.7, 0.2)) * 2.1;
  quat q0 = vk_3dla::quat_from_m33(m33(1.0));
  Measures m = measures(works);
  int firsts_cheaper = 0;
  for (double psi = 0.05; psi < pi; psi += 0.1) {
    SCOPED_TRACE(psi);
    const m33 a = vk_3dla::rot_z(psi) * kJoint, b = vk_3dla::rot_z(psi + pi) * kJoint;
    for (int order = 0; order < 2; ++order) {
      const m33& first = order == 0 ? a : b;
      const m33& second = order == 0 ? b : a;
      double e_first = 0.0, e_second = 0.0;
      approach_by_bend(&e_first, works, goal, m.step, m.tolerance, 0.0, 1.0, 0.5, none, first);
      approach_by_bend(&e_second, works, goal, m.step, m.tolerance, 0.0, 1.0, 0.5, none, second);
      if (e_first < e_second) ++firsts_cheaper;
      m33 joint(0.0);
      double error = -1.0;
      pick_twist(&joint, &error, works, works[0], goal, m.step, m.tolerance, 0.0, 1.0, 0.5, none,
                 3.0, 0.0, q0, first, second);
      EXPECT_M33_NEAR(joint, second, 0.0);
    }
  }
  EXPECT_GT(firsts_cheaper, 0) << "no candidate pair differed by rounding: the case tests nothing";
}

TEST(SolveTwist, AlignXTurnsTheGoalOntoTheXAxis) {
  // A chain bending about Y (heading) bends in its XZ plane.
  std::vector<Work> works;
  works.push_back(plain_joint(vec3(0.0), vec3(0.0)));
  for (int k = 1; k < 3; ++k) {
    works.push_back(channel_joint(0, 0.5, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 1.0)));
  }
  works = link(works);
  Measures m = measures(works);
  c_2items_ik none;
  quat q0 = vk_3dla::quat_from_m33(m33(1.0));
  vec3 plane(0.0);  // trace through the origin
  for (double alpha : {0.3, 2.0, -1.1}) {
    SCOPED_TRACE(alpha);
    vec3 goal_joint = chain_end(works, 0.7);  // lies in the XZ plane
    double r = std::hypot(goal_joint.x, goal_joint.y);
    vec3 goal(r * std::cos(alpha), r * std::sin(alpha), goal_joint.z);
    m33 joint(1.0);
    bool solved = false;
    double error = -1.0;
    double s = solve_twist(&joint, &solved, &error, works, goal, m.step, m.tolerance, 0.0, 1.0,
                           none, IK_align_x, plane, vec2(0.0, 0.0), 0.5, 2.0, 0.0, q0);
    EXPECT_TRUE(solved);
    vec3 g = goal * vk_3dla::transposed(joint);
    EXPECT_NEAR(g.y, 0.0, 1e-12);
    bool turned_by_alpha =
        vk_3dla::abs(joint.row(0) - vec3(std::cos(alpha), std::sin(alpha), 0)) < 1e-12;
    bool turned_by_alpha_pi =
        vk_3dla::abs(joint.row(0) + vec3(std::cos(alpha), std::sin(alpha), 0)) < 1e-12;
    EXPECT_TRUE(turned_by_alpha || turned_by_alpha_pi);
    EXPECT_LT(error, 1e-4);
    EXPECT_NEAR(s, 0.7, 1e-3);
  }
}

TEST(SolveTwist, LeavesTheJointWhenThereIsNothingToSolve) {
  std::vector<Work> works = planar_chain(3, 1.0, 0.6);
  c_2items_ik none;
  quat q0 = vk_3dla::quat_from_m33(m33(1.0));
  m33 start = vk_3dla::rot_z(0.4);
  struct Case {
    const char* name;
    IK_kind kind;
    vec3 goal;
    vec2 dir;
  } cases[] = {
      {"free", IK_free, vec3(1.0, 1.0, 1.0), vec2(1.0, 0.0)},
      {"goal on the Z axis", IK_align_x, vec3(0.0, 0.0, 2.0), vec2(1.0, 0.0)},
      {"zero direction", IK_align_dir, vec3(1.0, 1.0, 1.0), vec2(0.0, 0.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m33 joint = start;
    bool solved = true;
    double error = -1.0;
    double s = solve_twist(&joint, &solved, &error, works, c.goal, 0.1, 1e-4, 0.0, 1.0, none,
                           c.kind, vec3(0.0), c.dir, 0.42, 2.0, 0.0, q0);
    EXPECT_FALSE(solved);
    EXPECT_EQ(s, 0.42);
    EXPECT_M33_NEAR(joint, start, 0.0);
  }
}

TEST(SolveTwist, AlignDirTurnsTheGoalOntoTheDirectionAndKeepsTheBend) {
  std::vector<Work> works = planar_chain(3, 1.0, 0.6);
  c_2items_ik none;
  quat q0 = vk_3dla::quat_from_m33(m33(1.0));
  vec2 dir = vk_3dla::normalized(vec2(-1.0, 2.0));
  vec3 goal(0.7, -0.4, 1.5);
  m33 joint(1.0);
  bool solved = false;
  double error = -1.0;
  double s = solve_twist(&joint, &solved, &error, works, goal, 0.1, 1e-4, 0.0, 1.0, none,
                         IK_align_dir, vec3(0.0), dir, 0.42, 2.0, 0.0, q0);
  EXPECT_TRUE(solved);
  EXPECT_EQ(s, 0.42);
  vec3 g = goal * vk_3dla::transposed(joint);
  EXPECT_NEAR(vk_3dla::cross(vec2(g.x, g.y), dir), 0.0, 1e-12);
  EXPECT_GT(vk_3dla::dot(vec2(g.x, g.y), dir), 0.0);
  EXPECT_NEAR(error, vk_3dla::abs(g - chain_end(works, 0.42)), 1e-15);
}

TEST(SolveTwist, OffsetPlanePutsTheGoalOnTheLine) {
  // Line x = 0.3 in the joint's XY plane: (1, 0, -0.3).
  std::vector<Work> works;
  works.push_back(plain_joint(vec3(0.0), vec3(0.0)));
  works.push_back(channel_joint(0, 0.5, vec3(0.3, 0.0, 1.0), vec3(0.0, 0.0, 1.0)));
  works.push_back(channel_joint(0, 0.5, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 1.0)));
  works = link(works);
  c_2items_ik none;
  quat q0 = vk_3dla::quat_from_m33(m33(1.0));
  Measures m = measures(works);
  vec3 reachable(0.8, 0.9, 1.6);
  vec3 plane(1.0, 0.0, -0.3);
  m33 joint(1.0);
  bool solved = false;
  double error;
  solve_twist(&joint, &solved, &error, works, reachable, m.step, m.tolerance, 0.0, 1.0, none,
              IK_align_x, plane, vec2(1.0, 0.0), 0.5, 2.0, 0.0, q0);
  EXPECT_TRUE(solved);
  vec3 g = reachable * vk_3dla::transposed(joint);
  EXPECT_NEAR(g.x, 0.3, 1e-12);
  // A line farther from the axis than the goal: the goal is turned onto the nearest direction.
  vec3 near_axis(0.1, 0.1, 2.0);
  joint = m33(1.0);
  solve_twist(&joint, &solved, &error, works, near_axis, m.step, m.tolerance, 0.0, 1.0, none,
              IK_align_x, plane, vec2(1.0, 0.0), 0.5, 2.0, 0.0, q0);
  EXPECT_TRUE(solved);
  g = near_axis * vk_3dla::transposed(joint);
  EXPECT_NEAR(g.x, std::hypot(0.1, 0.1), 1e-12);
  EXPECT_NEAR(g.y, 0.0, 1e-12);
}

struct Cone {
  std::vector<Limit_work> knots;
  std::vector<D_lim> marks;
};

// A circular cone about +Z with four knots; marks at each knot's arc position over three laps.
Cone circular_cone(double radius) {
  Cone c;
  const int m = 4;
  for (int i = -1; i <= m; ++i) {
    double a = 2.0 * pi * ((i + m) % m) / m + (i < 0 ? -2.0 * pi : i == m ? 2.0 * pi : 0.0);
    c.knots.push_back({a, radius, 0.0, 0.0, 0.0});
  }
  const double piece = std::sin(radius) * pi / 2.0;
  for (int i = 1; i <= m; ++i) {
    c.knots[i].length = piece;
    c.knots[i].start = (i - 1) * piece;
  }
  for (int j = -m; j <= 2 * m; ++j) {
    c.marks.push_back({j * piece, &c.knots[1 + ((j % m) + m) % m], nullptr});
  }
  return c;
}

TEST(BoundaryCost, FreeKindTurnsThePreviousRotationMinimallyOntoTheBoundary) {
  std::vector<Work> works = planar_chain(3, 1.0, 0.6);
  set_limits(&works[0], 4u, vec3(0.0, 0.0, -0.2), vec3(0.0, 0.0, 0.2));
  c_2items_ik none;
  Cone cone = circular_cone(0.5);
  m33 from_limit(1.0);
  Limit_dir2 dir(cone.marks, from_limit);
  m33 before = vk_3dla::rot_z(0.1) * vk_3dla::rot_x(-0.9);
  quat q0 = vk_3dla::quat_from_m33(before);
  vec3 goal(0.3, -1.5, 1.5);
  vec3 plane(1.0, 0.0, 0.0);
  vec2 twist_dir(1.0, 0.0);
  Measures m = measures(works);
  Boundary_cost cost(dir, works, goal, m.step, m.tolerance, 0.0, 1.0, none, IK_free, plane,
                     twist_dir, 0.5, 3.0, 0.5, &q0, &before);
  for (double u : {0.0, 0.4, 1.3, 2.0}) {
    SCOPED_TRACE(u);
    m33 joint;
    double s = -1.0;
    double c = cost.evaluate(u, &joint, &s);
    vec3 d;
    double uu = u;
    dir(&d, &uu);
    EXPECT_VEC3_NEAR(joint.row(2), d, 1e-12);
    m33 expected = before * vk_3dla::rotation_between(before.row(2), d);
    clamp_twist(works[0], expected);
    EXPECT_M33_NEAR(joint, expected, 1e-15);
    double e;
    double s_expected =
        approach_by_bend(&e, works, goal, m.step, m.tolerance, 0.0, 1.0, 0.5, none, expected);
    EXPECT_EQ(s, s_expected);
    EXPECT_NEAR(
        c, e / 3.0 + 0.5 * vk_3dla::half_angle(vk_3dla::quat_from_m33(expected), q0) / (pi / 2.0),
        1e-15);
    EXPECT_EQ(cost(u), c);  // as a search function: the same cost, results to scratch
  }
}

}  // namespace
