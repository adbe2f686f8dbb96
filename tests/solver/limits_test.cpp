#include "solver/limits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::m33;
using vk_3dla::pi;

Work sample_root(unsigned flags) {
  return limited_root(flags, vec3(-0.3, -0.2, -0.25), vec3(0.5, 0.4, 0.35));
}

TEST(HeadingPitchExcess, SignedDistanceOutsideTheLimits) {
  Work both = sample_root(3u);
  Work none = sample_root(0u);
  struct Case {
    const char* name;
    const Work& w;
    vec3 dir;
    double heading;
    double pitch;
  } cases[] = {
      {"straight ahead", both, vec3(0.0, 0.0, 1.0), -0.3, -0.2},
      {"heading beyond max", both, vec3(std::sin(0.7), 0.0, std::cos(0.7)), 0.2, -0.2},
      {"pitch beyond min", both, vec3(0.0, std::sin(0.5), std::cos(0.5)), -0.3, 0.3},
      {"along Y", both, vec3(0.0, 1.0, 0.0), 0.0, pi / 2.0 - 0.2},
      {"along X", both, vec3(1.0, 0.0, 0.0), pi / 2.0 - 0.5, 0.0},
      {"unlimited", none, vec3(1.0, 0.0, 0.0), 0.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(heading_excess(c.dir, c.w), c.heading, 1e-12);
    EXPECT_NEAR(pitch_excess(c.dir, c.w), c.pitch, 1e-12);
  }
}

TEST(TwistExcess, MeasuresTheTwistAfterTheMinimalAlignment) {
  Work w = sample_root(4u);
  struct Case {
    double twist;
    double tilt;
    double expected;
  } cases[] = {{0.1, 0.0, 0.0},  {0.5, 0.0, 0.15},    {-0.4, 0.0, -0.15},
               {0.5, 0.7, 0.15}, {-0.4, -1.2, -0.15}, {0.35, 0.3, 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("twist " + std::to_string(c.twist) + " tilt " + std::to_string(c.tilt));
    m33 m = vk_3dla::rot_z(c.twist) * vk_3dla::rot_x(c.tilt);
    EXPECT_NEAR(twist_excess(m, w), c.expected, 1e-12);
  }
  // Row 0 along Z after alignment: no twist can be read.
  m33 degenerate(vec3(0.0, 0.0, 1.0), vec3(0.0, 1.0, 0.0), vec3(0.0, 0.0, 1.0));
  EXPECT_EQ(twist_excess(degenerate, w), 0.0);
}

TEST(ClampTwist, TurnsBackOntoTheViolatedLimitOnlyWhenBankIsLimited) {
  Work limited = sample_root(4u);
  Work unlimited = sample_root(3u);
  m33 m = vk_3dla::rot_z(0.9) * vk_3dla::rot_y(0.4);

  m33 untouched = m;
  EXPECT_FALSE(clamp_twist(unlimited, untouched));
  EXPECT_M33_NEAR(untouched, m, 0.0);

  m33 inside = vk_3dla::rot_z(0.2) * vk_3dla::rot_y(0.4);
  m33 inside_copy = inside;
  EXPECT_FALSE(clamp_twist(limited, inside_copy));
  EXPECT_M33_NEAR(inside_copy, inside, 0.0);

  m33 clamped = m;
  EXPECT_TRUE(clamp_twist(limited, clamped));
  EXPECT_VEC3_NEAR(clamped.row(2), m.row(2), 1e-15);  // the direction is kept
  Work probe = limited;
  probe.limit_min.z = probe.limit_max.z = 0.35;  // the twist now sits on the upper limit
  EXPECT_NEAR(twist_excess(clamped, probe), 0.0, 1e-12);
}

std::vector<Limit_work> circular_knots(double radius, int count) {
  std::vector<Limit_work> knots;
  for (int i = 0; i < count; ++i) {
    knots.push_back({2.0 * pi * i / count, radius, 0.0, 0.0, 0.0});
  }
  Limit_work front = knots.back();
  front.angle -= 2.0 * pi;
  Limit_work back = knots.front();
  back.angle += 2.0 * pi;
  knots.insert(knots.begin(), front);
  knots.push_back(back);
  return knots;
}

TEST(ConeRadius, PassesThroughBothKnots) {
  Limit_work k0{0.2, 0.5, 0.03, 0.0, 0.0};
  Limit_work k1{1.4, 0.9, -0.02, 0.0, 0.0};
  EXPECT_NEAR(cone_radius(k0, k1, 0.2), 0.5, 1e-15);
  EXPECT_NEAR(cone_radius(k0, k1, 1.4), 0.9, 1e-14);
  Limit_work flat0{0.0, 0.5, 0.0, 0.0, 0.0}, flat1{1.0, 0.7, 0.0, 0.0, 0.0};
  EXPECT_NEAR(cone_radius(flat0, flat1, 0.25), 0.55, 1e-15);  // linear without curvature
}

TEST(ConePoint, LiesAtTheHalfAngleFromTheFrameAxis) {
  std::vector<Limit_work> knots = circular_knots(0.6, 4);
  m33 frame = vk_3dla::rot_x(0.3) * vk_3dla::rot_y(-0.2);
  vec3 axis = vec3(0.0, 0.0, 1.0) * frame;
  for (double t : {0.0, 0.3, 1.0}) {
    vec3 p = cone_point(knots[1], knots[2], t, frame);
    EXPECT_NEAR(vk_3dla::angle_between(p, axis), 0.6, 1e-12);
    EXPECT_NEAR(vk_3dla::abs(p), 1.0, 1e-15);
  }
  EXPECT_VEC3_NEAR(cone_point(knots[1], knots[2], 0.0, m33(1.0)),
                   vec3(std::sin(0.6), 0.0, std::cos(0.6)), 1e-15);
}

TEST(FindPiece, ClampsAndLocatesThePiece) {
  Limit_plane planes[2];
  std::vector<D_lim> marks = {{0.0, nullptr, &planes[0]},
                              {1.0, nullptr, &planes[1]},
                              {3.0, nullptr, &planes[0]},
                              {3.0, nullptr, &planes[1]},
                              {4.0, nullptr, &planes[0]}};
  struct Case {
    const char* name;
    double u;
    double u_after;
    int mark;
    double f;
  } cases[] = {
      {"below the first", -2.0, 0.0, 0, 0.0}, {"at the first", 0.0, 0.0, 0, 0.0},
      {"inside", 2.5, 2.5, 1, 0.75},          {"on an inner mark", 1.0, 1.0, 0, 1.0},
      {"beyond the last", 9.0, 4.0, 3, 1.0},  {"NaN", std::nan(""), 0.0, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double u = c.u;
    double f = -1.0;
    const D_lim* m = find_piece(marks, &u, &f);
    EXPECT_EQ(u, c.u_after);
    EXPECT_EQ(m - marks.data(), c.mark);
    EXPECT_DOUBLE_EQ(f, c.f);
  }
  // Two marks at the same position: the piece between them has no length; f is 0, not NaN.
  std::vector<D_lim> twin = {{2.0, nullptr, &planes[0]}, {2.0, nullptr, &planes[1]}};
  double u = 5.0, f = -1.0;
  EXPECT_EQ(find_piece(twin, &u, &f), &twin[0]);
  EXPECT_EQ(f, 0.0);
  EXPECT_EQ(find_piece({}, &u, &f), nullptr);
}

TEST(PlanePoint, ProjectsOrFallsBack) {
  // Heading upper limit at 0.4 rad.
  Limit_plane p;
  p.dir = vec3(std::sin(0.4), 0.0, std::cos(0.4));
  p.axis = vec3(0.0, -1.0, 0.0);
  p.normal = vk_3dla::cross(p.axis, p.dir);
  struct Case {
    const char* name;
    vec3 w;
    Fallback_axis fallback;
    vec3 expected;
  } cases[] = {
      {"behind, Y fallback, w.y < 0", vec3(-1.0, -0.2, -1.0), Fallback_axis::y,
       vec3(0.0, -1.0, 0.0)},
      {"behind, Y fallback, w.y = 0", vec3(-1.0, 0.0, -1.0), Fallback_axis::y, vec3(0.0, 1.0, 0.0)},
      {"behind, X fallback, w.x < 0", vec3(-1.0, 0.3, -1.0), Fallback_axis::x,
       vec3(-1.0, 0.0, 0.0)},
      {"behind, X fallback, w.x > 0", vec3(0.1, 0.3, -1.0), Fallback_axis::x, vec3(1.0, 0.0, 0.0)},
      {"on the normal", p.normal, Fallback_axis::y, p.dir},
      {"in the plane", vk_3dla::normalized(p.dir + vec3(0.0, 0.5, 0.0)), Fallback_axis::y,
       vk_3dla::normalized(p.dir + vec3(0.0, 0.5, 0.0))},
      {"off the plane", vk_3dla::normalized(p.dir + 0.3 * p.normal), Fallback_axis::y, p.dir},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_VEC3_NEAR(plane_point(c.w, p, c.fallback), c.expected, 1e-12);
  }
}

TEST(LimitDir1, WalksEachPlaneFromItsAxisThroughItsDirection) {
  // Heading limits -0.3 .. 0.5, marked as the one-channel plane limit.
  Limit_plane planes[2];
  for (int i = 0; i < 2; ++i) {
    double a = i == 0 ? -0.3 : 0.5;
    planes[i].dir = vec3(std::sin(a), 0.0, std::cos(a));
    planes[i].axis = vec3(0.0, i == 0 ? 1.0 : -1.0, 0.0);
    planes[i].normal = vk_3dla::cross(planes[i].axis, planes[i].dir);
  }
  std::vector<D_lim> marks;
  marks.push_back({-2.0 * pi, nullptr, &planes[0]});
  marks.push_back({-pi, nullptr, &planes[1]});
  for (int i = 0; i <= 4; ++i) marks.push_back({i * pi, nullptr, &planes[i % 2]});
  m33 frame(1.0);
  Limit_dir1 dir(marks, frame);
  const Limit_dir& walk = dir;
  struct Case {
    double u;
    vec3 expected;
  } cases[] = {{0.0, planes[0].axis},      {pi / 2.0, planes[0].dir}, {pi, planes[1].axis},
               {1.5 * pi, planes[1].dir},  {2.5 * pi, planes[0].dir}, {-0.5 * pi, planes[1].dir},
               {10.0 * pi, planes[0].axis}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.u);
    vec3 out;
    double u = c.u;
    walk(&out, &u);
    EXPECT_VEC3_NEAR(out, c.expected, 1e-12);
  }
}

TEST(LimitDir2, WalksTheConeBoundary) {
  std::vector<Limit_work> knots = circular_knots(0.4, 4);
  std::vector<D_lim> marks;
  for (int j = 0; j <= 8; ++j) marks.push_back({j * 1.0, &knots[1 + j % 4], nullptr});
  m33 frame = vk_3dla::rot_y(0.5);
  Limit_dir2 dir(marks, frame);
  for (double u : {0.0, 0.5, 1.25, 3.9, 12.0}) {
    SCOPED_TRACE(u);
    vec3 out;
    double uu = u;
    dir(&out, &uu);
    EXPECT_NEAR(vk_3dla::angle_between(out, vec3(0.0, 0.0, 1.0) * frame), 0.4, 1e-12);
  }
  vec3 out;
  double u = 0.5;
  dir(&out, &u);
  vec3 expected =
      vec3(std::sin(0.4) * std::cos(pi / 4.0), std::sin(0.4) * std::sin(pi / 4.0), std::cos(0.4)) *
      frame;
  EXPECT_VEC3_NEAR(out, expected, 1e-12);
}

TEST(FrameFromZ, IsAnOrthonormalFrameWithTheGivenZRow) {
  for (vec3 d : {vec3(0.0, 0.0, 1.0), vec3(1.0, 0.0, 0.0), vk_3dla::normalized(vec3(1, -2, 3))}) {
    m33 f = frame_from_z(d);
    EXPECT_VEC3_NEAR(f.row(2), d, 0.0);
    EXPECT_M33_NEAR(f * vk_3dla::transposed(f), m33(1.0), 1e-15);
    EXPECT_NEAR(vk_3dla::determinant(f), 1.0, 1e-15);
  }
}

}  // namespace
