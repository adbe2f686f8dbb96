// The four host services the module keeps for the whole time it is loaded. The handler and
// interface activations write them with whatever the host's global lookup returns; everything
// else only reads them. They are never released or cleared.
#pragma once

#include "sdk/lwhandler.h"
#include "sdk/lwrender.h"
#include "sdk/lwxpanel.h"

namespace tarsel {

// "LW Item Info 3": hierarchy, goals, names, channels, limits and servers of items.
// Written by both handler activations.
extern const LWItemInfo* item_info;

// "LW Bone Info 3": rest rotations and rest lengths of bones. Written by both handler activations.
extern const LWBoneInfo* bone_info;

// "LWXPanel": builds the options panel. Written by the interface activation.
extern const LWXPanelFuncs* panel_service;

// "Instance Update": tells the host that the panel changed an instance. Written by the interface
// activation; may stay null, in which case changes are stored without notifying the host.
extern LWInstUpdate* instance_update;

}  // namespace tarsel
