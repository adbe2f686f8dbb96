// The table that carries the solved rotations of the bones from the chain root's evaluation to
// the per-bone handlers. The root's evaluation inserts or overwrites one entry per bone of its
// chain; nothing removes entries while the module is loaded, so a bone keeps the entry of the
// last root evaluation that included it. Lives from module load to unload.
#pragma once

#include <unordered_map>
#include <vector>

#include "sdk/lwtypes.h"
#include "solver/records.h"

namespace tarsel {

// A bone's solved rotation and weight, and the last item of the bone's own chain as the root's
// evaluation gathered it: the bone's goal is that item's, found without walking the chain again.
// `last` is none when the entry was stored otherwise, and is cleared again once the entry is
// frozen (its bone left the chain of the root that wrote it, or that root's instance went away):
// the bone's goal is then found by walking its chain as it is now.
// `stretch` is the factor the chain's links are scaled by (Max Stretch; 1 for none): the bone's
// offset from its parent's pivot is scaled by it and, for the chain's last item (`tip`), its
// scaling along its length too, both blended by `weight` like the rotation.
struct Bone_entry : Result {
  LWItemID last = LWITEM_NULL;
  unsigned long stamp = 0;  // the root evaluation that wrote it (see bone_results_stamp)
  double stretch = 1.0;
  bool tip = false;
  Bone_entry() = default;
  Bone_entry(const Result& r, LWItemID last_item = LWITEM_NULL, unsigned long written = 0,
             double stretch_factor = 1.0, bool is_tip = false)
      : Result(r), last(last_item), stamp(written), stretch(stretch_factor), tip(is_tip) {}
};

// The stretched value of `host` for a stretch factor f at weight w: host + w (f - 1) (host -
// origin), w clamped to [0, 1] (not a number counts as 1, as for the rotation).
double stretched(double host, double origin, double f, double w);

// By bone: a root writes and each bone reads its entry on every evaluation, so a look-up must cost
// the same in a scene of ten thousand chains as in one of ten (a tree's depth of cache misses
// does not).
// Entries are never erased, so a pointer to one stays valid until the table is cleared: clearing
// counts a new generation, and pointers kept from an older one are not used.
struct BoneResults : std::unordered_map<LWItemID, Bone_entry> {
  void clear() {
    std::unordered_map<LWItemID, Bone_entry>::clear();
    ++generation;
  }
  unsigned long generation = 0;
};

extern BoneResults bone_results;

// The entries the last root evaluation wrote, in its chain's order. The host evaluates a chain's
// bones right after its root, so a bone mostly finds its entry next in this list and is spared a
// look-up in a table as large as the scene's bones.
struct Written_entries {
  const void* writer = nullptr;  // the root instance whose vectors these point into
  const LWItemID* bones = nullptr;
  Bone_entry* const* entries = nullptr;
  std::size_t next = 0;
  std::size_t count = 0;
  unsigned long generation = 0;
};
extern Written_entries last_written;

// The entry of `bone`: next in last_written when it is there, else looked up; null for none.
Bone_entry* find_entry(LWItemID bone);

// A look-up kept with what it depends on: nothing erases entries, so the entry found (or the
// absence of one) holds while the table has been neither cleared nor added to.
struct Kept_lookup {
  LWItemID bone = LWITEM_NULL;
  Bone_entry* entry = nullptr;
  std::size_t size = static_cast<std::size_t>(-1);
  unsigned long generation = 0;
};

// The entry of `bone` (null for none), looked up only when *kept no longer holds for it.
Bone_entry* find_kept(LWItemID bone, Kept_lookup* kept);

// Counts root evaluations: each stamps the entries it writes with a new value.
extern unsigned long bone_results_stamp;

// Clears `last` of the entry unless the root evaluation `stamp` wrote it (0: in any case); null is
// accepted.
void freeze_entry(Bone_entry* entry, unsigned long stamp);

// freeze_entry for every one of these bones that has an entry.
void freeze_entries(const std::vector<LWItemID>& bones, unsigned long stamp);

}  // namespace tarsel
