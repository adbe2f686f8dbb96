#pragma once
// Heading/pitch/bank triples (x = heading about Y, y = pitch about X, z = bank about Z, radians),
// the host's rotation form, and their conversion to and from rotation matrices.

#include <cmath>

#include "la3d/angles.h"
#include "la3d/m33.h"
#include "la3d/vec3.h"
#include "pmath/pmath.h"

namespace vk_3dla {

// The cosine and sine of an angle. Most rotation channels hold exact zeros, whose cosine and sine
// are exactly 1 and the angle itself (signed zero kept): those skip the library's calls.
inline void cos_sin(double a, double& c, double& s) {
  if (a == 0.0) {
    c = 1.0;
    s = a;
    return;
  }
  c = pmath::cos(a);
  s = pmath::sin(a);
}

// rot_z(bank) * rot_x(pitch) * rot_y(heading): a row vector is banked, pitched, then headed.
inline m33 m33_from_hpb(const vec3& h) {
  double cH, sH, cP, sP, cB, sB;
  cos_sin(h.x, cH, sH);
  cos_sin(h.y, cP, sP);
  cos_sin(h.z, cB, sB);
  return m33(cB * cH + sB * sP * sH, sB * cP, sB * sP * cH - cB * sH,  //
             cB * sP * sH - sB * cH, cB * cP, sB * sH + cB * sP * cH,  //
             cP * sH, -sP, cP * cH);
}

// Angles of the rotation part of M (its rows are orthonormalised first). Near the pole
// (|pitch| within about 1.4e-3 rad of pi/2) the whole turn about the vertical goes to heading.
inline vec3 hpb_from_m33(const m33& M) {
  m33 R = orthonormalize(M);
  double s = -R.m[2][1];
  if (s < -1.0) s = -1.0;
  if (s > 1.0) s = 1.0;
  double P = pmath::asin(s);
  if (std::fabs(std::fabs(s) - 1.0) < 1e-6) {
    // Within the pole band a heading-only answer with bank 0 is exact only on the pole itself;
    // off it, it would also fold a pitch past the pole back before it (a joint bent 90.05
    // degrees would come out bent 89.95). So off the pole the heading is read from row 2 as
    // elsewhere, the pitch from its well-conditioned atan2 form, and the bank from rows 0 and 1
    // given that heading, which reproduces the matrix however poorly the heading is defined.
    const double c = pmath::hypot(R.m[2][0], R.m[2][2]);
    if (c < 1e-12) return vec3(pmath::atan2(-R.m[0][2], R.m[0][0]), P, 0.0);
    const double H = pmath::atan2(R.m[2][0], R.m[2][2]);
    const double ch = pmath::cos(H), sh = pmath::sin(H);
    return vec3(H, pmath::atan2(s, c),
                pmath::atan2(R.m[1][2] * sh - R.m[1][0] * ch, R.m[0][0] * ch - R.m[0][2] * sh));
  }
  return vec3(pmath::atan2(R.m[2][0], R.m[2][2]), P, pmath::atan2(R.m[0][1], R.m[1][1]));
}

inline m33 hpb_product(const vec3& a, const vec3& b) { return m33_from_hpb(a) * m33_from_hpb(b); }

// Angles of M relative to the rotation h: M * transposed(m33_from_hpb(h)).
inline vec3 hpb_relative(const m33& M, const vec3& h) {
  return hpb_from_m33(M * transposed(m33_from_hpb(h)));
}
// As above after removing the row scale of M, which goes to scale.
inline void hpb_relative(const m33& M, const vec3& h, vec3& scale, vec3& out) {
  m33 R = orthonormalize(M, scale);
  out = hpb_from_m33(R * transposed(m33_from_hpb(h)));
}

// The other triple that gives the same rotation.
inline vec3 hpb_equivalent(const vec3& h) {
  return vec3(h.x + (h.x < 0.0 ? pi : -pi), (h.y < 0.0 ? -pi : pi) - h.y,
              h.z + (h.z < 0.0 ? pi : -pi));
}

// Of h and its equivalent, each angle moved near ref, the one closer to ref (ties keep h).
vec3 hpb_near(const vec3& h, const vec3& ref);

}  // namespace vk_3dla
