// The options panel of a chain-root instance: a view panel bound to the instance's UserData.
// Five pop-ups choose scene items, three check boxes set the switches and one number field sets
// the posture weight; every change goes straight into the record and is announced to the host.
#pragma once

#include <vector>

#include "sdk/lwmodule.h"
#include "sdk/lwxpanel.h"

namespace tarsel {

// Control and value ids, in panel order.
constexpr unsigned long id_twist = 0x8001;
constexpr unsigned long id_twist_target = 0x8002;
constexpr unsigned long id_twist_effect = 0x8003;
constexpr unsigned long id_goal_position = 0x8004;
constexpr unsigned long id_plugin_effect = 0x8005;
constexpr unsigned long id_mix_with_fk = 0x8006;
constexpr unsigned long id_excess_stretch = 0x8007;
constexpr unsigned long id_posture_weight = 0x8008;
constexpr unsigned long id_arbitrary_limit = 0x8009;
constexpr unsigned long id_soft_reach = 0x800A;
constexpr unsigned long id_max_stretch = 0x800B;

// "ItemMotionInterface" "Tarsel_Top": acquires the panel and instance-update services and builds
// the panel for the LWInterface record's instance.
int interface_activate(int version, GlobalFunc* global, void* local, void* server_data);

// Builds the panel for an instance; null when the panel service could not make one.
LWXPanelID create_panel(void* inst);

// The items every pop-up lists after its "none" entry: objects, cameras, lights, then the bones of
// each object in object order. Built anew from the scene at every call.
std::vector<LWItemID> item_list();

// Pop-up callbacks shared by the five item pop-ups.
int popup_count(void* userdata);
const char* popup_name(void* userdata, int index);

// Value access for the panel; see the ids above.
void* panel_get(void* inst, unsigned long vid);
LWXRefreshCode panel_set(void* inst, unsigned long vid, void* value);

}  // namespace tarsel
