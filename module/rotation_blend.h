// Blending the host's rotation with a solved one by the effect weight, shared by the chain root's
// evaluation and the per-bone handlers.
#pragma once

#include "la3d/vk_3dla.h"

namespace tarsel {

// The rotation a fraction w of the way along the shorter arc from `from` to `to`.
inline vk_3dla::m33 blend_rotation(const vk_3dla::m33& from, const vk_3dla::m33& to, double w) {
  return vk_3dla::m33_from_quat(
      vk_3dla::slerp(vk_3dla::quat_from_m33(from), vk_3dla::quat_from_m33(to), w));
}

}  // namespace tarsel
