// The chain root's evaluation: the driver of every solve.
#pragma once

#include "sdk/lwmotion.h"
#include "sdk/lwtypes.h"

namespace tarsel {

// "Tarsel_Top" evaluate, called by the host each time it evaluates the chain root. Reads the
// effect weight, gathers the chain and its goal, solves it, leaves every bone's solved rotation
// and weight in bone_results (before the root's rotation is set) and sets the root's rotation,
// blended with the host's by the weight. `inst` is the instance's UserData.
void root_evaluate(LWInstance inst, const LWItemMotionAccess* access);

}  // namespace tarsel
