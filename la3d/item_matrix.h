#pragma once
// An item's local transform built from the host's channels, and its decomposition.

#include "la3d/hpb.h"
#include "la3d/m33.h"
#include "la3d/m44.h"
#include "la3d/vec3.h"

namespace vk_3dla {

// Linear part diag(scale) * m33_from_hpb(h) * m33_from_hpb(h2), translation position - pivot.
inline m44 item_matrix(const vec3& scale, const vec3& h, const vec3& position, const vec3& h2,
                       const vec3& pivot) {
  return m44(diag(scale) * m33_from_hpb(h) * m33_from_hpb(h2), position - pivot);
}

// Row scale and angles (relative to h) of T's linear part, and its translation.
inline void decompose(const m44& T, const vec3& h, vec3& scale, vec3& hpb, vec3& translation) {
  hpb_relative(m33(T), h, scale, hpb);
  translation = vec3(T.m[3][0], T.m[3][1], T.m[3][2]);
}

}  // namespace vk_3dla
