#include "solver/scene_services.h"

namespace tarsel {

const LWItemInfo* item_info = nullptr;
const LWBoneInfo* bone_info = nullptr;

}  // namespace tarsel
