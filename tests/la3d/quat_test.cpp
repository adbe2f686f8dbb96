#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "la3d/vk_3dla.h"
#include "tests/common/test_util.h"

using namespace vk_3dla;

namespace {

const double tol = 1e-12;

TEST(Quat, ConstructionAndHamiltonProduct) {
  EXPECT_QUAT_NEAR(quat(2), quat(0, 0, 0, 2), 0.0);
  EXPECT_QUAT_NEAR(quat(vec3(1, 2, 3), 4), quat(1, 2, 3, 4), 0.0);
  quat i(1, 0, 0, 0), j(0, 1, 0, 0), k(0, 0, 1, 0);
  EXPECT_QUAT_NEAR(i * j, k, 0.0);
  EXPECT_QUAT_NEAR(j * i, -k, 0.0);
  EXPECT_QUAT_NEAR(i * i, quat(-1), 0.0);
  quat a(1, 2, 3, 4), b(-0.5, 0.25, 2, 1);
  quat c = a;
  c *= b;
  EXPECT_QUAT_NEAR(c, a * b, 0.0);
  EXPECT_QUAT_NEAR(a * inverse(a), quat(1), tol);
  EXPECT_QUAT_NEAR(conj(a), quat(-1, -2, -3, 4), 0.0);
  EXPECT_DOUBLE_EQ(abs2(a), 30.0);
  EXPECT_DOUBLE_EQ(dot(a, b), -0.5 + 0.5 + 6 + 4);
}

TEST(Quat, NormalizeZeroReportsAndLeavesValue) {
  testing::internal::CaptureStderr();
  quat z(0, 0, 0, 0);
  z.normalize();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "abs = 0\n");
  EXPECT_QUAT_NEAR(z, quat(0, 0, 0, 0), 0.0);

  testing::internal::CaptureStderr();
  double h = half_angle(quat(0, 0, 0, 0), quat(1));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "abs = 0\n");
  EXPECT_DOUBLE_EQ(h, pi / 2);
}

TEST(Quat, MatrixFormAgreesWithRotate) {
  auto qs = test_util::sample_quats(42, 200);
  auto vs = test_util::sample_vec3s(43, 200, 2.0);
  for (size_t n = 0; n < qs.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_VEC3_NEAR(vs[n] * m33_from_quat(qs[n]), rotate(qs[n], vs[n]), 1e-12);
    m33 R = m33_from_quat(qs[n]);
    EXPECT_M33_NEAR(R * transposed(R), m33(1), 1e-12);
    EXPECT_NEAR(determinant(R), 1.0, 1e-12);
  }
}

TEST(Quat, MatrixOfProductIsReversedProduct) {
  auto qs = test_util::sample_quats(9, 101);
  for (size_t n = 0; n + 1 < qs.size(); ++n) {
    SCOPED_TRACE(n);
    const quat& a = qs[n];
    const quat& b = qs[n + 1];
    EXPECT_M33_NEAR(m33_from_quat(a * b), m33_from_quat(b) * m33_from_quat(a), 1e-12);
  }
}

TEST(Quat, MatrixRoundTrip) {
  for (const quat& q : test_util::sample_quats(17, 300)) {
    quat r = quat_from_m33(m33_from_quat(q));
    EXPECT_NEAR(abs(r), 1.0, 1e-12);
    EXPECT_ROT_QUAT_NEAR(r, q, 1e-12);
  }
  // Every branch of the dominant-index choice.
  for (const vec3& axis : {vec3(1, 0, 0), vec3(0, 1, 0), vec3(0, 0, 1), vec3(1, 1, 1),
                           vec3(-1, 2, 0.5), vec3(0.3, -0.2, -3)}) {
    for (double a : {0.0, 1.0, 2.5, pi, 4.0}) {
      SCOPED_TRACE(a);
      quat q = quat_from_axis(axis, a);
      EXPECT_ROT_QUAT_NEAR(quat_from_m33(rot_axis(axis, a)), q, 1e-12);
    }
  }
}

TEST(Quat, ConversionEdgeCases) {
  EXPECT_QUAT_NEAR(quat_from_m33(m33(1)), quat(0, 0, 0, 1), 0.0);
  EXPECT_ROT_QUAT_NEAR(quat_from_m33(rot_y(pi)), quat(0, 1, 0, 0), 1e-15);
  double a = 0.8;
  EXPECT_M33_NEAR(m33_from_quat(quat(0, 0, std::sin(a / 2), std::cos(a / 2))), rot_z(a), tol);
  EXPECT_M33_NEAR(m33(quat_from_axis(vec3(0, 0, 5), a)), rot_z(a), tol);
  // Any non-zero length gives the same rotation; the zero quaternion gives the identity, not NaN.
  quat q = quat_from_axis(vec3(1, -2, 0.5), 1.2);
  EXPECT_M33_NEAR(m33_from_quat(q * 3.0), m33_from_quat(q), tol);
  EXPECT_M33_NEAR(m33_from_quat(quat(0, 0, 0, 0)), m33(1), 0.0);
}

TEST(Quat, ExpLog) {
  quat q = quat_from_axis(vec3(1, 2, 2), 1.4);
  quat l = quat_log(q);
  EXPECT_VEC3_NEAR(l.v(), vec3(1, 2, 2) / 3.0 * 0.7, tol);
  EXPECT_NEAR(l.w, 0.0, tol);
  EXPECT_QUAT_NEAR(quat_exp(l), q, tol);
  EXPECT_QUAT_NEAR(quat_exp(quat(0, 0, 0, 1)), quat(0, 0, 0, std::exp(1.0)), tol);
  EXPECT_QUAT_NEAR(quat_log(quat(0, 0, 0, 2)), quat(0, 0, 0, std::log(2.0)), tol);
  quat big(0.3, -0.1, 0.2, 1.5);
  EXPECT_QUAT_NEAR(quat_exp(quat_log(big)), big, 1e-12);
}

TEST(Slerp, EndPointsAndUnitLength) {
  auto qs = test_util::sample_quats(101, 60);
  for (size_t n = 0; n + 1 < qs.size(); ++n) {
    SCOPED_TRACE(n);
    const quat& a = qs[n];
    const quat& b = qs[n + 1];
    EXPECT_QUAT_NEAR(slerp(a, b, 0.0), a, 1e-12);
    EXPECT_ROT_QUAT_NEAR(slerp(a, b, 1.0), b, 1e-12);
    for (double t : {0.1, 0.25, 0.5, 0.9}) {
      quat s = slerp(a, b, t);
      EXPECT_NEAR(abs(s), 1.0, 1e-12);
      // The shorter arc: the angle to a is t times the whole turn.
      EXPECT_NEAR(half_angle(a, s), t * half_angle(a, b), 1e-9);
    }
  }
}

TEST(Slerp, OppositeSignIsSameRotation) {
  for (const quat& q : test_util::sample_quats(55, 20))
    for (double t : {0.0, 0.3, 0.5, 1.0}) EXPECT_QUAT_NEAR(slerp(q, -q, t), q, 1e-12);
}

TEST(Slerp, RightAngleMidpointIsUnit) {
  quat q0(1), q1 = quat_from_axis(vec3(0, 1, 0), pi / 2);  // d = cos 45 degrees
  quat m = slerp(q0, q1, 0.5);
  EXPECT_NEAR(abs(m), 1.0, 1e-15);
  EXPECT_ROT_QUAT_NEAR(m, quat_from_axis(vec3(0, 1, 0), pi / 4), 1e-15);
  // The linear branch for nearly equal rotations stays finite and close to unit length.
  quat q2 = quat_from_axis(vec3(0, 1, 0), 1e-5);
  EXPECT_NEAR(abs(slerp(q0, q2, 0.5)), 1.0, 1e-8);
}

TEST(Slerp, DirectKeepsHemisphereAndSquadEnds) {
  quat a = quat_from_axis(vec3(1, 0, 0), 0.4);
  quat b = -quat_from_axis(vec3(1, 0, 0), 0.8);
  // Without the hemisphere choice the path runs the long way round.
  EXPECT_ROT_QUAT_NEAR(slerp_direct(a, b, 0.5), quat_from_axis(vec3(1, 0, 0), 0.6 + pi), 1e-12);
  EXPECT_ROT_QUAT_NEAR(slerp(a, b, 0.5), quat_from_axis(vec3(1, 0, 0), 0.6), 1e-12);
  quat c = quat_from_axis(vec3(0, 1, 0), 0.3), d = quat_from_axis(vec3(0, 0, 1), 0.2);
  EXPECT_QUAT_NEAR(squad(a, c, d, -b, 0.0), a, 1e-12);
  EXPECT_QUAT_NEAR(squad(a, c, d, -b, 1.0), -b, 1e-12);
  EXPECT_QUAT_NEAR(slerp_core(0.5, 1.0, a, a), a, 0.0);
}

TEST(Quat, RandomQuatIsUnitAndRepeatable) {
  std::srand(1234);
  quat first = random_quat();
  for (int i = 0; i < 200; ++i) EXPECT_NEAR(abs(random_quat()), 1.0, 1e-12);
  std::srand(1234);
  EXPECT_QUAT_NEAR(random_quat(), first, 0.0);
}

TEST(Quat, StreamAndPrint) {
  std::ostringstream os;
  os << quat(1, -2, 0.5, 4);
  EXPECT_EQ(os.str(), "i:1 j:-2 k:0.5 r:4");
}

}  // namespace
