// Inverse sine, cosine and tangent. asin and acos use a rational approximation of
// (asin x - x) / x^3 on [0, 0.5] and, nearer 1, asin x = pi/2 - 2 asin sqrt((1 - x) / 2); atan
// reduces its argument against atan 0.5, 1, 1.5 and infinity and takes a polynomial.
#include <cmath>
#include <limits>

#include "pmath/double_words.h"
#include "pmath/pmath.h"

namespace pmath {
namespace {

using detail::clear_low_word;
using detail::high_word;
using detail::low_word;

constexpr double pi = 3.1415926535897931160e+00;
constexpr double pi_lo = 1.2246467991473531772e-16;
constexpr double pio2_hi = 1.57079632679489655800e+00;
constexpr double pio2_lo = 6.12323399573676603587e-17;

// (asin x - x) / x as a function of z = x^2.
double asin_ratio(double z) {
  constexpr double pS0 = 1.66666666666666657415e-01, pS1 = -3.25565818622400915405e-01,
                   pS2 = 2.01212532134862925881e-01, pS3 = -4.00555345006794114027e-02,
                   pS4 = 7.91534994289814532176e-04, pS5 = 3.47933107596021167570e-05,
                   qS1 = -2.40339491173441421878e+00, qS2 = 2.02094576023350569471e+00,
                   qS3 = -6.88283971605453293030e-01, qS4 = 7.70381505559019352791e-02;
  const double p = z * (pS0 + z * (pS1 + z * (pS2 + z * (pS3 + z * (pS4 + z * pS5)))));
  const double q = 1.0 + z * (qS1 + z * (qS2 + z * (qS3 + z * qS4)));
  return p / q;
}

bool is_one_in_magnitude(double x) {
  return (high_word(x) & 0x7fffffff) == 0x3ff00000 && low_word(x) == 0;
}

}  // namespace

double asin(double x) {
  const std::uint32_t hx = high_word(x);
  const std::uint32_t ix = hx & 0x7fffffff;
  if (ix >= 0x3ff00000) {  // |x| >= 1 or NaN
    if (is_one_in_magnitude(x)) return x * pio2_hi;
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (ix < 0x3fe00000) {            // |x| < 0.5
    if (ix < 0x3e500000) return x;  // |x| < 2^-26
    return x + x * asin_ratio(x * x);
  }
  const double z = (1.0 - std::fabs(x)) * 0.5;
  const double s = std::sqrt(z);
  const double r = asin_ratio(z);
  double a;
  if (ix >= 0x3fef3333) {  // |x| > 0.975
    a = pio2_hi - (2.0 * (s + s * r) - pio2_lo);
  } else {
    // f + c = sqrt z, f with a short mantissa so that f * f is exact.
    const double f = clear_low_word(s);
    const double c = (z - f * f) / (s + f);
    a = 0.5 * pio2_hi - (2.0 * s * r - (pio2_lo - 2.0 * c) - (0.5 * pio2_hi - 2.0 * f));
  }
  return (hx >> 31) ? -a : a;
}

double acos(double x) {
  const std::uint32_t hx = high_word(x);
  const std::uint32_t ix = hx & 0x7fffffff;
  if (ix >= 0x3ff00000) {
    if (is_one_in_magnitude(x)) return (hx >> 31) ? 2.0 * pio2_hi : 0.0;
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (ix < 0x3fe00000) {                   // |x| < 0.5
    if (ix <= 0x3c600000) return pio2_hi;  // |x| < 2^-57
    return pio2_hi - (x - (pio2_lo - x * asin_ratio(x * x)));
  }
  if (hx >> 31) {  // x < -0.5
    const double z = (1.0 + x) * 0.5;
    const double s = std::sqrt(z);
    const double w = asin_ratio(z) * s - pio2_lo;
    return 2.0 * (pio2_hi - (s + w));
  }
  const double z = (1.0 - x) * 0.5;  // x > 0.5
  const double s = std::sqrt(z);
  const double df = clear_low_word(s);
  const double c = (z - df * df) / (s + df);
  const double w = asin_ratio(z) * s + c;
  return 2.0 * (df + w);
}

double atan(double x) {
  constexpr double atan_hi[] = {4.63647609000806093515e-01, 7.85398163397448278999e-01,
                                9.82793723247329054082e-01, 1.57079632679489655800e+00};
  constexpr double atan_lo[] = {2.26987774529616870924e-17, 3.06161699786838301793e-17,
                                1.39033110312309984516e-17, 6.12323399573676603587e-17};
  constexpr double aT[] = {
      3.33333333333329318027e-01,  -1.99999999998764832476e-01, 1.42857142725034663711e-01,
      -1.11111104054623557880e-01, 9.09088713343650656196e-02,  -7.69187620504482999495e-02,
      6.66107313738753120669e-02,  -5.83357013379057348645e-02, 4.97687799461593236017e-02,
      -3.65315727442169155270e-02, 1.62858201153657823623e-02};
  const std::uint32_t hx = high_word(x);
  const bool negative = (hx >> 31) != 0;
  const std::uint32_t ix = hx & 0x7fffffff;
  if (ix >= 0x44100000) {  // |x| >= 2^66
    if (std::isnan(x)) return x;
    return negative ? -atan_hi[3] : atan_hi[3];
  }
  int id = -1;            // which of atan 0.5, 1, 1.5, infinity the argument is reduced against
  if (ix < 0x3fdc0000) {  // |x| < 0.4375
    if (ix < 0x3e400000) return x;  // |x| < 2^-27
  } else {
    x = std::fabs(x);
    if (ix < 0x3ff30000) {    // |x| < 1.1875
      if (ix < 0x3fe60000) {  // 7/16 <= |x| < 11/16
        id = 0;
        x = (2.0 * x - 1.0) / (2.0 + x);
      } else {  // 11/16 <= |x| < 19/16
        id = 1;
        x = (x - 1.0) / (x + 1.0);
      }
    } else if (ix < 0x40038000) {  // |x| < 2.4375
      id = 2;
      x = (x - 1.5) / (1.0 + 1.5 * x);
    } else {  // 2.4375 <= |x| < 2^66
      id = 3;
      x = -1.0 / x;
    }
  }
  const double z = x * x;
  const double w = z * z;
  // The odd and even halves of the series in z, summed apart for accuracy.
  const double s1 =
      z * (aT[0] + w * (aT[2] + w * (aT[4] + w * (aT[6] + w * (aT[8] + w * aT[10])))));
  const double s2 = w * (aT[1] + w * (aT[3] + w * (aT[5] + w * (aT[7] + w * aT[9]))));
  if (id < 0) return x - x * (s1 + s2);
  const double a = atan_hi[id] - (x * (s1 + s2) - atan_lo[id] - x);
  return negative ? -a : a;
}

double atan2(double y, double x) {
  if (std::isnan(x) || std::isnan(y)) return x + y;
  if (x == 1.0) return atan(y);
  // quadrant: bit 0 the sign of y, bit 1 the sign of x.
  const int m = static_cast<int>((high_word(y) >> 31) | ((high_word(x) >> 30) & 2));
  const std::uint32_t ix = high_word(x) & 0x7fffffff;
  const std::uint32_t iy = high_word(y) & 0x7fffffff;
  if (y == 0.0) {
    switch (m) {
      case 0:
      case 1:
        return y;  // atan2(+-0, +anything) = +-0
      case 2:
        return pi;
      default:
        return -pi;
    }
  }
  if (x == 0.0) return (m & 1) ? -pio2_hi : pio2_hi;
  if (std::isinf(x)) {
    if (std::isinf(y)) {
      switch (m) {
        case 0:
          return 0.25 * pi;
        case 1:
          return -0.25 * pi;
        case 2:
          return 0.75 * pi;
        default:
          return -0.75 * pi;
      }
    }
    switch (m) {
      case 0:
        return 0.0;
      case 1:
        return -0.0;
      case 2:
        return pi;
      default:
        return -pi;
    }
  }
  if (ix + (64u << 20) < iy || std::isinf(y)) return (m & 1) ? -pio2_hi : pio2_hi;  // |y/x| > 2^64
  double z;
  if ((m & 2) && iy + (64u << 20) < ix)
    z = 0.0;  // |y/x| < 2^-64 with x < 0
  else
    z = atan(std::fabs(y / x));
  switch (m) {
    case 0:
      return z;
    case 1:
      return -z;
    case 2:
      return pi - (z - pi_lo);
    default:
      return (z - pi_lo) - pi;
  }
}

}  // namespace pmath
