#include "stage/services.h"

#include <cstring>

#include "stage/panel_model.h"
#include "stage/service_host.h"

namespace stage {

namespace {

thread_local Service_host* current_host = nullptr;

// Every answer goes to the current host; without one (a module calling from outside any host
// call) the services answer "nothing".
const Item* item_of(LWItemID id) { return current_host ? current_host->scene().find(id) : nullptr; }

// --- "LW Item Info 3" --------------------------------------------------------------------------

LWItemID item_first(LWItemType type, LWItemID owner) {
  return current_host ? current_host->scene().first(type, owner) : LWITEM_NULL;
}

LWItemID item_next(LWItemID item) {
  return current_host ? current_host->scene().next(item) : LWITEM_NULL;
}

LWItemID item_first_child(LWItemID parent) {
  return current_host ? current_host->scene().first_child(parent) : LWITEM_NULL;
}

LWItemID item_next_child(LWItemID parent, LWItemID previous) {
  return current_host ? current_host->scene().next_child(parent, previous) : LWITEM_NULL;
}

LWItemID item_parent(LWItemID id) {
  const Item* item = item_of(id);
  return item ? item->parent : LWITEM_NULL;
}

LWItemID item_goal(LWItemID id) {
  const Item* item = item_of(id);
  return item ? item->goal : LWITEM_NULL;
}

// Never null, so a module may measure or compare any name it gets.
const char* item_name(LWItemID id) {
  if (id == LWITEM_NULL) return "(none)";
  const Item* item = item_of(id);
  return item ? item->name.c_str() : "";
}

void item_param(LWItemID item, LWItemParam param, LWTime time, LWDVector out) {
  const Vec3 v = current_host ? current_host->param(item, param, time) : Vec3{};
  for (int i = 0; i < 3; ++i) out[i] = v[i];
}

unsigned int item_limits(LWItemID id, LWItemParam param, LWDVector min, LWDVector max) {
  const Item* item = item_of(id);
  const bool limited = item && param == LWIP_ROTATION;
  for (int i = 0; i < 3; ++i) {
    min[i] = limited ? item->limits.lower[i] : 0.0;
    max[i] = limited ? item->limits.upper[i] : 0.0;
  }
  return limited ? (item->limits.flags & 7u) : 0u;
}

const char* item_server(LWItemID id, const char* class_name, int index) {
  const Item* item = item_of(id);
  if (!item || !class_name || std::strcmp(class_name, LWITEMMOTION_HCLASS) != 0) return nullptr;
  if (index < 1 || static_cast<std::size_t>(index) > item->handlers.size()) return nullptr;
  return item->handlers[static_cast<std::size_t>(index) - 1].server.c_str();
}

LWItemInfo item_info = {item_first, item_next, item_first_child, item_next_child, item_parent,
                        item_goal,  item_name, item_param,       item_limits,     item_server};

// --- "LW Bone Info 3" --------------------------------------------------------------------------

void bone_rest_param(LWItemID id, LWItemParam param, LWDVector out) {
  const Item* item = item_of(id);
  Vec3 v{};
  if (item && item->type == Item_type::bone) {
    if (param == LWIP_POSITION) v = item->rest_position;
    if (param == LWIP_ROTATION) v = item->rest_rotation;
  }
  for (int i = 0; i < 3; ++i) out[i] = v[i];
}

double bone_rest_length(LWItemID id) {
  const Item* item = item_of(id);
  return item && item->type == Item_type::bone ? item->rest_length : 0.0;
}

LWBoneInfo bone_info = {bone_rest_param, bone_rest_length};

// --- "LWXPanel" --------------------------------------------------------------------------------

Panel* panel_of(LWXPanelID panel) {
  return current_host ? current_host->find_panel(panel) : nullptr;
}

LWXPanelID xpanel_create(int type, const LWXPanelControl* controls) {
  return current_host ? current_host->create_panel(type, controls) : nullptr;
}

void xpanel_destroy(LWXPanelID panel) {
  if (current_host) current_host->destroy_panel(panel);
}

void xpanel_describe(LWXPanelID panel, const LWXPanelDataDesc* data, LWXPanelGetFunc* get,
                     LWXPanelSetFunc* set) {
  if (Panel* p = panel_of(panel)) p->describe(data, get, set);
}

void xpanel_hint(LWXPanelID panel, unsigned long id, const LWXPanelHint* hints) {
  if (Panel* p = panel_of(panel)) p->hint(id, hints);
}

void xpanel_view_inst(LWXPanelID panel, void* inst) {
  if (Panel* p = panel_of(panel)) p->view_instance(inst);
}

void xpanel_set_data(LWXPanelID panel, unsigned long id, void* data) {
  if (Panel* p = panel_of(panel)) p->set_data(id, data);
}

LWXPanelFuncs xpanel_funcs = {1,           xpanel_create,    xpanel_destroy, xpanel_describe,
                              xpanel_hint, xpanel_view_inst, xpanel_set_data};

// --- "Instance Update" -------------------------------------------------------------------------

int instance_update(const char* class_name, LWInstance inst) {
  return current_host ? current_host->instance_update(class_name, inst) : 0;
}

// --- "Tarsel Diagnostics 1" ---------------------------------------------------------------------

void chain_solved(const TarselChainReport* report) {
  if (current_host && report) current_host->add_chain_report(*report);
}

TarselDiagnostics diagnostics = {chain_solved};

}  // namespace

Current_host::Current_host(Service_host& host) : previous_(current_host) { current_host = &host; }

Current_host::~Current_host() { current_host = previous_; }

Service_host* Current_host::get() { return current_host; }

void* global_lookup(const char* service_name, int) {
  if (!current_host || !service_name || !current_host->offers_service(service_name)) return nullptr;
  if (std::strcmp(service_name, LWITEMINFO_GLOBAL) == 0) return &item_info;
  if (std::strcmp(service_name, LWBONEINFO_GLOBAL) == 0) return &bone_info;
  if (std::strcmp(service_name, LWXPANELFUNCS_GLOBAL) == 0) return &xpanel_funcs;
  if (std::strcmp(service_name, LWINSTUPDATE_GLOBAL) == 0) {
    return reinterpret_cast<void*>(&instance_update);
  }
  if (std::strcmp(service_name, TARSEL_DIAGNOSTICS_GLOBAL) == 0) return &diagnostics;
  return nullptr;
}

void access_get_param(LWItemParam param, LWTime time, LWDVector out) {
  if (current_host) {
    current_host->access_get(param, time, out);
  } else {
    out[0] = out[1] = out[2] = 0.0;
  }
}

void access_set_param(LWItemParam param, const LWDVector value) {
  if (current_host) current_host->access_set(param, value);
}

}  // namespace stage
