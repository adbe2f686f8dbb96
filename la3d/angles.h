#pragma once
// Scalar angle helpers shared by every rotation routine. Angles are radians; degrees appear only
// through deg2rad and rad2deg.

#include <cmath>

#include "pmath/pmath.h"

namespace vk_3dla {

constexpr double pi = 3.141592653589793;
constexpr double two_pi = 6.283185307179586;

inline double deg2rad(double x) { return x * 0.017453292519943295; }
inline double rad2deg(double x) { return x * 57.29577951308232; }

// Arc sine and cosine that never see an argument rounded past +-1.
inline double asin_clamped(double x) {
  if (x <= -1.0) return pmath::asin(-1.0);
  if (x >= 1.0) return pmath::asin(1.0);
  return pmath::asin(x);
}
inline double acos_clamped(double x) {
  if (x <= -1.0) return pmath::acos(-1.0);
  if (x >= 1.0) return pmath::acos(1.0);
  return pmath::acos(x);
}

// atan2 folded into [0, 2*pi).
inline double atan2_positive(double y, double x) {
  double a = pmath::atan2(y, x);
  if (a < 0.0) a += two_pi;
  return a;
}

// a - b brought into [-pi, pi] by one turn at most.
inline double angle_diff(double a, double b) {
  double d = a - b;
  if (d > pi) return d - two_pi;
  if (d < -pi) return d + two_pi;
  return d;
}

inline double sqrt_clamped(double x) { return x < 0.0 ? 0.0 : std::sqrt(x); }

// The value of angle a (modulo a full turn) that lies within half a turn of ref.
inline double angle_near(double a, double ref) {
  double r = (ref - std::fmod(ref, two_pi)) + std::fmod(a, two_pi);
  double d = r - ref;
  if (d > pi) return r - two_pi;
  if (d < -pi) return r + two_pi;
  return r;
}

}  // namespace vk_3dla
