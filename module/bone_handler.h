// The per-bone handler "Tarsel": an instance without data that sets its bone's rotation from the
// entry the chain root's evaluation left in bone_results.
#pragma once

#include "sdk/lwhandler.h"
#include "sdk/lwmotion.h"

namespace tarsel {

// The one instance value every per-bone instance shares; nothing is allocated.
LWInstance bone_create(void* priv, void* context, LWError* error);
void bone_destroy(LWInstance inst);
LWError bone_copy(LWInstance to, LWInstance from);

// Blends the bone's stored solution with the rotation the host computed, by the stored weight.
// Leaves the rotation alone when the bone's own chain has no goal or the bone has no entry.
void bone_evaluate(LWInstance inst, const LWItemMotionAccess* access);

}  // namespace tarsel
