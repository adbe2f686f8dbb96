#include <gtest/gtest.h>

#include <cstdlib>

#include "la3d/vk_3dla.h"

using namespace vk_3dla;

namespace {

// The platform's rand() may return values far above 32767; the library must cut them to 15 bits
// so the documented ranges hold.
TEST(Random, RangesHoldWhateverRandMax) {
  std::srand(77);
  for (int i = 0; i < 20000; ++i) {
    double a = rand01();
    ASSERT_GE(a, 0.0);
    ASSERT_LT(a, 1.0);
    double b = rand01_upper();
    ASSERT_GT(b, 0.0);
    ASSERT_LE(b, 1.0);
    double s = rand_signed();
    ASSERT_GT(s, -1.0);
    ASSERT_LT(s, 1.0);
    double r = rand_between(5.0, 2.0);
    ASSERT_GE(r, 2.0);
    ASSERT_LT(r, 5.0);
    int k = rand_scaled(10);
    ASSERT_GE(k, 0);
    ASSERT_LT(k, 10);
    int m = rand_signed_scaled(10);
    ASSERT_GT(m, -10);
    ASSERT_LT(m, 10);
  }
}

TEST(Random, DrawsAreFifteenBitFractions) {
  std::srand(5);
  bool upper_half = false, lower_half = false, negative = false;
  for (int i = 0; i < 2000; ++i) {
    double a = rand01() * 32768.0;
    ASSERT_EQ(a, static_cast<double>(static_cast<int>(a)));
    upper_half |= a >= 16384.0;
    lower_half |= a < 16384.0;
    negative |= rand_signed() < 0.0;
  }
  EXPECT_TRUE(upper_half);
  EXPECT_TRUE(lower_half);
  EXPECT_TRUE(negative);
}

}  // namespace
