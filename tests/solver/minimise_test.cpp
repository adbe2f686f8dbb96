#include "solver/minimise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace {

// A Func around a lambda that counts its evaluations.
struct Fn : Func {
  explicit Fn(std::function<double(double)> g) : g(std::move(g)) {}
  double operator()(double x) override {
    ++calls;
    return g(x);
  }
  std::function<double(double)> g;
  int calls = 0;
};

TEST(GoldenSearch, FindsParabolaMinimumWithinAFewTolerances) {
  Fn f([](double x) { return (x - 1.0) * (x - 1.0); });
  double x = 0.0;
  double v = golden_search(&x, f, 0.0, 0.5, 3.0, angle_tolerance);
  EXPECT_NEAR(x, 1.0, 5.0 * angle_tolerance);
  EXPECT_DOUBLE_EQ(v, (x - 1.0) * (x - 1.0));
}

TEST(GoldenSearch, TieAtTheEndReportsTheSecondInnerPoint) {
  // A flat function: every comparison ties, so the loop always takes the "otherwise" branch and the
  // final tie goes to x2.
  Fn f([](double) { return 2.0; });
  double x;
  double v = golden_search(&x, f, 0.0, 1.0, 2.0, 0.5);
  EXPECT_EQ(v, 2.0);
  // Replay the iteration to know x2.
  double x0 = 0.0, x3 = 2.0, x1, x2;
  x2 = 1.0;
  x1 = 1.0 - golden_c * 1.0;
  while (std::fabs(x1 - x2) > 0.5) {
    x3 = x2;
    x2 = x1;
    x1 = x0 + golden_r * (x2 - x0);
  }
  EXPECT_EQ(x, x2);
  (void)x3;
}

TEST(GoldenSearch, ZeroNegativeAndNaNTolerancesStillEnd) {
  struct Case {
    const char* name;
    double tol;
  } cases[] = {{"zero", 0.0}, {"negative", -1.0}, {"nan", std::nan("")}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fn f([](double x) { return (x - 1.0) * (x - 1.0); });
    double x = -5.0;
    golden_search(&x, f, 0.0, 0.5, 3.0, c.tol);
    EXPECT_LE(f.calls, 2 + golden_iteration_limit);
    if (!std::isnan(c.tol)) {
      EXPECT_NEAR(x, 1.0, 1e-6);
    }
  }
}

TEST(BracketMinimum, WalksPastAxWhenBxIsHigher) {
  // f rises from ax = 0 towards bx = 1: the walk turns round and goes past 0 towards -3.
  Fn f([](double x) { return (x + 3.0) * (x + 3.0); });
  vk_3dla::vec3 xs, fs;
  bracket_minimum(0.0, 1.0, f, &xs, &fs);
  double lo = std::min(xs.x, xs.z), hi = std::max(xs.x, xs.z);
  EXPECT_LT(lo, -3.0);
  EXPECT_GT(hi, -3.0);
  EXPECT_LT(xs.y, 0.0);
  EXPECT_LE(fs.y, fs.x);
  EXPECT_LE(fs.y, fs.z);
}

TEST(BracketMinimum, EndsOnValuesThatKeepFallingAtNaNAbscissae) {
  // Values that fall with every call whatever the abscissa: without a bound the walk never ends.
  double next = 0.0;
  Fn f([&](double) { return next -= 1.0; });
  vk_3dla::vec3 xs, fs;
  bracket_minimum(std::nan(""), std::nan(""), f, &xs, &fs);
  EXPECT_LE(f.calls, 4 + 2 * bracket_iteration_limit);
}

TEST(FindMinimum, ConstantFunctionKeepsTheFirstStartPoint) {
  Fn f([](double) { return 7.5; });
  double x = 0.0;
  double v = find_minimum(&x, f, 0.25, 1.25, angle_tolerance);
  EXPECT_EQ(v, 7.5);
  EXPECT_EQ(x, 0.25);
}

TEST(FindMinimum, FindsMinimumOutsideTheStartInterval) {
  Fn f([](double x) { return std::cos(x); });
  double x = 0.0;
  double v = find_minimum(&x, f, 2.0, 2.0 + vk_3dla::deg2rad(1.0), angle_tolerance);
  EXPECT_NEAR(x, vk_3dla::pi, 5.0 * angle_tolerance);
  EXPECT_NEAR(v, -1.0, 1e-8);
}

TEST(StepSearch, RisingBothWaysReturnsStartAfterHalvingToTolerance) {
  Fn f([](double x) { return std::fabs(x - 0.3); });
  for (double step : {0.1, -0.1}) {
    SCOPED_TRACE(step);
    f.calls = 0;
    double x = -1.0;
    double v = step_search(&x, f, step, 0.3, 1e-3);
    EXPECT_EQ(x, 0.3);
    EXPECT_EQ(v, 0.0);
    // 0.1 halves to <= 1e-3 after 7 halvings: 1 + 8 evaluations.
    EXPECT_EQ(f.calls, 9);
  }
}

TEST(StepSearch, EndlessDescentStopsAfterThousandStepsAtTheLastPoint) {
  Fn f([](double x) { return -x; });
  double x = 0.0;
  double v = step_search(&x, f, 0.5, 0.0, 1e-6);
  EXPECT_DOUBLE_EQ(x, 500.0);
  EXPECT_DOUBLE_EQ(v, -500.0);
  EXPECT_EQ(f.calls, 1001);
}

TEST(StepSearch, NeverReversesDirection) {
  // The minimum lies behind the start: a positive step only shrinks and returns the start.
  Fn f([](double x) { return (x + 1.0) * (x + 1.0); });
  double x = 9.0;
  double v = step_search(&x, f, 0.25, 0.0, 1e-4);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(v, 1.0);
}

TEST(StepSearch, BracketsAndRefinesTheMinimumAhead) {
  Fn f([](double x) { return (x - 1.3) * (x - 1.3); });
  double x = 0.0;
  step_search(&x, f, 0.5, 0.0, 1e-6);
  EXPECT_NEAR(x, 1.3, 1e-5);
}

TEST(StepSearch, NegativeToleranceIsBoundedByTheStepCount) {
  Fn f([](double x) { return x * x; });
  double x = 5.0;
  step_search(&x, f, 0.5, 0.0, -1.0);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(f.calls, 1001);
}

}  // namespace

namespace {

TEST(ClearlyBelow, IgnoresDifferencesOfRounding) {
  const double big = std::numeric_limits<double>::max();
  struct Case {
    double a, b;
    bool below;
  } cases[] = {
      {1.0, 2.0, true},
      {2.0, 1.0, false},
      {3.2933454050977184, 3.2933454050977189, false},  // one rounding step apart
      {3.2933454050977189, 3.2933454050977184, false},
      {1.0, 1.0 + 1e-9, true},
      {0.0, 0.0, false},
      {0.0, 1e-300, true},
      {-1.0, -1.0 + 1e-15, false},
      {1.0, big, true},  // a first candidate against the "nothing yet" value
      {big, big, false},
      {std::nan(""), 1.0, false},
      {1.0, std::nan(""), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.a) + " vs " + std::to_string(c.b));
    EXPECT_EQ(clearly_below(c.a, c.b), c.below);
  }
}

}  // namespace
