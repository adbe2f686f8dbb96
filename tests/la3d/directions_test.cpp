#include <gtest/gtest.h>

#include <cmath>

#include "la3d/vk_3dla.h"
#include "tests/common/test_util.h"

using namespace vk_3dla;

namespace {

const double tol = 1e-12;

TEST(RotationBetween, TurnsUnitVectorOntoTarget) {
  auto as = test_util::sample_vec3s(21, 300);
  auto bs = test_util::sample_vec3s(22, 300);
  for (size_t n = 0; n < as.size(); ++n) {
    SCOPED_TRACE(n);
    vec3 a = normalized(as[n]), b = normalized(bs[n]);
    m33 R = rotation_between(a, b);
    EXPECT_VEC3_NEAR(a * R, b, 1e-12);
    EXPECT_NEAR(determinant(R), 1.0, 1e-12);
    // Lengths differ: the direction is still turned onto the direction.
    EXPECT_VEC3_NEAR(normalized(as[n] * rotation_between(as[n], 3.0 * bs[n])), b, 1e-12);
  }
}

TEST(RotationBetween, DegenerateCases) {
  struct Case {
    const char* name;
    vec3 a, b;
    m33 expected;
  } cases[] = {
      {"opposite along x: half turn about y", vec3(1, 0, 0), vec3(-1, 0, 0), diag(vec3(-1, 1, -1))},
      {"same direction", vec3(1, 2, 3), vec3(2, 4, 6), m33(1)},
      {"zero first", vec3(0), vec3(1, 2, 3), m33(1)},
      {"zero second", vec3(1, 2, 3), vec3(0), m33(1)},
      {"x onto y", vec3(1, 0, 0), vec3(0, 1, 0), rot_z(pi / 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_M33_NEAR(rotation_between(c.a, c.b), c.expected, tol);
  }
  // Opposite directions in general position.
  for (const vec3& v : {vec3(0, 0, 1), vec3(0, -2, 0), vec3(1, 1, 1), vec3(-3, 0.5, 0.1)}) {
    SCOPED_TRACE(v);
    EXPECT_VEC3_NEAR(v * rotation_between(v, -v), -v, 1e-12);
  }
}

TEST(Perpendicular, IsPerpendicularEvenNearTheXAxis) {
  EXPECT_VEC3_NEAR(perpendicular(vec3(1, 0, 0)), vec3(0, 1, 0), 0.0);
  EXPECT_VEC3_NEAR(perpendicular(vec3(0)), vec3(0, 1, 0), 0.0);
  // The last three leave a difference of p and its part along v that is far smaller than p.
  for (const vec3& v : {vec3(0, 0, 1), vec3(0.3, 1e-17, 0), vec3(-0.3, 0, 1e-18), vec3(2, 3, 4),
                        vec3(1e-3, 1e-20, 0), vec3(-1, 1e-9, 1e-9), vec3(1, 1e-9, 0),
                        vec3(1, 3e-10, 3e-10), vec3(-0.054286141078802, 9.27e-16, 5.41e-12)}) {
    SCOPED_TRACE(v);
    vec3 p = perpendicular(v);
    ASSERT_GT(abs(p), 0.0);
    EXPECT_NEAR(dot(normalized(p), normalized(v)), 0.0, 1e-12);
    // A half turn about it reverses v.
    EXPECT_VEC3_NEAR(v * rotation_between(v, -v), -v, 1e-12 * (1 + abs(v)));
  }
}

TEST(Directions, RotationVectorAndVslerp) {
  EXPECT_VEC3_NEAR(rotation_vector(vec3(1, 0, 0), vec3(0, 2, 0)), vec3(0, 0, pi / 2), tol);
  EXPECT_VEC3_NEAR(rotation_vector(vec3(1, 0, 0), vec3(3, 0, 0)), vec3(0), 0.0);
  vec3 a(1, 0, 0), b(0, 1, 0);
  EXPECT_VEC3_NEAR(vslerp(a, b, 0.0), a, tol);
  EXPECT_VEC3_NEAR(vslerp(a, b, 1.0), b, tol);
  EXPECT_VEC3_NEAR(vslerp(a, b, 0.5), normalized(vec3(1, 1, 0)), tol);
  EXPECT_VEC3_NEAR(vslerp(a, a, 0.7), a, 0.0);
  vec3 c = normalized(vec3(1, 1e-5, 0));
  EXPECT_NEAR(abs(vslerp(a, c, 0.5)), 1.0, 1e-9);
}

}  // namespace
