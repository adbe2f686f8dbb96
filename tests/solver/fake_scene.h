// A small scene behind the item-info and bone-info services, for driving the chain solve and the
// root evaluation without the stand-in host: a hierarchy of named items with their channels, rest
// pose, rotation limits, goals and motion handlers, and a motion access record for evaluating one
// of them. Channels do not change with time. The C function tables reach the one live Scene
// through a static pointer; constructing a Scene points the service slots at it, and destroying it
// gives them back to the scene that was live before.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "la3d/vk_3dla.h"
#include "sdk/lwmotion.h"
#include "sdk/lwrender.h"

namespace fake_scene {

using vk_3dla::vec3;

struct Item {
  std::string name;
  LWItemID parent = LWITEM_NULL;
  LWItemID goal = LWITEM_NULL;
  std::vector<std::string> handlers;  // "ItemMotionHandler" servers, in order

  vec3 position{0.0};  // parent frame, measured from the parent's pivot
  vec3 rotation{0.0};  // HPB rad
  vec3 scaling{1.0};
  vec3 pivot{0.0};      // own frame
  vec3 pivot_rot{0.0};  // HPB rad

  vec3 rest_rotation{0.0};  // bones: rest HPB rad
  double rest_length = 0.0;

  unsigned limit_flags = 0;  // bit 0 heading, 1 pitch, 2 bank
  vec3 limit_min{0.0};
  vec3 limit_max{0.0};
};

class Scene {
 public:
  Scene();
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Adds an item; ids count up from 0x100 in creation order, which is also every child order.
  LWItemID add(const std::string& name, LWItemID parent = LWITEM_NULL);
  // A bone carrying the per-bone handler, at `position` with rest rotation `rest` and length.
  LWItemID add_bone(const std::string& name, LWItemID parent, const vec3& position,
                    const vec3& rest, double rest_length);
  Item& operator[](LWItemID id) { return items.at(id); }

  // The motion access for evaluating `item` at `time`: getParam reads the item's channels, and
  // setParam(LWIP_ROTATION) records the value and makes it the item's rotation.
  const LWItemMotionAccess* access(LWItemID item, double time = 0.0);

  // The item's world transform composed here, independently of the solver: a product of m44
  // link transforms diag(s) R(rotation) R(pivot rotation), translated by position - parent pivot.
  vk_3dla::m44 world(LWItemID item) const;
  vk_3dla::vec3 world_position(LWItemID item) const;
  // World position of a point given in the item's own frame (measured from its pivot).
  vk_3dla::vec3 world_point(LWItemID item, const vec3& point_from_pivot) const;

  std::map<LWItemID, Item> items;
  std::vector<LWItemID> order;

  LWItemMotionAccess motion_access{};
  std::vector<vec3> set_rotations;     // every setParam(LWIP_ROTATION) in order
  std::function<void()> on_set_param;  // called by setParam before it records, when set
  int get_param_calls = 0;
  bool wrong_time_asked = false;  // a channel was read at another time than the evaluation's

  LWItemInfo item_info{};
  LWBoneInfo bone_info{};

 private:
  // The scene and service slots that were live before this one; restored on destruction.
  Scene* previous_;
  const LWItemInfo* previous_item_info_;
  const LWBoneInfo* previous_bone_info_;
};

// The live scene, for the C callbacks.
Scene& scene();

}  // namespace fake_scene
