// The four host services the module keeps for the whole time it is loaded. The handler and
// interface activations write them with whatever the host's global lookup returns; everything
// else only reads them. They are never released or cleared. The item-info and bone-info slots
// belong to the solver, which reads the scene through them.
#pragma once

#include "sdk/lwhandler.h"
#include "sdk/lwrender.h"
#include "sdk/lwxpanel.h"
#include "solver/scene_services.h"

namespace tarsel {

// "LWXPanel": builds the options panel. Written by the interface activation.
extern const LWXPanelFuncs* panel_service;

// "Instance Update": tells the host that the panel changed an instance. Written by the interface
// activation; may stay null, in which case changes are stored without notifying the host.
extern LWInstUpdate* instance_update;

}  // namespace tarsel
