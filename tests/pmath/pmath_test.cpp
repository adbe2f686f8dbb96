// pmath's functions against the C library's (within one unit in the last place, special values
// alike) and against bits pinned from one build, which every other build must reproduce.
#include "pmath/pmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

// Doubles in order as integers, so that the distance of two is their difference in ulps.
std::int64_t ordered(double x) {
  std::int64_t i;
  std::memcpy(&i, &x, sizeof i);
  return i < 0 ? std::numeric_limits<std::int64_t>::min() - i : i;
}

std::int64_t ulps_apart(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : INT64_MAX;
  const std::int64_t d = ordered(a) - ordered(b);
  return d < 0 ? -d : d;
}

using Unary = double (*)(double);
struct Case {
  const char* name;
  Unary ours;
  Unary library;
  double low, high;  // where the random arguments are drawn
};

const Case cases[] = {
    {"sin", pmath::sin, [](double x) { return std::sin(x); }, -30.0, 30.0},
    {"sin, far from 0", pmath::sin, [](double x) { return std::sin(x); }, -1.6e6, 1.6e6},
    {"cos", pmath::cos, [](double x) { return std::cos(x); }, -30.0, 30.0},
    {"cos, far from 0", pmath::cos, [](double x) { return std::cos(x); }, -1.6e6, 1.6e6},
    {"asin", pmath::asin, [](double x) { return std::asin(x); }, -1.0, 1.0},
    {"acos", pmath::acos, [](double x) { return std::acos(x); }, -1.0, 1.0},
    {"atan", pmath::atan, [](double x) { return std::atan(x); }, -20.0, 20.0},
    {"expm1", pmath::expm1, [](double x) { return std::expm1(x); }, -50.0, 50.0},
    {"expm1, near 0", pmath::expm1, [](double x) { return std::expm1(x); }, -0.6, 0.6},
};

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();
const double specials[] = {0.0,
                           -0.0,
                           1.0,
                           -1.0,
                           0.5,
                           -0.5,
                           1e-300,
                           4.9e-324,
                           1e-8,
                           0.975,
                           1.5707963267948966,
                           3.141592653589793,
                           1e6,
                           1e22,
                           709.0,
                           710.0,
                           -40.0,
                           inf,
                           -inf,
                           nan};

TEST(Pmath, UnaryFunctionsWithinAnUlpOfTheCLibrary) {
  std::mt19937_64 random(7);
  for (const Case& c : cases) {
    std::uniform_real_distribution<double> draw(c.low, c.high);
    std::int64_t worst = 0;
    double worst_at = 0.0;
    for (int i = 0; i < 200000; ++i) {
      const double x = draw(random);
      const std::int64_t d = ulps_apart(c.ours(x), c.library(x));
      if (d > worst) worst = d, worst_at = x;
    }
    for (double x : specials) {
      if (std::fabs(x) > 1.0 && (c.ours == pmath::asin || c.ours == pmath::acos)) {
        EXPECT_TRUE(std::isnan(c.ours(x))) << c.name << " of " << x;
        continue;
      }
      if (std::fabs(x) > 1.6e6 && (c.ours == pmath::sin || c.ours == pmath::cos)) continue;
      const std::int64_t d = ulps_apart(c.ours(x), c.library(x));
      if (d > worst) worst = d, worst_at = x;
    }
    EXPECT_LE(worst, 1) << c.name << " at " << worst_at;
  }
}

TEST(Pmath, BinaryFunctionsWithinAnUlpOfTheCLibrary) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> draw(-10.0, 10.0);
  for (int i = 0; i < 200000; ++i) {
    const double y = draw(random);
    // Some arguments far apart in size, for the tails of atan2 and the scaling of hypot.
    const double x = draw(random) * (i % 4 == 0 ? 1e-200 : i % 4 == 1 ? 1e200 : 1.0);
    ASSERT_LE(ulps_apart(pmath::atan2(y, x), std::atan2(y, x)), 1) << y << ", " << x;
    ASSERT_LE(ulps_apart(pmath::hypot(y, x), std::hypot(y, x)), 1) << y << ", " << x;
  }
  for (double y : specials) {
    for (double x : specials) {
      EXPECT_LE(ulps_apart(pmath::atan2(y, x), std::atan2(y, x)), 1) << y << ", " << x;
      EXPECT_LE(ulps_apart(pmath::hypot(y, x), std::hypot(y, x)), 1) << y << ", " << x;
    }
  }
  // Signs of zero and infinities as the C library has them.
  EXPECT_TRUE(std::signbit(pmath::atan2(-0.0, 1.0)));
  EXPECT_EQ(pmath::hypot(inf, nan), inf);
  EXPECT_EQ(pmath::expm1(-inf), -1.0);
}

// Bits pinned where this machine's C library rounds the other way; a build that rounds its
// arithmetic differently (x87 registers, fused multiply-adds) changes them.
TEST(Pmath, SameBitsInEveryBuild) {
  struct Pinned {
    double value, expected;
  };
  const Pinned pinned[] = {
      {pmath::sin(-1.9514038462184722), -0x1.db5c5f69b843dp-1},
      {pmath::cos(15.265905423254523), -0x1.cec878dcc05eep-1},
      {pmath::sin(905416.08707055263), 0x1.55f246aee2d66p-2},
      {pmath::asin(-0.81133650377750355), -0x1.e493190769148p-1},
      {pmath::acos(-0.15428193750983266), 0x1.b9c746e51fdep+0},
      {pmath::atan2(8.441319159689769, -0.3), 0x1.9b37d7c525cebp+0},
      {pmath::hypot(0.16000000000000003, 4.7), 0x1.2cf968471f824p+2},
      {pmath::expm1(6.6349000000000196), 0x1.7c19f9fe8e843p+9},
  };
  for (const Pinned& p : pinned) EXPECT_EQ(p.value, p.expected) << std::hexfloat << p.value;
}

}  // namespace
