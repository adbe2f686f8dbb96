// The table that carries the solved rotations of the bones from the chain root's evaluation to
// the per-bone handlers. The root's evaluation inserts or overwrites one entry per bone of its
// chain; nothing removes entries while the module is loaded, so a bone keeps the entry of the
// last root evaluation that included it. Lives from module load to unload.
#pragma once

#include <map>

#include "sdk/lwtypes.h"
#include "solver/records.h"

namespace tarsel {

using BoneResults = std::map<LWItemID, Result>;

extern BoneResults bone_results;

}  // namespace tarsel
