#include "module/activation.h"

#include <cstring>

#include "module/bone_handler.h"
#include "module/diagnostics_slot.h"
#include "module/root_evaluate.h"
#include "module/root_instance.h"
#include "module/service_slots.h"
#include "sdk/lwrender.h"

namespace tarsel {
namespace {

char root_descln_buffer[sizeof "Tarsel_Top"];
char bone_descln_buffer[sizeof "Tarsel"];

// Acquires the item and bone services shared by both handlers. Each slot takes whatever the host
// returns, so a missing bone service leaves the new item-info value in place.
int acquire_scene_services(GlobalFunc* global) {
  item_info = static_cast<const LWItemInfo*>(global(LWITEMINFO_GLOBAL, GFUSE_TRANSIENT));
  if (item_info == nullptr) return AFUNC_BADGLOBAL;
  bone_info = static_cast<const LWBoneInfo*>(global(LWBONEINFO_GLOBAL, GFUSE_TRANSIENT));
  if (bone_info == nullptr) return AFUNC_BADGLOBAL;
  return AFUNC_OK;
}

}  // namespace

int root_handler_activate(int version, GlobalFunc* global, void* local, void* /*server_data*/) {
  if (version != LWITEMMOTION_VERSION) return AFUNC_BADVERSION;
  const int services = acquire_scene_services(global);
  if (services != AFUNC_OK) return services;
  // Optional: a host without it gets no reports, and nothing else changes.
  diagnostics =
      static_cast<const TarselDiagnostics*>(global(TARSEL_DIAGNOSTICS_GLOBAL, GFUSE_TRANSIENT));

  LWItemMotionHandler& handler = *static_cast<LWItemMotionHandler*>(local);
  handler.inst->create = root_create;
  handler.inst->destroy = root_destroy;
  handler.inst->copy = root_copy;
  handler.inst->load = root_load;
  handler.inst->save = root_save;
  handler.inst->descln = root_descln;
  handler.item->useItems = root_use_items;
  handler.item->changeID = root_change_id;
  handler.evaluate = root_evaluate;
  handler.flags = handler_flags;
  return AFUNC_OK;
}

int bone_handler_activate(int version, GlobalFunc* global, void* local, void* /*server_data*/) {
  if (version != LWITEMMOTION_VERSION) return AFUNC_BADVERSION;
  const int services = acquire_scene_services(global);
  if (services != AFUNC_OK) return services;

  LWItemMotionHandler& handler = *static_cast<LWItemMotionHandler*>(local);
  handler.inst->create = bone_create;
  handler.inst->destroy = bone_destroy;
  handler.inst->copy = bone_copy;
  handler.inst->load = nullptr;  // a per-bone instance stores nothing in the scene
  handler.inst->save = nullptr;
  handler.inst->descln = bone_descln;
  handler.item->useItems = nullptr;
  handler.item->changeID = nullptr;
  handler.evaluate = bone_evaluate;
  handler.flags = handler_flags;
  return AFUNC_OK;
}

unsigned int handler_flags(LWInstance /*inst*/) { return LWIMF_AFTERIK; }

const char* root_descln(LWInstance /*inst*/) {
  std::memcpy(root_descln_buffer, "Tarsel_Top", sizeof root_descln_buffer);
  return root_descln_buffer;
}

const char* bone_descln(LWInstance /*inst*/) {
  std::memcpy(bone_descln_buffer, "Tarsel", sizeof bone_descln_buffer);
  return bone_descln_buffer;
}

}  // namespace tarsel
