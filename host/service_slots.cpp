#include "host/service_slots.h"

namespace tarsel {

const LWItemInfo* item_info = nullptr;
const LWBoneInfo* bone_info = nullptr;
const LWXPanelFuncs* panel_service = nullptr;
LWInstUpdate* instance_update = nullptr;

}  // namespace tarsel
