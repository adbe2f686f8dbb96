#include <gtest/gtest.h>

#include <cmath>

#include "la3d/vk_3dla.h"
#include "tests/common/test_util.h"

using namespace vk_3dla;

namespace {

const double tol = 1e-12;

TEST(AngleFunctions, Table) {
  EXPECT_DOUBLE_EQ(deg2rad(180.0), pi);
  EXPECT_DOUBLE_EQ(rad2deg(pi / 2), 90.0);
  EXPECT_EQ(asin_clamped(1.0000001), pi / 2);
  EXPECT_EQ(asin_clamped(-3.0), -pi / 2);
  EXPECT_EQ(acos_clamped(1.0000001), 0.0);
  EXPECT_EQ(acos_clamped(-1.0000001), pi);
  EXPECT_DOUBLE_EQ(atan2_positive(-1.0, 0.0), 1.5 * pi);
  EXPECT_DOUBLE_EQ(atan2_positive(1.0, 0.0), 0.5 * pi);
  EXPECT_EQ(atan2_positive(0.0, 1.0), 0.0);
  EXPECT_DOUBLE_EQ(angle_diff(3.0, -3.0), 6.0 - 2 * pi);
  EXPECT_DOUBLE_EQ(angle_diff(-3.0, 3.0), 2 * pi - 6.0);
  EXPECT_DOUBLE_EQ(angle_diff(1.0, 0.5), 0.5);
  EXPECT_EQ(sqrt_clamped(-1e-20), 0.0);
  EXPECT_EQ(sqrt_clamped(4.0), 2.0);
}

TEST(AngleFunctions, AngleNear) {
  EXPECT_NEAR(angle_near(0.1 + 2 * pi, 0.0), 0.1, tol);
  EXPECT_NEAR(angle_near(3.0, -3.0), 3.0 - 2 * pi, tol);
  EXPECT_NEAR(angle_near(-3.0, 3.0), 2 * pi - 3.0, tol);
  EXPECT_NEAR(angle_near(0.2, 4 * pi + 0.1), 4 * pi + 0.2, 1e-12);
  EXPECT_NEAR(angle_near(-0.2, -6 * pi), -6 * pi - 0.2, 1e-12);
  // The result always lies within half a turn of the reference.
  for (double a : {-20.0, -7.0, -1.0, 0.0, 2.0, 9.5, 33.0})
    for (double r : {-12.0, -3.1, 0.0, 1.0, 3.1, 15.0}) {
      double n = angle_near(a, r);
      EXPECT_LE(std::fabs(n - r), pi + 1e-12) << a << " near " << r;
      EXPECT_ANGLE_NEAR(n, a, 1e-12);
    }
}

TEST(Hpb, SingleAnglesAreAxisRotations) {
  EXPECT_M33_NEAR(m33_from_hpb(vec3(0.3, 0, 0)), rot_y(0.3), tol);
  EXPECT_M33_NEAR(m33_from_hpb(vec3(0, 0.3, 0)), rot_x(0.3), tol);
  EXPECT_M33_NEAR(m33_from_hpb(vec3(0, 0, 0.3)), rot_z(0.3), tol);
}

TEST(Hpb, MatrixIsBankThenPitchThenHeading) {
  for (const vec3& h : test_util::sample_vec3s(11, 50, 3.0))
    EXPECT_M33_NEAR(m33_from_hpb(h), rot_z(h.z) * rot_x(h.y) * rot_y(h.x), tol);
}

TEST(Hpb, RoundTripAwayFromPole) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> hb(-3.14, 3.14), p(-1.5, 1.5);
  for (int i = 0; i < 500; ++i) {
    vec3 h(hb(gen), p(gen), hb(gen));
    SCOPED_TRACE(i);
    EXPECT_VEC3_NEAR(hpb_from_m33(m33_from_hpb(h)), h, 1e-9);
    // Scale is removed before the angles are read.
    EXPECT_VEC3_NEAR(hpb_from_m33(diag(vec3(2, 2, 2)) * m33_from_hpb(h)), h, 1e-9);
    EXPECT_VEC3_NEAR(hpb_from_m33(diag(vec3(0.5, 3, 7)) * m33_from_hpb(h)), h, 1e-9);
  }
}

TEST(Hpb, PoleGivesWholeVerticalTurnToHeading) {
  double H = 0.7, B = 0.4;
  vec3 up = hpb_from_m33(m33_from_hpb(vec3(H, pi / 2, B)));
  EXPECT_NEAR(up.x, H - B, 1e-9);
  EXPECT_NEAR(up.y, pi / 2, 1e-6);
  EXPECT_EQ(up.z, 0.0);
  vec3 down = hpb_from_m33(m33_from_hpb(vec3(H, -pi / 2, B)));
  EXPECT_NEAR(down.x, H + B, 1e-9);
  EXPECT_NEAR(down.y, -pi / 2, 1e-6);
  EXPECT_EQ(down.z, 0.0);
  // Heading reduced into [-pi, pi].
  vec3 wrap = hpb_from_m33(m33_from_hpb(vec3(3.0, pi / 2, -1.0)));
  EXPECT_NEAR(wrap.x, 4.0 - 2 * pi, 1e-9);
}

// Within the pole band but off the pole the matrix is reproduced exactly, also a turn about X
// just past 90 degrees (a knee bent 90.05 degrees must not come back bent 89.95).
TEST(Hpb, PoleBandReproducesTheMatrix) {
  const vec3 cases[] = {vec3(0.5, pi / 2 - 1e-4, 0.2), vec3(-2.0, -pi / 2 + 1e-5, 1.0),
                        vec3(0.3, pi / 2 - 1e-9, -0.4)};
  for (const vec3& h : cases)
    EXPECT_M33_NEAR(m33_from_hpb(hpb_from_m33(m33_from_hpb(h))), m33_from_hpb(h), 1e-12);
  for (double deg : {89.95, 90.0, 90.02, 90.05, 90.08}) {
    SCOPED_TRACE(deg);
    const m33 bend = rot_axis(vec3(1, 0, 0), deg2rad(deg));
    EXPECT_M33_NEAR(m33_from_hpb(hpb_from_m33(bend)), bend, 1e-12);
  }
}

TEST(Hpb, ZeroMatrixGivesZeroAngles) { EXPECT_VEC3_NEAR(hpb_from_m33(m33(0)), vec3(0), 0.0); }

TEST(Hpb, EquivalentTripleGivesSameMatrix) {
  vec3 h(0.5, 0.2, -0.1);
  vec3 e = hpb_equivalent(h);
  EXPECT_VEC3_NEAR(e, vec3(0.5 - pi, pi - 0.2, -0.1 + pi), tol);
  EXPECT_M33_NEAR(m33_from_hpb(e), m33_from_hpb(h), tol);
  for (const vec3& g : test_util::sample_vec3s(5, 30, 3.0))
    EXPECT_M33_NEAR(m33_from_hpb(hpb_equivalent(g)), m33_from_hpb(g), tol);
}

TEST(Hpb, NearPicksCloserTripleAndKeepsOnTie) {
  vec3 h(0.5, 0.2, -0.1);
  // Close to h itself.
  EXPECT_VEC3_NEAR(hpb_near(h, vec3(0.4, 0.3, 0)), h, tol);
  // Close to the equivalent triple.
  vec3 e = hpb_equivalent(h);
  EXPECT_VEC3_NEAR(hpb_near(h, e + vec3(0.01, -0.02, 0.01)), e, tol);
  // Whole turns are removed towards the reference.
  EXPECT_VEC3_NEAR(hpb_near(h + vec3(2 * pi, 0, -2 * pi), vec3(0.4, 0.3, 0)), h, 1e-12);
  // Tie: both candidates equally far, h is kept.
  vec3 t(pi / 2, pi / 2, pi / 2);
  EXPECT_VEC3_NEAR(hpb_near(t, vec3(0, pi / 2, 0)), t, 0.0);
}

TEST(Hpb, ProductAndRelative) {
  vec3 a(0.3, -0.2, 0.9), b(-1.1, 0.4, 0.25);
  EXPECT_M33_NEAR(hpb_product(a, b), m33_from_hpb(a) * m33_from_hpb(b), 0.0);
  // Relative angles undo the right factor.
  EXPECT_VEC3_NEAR(hpb_relative(hpb_product(a, b), b), a, 1e-9);
  vec3 scale, out;
  hpb_relative(diag(vec3(2, 3, 4)) * hpb_product(a, b), b, scale, out);
  EXPECT_VEC3_NEAR(scale, vec3(2, 3, 4), 1e-12);
  EXPECT_VEC3_NEAR(out, a, 1e-9);
}

TEST(ItemMatrix, ComposesAndDecomposes) {
  vec3 scale(1.5, 0.5, 2), h(0.3, -0.4, 0.2), pos(1, 2, 3), h2(0.1, 0.05, -0.3), pivot(0.5, 0, -1);
  m44 T = item_matrix(scale, h, pos, h2, pivot);
  EXPECT_M33_NEAR(m33(T), diag(scale) * m33_from_hpb(h) * m33_from_hpb(h2), tol);
  EXPECT_VEC4_NEAR(vec4(T(0, 3), T(1, 3), T(2, 3), T(3, 3)), vec4(0, 0, 0, 1), 0.0);
  EXPECT_VEC3_NEAR(vec3(T(3, 0), T(3, 1), T(3, 2)), pos - pivot, 0.0);
  vec3 s, hpb, t;
  decompose(T, h2, s, hpb, t);
  EXPECT_VEC3_NEAR(s, scale, 1e-12);
  EXPECT_VEC3_NEAR(hpb, h, 1e-9);
  EXPECT_VEC3_NEAR(t, pos - pivot, 0.0);
}

}  // namespace
