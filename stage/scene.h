// The stand-in host's scene: objects, bones, cameras and lights with their hierarchy, goals,
// channels, bone rest pose, rotation limits and attached motion handlers.
#ifndef TARSEL_STAGE_SCENE_H
#define TARSEL_STAGE_SCENE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "sdk/lwtypes.h"
#include "stage/channel.h"
#include "stage/mesh_binding.h"
#include "stage/transform.h"

namespace stage {

struct Motion_server;

enum class Item_type {
  object = LWI_OBJECT,
  light = LWI_LIGHT,
  camera = LWI_CAMERA,
  bone = LWI_BONE
};

const char* item_type_name(Item_type type);  // "object", "light", "camera", "bone"
bool item_type_from_name(const std::string& name, Item_type& type);

// Rotation limits: bit 0 heading, bit 1 pitch, bit 2 bank limited; bounds in radians.
struct Limits {
  unsigned flags = 0;
  Vec3 lower{};
  Vec3 upper{};
};

// A motion handler on an item. The instance belongs to the module that created it; the host
// destroys it through the server's table before the module is unloaded.
struct Attached_handler {
  std::string server;                     // the server's name in the "ItemMotionHandler" class
  LWInstance instance = nullptr;          // null when the server is not active or create failed
  const Motion_server* motion = nullptr;  // null when no loaded module offers the server
  // Instance data of a handler whose server is not available, as read from a scene file; written
  // back unchanged so that a scene survives being opened without its module.
  std::vector<std::string> kept_data;
  bool has_kept_data = false;
};

struct Item {
  // What the module reads of every item on every evaluation comes first, so that those look-ups
  // touch one or two cache lines of an item in a scene of many; everything before `name` is read
  // by an evaluation (and asked for ahead of it), what follows is not.
  LWItemID id = LWITEM_NULL;
  Item_type type = Item_type::object;
  // After its channels and handlers, the item turns to its goal's world orientation (its own
  // position and scaling kept), e.g. a foot that keeps the clip's orientation below an IK leg.
  bool match_goal_orientation = false;
  LWItemID parent = LWITEM_NULL;           // none for a top-level item
  LWItemID goal = LWITEM_NULL;             // the item's IK goal
  std::vector<Attached_handler> handlers;  // in evaluation order
  std::vector<LWItemID> children;          // in creation order
  std::size_t child_pos = 0;               // position in its parent's children
  std::array<Channel, ch_count> channels;  // scaling starts at (1, 1, 1), the others at 0
  Vec3 rest_position{};                    // bones
  Vec3 rest_rotation{};                    // bones, radians
  double rest_length = 0;                  // bones
  Limits limits;
  std::string name;
  LWItemID owner = LWITEM_NULL;  // bones: the object they belong to
  std::vector<LWItemID> bones;   // objects: their bones in creation order
  std::size_t list_pos = 0;      // position in its type's list (bones: in the owner's list)
};

// Items live from their creation to the scene's end: nothing removes one, so identifiers and the
// names handed to modules stay valid for the scene's life.
class Scene {
 public:
  // Adds an item and returns its identifier. A bone needs an object as owner and starts as the
  // owner's child; other types take no owner. Throws Error otherwise.
  LWItemID add(Item_type type, const std::string& name, LWItemID owner = LWITEM_NULL);
  // Changes an item's parent (none for top level; bones always have one). Throws Error for an
  // unknown item, a bone without parent, or when the new link would close a cycle.
  void set_parent(LWItemID item, LWItemID parent);
  // Makes many links at once, in time linear in the scene's size: every (item, parent) pair is
  // checked as set_parent would, the cycle check runs over the links as a whole, and nothing
  // changes when one fails.
  void set_parents(const std::vector<std::pair<LWItemID, LWItemID>>& links);
  // Counts the changes of parent links, so that what was derived from the hierarchy can tell
  // whether it still holds.
  std::size_t links_version() const { return links_version_; }
  // Identifiers that add() must not hand out: those of a scene file being loaded, so that the
  // old -> new pairs given to modules never chain into one another.
  void avoid_ids(const std::vector<uint32_t>& ids);

  Item* find(LWItemID id) {
    const std::size_t i = index_of(id);
    return i == npos ? nullptr : &items_[i];
  }
  const Item* find(LWItemID id) const {
    const std::size_t i = index_of(id);
    return i == npos ? nullptr : &items_[i];
  }
  Item& at(LWItemID id);  // throws Error for an unknown identifier
  const Item& at(LWItemID id) const;
  LWItemID find_by_name(const std::string& name) const;  // the first with that name, or none
  std::size_t size() const { return items_.size(); }
  const Item& item(std::size_t index) const { return items_[index]; }  // creation order
  Item& item(std::size_t index) { return items_[index]; }
  std::size_t index_of(LWItemID id) const {  // npos when unknown
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(id);
    const std::size_t serial = value & 0xFFFFFFu;
    if (value == 0 || value > 0xFFFFFFFFu || serial >= index_.size()) return npos;
    const Index_slot& slot = index_[serial];
    return slot.id == value ? slot.index : npos;
  }
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  // Asks for the index entry of an identifier ahead of its look-up.
  void prefetch_slot(LWItemID id) const {
    const std::size_t serial = reinterpret_cast<std::uintptr_t>(id) & 0xFFFFFFu;
    if (serial < index_.size()) __builtin_prefetch(&index_[serial]);
  }

  // Host order: objects, lights, cameras each in creation order; bones per owning object.
  LWItemID first(LWItemType type, LWItemID owner) const;
  LWItemID next(LWItemID item) const;
  LWItemID first_child(LWItemID parent) const;
  LWItemID next_child(LWItemID parent, LWItemID previous) const;

  // Item indices with every parent before its children, otherwise in creation order; worked out
  // again only after items or links have changed.
  const std::vector<std::size_t>& evaluation_order() const;

  std::string description;  // one line telling a user what the scene shows
  double fps = 30;          // frames per second
  int frame_start = 0;      // the frame range a run evaluates
  int frame_end = 0;
  std::vector<Mesh_binding> meshes;  // skinned meshes the bones carry, for glTF export

 private:
  const std::vector<LWItemID>* list_of(const Item& item) const;
  LWItemID new_id(Item_type type);

  std::deque<Item> items_;  // a deque keeps items (and their names) in place as items are added
  // Item index by an identifier's serial (its low 24 bits), with the whole identifier to tell it
  // from one of another type: the module's every look-up is one load, no hashing.
  struct Index_slot {
    uint32_t id = 0;  // 0: no item has this serial
    uint32_t index = 0;
  };
  std::vector<Index_slot> index_;
  std::vector<LWItemID> objects_, lights_, cameras_;
  std::unordered_set<uint32_t> avoided_;
  uint32_t next_serial_ = 1;
  std::size_t links_version_ = 0;
  mutable std::vector<std::size_t> order_;
  mutable std::size_t order_version_ = static_cast<std::size_t>(-1);  // links_version_ of order_
};

// The raw value of an identifier, as stored in scene files, and back.
inline uint32_t id_value(LWItemID id) {
  return static_cast<uint32_t>(reinterpret_cast<std::uintptr_t>(id));
}
inline LWItemID id_from_value(uint32_t value) {
  return reinterpret_cast<LWItemID>(static_cast<std::uintptr_t>(value));
}

}  // namespace stage

#endif
