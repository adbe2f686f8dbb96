#include "solver/sample_count.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(SampleCount, IntegerPartCappedAndZeroForUnusableSpans) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double span, spacing;
    int expected;
  } cases[] = {
      {0.0, 0.1, 0},
      {0.05, 0.1, 0},
      {0.3, 0.1, 2},
      {2.0, 0.5, 4},
      {-1.0, 0.1, 0},
      {std::nan(""), 0.1, 0},
      {1.0, 0.0, sample_count_limit},
      {inf, 0.1, sample_count_limit},
      {1e300, 1e-10, sample_count_limit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.span) + " / " + std::to_string(c.spacing));
    EXPECT_EQ(sample_count(c.span, c.spacing), c.expected);
  }
}

}  // namespace
