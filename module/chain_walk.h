// The two walks that define a chain and its goal. A chain is the start item followed by every
// descendant reached through children carrying the per-bone "Tarsel" handler, parent before
// children, depth first, in the host's child order.
#pragma once

#include <cstddef>
#include <vector>

#include "sdk/lwtypes.h"

namespace tarsel {

// Appends item and its chain descendants to list.
void gather_chain(std::vector<LWItemID>& list, LWItemID item);

// The same, appending to `last` for every item listed the position in `list` of the last item
// gathered from it (the end of its own chain): one walk for the whole chain. `last` holds one
// entry for each item already in `list`. Allocates only when the lists outgrow their capacity.
void gather_chain(std::vector<LWItemID>& list, std::vector<std::size_t>& last, LWItemID item);

// The goal of the last item of the chain gathered from item; none when that item has no goal.
LWItemID chain_goal(LWItemID item);

}  // namespace tarsel
