// Items' world transforms composed through their parents from the host's channels, and a memo
// that keeps one with the exact inputs it came from, so that an item that has not moved costs its
// reads and a comparison rather than two rotation matrices and a product per level.
#ifndef TARSEL_SOLVER_ITEM_WORLD_H
#define TARSEL_SOLVER_ITEM_WORLD_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "sdk/lwtypes.h"

// The item's world transform at `time` (row vectors, translation in the last row), composed
// through its parents from scaling, rotation, position, pivot rotation and the parent's pivot.
// The identity for LWITEM_NULL.
vk_3dla::m44 item_world(LWItemID item, LWTime time);

// The translation row of item_world(item, time), the same bits, without the item's own rotation:
// where an item is, when its orientation is not needed.
vk_3dla::vec3 item_world_position(LWItemID item, LWTime time);

// One world transform and the inputs it was composed from: per level of the walk up the parents,
// the scaling, rotation, position and pivot rotation, and the parent's pivot. The transform
// depends on those values alone, so the same values give the same bits.
struct World_memo {
  std::vector<double> inputs;
  vk_3dla::m44 world{1};
  vk_3dla::m44 inverse{1};
  bool known = false;
  bool inverse_known = false;
};

// item_world through a memo: the host is read as by item_world, and the kept transform is returned
// when every value read is the same as last time. item_world_from gives the item's own scaling s,
// rotation r and position p instead of reading them.
const vk_3dla::m44& item_world(World_memo* memo, LWItemID item, LWTime time);
const vk_3dla::m44& item_world_from(World_memo* memo, const vk_3dla::vec3& s,
                                    const vk_3dla::vec3& r, const vk_3dla::vec3& p, LWItemID item,
                                    LWTime time);

// The inverse of the memo's transform (a singular one stands in for its own), worked out once
// per transform.
const vk_3dla::m44& world_inverse(World_memo* memo);

#endif
