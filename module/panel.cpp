#include "module/panel.h"

#include <limits>

#include "module/service_slots.h"
#include "module/user_data.h"
#include "sdk/lwmotion.h"
#include "sdk/lwrender.h"

namespace tarsel {
namespace {

const LWXPanelControl controls[] = {
    {id_twist, "Twist", "iPopChoice"},
    {id_twist_target, "Twist Target", "iPopChoice"},
    {id_twist_effect, "Twist Target Effect", "iPopChoice"},
    {id_goal_position, "Goal Position", "iPopChoice"},
    {id_plugin_effect, "Plugin Effect", "iPopChoice"},
    {id_mix_with_fk, "Mix With FK", "iBoolean"},
    {id_excess_stretch, "Excess Stretch", "iBoolean"},
    {id_posture_weight, "Posture Weight", "float"},
    {id_arbitrary_limit, "Arbitrary Limit", "iBoolean"},
    {id_soft_reach, "Soft Reach", "float"},
    {id_max_stretch, "Max Stretch", "float"},
    {0, nullptr, nullptr},
};

const LWXPanelDataDesc data_description[] = {
    {id_twist, nullptr, "integer"},           {id_twist_target, nullptr, "integer"},
    {id_twist_effect, nullptr, "integer"},    {id_goal_position, nullptr, "integer"},
    {id_plugin_effect, nullptr, "integer"},   {id_mix_with_fk, nullptr, "integer"},
    {id_excess_stretch, nullptr, "integer"},  {id_posture_weight, nullptr, "float"},
    {id_arbitrary_limit, nullptr, "integer"}, {id_soft_reach, nullptr, "float"},
    {id_max_stretch, nullptr, "float"},       {0, nullptr, nullptr},
};

const LWXPanelHint hints[] = {
    XpLABEL(0, "Tarsel"),
    XpPOPFUNC(id_twist, popup_count, popup_name),
    XpPOPFUNC(id_twist_target, popup_count, popup_name),
    XpPOPFUNC(id_twist_effect, popup_count, popup_name),
    XpPOPFUNC(id_goal_position, popup_count, popup_name),
    XpPOPFUNC(id_plugin_effect, popup_count, popup_name),
    XpEND,
};

// The pop-up index panel_get hands out for any of the five item pop-ups; valid until the next
// panel_get.
int popup_index = 0;

// Shown for the "none" entry when the host gives no name for it.
constexpr const char* none_label = "(none)";

void append_items(const LWItemInfo& info, std::vector<LWItemID>& list, LWItemType type,
                  LWItemID owner) {
  for (LWItemID item = info.first(type, owner); item != LWITEM_NULL; item = info.next(item)) {
    list.push_back(item);
  }
}

// Pop-up entry of an item: 0 for none and for an item no longer in the scene, else its position
// in the item list plus 1.
int index_of_item(LWItemID item) {
  if (item == LWITEM_NULL) return 0;
  const std::vector<LWItemID> list = item_list();
  for (std::size_t p = 0; p < list.size(); ++p) {
    if (list[p] == item) return static_cast<int>(p + 1);
  }
  return 0;
}

// Item of a pop-up entry: none for entry 0 and below and for entries past the list.
LWItemID item_of_index(int index) {
  if (index < 1) return LWITEM_NULL;
  const std::vector<LWItemID> list = item_list();
  const std::size_t p = static_cast<std::size_t>(index) - 1;
  return p < list.size() ? list[p] : LWITEM_NULL;
}

LWItemID* item_field(UserData& data, unsigned long vid) {
  switch (vid) {
    case id_twist:
      return &data.twist;
    case id_twist_target:
      return &data.twist_target;
    case id_twist_effect:
      return &data.twist_effect;
    case id_goal_position:
      return &data.goal_position;
    case id_plugin_effect:
      return &data.plugin_effect;
    default:
      return nullptr;
  }
}

int32_t* switch_field(UserData& data, unsigned long vid) {
  switch (vid) {
    case id_mix_with_fk:
      return &data.mix_with_fk;
    case id_excess_stretch:
      return &data.excess_stretch;
    case id_arbitrary_limit:
      return &data.arbitrary_limit;
    default:
      return nullptr;
  }
}

}  // namespace

int interface_activate(int version, GlobalFunc* global, void* local, void* /*server_data*/) {
  if (version != LWINTERFACE_VERSION) return AFUNC_BADVERSION;
  panel_service = static_cast<const LWXPanelFuncs*>(global(LWXPANELFUNCS_GLOBAL, GFUSE_TRANSIENT));
  if (panel_service == nullptr) return AFUNC_BADGLOBAL;
  instance_update = reinterpret_cast<LWInstUpdate*>(global(LWINSTUPDATE_GLOBAL, GFUSE_TRANSIENT));

  LWInterface& ui = *static_cast<LWInterface*>(local);
  ui.panel = create_panel(ui.inst);
  ui.options = nullptr;
  ui.command = nullptr;
  return ui.panel != nullptr ? AFUNC_OK : AFUNC_BADGLOBAL;
}

LWXPanelID create_panel(void* inst) {
  const LWXPanelFuncs& xpanel = *panel_service;
  LWXPanelID panel = xpanel.create(LWXP_VIEW, controls);
  if (panel == nullptr) return nullptr;
  xpanel.hint(panel, 0, hints);
  xpanel.describe(panel, data_description, panel_get, panel_set);
  xpanel.viewInst(panel, inst);
  xpanel.setData(panel, 0, inst);
  return panel;
}

std::vector<LWItemID> item_list() {
  std::vector<LWItemID> list;
  if (item_info == nullptr) return list;
  const LWItemInfo& info = *item_info;
  append_items(info, list, LWI_OBJECT, LWITEM_NULL);
  const std::size_t object_count = list.size();
  append_items(info, list, LWI_CAMERA, LWITEM_NULL);
  append_items(info, list, LWI_LIGHT, LWITEM_NULL);
  for (std::size_t i = 0; i < object_count; ++i) append_items(info, list, LWI_BONE, list[i]);
  return list;
}

int popup_count(void* /*userdata*/) { return static_cast<int>(item_list().size()) + 1; }

const char* popup_name(void* /*userdata*/, int index) {
  if (item_info == nullptr) return none_label;
  const char* name = item_info->name(item_of_index(index));
  return name != nullptr ? name : none_label;
}

void* panel_get(void* inst, unsigned long vid) {
  if (inst == nullptr) return nullptr;
  UserData& data = *static_cast<UserData*>(inst);
  if (LWItemID* item = item_field(data, vid)) {
    popup_index = index_of_item(*item);
    return &popup_index;
  }
  if (int32_t* flag = switch_field(data, vid)) return flag;
  if (vid == id_posture_weight) return &data.posture_weight;
  if (vid == id_soft_reach) return &data.soft_reach;
  if (vid == id_max_stretch) return &data.max_stretch;
  return nullptr;
}

LWXRefreshCode panel_set(void* inst, unsigned long vid, void* value) {
  if (inst == nullptr || value == nullptr) return LWXPRC_NONE;
  UserData& data = *static_cast<UserData*>(inst);
  if (LWItemID* item = item_field(data, vid)) {
    *item = item_of_index(*static_cast<const int*>(value));
  } else if (int32_t* flag = switch_field(data, vid)) {
    *flag = *static_cast<const int*>(value);
  } else if (vid == id_posture_weight) {
    // Below 0 (and a value that is not a number) becomes 0. The weight is stored in scene files
    // as a 4-byte float, so it is kept within what one holds: above the largest float it becomes
    // the largest, and one below the smallest normal float (which a float holds only roughly)
    // becomes 0.
    const double weight = *static_cast<const double*>(value);
    const double largest = std::numeric_limits<float>::max();
    const double kept = weight >= 0.0 ? (weight > largest ? largest : weight) : 0.0;
    data.posture_weight = kept < std::numeric_limits<float>::min() ? 0.0 : kept;
  } else if (vid == id_soft_reach) {
    data.soft_reach = clamp_soft_reach(*static_cast<const double*>(value));
  } else if (vid == id_max_stretch) {
    data.max_stretch = clamp_max_stretch(*static_cast<const double*>(value));
  } else {
    return LWXPRC_NONE;
  }
  if (instance_update != nullptr) instance_update(LWITEMMOTION_HCLASS, inst);
  return LWXPRC_DFLT;
}

}  // namespace tarsel
