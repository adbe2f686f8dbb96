#include "solver/joint_solve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "solver/chain_end.h"
#include "solver/limits.h"
#include "solver/root_limit.h"
#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::deg2rad;
using vk_3dla::pi;
using vk_3dla::two_pi;
using vk_3dla::vec2;

// The inputs of one joint solve that the tests vary; the limit comes from a Root_limit.
struct Solve {
  std::vector<Work> works;
  vec3 goal{0.0, 0.0, 2.0};
  vec3 twist_axis{0.0, 0.0, 1.0};
  bool has_twist_target = false;
  vec3 twist_target{0.0, 1.0, 0.0};
  vec3 twist_ref{0.0, 1.0, 0.0};
  double s_min = -2.0, s_max = 2.0, s0 = 1.0;
  IK_kind kind = IK_free;
  vec3 twist_plane{0.0, 0.0, 0.0};
  vec2 twist_dir{1.0, 0.0};
  m33 base{1.0};

  void run(const Root_limit& limit, m33* joint, std::vector<double>* angles) const {
    c_2items_ik two_items;
    process2(joint, angles, works, goal, twist_axis, has_twist_target, twist_target, twist_ref,
             0.05, 1e-7, s_min, s_max, two_items, s0, kind, twist_plane, twist_dir,
             limit.cone_limit, limit.heading_limited, limit.planes, limit.knots, limit.marks,
             limit.period, limit.from_limit, limit.to_limit, 1.0, 0.0, base);
  }
};

// A root and one bone with rest pitch 0.5, links of length 1 along Z.
std::vector<Work> root_and_bone() { return planar_chain(2, 1.0, 0.5); }

Root_limit limit_of(unsigned flags, const vec3& lo, const vec3& hi,
                    const std::vector<vec3>& items = {}) {
  Root_limit limit;
  build_root_limit(&limit, limited_root(flags, lo, hi), m33(1.0), items, nullptr);
  return limit;
}

std::vector<Work> with_root_limits(std::vector<Work> works, unsigned flags, const vec3& lo,
                                   const vec3& hi) {
  set_limits(&works[0], flags, lo, hi);
  return works;
}

// Joint whose Z row points along d, turned minimally from the identity.
m33 pointing(const vec3& d) { return vk_3dla::rotation_between(vec3(0.0, 0.0, 1.0), d); }

vec3 direction(double heading, double pitch) {
  return vk_3dla::m33_from_hpb(vec3(heading, pitch, 0.0)).row(2);
}

bool finite(const m33& m) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (!std::isfinite(m(i, j))) return false;
  return true;
}

// Angle by which w lies outside the cone (negative inside).
double cone_excess(const vec3& w, const Root_limit& limit) {
  vec3 d = w * limit.to_limit;
  double phi = std::atan2(d.y, d.x);
  if (phi < 0.0) phi += two_pi;
  const std::vector<Limit_work>& k = limit.knots;
  std::size_t i = 0;
  while (i + 2 < k.size() && k[i + 1].angle < phi) ++i;
  return vk_3dla::acos_clamped(d.z) - cone_radius(k[i], k[i + 1], phi);
}

void expect_angles_of(const std::vector<double>& angles, const std::vector<Work>& works, double s) {
  std::vector<double> expected;
  joint_angles(&expected, s, works);
  EXPECT_EQ(angles, expected);
}

const vec3 kStraddleLo(deg2rad(-30), deg2rad(-20), 0), kStraddleHi(deg2rad(60), deg2rad(40), 0);

TEST(JointSolve, InsideTheLimitOnlyTurnsToTheTwistTarget) {
  struct Case {
    const char* name;
    unsigned flags;
  } cases[] = {{"no limit", 0u}, {"heading planes", 1u}, {"cone", 3u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Root_limit limit = limit_of(c.flags, kStraddleLo, kStraddleHi);
    Solve in;
    in.works = with_root_limits(root_and_bone(), c.flags, kStraddleLo, kStraddleHi);
    in.has_twist_target = true;
    in.twist_target = vk_3dla::normalized(vec3(1.0, 0.5, 0.2));
    const m33 start = pointing(direction(0.2, 0.1));
    m33 joint = start;
    std::vector<double> angles;
    in.run(limit, &joint, &angles);
    // Twisted about its own Z so that its Y row (the reference) faces the target.
    EXPECT_VEC3_NEAR(joint.row(2), start.row(2), 1e-12);
    vec3 t = in.twist_target - joint.row(2) * vk_3dla::dot(in.twist_target, joint.row(2));
    EXPECT_VEC3_NEAR(joint.row(1), vk_3dla::normalized(t), 1e-12);
    expect_angles_of(angles, in.works, in.s0);
  }
}

// Repro: a chain whose end lies on the root's X axis, aligned by direction, takes X as its twist
// reference, along the twist axis; the target's noise component along it turned the root by a
// half turn or not at all.
TEST(JointSolve, TwistReferenceAlongTheTwistAxisLeavesTheJoint) {
  Root_limit limit = limit_of(0u, vec3(0.0), vec3(0.0));
  const vec3 along_axis[] = {vec3(1e-17, -0.63, -0.78), vec3(-1e-17, -0.63, -0.78),
                             vec3(-0.3, 0.6, -0.74), vec3(0.3, 0.6, -0.74)};
  for (const vec3& target : along_axis) {
    SCOPED_TRACE(target.x);
    Solve in;
    in.works = root_and_bone();
    in.has_twist_target = true;
    in.twist_axis = vec3(-1.95, 0.0, 0.0);
    in.twist_ref = vec3(1.0, 0.0, 0.0);
    in.twist_target = vk_3dla::normalized(target);
    const m33 start = pointing(direction(0.2, 0.1));
    m33 joint = start;
    std::vector<double> angles;
    in.run(limit, &joint, &angles);
    EXPECT_M33_NEAR(joint, start, 0.0);
  }
}

TEST(JointSolve, DirectionOutsideOneHeadingPlaneEndsOnThatPlane) {
  const vec3 lo(deg2rad(-30), 0, 0), hi(deg2rad(30), 0, 0);
  Root_limit limit = limit_of(1u, lo, hi);
  struct Case {
    const char* name;
    double heading, pitch, limit;
    IK_kind kind;
  } cases[] = {
      {"beyond the upper plane", deg2rad(60), 0.2, deg2rad(30), IK_free},
      {"beyond the upper plane, aligned twist", deg2rad(75), -0.3, deg2rad(30), IK_align_x},
      {"beyond the lower plane", deg2rad(-70), 0.1, deg2rad(-30), IK_free},
      {"beyond the lower plane, aligned twist", deg2rad(-50), 0.4, deg2rad(-30), IK_align_y},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Solve in;
    in.works = with_root_limits(root_and_bone(), 1u, lo, hi);
    in.kind = c.kind;
    in.goal = direction(c.heading, c.pitch) * 1.8;
    m33 joint = pointing(direction(c.heading, c.pitch));
    std::vector<double> angles;
    in.run(limit, &joint, &angles);
    ASSERT_TRUE(finite(joint));
    vec3 z = joint.row(2);
    EXPECT_NEAR(std::atan2(z.x, z.z), c.limit, 1e-9);
    EXPECT_NEAR(vk_3dla::determinant(joint), 1.0, 1e-9);
  }
}

TEST(JointSolve, NearestPlanePointPrefersTheSecondPlaneOnATie) {
  // A mirrored pair: both planes equally far from +X.
  const double s = std::sin(0.4), c = std::cos(0.4);
  Limit_plane pair[2];
  pair[0].dir = vec3(s, 0, c);
  pair[0].axis = vec3(0, 1, 0);
  pair[1].dir = vec3(s, 0, -c);
  pair[1].axis = vec3(0, -1, 0);
  for (Limit_plane& p : pair) p.normal = vk_3dla::cross(p.axis, p.dir);
  struct Case {
    const char* name;
    vec3 w;
    int plane;
  } cases[] = {
      {"tie", vec3(1, 0, 0), 1},
      {"nearer the first", vk_3dla::normalized(vec3(1, 0, 0.01)), 0},
      {"nearer the second", vk_3dla::normalized(vec3(1, 0, -0.01)), 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    double pos = -1.0;
    vec3 p = nearest_plane_point(&pos, k.w, pair, true);
    EXPECT_VEC3_NEAR(p, pair[k.plane].dir, 1e-12);
    EXPECT_NEAR(pos, k.plane * pi + pi / 2.0, 1e-9);
  }
}

TEST(JointSolve, ConeBoundaryItselfIsInside) {
  // A circular cone through (0.6, 0, 0.8).
  std::vector<Limit_work> real(1);
  real[0].angle = 0.0;
  real[0].radius = std::acos(0.8);
  Root_limit limit;
  limit.cone_limit = true;
  limit.period = make_cone_knots(&limit.knots, real, limit.from_limit);
  const vec3 on(0.6, 0.0, 0.8);
  EXPECT_FALSE(cone_violated(on, limit.knots, limit.to_limit));
  EXPECT_TRUE(
      cone_violated(vk_3dla::normalized(vec3(0.6 + 1e-9, 0.0, 0.8)), limit.knots, limit.to_limit));

  Solve in;
  in.works = root_and_bone();
  m33 joint = pointing(on);
  const m33 start = joint;
  std::vector<double> angles;
  in.run(limit, &joint, &angles);
  EXPECT_M33_NEAR(joint, start, 0.0);
  expect_angles_of(angles, in.works, in.s0);
}

TEST(JointSolve, AlignDirWithoutDirectionTurnsTheBaseOntoTheBoundary) {
  Root_limit limit = limit_of(3u, kStraddleLo, kStraddleHi);
  Solve in;
  in.works = with_root_limits(root_and_bone(), 3u, kStraddleLo, kStraddleHi);
  in.kind = IK_align_dir;
  in.twist_dir = vec2(0.0, 0.0);
  in.base = vk_3dla::m33_from_hpb(vec3(0.2, -0.1, 0.3));
  const vec3 w = direction(2.0, 0.3);
  m33 joint = pointing(w);
  std::vector<double> angles;
  in.run(limit, &joint, &angles);
  double pos;
  vec3 p = nearest_cone_point(&pos, w, limit.knots, limit.from_limit);
  EXPECT_VEC3_NEAR(joint.row(2), p, 1e-12);
  EXPECT_M33_NEAR(joint, in.base * vk_3dla::rotation_between(in.base.row(2), p), 1e-12);
  expect_angles_of(angles, in.works, in.s0);
}

TEST(JointSolve, NearestPointOnASingleKnotConeIsAtTheDirectionsAzimuth) {
  const double r = 0.5;
  Root_limit limit = limit_of(0u, vec3(0.0), vec3(0.0), {direction(r, 0.0)});
  ASSERT_EQ(limit.knots.size(), 3u);  // one piece, once round from the knot at azimuth 0
  // Directions far behind the cone (polar angles past 90 deg) land the coarse search on the piece's
  // seam; the search must still cross it to either side.
  for (double polar : {1.4, 2.1, 2.6}) {
    for (double azimuth : {0.0, 0.08, 0.7, 2.0, 3.5, 5.9, 6.2}) {
      SCOPED_TRACE("polar " + std::to_string(polar) + ", azimuth " + std::to_string(azimuth));
      const vec3 w(std::sin(polar) * std::cos(azimuth), std::sin(polar) * std::sin(azimuth),
                   std::cos(polar));
      double pos = -1.0;
      vec3 p = nearest_cone_point(&pos, w, limit.knots, limit.from_limit);
      EXPECT_VEC3_NEAR(
          p, vec3(std::sin(r) * std::cos(azimuth), std::sin(r) * std::sin(azimuth), std::cos(r)),
          1e-4);
      EXPECT_GE(pos, 0.0);
      EXPECT_LT(pos, limit.period);
      EXPECT_NEAR(std::remainder(pos - limit.period * azimuth / two_pi, limit.period), 0.0, 2e-4);
    }
  }
}

TEST(JointSolve, DirectionOutsideTheConeEndsOnItsBoundary) {
  Root_limit limit = limit_of(3u, kStraddleLo, kStraddleHi);
  struct Case {
    const char* name;
    vec3 w;
    IK_kind kind;
    bool twist_target;
  } cases[] = {
      {"right, free twist", direction(1.6, 0.1), IK_free, false},
      {"below, aligned twist", direction(0.2, 1.2), IK_align_x, false},
      {"behind, aligned to y", direction(2.8, -0.4), IK_align_y, false},
      {"left, twist target", direction(-1.2, -0.6), IK_free, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Solve in;
    in.works = with_root_limits(root_and_bone(), 3u, kStraddleLo, kStraddleHi);
    in.kind = c.kind;
    in.has_twist_target = c.twist_target;
    in.goal = c.w * 1.5;
    m33 joint = pointing(c.w);
    std::vector<double> angles;
    in.run(limit, &joint, &angles);
    ASSERT_TRUE(finite(joint));
    EXPECT_NEAR(cone_excess(joint.row(2), limit), 0.0, 1e-6);
    for (double a : angles) EXPECT_TRUE(std::isfinite(a));
  }
}

// Repro: a one-bone root limited by items at (heading, pitch) (0.5, 0) and (1.0, 1e-17), whose
// second knot lands at a full turn; goal at (1, 0, 0.2).
TEST(JointSolve, KnotAtAFullTurnGivesAFiniteRootOnTheCone) {
  Root_limit limit =
      limit_of(0u, vec3(0.0), vec3(0.0), {direction(0.5, 0.0), direction(1.0, 1e-17)});
  Solve in;
  in.works = planar_chain(1, 1.0, 0.0);
  in.goal = vec3(1.0, 0.0, 0.2);
  m33 joint = pointing(in.goal);
  std::vector<double> angles;
  in.run(limit, &joint, &angles);
  ASSERT_TRUE(finite(joint));
  EXPECT_VEC3_NEAR(joint.row(2), direction(0.5, 0.0), 1e-4);
}

// Repro: one limit item along the limit frame's Z, so the cone is a single direction; a root with
// one bone (rest pitch 0.5) reaching for (1, 0, 1).
TEST(JointSolve, ConeShrunkToAPointHoldsTheRootOnIt) {
  Root_limit limit = limit_of(0u, vec3(0.0), vec3(0.0), {vec3(0.0, 0.0, 1.0)});
  ASSERT_EQ(limit.period, 0.0);
  struct Case {
    const char* name;
    IK_kind kind;
    bool twist_target;
    vec2 twist_dir;
  } cases[] = {
      {"free", IK_free, false, vec2(1, 0)},
      {"aligned x", IK_align_x, false, vec2(1, 0)},
      {"aligned direction", IK_align_dir, false, vec2(0.6, 0.8)},
      {"aligned to no direction", IK_align_dir, false, vec2(0, 0)},
      {"twist target", IK_free, true, vec2(1, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Solve in;
    in.works = root_and_bone();
    in.goal = vec3(1.0, 0.0, 1.0);
    in.kind = c.kind;
    in.twist_dir = c.twist_dir;
    in.has_twist_target = c.twist_target;
    in.twist_target = vec3(1.0, 0.0, 0.0);
    m33 joint = pointing(vk_3dla::normalized(in.goal));
    std::vector<double> angles;
    in.run(limit, &joint, &angles);
    ASSERT_TRUE(finite(joint));
    EXPECT_VEC3_NEAR(joint.row(2), vec3(0.0, 0.0, 1.0), 1e-12);
    ASSERT_EQ(angles.size(), 2u);
    for (double a : angles) EXPECT_TRUE(std::isfinite(a));
  }
}

// A limit item on the frame's axis must not swing the root when the parent's heading changes by
// rounding noise.
TEST(JointSolve, AxisItemNoiseDoesNotTurnTheRoot) {
  m33 results[2];
  const double noise[2] = {0.0, 1e-12};
  for (int i = 0; i < 2; ++i) {
    const m33 parent = vk_3dla::rot_y(noise[i]);
    std::vector<vec3> items = {vec3(0.0, 0.0, 1.0) * parent, direction(0.5, 0.1) * parent,
                               direction(-0.4, 0.3) * parent, direction(0.2, -0.5) * parent};
    Root_limit limit = limit_of(0u, vec3(0.0), vec3(0.0), items);
    Solve in;
    in.works = root_and_bone();
    in.goal = vec3(1.0, 0.3, 0.4);
    results[i] = pointing(vk_3dla::normalized(in.goal));
    std::vector<double> angles;
    in.run(limit, &results[i], &angles);
  }
  EXPECT_M33_NEAR(results[0], results[1], 1e-6);
}

// Repro: markers at (heading, pitch) (0.3, 0), (1.0, -0.5), (0.3, -0.4) make a one-sided cone whose
// spline swings far out of range; goal (-1, 0, 0.5). The root must end inside its own limit.
TEST(JointSolve, OvershootingSplineStillHoldsTheRootInsideItsLimit) {
  Root_limit limit = limit_of(0u, vec3(0.0), vec3(0.0),
                              {direction(0.3, 0.0), direction(1.0, -0.5), direction(0.3, -0.4)});
  Solve in;
  in.works = root_and_bone();
  in.goal = vec3(-1.0, 0.0, 0.5);
  m33 joint = pointing(vk_3dla::normalized(in.goal));
  std::vector<double> angles;
  in.run(limit, &joint, &angles);
  ASSERT_TRUE(finite(joint));
  EXPECT_LE(cone_excess(joint.row(2), limit), 1e-6);
}

}  // namespace
