#include "module/root_instance.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

#include "module/bone_results.h"
#include "module/chain_walk.h"

namespace tarsel {

const LWBlockIdent block_table[] = {
    {block_end_end, "EndEnd"},
    {block_twist, "Twist"},
    {block_twist_target, "TwistTarget"},
    {block_twist_effect, "TwistEffect"},
    {block_goal_position, "GoalPosition"},
    {block_plugin_effect, "PluginEffect"},
    {block_mix_with_fk, "MixWithFk"},
    {block_excess_stretch, "ExcessStretch"},
    {block_posture_weight, "PostureWeight"},
    {block_arbitrary_limit, "ArbitraryLimit"},
    {block_soft_reach, "SoftReach"},
    {block_max_stretch, "MaxStretch"},
    {0, nullptr},
};

namespace {

UserData* record(LWInstance inst) { return static_cast<UserData*>(inst); }

const LWBlockIdent& block_row(LWID id) {
  const LWBlockIdent* row = block_table;
  while (row->id != id && row->id != 0) ++row;
  return *row;
}

// Item identifiers travel through scene files as 4-byte integers; the host keeps their values
// within 32 bits.
int32_t item_to_i4(LWItemID item) {
  return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(item)));
}
LWItemID item_from_i4(int32_t value) {
  return reinterpret_cast<LWItemID>(static_cast<uintptr_t>(static_cast<uint32_t>(value)));
}

void save_i4(const LWSaveState& state, LWID id, int32_t value) {
  state.beginBlk(state.writeData, &block_row(id), 1);
  state.writeI4(state.writeData, &value, 1);
  state.endBlk(state.writeData);
}

void save_fp(const LWSaveState& state, LWID id, double value) {
  // The panel keeps the weight within a float's range; a larger one is stored as the largest.
  const double largest = std::numeric_limits<float>::max();
  const float narrowed = static_cast<float>(value > largest    ? largest
                                            : value < -largest ? -largest
                                                               : value);
  state.beginBlk(state.writeData, &block_row(id), 1);
  state.writeFP(state.writeData, &narrowed, 1);
  state.endBlk(state.writeData);
}

// A value is stored only when the host could read it; otherwise the field keeps what it held.
void load_i4(const LWLoadState& state, int32_t& field) {
  int32_t value = 0;
  if (state.readI4(state.readData, &value, 1) == 1) field = value;
}

void load_item(const LWLoadState& state, LWItemID& field) {
  int32_t value = 0;
  if (state.readI4(state.readData, &value, 1) == 1) field = item_from_i4(value);
}

// False for a value the panel would refuse (not a number, an infinity); the field is kept then.
bool load_fp(const LWLoadState& state, double& field) {
  float value = 0.0f;
  if (state.readFP(state.readData, &value, 1) != 1) return true;
  if (!std::isfinite(value)) return false;
  field = value;
  return true;
}

void replace_item(LWItemID& field, LWItemID old_id, LWItemID new_id) {
  if (field == old_id) field = new_id;
}

}  // namespace

std::size_t root_instances = 0;

LWInstance root_create(void* /*priv*/, void* context, LWError* /*error*/) {
  UserData* data = new (std::nothrow) UserData;
  if (data == nullptr) return nullptr;
  data->owner = static_cast<LWItemID>(context);
  ++root_instances;
  return data;
}

void root_destroy(LWInstance inst) {
  if (inst != nullptr) freeze_entries(record(inst)->chain, 0);
  if (last_written.writer == inst) last_written = Written_entries{};
  if (inst != nullptr) --root_instances;
  delete record(inst);
}

LWError root_copy(LWInstance to, LWInstance from) {
  if (to == nullptr || from == nullptr) return nullptr;
  UserData& dst = *record(to);
  const UserData& src = *record(from);
  dst.twist = src.twist;
  dst.twist_target = src.twist_target;
  dst.twist_effect = src.twist_effect;
  dst.plugin_effect = src.plugin_effect;
  dst.goal_position = src.goal_position;
  dst.mix_with_fk = src.mix_with_fk;
  dst.excess_stretch = src.excess_stretch;
  dst.posture_weight = src.posture_weight;
  dst.arbitrary_limit = src.arbitrary_limit;
  dst.soft_reach = src.soft_reach;
  dst.max_stretch = src.max_stretch;
  return nullptr;
}

LWError root_load(LWInstance inst, const LWLoadState* state) {
  if (inst == nullptr || state == nullptr) return nullptr;
  UserData& data = *record(inst);
  for (;;) {
    const LWID id = state->findBlk(state->readData, block_table);
    if (id == 0 || id == block_end_end) return nullptr;  // EndEnd is left unclosed
    switch (id) {
      case block_twist:
        load_item(*state, data.twist);
        break;
      case block_twist_target:
        load_item(*state, data.twist_target);
        break;
      case block_twist_effect:
        load_item(*state, data.twist_effect);
        break;
      case block_goal_position:
        load_item(*state, data.goal_position);
        break;
      case block_plugin_effect:
        load_item(*state, data.plugin_effect);
        break;
      case block_mix_with_fk:
        load_i4(*state, data.mix_with_fk);
        break;
      case block_excess_stretch:
        load_i4(*state, data.excess_stretch);
        break;
      case block_posture_weight:
        if (!load_fp(*state, data.posture_weight))
          return "PostureWeight: the weight is not a finite number";
        break;
      case block_arbitrary_limit:
        load_i4(*state, data.arbitrary_limit);
        break;
      case block_soft_reach:
        if (!load_fp(*state, data.soft_reach))
          return "SoftReach: the fraction is not a finite number";
        data.soft_reach = clamp_soft_reach(data.soft_reach);
        break;
      case block_max_stretch:
        if (!load_fp(*state, data.max_stretch))
          return "MaxStretch: the factor is not a finite number";
        data.max_stretch = clamp_max_stretch(data.max_stretch);
        break;
      default:
        break;
    }
    state->endBlk(state->readData);
  }
}

LWError root_save(LWInstance inst, const LWSaveState* state) {
  if (inst == nullptr || state == nullptr) return nullptr;
  const UserData& data = *record(inst);
  save_i4(*state, block_twist, item_to_i4(data.twist));
  save_i4(*state, block_twist_target, item_to_i4(data.twist_target));
  save_i4(*state, block_twist_effect, item_to_i4(data.twist_effect));
  save_i4(*state, block_goal_position, item_to_i4(data.goal_position));
  save_i4(*state, block_plugin_effect, item_to_i4(data.plugin_effect));
  save_i4(*state, block_mix_with_fk, data.mix_with_fk);
  save_i4(*state, block_excess_stretch, data.excess_stretch);
  save_fp(*state, block_posture_weight, data.posture_weight);
  save_i4(*state, block_arbitrary_limit, data.arbitrary_limit);
  if (data.soft_reach != Chain_options().soft_reach)
    save_fp(*state, block_soft_reach, data.soft_reach);
  if (data.max_stretch != Chain_options().max_stretch)
    save_fp(*state, block_max_stretch, data.max_stretch);
  state->beginBlk(state->writeData, &block_row(block_end_end), 1);
  state->endBlk(state->writeData);
  return nullptr;
}

const LWItemID* root_use_items(LWInstance inst) {
  static const LWItemID no_items[] = {LWITEM_NULL};
  if (inst == nullptr) return no_items;
  UserData& data = *record(inst);
  data.used_items.clear();
  data.used_items.push_back(chain_goal(data.owner));
  for (LWItemID item : {data.twist, data.twist_target, data.twist_effect, data.plugin_effect}) {
    if (item != LWITEM_NULL) data.used_items.push_back(item);
  }
  data.used_items.push_back(LWITEM_NULL);
  return data.used_items.data();
}

void root_change_id(LWInstance inst, const LWItemID* ids) {
  if (inst == nullptr || ids == nullptr) return;
  UserData& data = *record(inst);
  for (const LWItemID* pair = ids; pair[0] != LWITEM_NULL; pair += 2) {
    const LWItemID old_id = pair[0];
    const LWItemID new_id = pair[1];
    replace_item(data.owner, old_id, new_id);
    replace_item(data.twist, old_id, new_id);
    replace_item(data.twist_target, old_id, new_id);
    replace_item(data.twist_effect, old_id, new_id);
    replace_item(data.plugin_effect, old_id, new_id);
    replace_item(data.goal_position, old_id, new_id);
  }
}

}  // namespace tarsel
