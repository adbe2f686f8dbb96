#include "host/chain_walk.h"

#include <cstring>

#include "host/service_slots.h"
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
  // Without the item-info service nothing below the item can be seen.
  if (item_info == nullptr) {
    list.push_back(item);
    return;
  }
  const LWItemInfo& info = *item_info;
  // Depth first without recursion, so a chain of any length fits the stack: items still to
  // list, each item's chain children pushed last to first.
  std::vector<LWItemID> pending{item};
  std::vector<LWItemID> children;
  while (!pending.empty()) {
    const LWItemID next = pending.back();
    pending.pop_back();
    list.push_back(next);
    children.clear();
    for (LWItemID c = info.firstChild(next); c != LWITEM_NULL; c = info.nextChild(next, c)) {
      if (carries_bone_handler(info, c)) children.push_back(c);
    }
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

// Walks only down the last branch, with no list: every bone's evaluation asks this.
LWItemID chain_goal(LWItemID item) {
  if (item_info == nullptr) return LWITEM_NULL;
  return item_info->goal(last_of_chain(*item_info, item));
}

}  // namespace tarsel
