// Activation of the two motion handler servers, and the callbacks both handler classes share.
#pragma once

#include "sdk/lwmodule.h"
#include "sdk/lwmotion.h"

namespace tarsel {

// "ItemMotionHandler" "Tarsel_Top": the chain-root handler.
int root_handler_activate(int version, GlobalFunc* global, void* local, void* server_data);
// "ItemMotionHandler" "Tarsel": the per-bone handler.
int bone_handler_activate(int version, GlobalFunc* global, void* local, void* server_data);

// Both handlers run after the host's own IK.
unsigned int handler_flags(LWInstance inst);

// Describe lines: each writes its class's text into its own static buffer and returns it; the
// buffer is rewritten on every call.
const char* root_descln(LWInstance inst);
const char* bone_descln(LWInstance inst);

}  // namespace tarsel
