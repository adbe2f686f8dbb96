#include "module/bone_results.h"

namespace tarsel {

BoneResults bone_results;
unsigned long bone_results_stamp = 0;
Written_entries last_written;

Bone_entry* find_entry(LWItemID bone) {
  Written_entries& w = last_written;
  // The generation first: a list from before a clear may point into records since gone.
  if (w.generation == bone_results.generation && w.next < w.count && w.bones[w.next] == bone)
    return w.entries[w.next++];
  const auto entry = bone_results.find(bone);
  return entry != bone_results.end() ? &entry->second : nullptr;
}

void freeze_entries(const std::vector<LWItemID>& bones, unsigned long stamp, std::size_t count) {
  for (std::size_t i = 0; i < bones.size() && i < count; ++i) {
    const auto entry = bone_results.find(bones[i]);
    if (entry != bone_results.end() && (stamp == 0 || entry->second.stamp != stamp))
      entry->second.last = LWITEM_NULL;
  }
}

double stretched(double host, double origin, double f, double w) {
  const double weight = !(w < 1.0) ? 1.0 : w > 0.0 ? w : 0.0;
  return host + weight * (f - 1.0) * (host - origin);
}

}  // namespace tarsel
