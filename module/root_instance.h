// Instance callbacks of the chain-root handler "Tarsel_Top": one UserData per item carrying the
// handler, its copy, its scene blocks and its item references.
#pragma once

#include "module/user_data.h"
#include "sdk/lwhandler.h"
#include "sdk/lwio.h"

namespace tarsel {

// Scene blocks of a chain-root instance, ended by a row with id 0. The record is saved as the nine
// original option blocks, then SoftReach and MaxStretch when they are not at their defaults (so a
// scene that uses neither is saved as before), then EndEnd. Readers skip blocks they do not know.
extern const LWBlockIdent block_table[];

// Block ids: three spaces in the high bytes, 0x20 for EndEnd and 0x21..0x29 for the options.
constexpr LWID block_end_end = LWID_(' ', ' ', ' ', 0x20);
constexpr LWID block_twist = LWID_(' ', ' ', ' ', 0x21);
constexpr LWID block_twist_target = LWID_(' ', ' ', ' ', 0x22);
constexpr LWID block_twist_effect = LWID_(' ', ' ', ' ', 0x23);
constexpr LWID block_goal_position = LWID_(' ', ' ', ' ', 0x24);
constexpr LWID block_plugin_effect = LWID_(' ', ' ', ' ', 0x25);
constexpr LWID block_mix_with_fk = LWID_(' ', ' ', ' ', 0x26);
constexpr LWID block_excess_stretch = LWID_(' ', ' ', ' ', 0x27);
constexpr LWID block_posture_weight = LWID_(' ', ' ', ' ', 0x28);
constexpr LWID block_arbitrary_limit = LWID_(' ', ' ', ' ', 0x29);
constexpr LWID block_soft_reach = LWID_(' ', ' ', ' ', 0x2A);
constexpr LWID block_max_stretch = LWID_(' ', ' ', ' ', 0x2B);

// A fresh record with the defaults, owned by the item given as context; null if out of memory.
LWInstance root_create(void* priv, void* context, LWError* error);
// Frees the record; null is accepted.
void root_destroy(LWInstance inst);
// Copies the eleven options; owner and used_items of `to` stay as they are.
LWError root_copy(LWInstance to, LWInstance from);
// Reads the option blocks in any order until EndEnd or the end of the record.
LWError root_load(LWInstance inst, const LWLoadState* state);
// Writes the blocks in their fixed order.
LWError root_save(LWInstance inst, const LWSaveState* state);
// The goal of the owner's chain (even when none), then the set twist items, ended by none.
const LWItemID* root_use_items(LWInstance inst);
// Applies every (old, new) pair in order to owner and the five item options.
void root_change_id(LWInstance inst, const LWItemID* ids);

}  // namespace tarsel
