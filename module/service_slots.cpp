#include "module/service_slots.h"

namespace tarsel {

const LWXPanelFuncs* panel_service = nullptr;
LWInstUpdate* instance_update = nullptr;

}  // namespace tarsel
