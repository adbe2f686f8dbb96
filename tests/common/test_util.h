#pragma once
// Tolerant comparisons for the algebra types, shared by every test suite.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "la3d/vk_3dla.h"

namespace test_util {

inline ::testing::AssertionResult vec2_near(const char* a_expr, const char* b_expr, const char*,
                                            const vk_3dla::vec2& a, const vk_3dla::vec2& b,
                                            double tol) {
  if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << a_expr << " = " << a << " differs from " << b_expr
                                       << " = " << b << " by more than " << tol;
}

// Component-wise comparison of an N-component vector (vec3, vec4).
template <int N, class V>
::testing::AssertionResult components_near(const char* a_expr, const char* b_expr, const V& a,
                                           const V& b, double tol) {
  for (int i = 0; i < N; ++i)
    if (!(std::fabs(a[i] - b[i]) <= tol))
      return ::testing::AssertionFailure() << a_expr << " = " << a << " differs from " << b_expr
                                           << " = " << b << " by more than " << tol;
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult vec3_near(const char* a_expr, const char* b_expr, const char*,
                                            const vk_3dla::vec3& a, const vk_3dla::vec3& b,
                                            double tol) {
  return components_near<3>(a_expr, b_expr, a, b, tol);
}

inline ::testing::AssertionResult vec4_near(const char* a_expr, const char* b_expr, const char*,
                                            const vk_3dla::vec4& a, const vk_3dla::vec4& b,
                                            double tol) {
  return components_near<4>(a_expr, b_expr, a, b, tol);
}

// Element-wise comparison of an N x N matrix (m33, m44), naming the first element that differs.
template <int N, class M>
::testing::AssertionResult elements_near(const char* a_expr, const char* b_expr, const M& a,
                                         const M& b, double tol) {
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j)
      if (!(std::fabs(a(i, j) - b(i, j)) <= tol))
        return ::testing::AssertionFailure()
               << a_expr << " =\n"
               << a << "differs from " << b_expr << " =\n"
               << b << "at (" << i << ", " << j << ") by more than " << tol;
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult m33_near(const char* a_expr, const char* b_expr, const char*,
                                           const vk_3dla::m33& a, const vk_3dla::m33& b,
                                           double tol) {
  return elements_near<3>(a_expr, b_expr, a, b, tol);
}

inline ::testing::AssertionResult m44_near(const char* a_expr, const char* b_expr, const char*,
                                           const vk_3dla::m44& a, const vk_3dla::m44& b,
                                           double tol) {
  return elements_near<4>(a_expr, b_expr, a, b, tol);
}

inline ::testing::AssertionResult quat_near(const char* a_expr, const char* b_expr, const char*,
                                            const vk_3dla::quat& a, const vk_3dla::quat& b,
                                            double tol) {
  if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol &&
      std::fabs(a.w - b.w) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << a_expr << " = " << a << " differs from " << b_expr
                                       << " = " << b << " by more than " << tol;
}

// q and -q are the same rotation.
inline ::testing::AssertionResult rotation_quat_near(const char* a_expr, const char* b_expr,
                                                     const char* t_expr, const vk_3dla::quat& a,
                                                     const vk_3dla::quat& b, double tol) {
  if (quat_near(a_expr, b_expr, t_expr, a, b, tol) || quat_near(a_expr, b_expr, t_expr, a, -b, tol))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << a_expr << " = " << a << " differs from " << b_expr
                                       << " = " << b << " (up to sign) by more than " << tol;
}

// Angles equal modulo a full turn.
inline ::testing::AssertionResult angle_mod_near(const char* a_expr, const char* b_expr,
                                                 const char*, double a, double b, double tol) {
  double d = std::remainder(a - b, 2.0 * vk_3dla::pi);
  if (std::fabs(d) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << a_expr << " = " << a << " differs from " << b_expr
                                       << " = " << b << " (mod 2 pi) by " << d;
}

// A repeatable sample of unit quaternions spread over all rotations (fixed seed, never the clock).
inline std::vector<vk_3dla::quat> sample_quats(unsigned seed, int n) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> nd(0.0, 1.0);
  std::vector<vk_3dla::quat> out;
  while (static_cast<int>(out.size()) < n) {
    vk_3dla::quat q(nd(gen), nd(gen), nd(gen), nd(gen));
    if (vk_3dla::abs(q) > 1e-3) out.push_back(vk_3dla::normalized(q));
  }
  return out;
}

// A repeatable sample of vectors with components uniform in [-r, r].
inline std::vector<vk_3dla::vec3> sample_vec3s(unsigned seed, int n, double r = 1.0) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> ud(-r, r);
  std::vector<vk_3dla::vec3> out;
  for (int i = 0; i < n; ++i) {
    double x = ud(gen), y = ud(gen), z = ud(gen);
    out.emplace_back(x, y, z);
  }
  return out;
}

}  // namespace test_util

#define EXPECT_VEC2_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::test_util::vec2_near, a, b, tol)
#define EXPECT_VEC3_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::test_util::vec3_near, a, b, tol)
#define EXPECT_VEC4_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::test_util::vec4_near, a, b, tol)
#define EXPECT_M33_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::test_util::m33_near, a, b, tol)
#define EXPECT_M44_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::test_util::m44_near, a, b, tol)
#define EXPECT_QUAT_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::test_util::quat_near, a, b, tol)
// Quaternions compared as rotations: q and -q match.
#define EXPECT_ROT_QUAT_NEAR(a, b, tol) \
  EXPECT_PRED_FORMAT3(::test_util::rotation_quat_near, a, b, tol)
#define EXPECT_ANGLE_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::test_util::angle_mod_near, a, b, tol)
#define ASSERT_VEC3_NEAR(a, b, tol) ASSERT_PRED_FORMAT3(::test_util::vec3_near, a, b, tol)
#define ASSERT_M33_NEAR(a, b, tol) ASSERT_PRED_FORMAT3(::test_util::m33_near, a, b, tol)
