#pragma once
// Rotations between directions and interpolation of unit directions.

#include <cmath>

#include "la3d/angles.h"
#include "la3d/m33.h"
#include "la3d/vec3.h"
#include "pmath/pmath.h"

namespace vk_3dla {

// A (not normalised) vector perpendicular to v: (v.x + 1, v.y, v.z), or the y axis when v lies on
// the x axis, with its component along v removed. Near the x axis that removal cancels most of p,
// and the rounding left along v is removed by a second pass; when nothing but rounding noise is
// left the axis of v's smallest component is used instead, so the result stays perpendicular.
inline vec3 perpendicular(const vec3& v) {
  vec3 p = (v.y != 0.0 || v.z != 0.0) ? vec3(v.x + 1.0, v.y, v.z) : vec3(0.0, 1.0, 0.0);
  double n2 = abs2(v);
  if (n2 == 0.0) return p;
  vec3 r = p - v * (dot(v, p) / n2);
  if (abs2(r) > 1e-20 * abs2(p)) {
    if (abs2(r) < 1e-6 * abs2(p)) r -= v * (dot(v, r) / n2);
    return r;
  }
  double ax = std::fabs(v.x), ay = std::fabs(v.y), az = std::fabs(v.z);
  int k = (ay < ax) ? ((az < ay) ? 2 : 1) : ((az < ax) ? 2 : 0);
  vec3 e(0);
  e[k] = 1.0;
  return e - v * (v[k] / n2);
}

// The rotation turning the direction of a onto that of b: about cross(a, b), or a half turn
// about a perpendicular of a for opposite directions. Parallel or zero input gives the identity.
inline m33 rotation_between(const vec3& a, const vec3& b) {
  double len;
  vec3 n = normalized(cross(a, b), len);
  if (len == 0.0 && dot(a, b) < 0.0) return rot_axis(perpendicular(a), 0.0, -1.0);
  return rot_axis(n, acos_clamped(dot(normalized(a), normalized(b))));
}

// Axis times angle of the turn from a to b.
inline vec3 rotation_vector(const vec3& a, const vec3& b) {
  return normalized(cross(a, b)) * angle_between(a, b);
}

// Spherical interpolation of unit vectors (linear when they nearly coincide).
inline vec3 vslerp(const vec3& a, const vec3& b, double t) {
  double d = dot(a, b);
  if (1.0 - d < 1e-8) return a * (1.0 - t) + b * t;
  double th = acos_clamped(d);
  return (a * pmath::sin((1.0 - t) * th) + b * pmath::sin(t * th)) / pmath::sin(th);
}

}  // namespace vk_3dla
