#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "la3d/vk_3dla.h"
#include "tests/common/test_util.h"

using namespace vk_3dla;

namespace {

const double tol = 1e-12;

TEST(Vec3, AxisRotationsTurnCounterClockwise) {
  struct Case {
    const char* name;
    vec3 v;
    m33 R;
    vec3 expected;
  } cases[] = {
      {"x onto y by rot_z", vec3(1, 0, 0), rot_z(pi / 2), vec3(0, 1, 0)},
      {"y onto z by rot_x", vec3(0, 1, 0), rot_x(pi / 2), vec3(0, 0, 1)},
      {"z onto x by rot_y", vec3(0, 0, 1), rot_y(pi / 2), vec3(1, 0, 0)},
      {"rot_axis on z", vec3(1, 0, 0), rot_axis(vec3(0, 0, 1), pi / 2), vec3(0, 1, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_VEC3_NEAR(c.v * c.R, c.expected, tol);
  }
}

TEST(M33, RotAxisMatchesAxisRotationsAndIgnoresAxisLength) {
  for (double a : {-2.5, -0.3, 0.0, 0.7, 3.0}) {
    SCOPED_TRACE(a);
    EXPECT_M33_NEAR(rot_axis(vec3(0, 0, 2), a), rot_z(a), tol);
    EXPECT_M33_NEAR(rot_axis(vec3(3, 0, 0), a), rot_x(a), tol);
    EXPECT_M33_NEAR(rot_axis(vec3(0, 0.5, 0), a), rot_y(a), tol);
    EXPECT_M33_NEAR(rot_axis(vec3(0), a), m33(1), 0.0);
  }
}

TEST(M33, ProductAppliesLeftFactorFirst) {
  m33 A = rot_x(0.4) * diag(vec3(1, 2, 3)) + outer(vec3(0.1, 0.2, 0.3), vec3(1, -1, 2));
  m33 B = rot_axis(vec3(1, 2, 3), 1.1);
  for (const vec3& v : test_util::sample_vec3s(7, 20))
    EXPECT_VEC3_NEAR(v * (A * B), (v * A) * B, tol);
  m33 C = A;
  C *= B;
  EXPECT_M33_NEAR(C, A * B, 0.0);
  EXPECT_VEC3_NEAR(A * vec3(1, 2, 3), vec3(1, 2, 3) * transposed(A), tol);
}

TEST(M33, SkewGivesCrossProduct) {
  vec3 v(0.3, -1.2, 2.0), u(1.5, 0.25, -0.7);
  EXPECT_VEC3_NEAR(u * skew(v), cross(v, u), tol);
}

TEST(Vec3, NormalizeZeroIsSilentAndReportsLength) {
  testing::internal::CaptureStderr();
  vec3 v(0);
  double len = -1;
  v.normalize(len);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(len, 0.0);
  EXPECT_VEC3_NEAR(v, vec3(0), 0.0);
  vec3 w = normalized(vec3(0, 3, 4), len);
  EXPECT_EQ(len, 5.0);
  EXPECT_VEC3_NEAR(w, vec3(0, 0.6, 0.8), tol);
}

TEST(Vec3, AngleBetweenEdgeCases) {
  EXPECT_DOUBLE_EQ(angle_between(vec3(1, 0, 0), vec3(0)), pi / 2);
  // Some vectors' unit copies have a dot product that rounds above 1: the angle is still 0.
  int above = 0;
  for (const vec3& a : test_util::sample_vec3s(3, 200)) {
    vec3 u = normalized(a);
    if (dot(u, u) > 1.0) {
      ++above;
      EXPECT_EQ(angle_between(a, a), 0.0);
    }
    EXPECT_LT(angle_between(a, a), 1e-7);
  }
  EXPECT_GT(above, 0);
  EXPECT_NEAR(angle_between(vec3(1, 0, 0), vec3(-2, 0, 0)), pi, tol);
}

TEST(Vec3, LexicographicOrder) {
  EXPECT_TRUE(vec3(1, 2, 3) < vec3(1, 2, 4));
  EXPECT_FALSE(vec3(1, 2, 3) < vec3(1, 2, 3));
  EXPECT_TRUE(vec3(0, 9, 9) < vec3(1, 0, 0));
  EXPECT_FALSE(vec3(1, 3, 0) < vec3(1, 2, 9));
}

TEST(Vec3, ChannelIndexAndConversions) {
  vec3 v(4, 5, 6);
  v[1] = 7;
  EXPECT_EQ(v[0], 4);
  EXPECT_EQ(v.y, 7);
  EXPECT_EQ(v[2], 6);
  float f[3];
  v.to_floats(f);
  EXPECT_VEC3_NEAR(vec3(f), v, 0.0);
  EXPECT_VEC3_NEAR(vec3(vec2(1, 2), 3), vec3(1, 2, 3), 0.0);
  EXPECT_VEC3_NEAR(vec3(vec4(1, 2, 3, 4)), vec3(1, 2, 3), 0.0);
  EXPECT_VEC3_NEAR(vec3(quat(1, 2, 3, 4)), vec3(1, 2, 3), 0.0);
  EXPECT_VEC3_NEAR(to_degrees(vec3(pi, pi / 2, -pi)), vec3(180, 90, -180), 1e-12);
}

TEST(M33, OrthonormalizeRemovesScaleAndKeepsZeroRows) {
  vec3 scale;
  EXPECT_M33_NEAR(orthonormalize(diag(vec3(2, 3, 4)), scale), m33(1), tol);
  EXPECT_VEC3_NEAR(scale, vec3(2, 3, 4), tol);

  m33 z(vec3(1, 1, 0), vec3(0), vec3(0, 1, 1));
  m33 R = orthonormalize(z, scale);
  EXPECT_VEC3_NEAR(R.row(1), vec3(0), 0.0);
  EXPECT_EQ(scale.y, 0.0);
  EXPECT_NEAR(abs(R.row(0)), 1.0, tol);
  EXPECT_NEAR(abs(R.row(2)), 1.0, tol);
  EXPECT_NEAR(dot(R.row(0), R.row(2)), 0.0, tol);

  // A reflection stays a reflection.
  EXPECT_NEAR(determinant(orthonormalize(diag(vec3(1, -2, 1)) * rot_x(0.3))), -1.0, tol);
}

TEST(M33, AxisAngleCases) {
  struct Case {
    const char* name;
    m33 M;
    vec3 axis;
    double angle;
  } cases[] = {
      {"identity", m33(1), vec3(1, 0, 0), 0.0},
      {"half turn about y", rot_y(pi), vec3(0, 1, 0), pi},
      {"half turn about x", rot_x(pi), vec3(1, 0, 0), pi},
      {"half turn about z", rot_z(pi), vec3(0, 0, 1), pi},
      {"general", rot_axis(vec3(1, 2, -2), 2.0), vec3(1, 2, -2) / 3.0, 2.0},
      {"negative angle flips axis", rot_axis(vec3(0, 0, 1), -0.5), vec3(0, 0, -1), 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vec3 u;
    double a;
    axis_angle(c.M, u, a);
    EXPECT_NEAR(a, c.angle, 1e-7);
    EXPECT_VEC3_NEAR(u, c.axis, 1e-7);
    double s, co;
    axis_sin_cos(c.M, u, s, co);
    EXPECT_NEAR(s * s + co * co, 1.0, tol);
    EXPECT_GE(s, 0.0);
  }
}

TEST(M33, AxisAngleRoundTripIncludingNearHalfTurns) {
  for (const vec3& v : test_util::sample_vec3s(13, 100)) {
    vec3 axis = normalized(v);
    for (double a : {0.5, 2.0, pi - 1e-6, pi - 1e-10, pi}) {
      SCOPED_TRACE(a);
      vec3 u;
      double got;
      axis_angle(rot_axis(axis, a), u, got);
      EXPECT_NEAR(got, a, 1e-7);
      // At a half turn the sense of the axis is free.
      if (a == pi) u = dot(u, axis) < 0 ? -u : u;
      EXPECT_VEC3_NEAR(u, axis, 1e-7);
    }
  }
}

TEST(M33, InvertSingularReportsAndLeavesMatrix) {
  testing::internal::CaptureStderr();
  m33 z(0);
  z.invert();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "determinant = 0\n");
  EXPECT_M33_NEAR(z, m33(0), 0.0);

  m33 s(1, 2, 3, 2, 4, 6, 0, 1, 1);
  testing::internal::CaptureStderr();
  m33 t = inverse(s);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "determinant = 0\n");
  EXPECT_M33_NEAR(t, s, 0.0);
}

TEST(M33, InverseAdjugateCofactor) {
  m33 A(2, -1, 0.5, 0.3, 3, 1, -1, 0.2, 4);
  EXPECT_M33_NEAR(A * inverse(A), m33(1), tol);
  EXPECT_M33_NEAR(A * adjugate(A), m33(determinant(A)), 1e-12);
  EXPECT_M33_NEAR(cofactor(A), transposed(adjugate(A)), 0.0);
  EXPECT_DOUBLE_EQ(determinant(A), 2 * (12 - 0.2) + 1 * (1.2 + 1) + 0.5 * (0.06 + 3));
  EXPECT_DOUBLE_EQ(trace(A), 9.0);
  EXPECT_DOUBLE_EQ(abs_sum(A), 2 + 1 + 0.5 + 0.3 + 3 + 1 + 1 + 0.2 + 4);

  // For a rotation the cofactor matrix is the matrix itself and the adjugate its transpose.
  m33 R = rot_axis(vec3(0.2, -1, 0.4), 1.3);
  EXPECT_M33_NEAR(cofactor(R), R, tol);
  EXPECT_M33_NEAR(adjugate(R), transposed(R), tol);
  // The in-place cofactor of a scaling: cofactor(diag(s)) = diag(sy*sz, sx*sz, sx*sy).
  m33 D = diag(vec3(2, 3, 5));
  D.cofactor();
  EXPECT_M33_NEAR(D, diag(vec3(15, 10, 6)), 0.0);
}

TEST(M33, InPlaceTransforms) {
  m33 A = rot_x(0.3);
  m33 B = A;
  B.rotate_z(0.5).rotate_axis(vec3(1, 1, 0), 0.2);
  EXPECT_M33_NEAR(B, A * rot_z(0.5) * rot_axis(vec3(1, 1, 0), 0.2), tol);
  B = A;
  B.scale_by(vec3(1, 2, 3));
  EXPECT_M33_NEAR(B, A * diag(vec3(1, 2, 3)), tol);
  m33 P(1);
  P.translate2d(vec2(3, 4));
  EXPECT_VEC3_NEAR(vec2(1, 1) * P, vec3(4, 5, 1), 0.0);
}

TEST(M33, ElementAccessAndRows) {
  m33 M(vec3(1, 2, 3), vec3(4, 5, 6), vec3(7, 8, 9));
  EXPECT_EQ(M(1, 2), 6);
  EXPECT_EQ(M[2][0], 7);
  M.set_row(1, vec3(-1, -2, -3));
  EXPECT_VEC3_NEAR(M.row(1), vec3(-1, -2, -3), 0.0);
  EXPECT_EQ(M.m[1][1], -2);
}

TEST(Print, Vec3AndM33Formats) {
  std::ostringstream os;
  os << vec3(1, 2.5, -3);
  EXPECT_EQ(os.str(), "{ 1, 2.5, -3 }");
  std::ostringstream om;
  om << m33(1);
  EXPECT_EQ(om.str(), "0: { 1, 0, 0 },\n1: { 0, 1, 0 },\n2: { 0, 0, 1 },\n");

  testing::internal::CaptureStdout();
  print(vec3(1, -2, 0.5));
  print(rot_z(0));
  print(quat(0, 0, 0, 1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " 1.000000 -2.000000  0.500000\n"
            "0:  1.000000  0.000000  0.000000\n"
            "1: -0.000000  1.000000  0.000000\n"
            "2:  0.000000  0.000000  1.000000\n"
            "i: 0.000000 j: 0.000000 k: 0.000000 r: 1.000000\n");
}

}  // namespace
