// exp(x) - 1: x reduced to r = x - k ln 2 with |r| <= ln 2 / 2 (ln 2 in two pieces), a rational
// approximation of exp(r) - 1 and its rounding error carried, and 2^k put back.
#include <cmath>

#include "pmath/double_words.h"
#include "pmath/pmath.h"

namespace pmath {
namespace {

constexpr double overflow_threshold = 7.09782712893383973096e+02;
constexpr double ln2_hi = 6.93147180369123816490e-01;
constexpr double ln2_lo = 1.90821492927058770002e-10;
constexpr double inv_ln2 = 1.44269504088896338700e+00;

double power_of_two(int k) {  // 2^k for -1022 <= k <= 1023
  const std::uint64_t u = static_cast<std::uint64_t>(0x3ff + k) << 52;
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

}  // namespace

double expm1(double x) {
  constexpr double Q1 = -3.33333333333331316428e-02, Q2 = 1.58730158725481460165e-03,
                   Q3 = -7.93650757867487942473e-05, Q4 = 4.00821782732936239552e-06,
                   Q5 = -2.01099218183624371326e-07;
  const std::uint32_t hx = detail::high_word(x) & 0x7fffffff;
  const bool negative = (detail::high_word(x) >> 31) != 0;
  if (hx >= 0x4043687a) {  // |x| >= 56 ln 2
    if (std::isnan(x)) return x;
    if (negative) return -1.0;
    if (x > overflow_threshold) return x * 0x1p1023;  // infinity
  }
  int k = 0;
  double c = 0.0;         // the rounding error of the reduced x
  if (hx > 0x3fd62e42) {  // |x| > ln 2 / 2
    double hi, lo;
    if (hx < 0x3ff0a2b2) {  // and |x| < 3 ln 2 / 2
      hi = negative ? x + ln2_hi : x - ln2_hi;
      lo = negative ? -ln2_lo : ln2_lo;
      k = negative ? -1 : 1;
    } else {
      k = static_cast<int>(inv_ln2 * x + (negative ? -0.5 : 0.5));
      const double t = k;
      hi = x - t * ln2_hi;  // exact: t * ln2_hi has few bits
      lo = t * ln2_lo;
    }
    x = hi - lo;
    c = (hi - x) - lo;
  } else if (hx < 0x3c900000) {  // |x| < 2^-54
    return x;
  }
  const double hfx = 0.5 * x;
  const double hxs = x * hfx;
  const double r1 = 1.0 + hxs * (Q1 + hxs * (Q2 + hxs * (Q3 + hxs * (Q4 + hxs * Q5))));
  const double t = 3.0 - r1 * hfx;
  double e = hxs * ((r1 - t) / (6.0 - x * t));
  if (k == 0) return x - (x * e - hxs);
  e = x * (e - c) - c;
  e -= hxs;
  if (k == -1) return 0.5 * (x - e) - 0.5;
  if (k == 1) {
    if (x < -0.25) return -2.0 * (e - (x + 0.5));
    return 1.0 + 2.0 * (x - e);
  }
  if (k < 0 || k > 56) {  // exp(x) - 1 rounds to exp(x) or to -1
    double y = x - e + 1.0;
    y = k == 1024 ? y * 2.0 * 0x1p1023 : y * power_of_two(k);
    return y - 1.0;
  }
  const double two_k = power_of_two(k);
  if (k < 20) return (x - e + (1.0 - power_of_two(-k))) * two_k;
  return (x - (e + power_of_two(-k)) + 1.0) * two_k;
}

}  // namespace pmath
