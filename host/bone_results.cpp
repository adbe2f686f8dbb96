#include "host/bone_results.h"

namespace tarsel {

BoneResults bone_results;

}  // namespace tarsel
