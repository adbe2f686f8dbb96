// hypot: both squares formed exactly as head plus tail (Dekker's split), summed smallest first,
// and one square root, after scaling so that no square overflows or underflows.
#include <cmath>
#include <utility>

#include "pmath/double_words.h"
#include "pmath/pmath.h"

namespace pmath {
namespace {

// x * x = hi + lo exactly (to the rounding of lo).
void square(double x, double& hi, double& lo) {
  constexpr double split = 134217729.0;  // 2^27 + 1
  const double xc = x * split;
  const double xh = x - xc + xc;
  const double xl = x - xh;
  hi = x * x;
  lo = xh * xh - hi + 2.0 * xh * xl + xl * xl;
}

std::uint64_t bits(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

}  // namespace

double hypot(double x, double y) {
  x = std::fabs(x);
  y = std::fabs(y);
  if (bits(x) < bits(y)) std::swap(x, y);  // |x| >= |y|, NaNs ordered above infinities
  const int ex = static_cast<int>(bits(x) >> 52);
  const int ey = static_cast<int>(bits(y) >> 52);
  if (ey == 0x7ff) return y;              // y (and so x) infinite or NaN
  if (ex == 0x7ff || y == 0.0) return x;  // hypot(inf, nan) is inf
  if (ex - ey > 64) return x + y;         // y below x's last bit
  double scale = 1.0;
  if (ex > 0x3ff + 510) {
    scale = 0x1p700;
    x *= 0x1p-700;
    y *= 0x1p-700;
  } else if (ey < 0x3ff - 450) {
    scale = 0x1p-700;
    x *= 0x1p700;
    y *= 0x1p700;
  }
  double hx, lx, hy, ly;
  square(x, hx, lx);
  square(y, hy, ly);
  return scale * std::sqrt(ly + lx + hy + hx);
}

}  // namespace pmath
