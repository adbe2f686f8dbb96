#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "la3d/vk_3dla.h"
#include "tests/common/test_util.h"

using namespace vk_3dla;

namespace {

const double tol = 1e-12;

TEST(Vec2, PlanarFunctions) {
  EXPECT_DOUBLE_EQ(polar_angle(vec2(0, -1)), -pi / 2);
  EXPECT_DOUBLE_EQ(polar_angle(vec2(-1, 0)), pi);
  EXPECT_EQ(perpendicular(vec2(1, 0)), vec2(0, 1));
  EXPECT_EQ(cross(vec2(1, 0), vec2(0, 1)), 1.0);
  EXPECT_EQ(cross(vec2(0, 1), vec2(1, 0)), -1.0);
  EXPECT_DOUBLE_EQ(abs(vec2(3, 4)), 5.0);
  EXPECT_DOUBLE_EQ(angle_between(vec2(2, 0), vec2(1, 1)), pi / 4);
  EXPECT_TRUE(vec2(1, 2) == vec2(1, 2));
  EXPECT_FALSE(vec2(1, 2) == vec2(1, 2.0000001));
  EXPECT_EQ(2.0 * vec2(1, -2), vec2(2, -4));
  EXPECT_EQ(vec2(vec3(2, 4, 2)), vec2(1, 2));
  EXPECT_EQ(vec2(vec3(2, 4, 0)), vec2(2, 4));
}

TEST(Vec2, LineThrough) {
  EXPECT_VEC3_NEAR(line_through(vec2(1, 0), vec2(0, 2)), vec3(0, 1, -2), 0.0);
  // Both the point and a point further along the direction lie on the line.
  vec2 d(0.6, -1.3), p(2, -0.5);
  vec3 l = line_through(d, p);
  for (double t : {0.0, 1.0, -2.5}) {
    vec2 x = p + d * t;
    EXPECT_NEAR(l.x * x.x + l.y * x.y + l.z, 0.0, tol);
  }
  vec2 hit;
  ASSERT_TRUE(intersect_lines(line_through(vec2(1, 0), vec2(0, 2)),
                              line_through(vec2(0, 1), vec2(3, 0)), hit));
  EXPECT_VEC2_NEAR(hit, vec2(3, 2), tol);
  EXPECT_FALSE(intersect_lines(line_through(vec2(1, 0), vec2(0, 2)),
                               line_through(vec2(2, 0), vec2(0, 5)), hit));
}

TEST(Vec2, NormalizeZeroReportsAndLeavesZero) {
  testing::internal::CaptureStderr();
  vec2 z(0, 0);
  z.normalize();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "abs = 0\n");
  EXPECT_EQ(z, vec2(0, 0));
  EXPECT_VEC2_NEAR(normalized(vec2(3, -4)), vec2(0.6, -0.8), tol);
}

TEST(Vec2, ComplexProductAndQuotient) {
  struct Case {
    vec2 a, b, q;
  } cases[] = {
      {vec2(1, 0), vec2(0, 1), vec2(0, -1)},
      {vec2(3, 4), vec2(3, 4), vec2(1, 0)},
      {vec2(1, 2), vec2(4, -1), vec2(2.0 / 17, 9.0 / 17)},  // |y'| < |x'| branch
      {vec2(-2, 5), vec2(1e-200, 3e-200), vec2(1.3e200, 1.1e200)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a);
    vec2 q = complex_quotient(c.a, c.b);
    EXPECT_NEAR(q.x, c.q.x, 1e-12 * std::fabs(c.q.x) + 1e-15);
    EXPECT_NEAR(q.y, c.q.y, 1e-12 * std::fabs(c.q.y) + 1e-15);
    if (std::fabs(c.b.x) > 1e-100) {
      EXPECT_VEC2_NEAR(complex_product(q, c.b), c.a, 1e-12);
    }
  }
  vec2 a(1, 2);
  complex_multiply(a, vec2(0, 1));
  EXPECT_EQ(a, vec2(-2, 1));
  complex_divide(a, vec2(0, 1));
  EXPECT_VEC2_NEAR(a, vec2(1, 2), tol);
}

TEST(M22, InverseAndSingularMessage) {
  m22 A(2, 1, -1, 3);
  EXPECT_DOUBLE_EQ(determinant(A), 7.0);
  m22 I = A * inverse(A);
  EXPECT_VEC2_NEAR(I.row(0), vec2(1, 0), tol);
  EXPECT_VEC2_NEAR(I.row(1), vec2(0, 1), tol);
  testing::internal::CaptureStderr();
  m22 S(1, 2, 2, 4);
  S.invert();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "determinant = 0\n");
  EXPECT_EQ(S.row(0), vec2(1, 2));
  EXPECT_EQ(S.row(1), vec2(2, 4));
}

TEST(M22, RowAndColumnForms) {
  m22 R = rot_planar(pi / 2);
  EXPECT_VEC2_NEAR(vec2(1, 0) * R, vec2(0, 1), tol);
  EXPECT_VEC2_NEAR(R * vec2(1, 0), vec2(0, -1), tol);
  vec2 v(1, 0);
  v *= R;
  v *= R;
  EXPECT_VEC2_NEAR(v, vec2(-1, 0), tol);
  EXPECT_DOUBLE_EQ(trace(m22(3)), 6.0);
  EXPECT_EQ(transposed(m22(1, 2, 3, 4)).row(0), vec2(1, 3));
  EXPECT_EQ(outer(vec2(1, 2), vec2(3, 4)).row(1), vec2(6, 8));
  EXPECT_EQ(diag(vec2(5, 6)).row(1), vec2(0, 6));
  // Planar homogeneous forms in an m33.
  m33 H(m22(0, 1, -1, 0), vec2(5, 6));
  EXPECT_VEC3_NEAR(vec2(1, 0) * H, vec3(5, 7, 1), 0.0);
  EXPECT_M33_NEAR(m33(m22(1, 2, 3, 4), 9.0), m33(1, 2, 0, 3, 4, 0, 0, 0, 9), 0.0);
}

TEST(Print, Vec2AndM22) {
  std::ostringstream os;
  os << vec2(1.5, -2) << "|" << m22(1, 2, 3, 4);
  EXPECT_EQ(os.str(), "{ 1.5, -2 }|0: { 1, 2 },\n1: { 3, 4 },\n");
  testing::internal::CaptureStdout();
  print(vec2(1, -2));
  print(m22(1, 0, 0, 1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " 1.000000 -2.000000\n0:  1.000000  0.000000\n1:  0.000000  1.000000\n");
}

}  // namespace
