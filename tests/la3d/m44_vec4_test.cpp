#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "la3d/vk_3dla.h"
#include "tests/common/test_util.h"

using namespace vk_3dla;

namespace {

const double tol = 1e-12;

m44 general_m44() {
  return m44(2, -1, 0.5, 0.1, 0.3, 3, 1, -0.2, -1, 0.2, 4, 0.3, 1.5, -2, 0.7, 1.1);
}

// Determinant by cofactor expansion along the first row, for reference.
double det_by_first_row(const m44& A) {
  double d = 0;
  for (int j = 0; j < 4; ++j) {
    double minor[9];
    int n = 0;
    for (int r = 1; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        if (c != j) minor[n++] = A(r, c);
    m33 M(minor[0], minor[1], minor[2], minor[3], minor[4], minor[5], minor[6], minor[7], minor[8]);
    d += (j % 2 ? -1.0 : 1.0) * A(0, j) * determinant(M);
  }
  return d;
}

TEST(Vec4, HomogeneousDivision) {
  EXPECT_VEC3_NEAR(from_homogeneous(vec4(2, 4, 6, 2)), vec3(1, 2, 3), 0.0);
  EXPECT_VEC3_NEAR(from_homogeneous(vec4(2, 4, 6, 0)), vec3(2, 4, 6), 0.0);
}

TEST(Vec4, NormalizeZeroReports) {
  testing::internal::CaptureStderr();
  vec4 z(0);
  z.normalize();
  vec4 u = normalized(vec4(0, 3, 0, 4));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "abs = 0\n");
  EXPECT_VEC4_NEAR(z, vec4(0), 0.0);
  EXPECT_VEC4_NEAR(u, vec4(0, 0.6, 0, 0.8), tol);
}

TEST(M44, ItemTransformMapsPointsAndInverseMapsBack) {
  auto qs = test_util::sample_quats(31, 50);
  auto ts = test_util::sample_vec3s(32, 50, 5.0);
  auto ps = test_util::sample_vec3s(33, 50, 3.0);
  for (size_t n = 0; n < qs.size(); ++n) {
    SCOPED_TRACE(n);
    m33 R = m33_from_quat(qs[n]) * diag(vec3(1.0 + 0.01 * n, 0.5, 2.0));
    m44 T(R, ts[n]);
    vec4 moved = ps[n] * T;
    EXPECT_VEC4_NEAR(moved, vec4(ps[n] * R + ts[n], 1.0), 1e-12);
    EXPECT_VEC4_NEAR(moved * inverse(T), vec4(ps[n], 1.0), 1e-11);
    EXPECT_M44_NEAR(T * inverse(T), m44(1), 1e-12);
  }
}

TEST(M44, DeterminantAndInverseOfGeneralMatrix) {
  m44 A = general_m44();
  EXPECT_NEAR(determinant(A), det_by_first_row(A), 1e-12);
  double d = 0;
  m44 B = A;
  B.invert(d);
  EXPECT_NEAR(d, det_by_first_row(A), 1e-12);
  EXPECT_M44_NEAR(A * B, m44(1), 1e-12);
  EXPECT_M44_NEAR(B * A, m44(1), 1e-12);
  EXPECT_NEAR(determinant(m44(m33(1), 2.5)), 2.5, 0.0);
  EXPECT_NEAR(determinant(transposed(A)), determinant(A), 1e-12);
}

TEST(M44, SingularInverseMessageOnlyWithoutDeterminantOut) {
  testing::internal::CaptureStderr();
  m44 z = inverse(m44(0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "determinant = 0\n");
  EXPECT_M44_NEAR(z, m44(0), 0.0);

  m44 s(1, 2, 3, 4, 2, 3, 4, 5, 2, 4, 6, 8, 0, 1, 0, 1);  // rows 0 and 2 dependent
  m44 before = s;
  double d = -1;
  testing::internal::CaptureStderr();
  s.invert(d);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(d, 0.0);
  EXPECT_M44_NEAR(s, before, 0.0);
}

TEST(M44, ConstructionForms) {
  m33 R = rot_axis(vec3(1, 1, 0), 0.4);
  m44 T(R, vec3(1, 2, 3));
  EXPECT_M33_NEAR(m33(T), R, 0.0);
  EXPECT_VEC4_NEAR(vec4(T(0, 3), T(1, 3), T(2, 3), T(3, 3)), vec4(0, 0, 0, 1), 0.0);
  EXPECT_VEC4_NEAR(vec4(T(3, 0), T(3, 1), T(3, 2), T(3, 3)), vec4(1, 2, 3, 1), 0.0);
  m44 W(R, 2.0);
  EXPECT_VEC4_NEAR(vec4(W(3, 0), W(3, 1), W(3, 2), W(3, 3)), vec4(0, 0, 0, 2), 0.0);
  EXPECT_M44_NEAR(m44(R.row(0), R.row(1), R.row(2), vec3(1, 2, 3)), T, 0.0);
  quat q = quat_from_m33(R);
  EXPECT_M44_NEAR(m44(q, 1.0), m44(R, 1.0), tol);
  float f[16];
  T.to_floats(f);
  EXPECT_M44_NEAR(m44(f), T, 1e-6);
  m44 U(1);
  U.set_m33(R);
  EXPECT_M44_NEAR(U, m44(R, 1.0), 0.0);
}

TEST(M44, TransformBuildersComposeInOrder) {
  m44 T(1);
  T.scale_by(vec3(2, 2, 2)).rotate_z(pi / 2).translate(vec3(1, 0, 0));
  // Scale first, then turn, then move.
  EXPECT_VEC4_NEAR(vec3(1, 0, 0) * T, vec4(1, 2, 0, 1), tol);
  EXPECT_M44_NEAR(
      T, m44_scaling(vec3(2, 2, 2)) * m44_rot_z(pi / 2) * m44_translation(vec3(1, 0, 0)), tol);
  m44 A = general_m44();
  m44 B = A;
  B *= rot_x(0.3);
  EXPECT_M44_NEAR(B, A * m44_rot_x(0.3), tol);
  B = A;
  B.rotate_axis(vec3(0, 1, 0), 0.7);
  EXPECT_M44_NEAR(B, A * m44_rot_y(0.7), tol);
}

TEST(M44, ArithmeticAndColumnForm) {
  m44 A = general_m44();
  vec4 v(1, -2, 0.5, 3);
  EXPECT_VEC4_NEAR(A * v, v * transposed(A), tol);
  EXPECT_M44_NEAR((A + A) - A * 2.0, m44(0), tol);
  EXPECT_M44_NEAR(-A + A, m44(0), 0.0);
  EXPECT_NEAR(abs_sum(m44(-2)), 8.0, 0.0);
  EXPECT_M44_NEAR(outer(vec4(1, 2, 3, 4)), outer(vec4(1, 2, 3, 4), vec4(1, 2, 3, 4)), 0.0);
  EXPECT_DOUBLE_EQ(outer(vec4(1, 2, 3, 4), vec4(5, 6, 7, 8))(2, 1), 18.0);
}

TEST(Planes, BasicFunctions) {
  vec4 p = plane_through(vec3(0, 0, 1), vec3(1, 0, 1), vec3(0, 1, 1));  // z = 1, normal +z
  EXPECT_VEC4_NEAR(p, vec4(0, 0, 1, -1), tol);
  EXPECT_NEAR(plane_value(p, vec3(5, 5, 3)), 2.0, tol);
  EXPECT_VEC3_NEAR(project_to_plane(p, vec3(5, 5, 3)), vec3(5, 5, 1), tol);
  vec3 hit;
  ASSERT_TRUE(intersect_line_plane(vec3(0, 0, 0), vec3(1, 1, 4), p, hit));
  EXPECT_VEC3_NEAR(hit, vec3(0.25, 0.25, 1), tol);
  EXPECT_FALSE(intersect_line_plane(vec3(0, 0, 0), vec3(1, 1, 0), p, hit));
  EXPECT_VEC4_NEAR(plane_normalized(plane_from_normal(vec3(0, 2, 0), vec3(0, 3, 0))),
                   vec4(0, 1, 0, -3), tol);
}

TEST(Print, Vec4AndM44) {
  std::ostringstream os;
  os << vec4(1, 2, 3, 4);
  EXPECT_EQ(os.str(), "{ 1, 2, 3, 4 }");
  testing::internal::CaptureStdout();
  print(vec4(1, 2, 3, 4));
  print(m44(1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "{  1.000000,  2.000000,  3.000000,  4.000000 }\n"
            "0: {  1.000000,  0.000000,  0.000000,  0.000000 },\n"
            "1: {  0.000000,  1.000000,  0.000000,  0.000000 },\n"
            "2: {  0.000000,  0.000000,  1.000000,  0.000000 },\n"
            "3: {  0.000000,  0.000000,  0.000000,  1.000000 },\n");
}

}  // namespace
