// Sine and cosine: the argument reduced by pi/2 in up to three steps (Cody and Waite, with pi/2
// split into 33-bit pieces), then a minimax polynomial on [-pi/4, pi/4].
#include <cmath>

#include "pmath/double_words.h"
#include "pmath/pmath.h"

namespace pmath {
namespace {

using detail::high_word;

constexpr double to_integer = 1.5 / 2.220446049250313080847e-16;  // adding and taking it rounds
constexpr double inv_pio2 = 6.36619772367581382433e-01;
constexpr double pio2_1 = 1.57079632673412561417e+00;   // first 33 bits of pi/2
constexpr double pio2_1t = 6.07710050650619224932e-11;  // pi/2 - pio2_1
constexpr double pio2_2 = 6.07710050630396597660e-11;   // second 33 bits
constexpr double pio2_2t = 2.02226624879595063154e-21;
constexpr double pio2_3 = 2.02226624871116645580e-21;  // third 33 bits
constexpr double pio2_3t = 8.47842766036889956997e-32;
constexpr double two_pi = 6.28318530717958647692e+00;

// Up to here the three-step reduction is exact enough for every double (2^20 pi/2).
constexpr std::uint32_t medium_limit = 0x413921fb;

// x = n pi/2 + y0 + y1 with |y0 + y1| <= pi/4 and y1 the tail of y0; returns n.
int reduce(double x, double& y0, double& y1) {
  if ((high_word(x) & 0x7fffffff) >= medium_limit) {
    // Beyond about 1.6 million radians: reduced by the double nearest 2 pi, exactly (fmod is exact
    // in every C library), then as below. Repeatable, though no longer accurate to the last bit.
    x = std::fmod(x, two_pi);
  }
  const int exponent = static_cast<int>((high_word(x) >> 20) & 0x7ff);
  const double fn = x * inv_pio2 + to_integer - to_integer;
  const int n = static_cast<int>(fn);
  double r = x - fn * pio2_1;
  double w = fn * pio2_1t;  // good to 85 bits
  y0 = r - w;
  if (exponent - static_cast<int>((high_word(y0) >> 20) & 0x7ff) > 16) {
    // Cancellation: a second step, good to 118 bits.
    double t = r;
    w = fn * pio2_2;
    r = t - w;
    w = fn * pio2_2t - ((t - r) - w);
    y0 = r - w;
    if (exponent - static_cast<int>((high_word(y0) >> 20) & 0x7ff) > 49) {
      // And a third, good to 151 bits, which covers every double.
      t = r;
      w = fn * pio2_3;
      r = t - w;
      w = fn * pio2_3t - ((t - r) - w);
      y0 = r - w;
    }
  }
  y1 = (r - y0) - w;
  return n;
}

// sin(x + y) on [-pi/4, pi/4], y the tail of x (ignored when has_tail is false).
double sin_kernel(double x, double y, bool has_tail) {
  constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                   S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                   S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
  const double z = x * x;
  const double w = z * z;
  const double r = S2 + z * (S3 + z * S4) + z * w * (S5 + z * S6);
  const double v = z * x;
  if (!has_tail) return x + v * (S1 + z * r);
  return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

// cos(x + y) on [-pi/4, pi/4], y the tail of x.
double cos_kernel(double x, double y) {
  constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                   C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                   C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
  const double z = x * x;
  double w = z * z;
  const double r = z * (C1 + z * (C2 + z * C3)) + w * w * (C4 + z * (C5 + z * C6));
  const double hz = 0.5 * z;
  w = 1.0 - hz;
  return w + (((1.0 - w) - hz) + (z * r - x * y));
}

}  // namespace

double sin(double x) {
  const std::uint32_t ix = high_word(x) & 0x7fffffff;
  if (ix <= 0x3fe921fb) {           // |x| <= pi/4
    if (ix < 0x3e500000) return x;  // |x| < 2^-26: sin x rounds to x
    return sin_kernel(x, 0.0, false);
  }
  if (ix >= 0x7ff00000) return x - x;  // infinite or NaN
  double y0, y1;
  switch (reduce(x, y0, y1) & 3) {
    case 0:
      return sin_kernel(y0, y1, true);
    case 1:
      return cos_kernel(y0, y1);
    case 2:
      return -sin_kernel(y0, y1, true);
    default:
      return -cos_kernel(y0, y1);
  }
}

double cos(double x) {
  const std::uint32_t ix = high_word(x) & 0x7fffffff;
  if (ix <= 0x3fe921fb) {
    if (ix < 0x3e46a09e) return 1.0;  // |x| < 2^-27 sqrt 2: cos x rounds to 1
    return cos_kernel(x, 0.0);
  }
  if (ix >= 0x7ff00000) return x - x;
  double y0, y1;
  switch (reduce(x, y0, y1) & 3) {
    case 0:
      return cos_kernel(y0, y1);
    case 1:
      return -sin_kernel(y0, y1, true);
    case 2:
      return -cos_kernel(y0, y1);
    default:
      return sin_kernel(y0, y1, true);
  }
}

}  // namespace pmath
