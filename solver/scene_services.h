// The two host services the solver reads the scene through. The module's activations write them
// with whatever the host's global lookup returns; the solver only reads them.
#pragma once

#include "sdk/lwrender.h"

namespace tarsel {

// "LW Item Info 3": hierarchy, goals, names, channels, limits and servers of items.
extern const LWItemInfo* item_info;

// "LW Bone Info 3": rest rotations and rest lengths of bones.
extern const LWBoneInfo* bone_info;

}  // namespace tarsel
