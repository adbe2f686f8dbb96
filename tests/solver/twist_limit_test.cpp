#include "solver/twist_limit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "solver/bend.h"
#include "solver/chain_end.h"
#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::m33;
using vk_3dla::pi;

Work bank_limited_root(unsigned flags) {
  return limited_root(flags, vec3(-0.6, -0.5, -0.2), vec3(0.6, 0.5, 0.3));
}

TEST(LimitTwistByIkTwist, LeavesJointsInsideTheirLimitsOrWithoutBankLimit) {
  struct Case {
    const char* name;
    Work w;
    m33 joint;
  } cases[] = {
      {"inside", bank_limited_root(4u), vk_3dla::rot_z(0.1) * vk_3dla::rot_x(0.4)},
      {"no bank bit", bank_limited_root(3u), vk_3dla::rot_z(1.1) * vk_3dla::rot_x(0.4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m33 joint = c.joint;
    EXPECT_EQ(limit_twist_by_ik_twist(&joint, c.w, vec3(0.0, 0.0, 1.0)), 0.0);
    EXPECT_M33_NEAR(joint, c.joint, 0.0);
  }
}

TEST(LimitTwistByIkTwist, TurnsTheTwistBackInsideFromEitherSide) {
  Work w = bank_limited_root(4u);
  for (double twist : {0.9, -0.7, 2.5}) {
    SCOPED_TRACE(twist);
    m33 joint = vk_3dla::rot_z(twist) * vk_3dla::rot_x(0.4) * vk_3dla::rot_y(0.2);
    vec3 z_before = joint.row(2);
    double left = limit_twist_by_ik_twist(&joint, w, vec3(0.0, 0.0, 1.0));
    EXPECT_EQ(left, 0.0);
    EXPECT_EQ(twist_excess(joint, w), 0.0);
    EXPECT_VEC3_NEAR(joint.row(2), z_before, 1e-12);  // a turn about its own Z axis
    // Just far enough: the twist ends near the violated limit.
    Work probe = w;
    probe.limit_min.z = probe.limit_max.z = twist > 0 ? 0.3 : -0.2;
    EXPECT_NEAR(twist_excess(joint, probe), 0.0, vk_3dla::deg2rad(1.0));
  }
}

TEST(ArcCandidates, CountsPointsAtTheLevel) {
  const vec3 m(1.0, 0.0, 0.0), e(0.0, 1.0, 0.0), axis(0.0, 0.0, 1.0);
  struct Case {
    const char* name;
    vec3 v;
    double level;
    bool all;
    int count;
    double f0;
    double f1;
  } cases[] = {
      {"two inside", vec3(1.0, 0.0, 0.0), 0.5, false, 2, 5.0 / 6.0, 1.0 / 6.0},
      {"two at the ends", vec3(1.0, 0.0, 0.0), 0.0, false, 2, 1.0, 0.0},
      {"one inside", vec3(0.0, 1.0, 0.0), 0.5, false, 1, 2.0 / 3.0, 0.0},
      {"none on the arc", vec3(-1.0, 0.0, 0.0), 0.5, false, 0, 0.0, 0.0},
      {"out of reach, nearest", vec3(0.6, 0.0, 0.8), 0.7, false, 1, 0.5, 0.0},
      {"out of reach below", vec3(0.6, 0.0, 0.8), -0.7, false, 0, 0.0, 0.0},
      {"along the axis, level 0", vec3(0.0, 0.0, 1.0), 0.0, true, 0, 0.0, 0.0},
      {"along the axis, level 0.5", vec3(0.0, 0.0, 1.0), 0.5, false, 0, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double f[2] = {-1.0, -1.0};
    int count = -1;
    EXPECT_EQ(arc_candidates(m, e, axis, pi, c.v, c.level, f, &count), c.all);
    ASSERT_EQ(count, c.count);
    if (count > 0) {
      EXPECT_NEAR(f[0], c.f0, 1e-15);
    }
    if (count > 1) {
      EXPECT_NEAR(f[1], c.f1, 1e-15);
    }
  }
  // A vector a hair longer than unit along the axis must not make the radius NaN.
  double f[2];
  int count = -1;
  vec3 slightly_long(1e-9, 0.0, 1.0 + 1e-15);
  arc_candidates(m, e, axis, pi, slightly_long, 0.0, f, &count);
  EXPECT_EQ(count, 1);
}

// Heading limits -0.4 .. 0.5 rad as the joint solve holds them: plane pair and boundary marks.
struct Planes {
  Limit_plane pair[2];
  std::vector<D_lim> marks;
};

Planes heading_planes() {
  Planes p;
  double angles[2] = {-0.4, 0.5};
  for (int i = 0; i < 2; ++i) {
    p.pair[i].dir = vec3(std::sin(angles[i]), 0.0, std::cos(angles[i]));
    p.pair[i].axis = vec3(0.0, i == 0 ? 1.0 : -1.0, 0.0);
    p.pair[i].normal = vk_3dla::cross(p.pair[i].axis, p.pair[i].dir);
  }
  for (int i = 0; i <= 4; ++i) p.marks.push_back({i * pi, nullptr, &p.pair[i % 2]});
  p.marks.push_back({-pi, nullptr, &p.pair[1]});
  p.marks.push_back({-2.0 * pi, nullptr, &p.pair[0]});
  std::sort(p.marks.begin(), p.marks.end(),
            [](const D_lim& a, const D_lim& b) { return a.pos < b.pos; });
  return p;
}

bool on_heading_boundary(const vec3& w) {
  double a = std::atan2(w.x, w.z);
  return std::fabs(a + 0.4) < 1e-9 || std::fabs(a - 0.5) < 1e-9 ||
         std::fabs(std::fabs(w.y) - 1.0) < 1e-9;
}

TEST(PlaceOnBoundary, TwistsTheTargetOntoTheReferenceAzimuth) {
  Planes p = heading_planes();
  m33 frame(1.0);
  Limit_dir1 dir(p.marks, frame);
  vec3 ref(0.0, 1.0, 0.0);
  vec3 target = vk_3dla::normalized(vec3(0.2, 0.9, 0.1));
  m33 joint;
  double u = pi / 2.0;
  double err = place_on_boundary(&joint, target, ref, std::atan2(ref.y, ref.x), dir, &u);
  EXPECT_VEC3_NEAR(joint.row(2), p.pair[0].dir, 1e-12);
  vec3 t = target * vk_3dla::transposed(joint);
  EXPECT_NEAR(std::atan2(t.y, t.x), pi / 2.0, 1e-12);
  EXPECT_NEAR(err, vk_3dla::angle_between(ref * joint, target) / pi, 1e-15);
  // A target along the boundary direction cannot be twisted onto anything.
  u = -2.0 * pi;  // the first mark: the lower plane starts at its axis, +Y
  EXPECT_EQ(place_on_boundary(&joint, vec3(0.0, 1.0, 0.0), ref, 0.0, dir, &u), DBL_MAX);
  // The position is clamped in place.
  u = 100.0;
  place_on_boundary(&joint, target, ref, 0.0, dir, &u);
  EXPECT_EQ(u, 4.0 * pi);
}

struct Chain3 {
  std::vector<Work> chain = planar_chain(3, 1.0, 0.7);
  c_2items_ik none;
  double step = 0.1;
  double tolerance = 1e-4;
};

TEST(LimitWithTwistTarget, PlanesMeetAReachableTargetExactly) {
  Chain3 s;
  Planes p = heading_planes();
  m33 frame(1.0);
  Limit_dir1 dir(p.marks, frame);
  vec3 goal(1.5, 0.4, 1.2);
  vec3 ref(0.0, 1.0, 0.0);  // perpendicular to Z: boundary points with dot(p, target) = 0
  vec3 target = vk_3dla::normalized(vec3(0.5, 0.6, 0.3));
  m33 joint(1.0);
  double frac =
      limit_with_twist_target(&joint, s.chain, goal, target, ref, s.step, s.tolerance, 0.0, 1.0,
                              s.none, false, p.pair, p.marks, 2.0 * pi, frame, dir, 0.5);
  EXPECT_TRUE(on_heading_boundary(joint.row(2)));
  EXPECT_LT(vk_3dla::angle_between(ref * joint, target), 1e-3);
  EXPECT_GE(frac, 0.0);
  EXPECT_LE(frac, 1.0);
  double e;
  EXPECT_EQ(frac,
            approach_by_bend(&e, s.chain, goal, s.step, s.tolerance, 0.0, 1.0, 0.5, s.none, joint));
}

TEST(LimitWithTwistTarget, FallsBackToTheLeastTwistErrorAndTheTwistLimit) {
  Chain3 s;
  set_limits(&s.chain[0], 4u, vec3(0.0, 0.0, -0.1), vec3(0.0, 0.0, 0.1));
  Planes p = heading_planes();
  m33 frame(1.0);
  Limit_dir1 dir(p.marks, frame);
  vec3 goal(1.5, 0.4, 1.2);
  // The reference is nearly the joint's Z axis and the target points backwards: no boundary
  // position meets it.
  vec3 ref = vk_3dla::normalized(vec3(0.3, 0.0, 0.95));
  vec3 target(0.0, 0.0, -1.0);
  m33 joint(1.0);
  limit_with_twist_target(&joint, s.chain, goal, target, ref, s.step, s.tolerance, 0.0, 1.0, s.none,
                          false, p.pair, p.marks, 2.0 * pi, frame, dir, 0.5);
  EXPECT_TRUE(on_heading_boundary(joint.row(2)));
  EXPECT_NEAR(twist_excess(joint, s.chain[0]), 0.0, 1e-12);
  EXPECT_GT(vk_3dla::angle_between(ref * joint, target), 0.5);
}

TEST(LimitWithTwistTarget, ConeMeetsAReachableTargetOnTheBoundary) {
  Chain3 s;
  const int m = 6;
  const double radius = 0.5;
  std::vector<Limit_work> knots;
  for (int i = -1; i <= m; ++i) {
    knots.push_back({2.0 * pi * i / m, radius, 0.0, 0.0, 0.0});
  }
  const double piece = std::sin(radius) * 2.0 * pi / m;  // arc of a circle of latitude
  std::vector<D_lim> marks;
  for (int i = 1; i <= m; ++i) {
    knots[i].length = piece;
    knots[i].start = (i - 1) * piece;
  }
  for (int j = -m; j <= 2 * m; ++j) marks.push_back({j * piece, &knots[1 + (j % m + m) % m]});
  m33 frame = vk_3dla::rot_x(0.2);
  Limit_dir2 dir(marks, frame);
  vec3 goal(0.5, 1.2, 1.8);
  vec3 ref(1.0, 0.0, 0.0);
  vec3 target = vk_3dla::normalized(vec3(-0.3, 0.8, 0.4));
  m33 joint(1.0);
  limit_with_twist_target(&joint, s.chain, goal, target, ref, s.step, s.tolerance, 0.0, 1.0, s.none,
                          true, nullptr, marks, m * piece, frame, dir, 0.5);
  EXPECT_NEAR(vk_3dla::angle_between(joint.row(2), vec3(0.0, 0.0, 1.0) * frame), radius, 1e-9);
  EXPECT_LT(vk_3dla::angle_between(ref * joint, target), 1e-3);
}

}  // namespace

namespace {

TEST(LimitWithTwistTarget, NonFinitePerimeterStillEndsOnTheBoundary) {
  Chain3 s;
  Planes p = heading_planes();
  m33 frame(1.0);
  Limit_dir1 dir(p.marks, frame);
  vec3 ref = vk_3dla::normalized(vec3(0.3, 0.0, 0.95));
  for (double perimeter : {std::nan(""), HUGE_VAL}) {
    SCOPED_TRACE(perimeter);
    m33 joint(1.0);
    double frac = limit_with_twist_target(&joint, s.chain, vec3(1.5, 0.4, 1.2), vec3(0, 0, -1), ref,
                                          s.step, s.tolerance, 0.0, 1.0, s.none, false, p.pair,
                                          p.marks, perimeter, frame, dir, 0.5);
    EXPECT_TRUE(std::isfinite(frac));
    EXPECT_TRUE(on_heading_boundary(joint.row(2)));
  }
}

}  // namespace
