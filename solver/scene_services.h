// The two host services the solver reads the scene through. The module's activations write them
// with whatever the host's global lookup returns; the solver only reads them.
#pragma once

#include "la3d/vec3.h"
#include "sdk/lwrender.h"

namespace tarsel {

// "LW Item Info 3": hierarchy, goals, names, channels, limits and servers of items.
extern const LWItemInfo* item_info;

// "LW Bone Info 3": rest rotations and rest lengths of bones.
extern const LWBoneInfo* bone_info;

// One of an item's channels at `time`, as the host evaluates it.
inline vk_3dla::vec3 item_param(LWItemID item, LWItemParam param, LWTime time) {
  LWDVector out = {0.0, 0.0, 0.0};
  item_info->param(item, param, time, out);
  return vk_3dla::vec3(out);
}

}  // namespace tarsel
