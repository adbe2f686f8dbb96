#include "module/bone_handler.h"

#include <cmath>
#include <cstdint>

#include "la3d/vk_3dla.h"
#include "module/bone_results.h"
#include "module/chain_walk.h"
#include "module/rotation_blend.h"
#include "module/service_slots.h"

namespace tarsel {
namespace {

using vk_3dla::vec3;

// A rotation that is not finite (a solve whose squares overflowed) is not handed to the host: the
// bone keeps the rotation the host gave it.
void set_rotation(const LWItemMotionAccess& access, const vec3& hpb) {
  if (!(std::isfinite(hpb.x) && std::isfinite(hpb.y) && std::isfinite(hpb.z))) return;
  const LWDVector value = {hpb.x, hpb.y, hpb.z};
  access.setParam(LWIP_ROTATION, value);
}

vec3 blend_hpb(const vec3& from, const vec3& to, double w) {
  using namespace vk_3dla;
  return hpb_from_m33(blend_rotation(m33_from_hpb(from), m33_from_hpb(to), w));
}

// A stretched chain: the bone's offset from its parent's pivot is scaled by the stretch factor
// and, for the chain's last item, its scaling along its length (Z) as well. The host's own
// values are read and set; nothing the module set is read back.
void set_stretch(const LWItemMotionAccess& access, const Bone_entry& entry) {
  const double f = entry.stretch, w = entry.weight;
  if (f == 1.0 || !std::isfinite(f) || !(w > 0.0) || item_info == nullptr) return;
  LWDVector position = {0.0, 0.0, 0.0}, pivot = {0.0, 0.0, 0.0};
  access.getParam(LWIP_POSITION, access.time, position);
  const LWItemID parent = item_info->parent(access.item);
  if (parent != LWITEM_NULL) item_info->param(parent, LWIP_PIVOT, access.time, pivot);
  LWDVector moved = {0.0, 0.0, 0.0};
  for (int i = 0; i < 3; ++i) moved[i] = stretched(position[i], pivot[i], f, w);
  access.setParam(LWIP_POSITION, moved);
  if (entry.tip) {
    LWDVector scaling = {1.0, 1.0, 1.0};
    access.getParam(LWIP_SCALING, access.time, scaling);
    scaling[2] = stretched(scaling[2], 0.0, f, w);
    access.setParam(LWIP_SCALING, scaling);
  }
}

}  // namespace

LWInstance bone_create(void* /*priv*/, void* /*context*/, LWError* /*error*/) {
  return reinterpret_cast<LWInstance>(std::uintptr_t{1});
}

void bone_destroy(LWInstance /*inst*/) {}

LWError bone_copy(LWInstance /*to*/, LWInstance /*from*/) { return nullptr; }

void bone_evaluate(LWInstance /*inst*/, const LWItemMotionAccess* access) {
  if (access == nullptr) return;
  const LWItemID bone = access->item;
  const Bone_entry* const entry = find_entry(bone);
  if (entry == nullptr) return;
  const LWItemID last = entry->last;
  const LWItemID goal =
      last != LWITEM_NULL ? (item_info ? item_info->goal(last) : LWITEM_NULL) : chain_goal(bone);
  if (goal == LWITEM_NULL) return;

  set_stretch(*access, *entry);
  const vec3 solved = entry->hpb;
  const double w = entry->weight;
  if (!(w < 1.0)) {  // full weight, or not a number
    set_rotation(*access, solved);
    return;
  }
  LWDVector cur = {0.0, 0.0, 0.0};
  access->getParam(LWIP_ROTATION, access->time, cur);
  const vec3 host_hpb(cur);
  if (w <= 0.0) {  // a weight below 0 never extrapolates away from the host's rotation
    set_rotation(*access, host_hpb);
    return;
  }
  set_rotation(*access, blend_hpb(host_hpb, solved, w));
}

}  // namespace tarsel
