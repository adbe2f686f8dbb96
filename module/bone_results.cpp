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

Bone_entry* find_kept(LWItemID bone, Kept_lookup* kept) {
  if (kept->bone != bone || kept->size != bone_results.size() ||
      kept->generation != bone_results.generation) {
    const auto entry = bone_results.find(bone);
    *kept = Kept_lookup{bone, entry != bone_results.end() ? &entry->second : nullptr,
                        bone_results.size(), bone_results.generation};
  }
  return kept->entry;
}

void freeze_entry(Bone_entry* entry, unsigned long stamp) {
  if (entry != nullptr && (stamp == 0 || entry->stamp != stamp)) entry->last = LWITEM_NULL;
}

void freeze_entries(const std::vector<LWItemID>& bones, unsigned long stamp) {
  for (const LWItemID bone : bones) {
    const auto entry = bone_results.find(bone);
    if (entry != bone_results.end()) freeze_entry(&entry->second, stamp);
  }
}

double stretched(double host, double origin, double f, double w) {
  const double weight = !(w < 1.0) ? 1.0 : w > 0.0 ? w : 0.0;
  return host + weight * (f - 1.0) * (host - origin);
}

}  // namespace tarsel
