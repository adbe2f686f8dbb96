#include "module/chain_walk.h"

#include <cstddef>
#include <cstring>

#include "module/service_slots.h"
#include "sdk/lwmotion.h"

namespace tarsel {
namespace {

// Name of the per-bone handler. Compared with strcmp, i.e. byte by byte up to and including the
// terminating zero, so "Tarsel_Top" and longer names never match and a short name is never read
// past its end.
constexpr const char* bone_handler_name = "Tarsel";

bool carries_bone_handler(const LWItemInfo& info, LWItemID item) {
  for (int k = 1;; ++k) {
    const char* name = info.server(item, LWITEMMOTION_HCLASS, k);
    if (name == nullptr) return false;
    if (std::strcmp(name, bone_handler_name) == 0) return true;
  }
}

// The first child of parent after `after` (or the first of all when `after` is null) that
// carries the bone handler; null when there is none.
LWItemID first_chain_child(const LWItemInfo& info, LWItemID parent, LWItemID after) {
  LWItemID c = after == LWITEM_NULL ? info.firstChild(parent) : info.nextChild(parent, after);
  for (; c != LWITEM_NULL; c = info.nextChild(parent, c)) {
    if (carries_bone_handler(info, c)) return c;
  }
  return LWITEM_NULL;
}

// The last item gather_chain lists from item: the end of its last branch.
LWItemID last_of_chain(const LWItemInfo& info, LWItemID item) {
  for (;;) {
    LWItemID last = LWITEM_NULL;
    for (LWItemID c = info.firstChild(item); c != LWITEM_NULL; c = info.nextChild(item, c)) {
      if (carries_bone_handler(info, c)) last = c;
    }
    if (last == LWITEM_NULL) return item;
    item = last;
  }
}

}  // namespace

void gather_chain(std::vector<LWItemID>& list, LWItemID item) {
  std::vector<std::size_t> last(list.size());
  gather_chain(list, last, item);
}

void gather_chain(std::vector<LWItemID>& list, std::vector<std::size_t>& last, LWItemID item) {
  const std::size_t first = list.size();
  list.push_back(item);
  last.push_back(first);
  // Without the item-info service nothing below the item can be seen.
  if (item_info == nullptr) return;
  const LWItemInfo& info = *item_info;

  // Depth first without recursion or a stack of its own, so a chain of any length fits and a
  // steady-state evaluation allocates nothing: while an item's subtree is being listed, its
  // entry in `last` holds its parent's position, and becomes its own last position on the way
  // back up, where the walk moves on to the next chain sibling.
  std::size_t at = first;
  for (;;) {
    LWItemID c = first_chain_child(info, list[at], LWITEM_NULL);
    while (c == LWITEM_NULL) {
      const std::size_t end = list.size() - 1;
      if (at == first) {
        last[first] = end;
        return;
      }
      const std::size_t up = last[at];
      last[at] = end;
      c = first_chain_child(info, list[up], list[at]);
      at = up;
    }
    list.push_back(c);
    last.push_back(at);
    at = list.size() - 1;
  }
}

// Walks only down the last branch, with no list: every bone's evaluation asks this.
LWItemID chain_goal(LWItemID item) {
  if (item_info == nullptr) return LWITEM_NULL;
  return item_info->goal(last_of_chain(*item_info, item));
}

}  // namespace tarsel
