// Helpers shared by the stand-in host's tests.
#ifndef TARSEL_TESTS_STAGE_STAGE_TEST_UTIL_H
#define TARSEL_TESTS_STAGE_STAGE_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "stage/host.h"
#include "stage/transform.h"
#include "tests/stage/test_module.h"

namespace stage_test {

inline ::testing::AssertionResult triple_near(const char* a_expr, const char* b_expr, const char*,
                                              const stage::Vec3& a, const stage::Vec3& b,
                                              double tol) {
  for (int i = 0; i < 3; ++i) {
    if (!(std::fabs(a[i] - b[i]) <= tol))
      return ::testing::AssertionFailure()
             << a_expr << " = (" << a[0] << ", " << a[1] << ", " << a[2] << ") differs from "
             << b_expr << " = (" << b[0] << ", " << b[1] << ", " << b[2] << ") by more than "
             << tol;
  }
  return ::testing::AssertionSuccess();
}

// A file name in the test build folder, unique to the running test.
inline std::string temp_path(const std::string& suffix) {
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(STAGE_TEST_DIR) + "/" + t->test_suite_name() + "_" + t->name();
  for (char& c : name)
    if (c == '/' && &c > name.data() + std::string(STAGE_TEST_DIR).size()) c = '_';
  return name + suffix;
}

// A host with the test module loaded.
struct Host_with_test_module : ::testing::Test {
  Host_with_test_module() { host.load_module(STAGE_TEST_MODULE); }
  stage::Host host;
  stage::Scene& scene = host.scene();
};

}  // namespace stage_test

#define EXPECT_TRIPLE_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::stage_test::triple_near, a, b, tol)

#endif
