#include "tests/solver/fake_scene.h"

#include <cstring>

#include "module/service_slots.h"

namespace fake_scene {
namespace {

Scene* live = nullptr;

const Item* find(LWItemID id) {
  const auto it = live->items.find(id);
  return it == live->items.end() ? nullptr : &it->second;
}

void note_time(LWTime time) {
  if (time != live->motion_access.time) live->wrong_time_asked = true;
}

void write(const vec3& v, LWDVector out) {
  out[0] = v.x;
  out[1] = v.y;
  out[2] = v.z;
}

vec3 channel(const Item& item, LWItemParam param) {
  switch (param) {
    case LWIP_POSITION:
      return item.position;
    case LWIP_ROTATION:
      return item.rotation;
    case LWIP_SCALING:
      return item.scaling;
    case LWIP_PIVOT:
      return item.pivot;
    case LWIP_PIVOT_ROT:
      return item.pivot_rot;
    default:
      return vec3(0.0);
  }
}

LWItemID first(LWItemType, LWItemID) { return live->order.empty() ? LWITEM_NULL : live->order[0]; }

LWItemID next(LWItemID item) {
  for (std::size_t i = 0; i + 1 < live->order.size(); ++i)
    if (live->order[i] == item) return live->order[i + 1];
  return LWITEM_NULL;
}

LWItemID child_after(LWItemID parent, std::size_t from) {
  for (std::size_t i = from; i < live->order.size(); ++i)
    if (live->items[live->order[i]].parent == parent) return live->order[i];
  return LWITEM_NULL;
}

LWItemID first_child(LWItemID parent) {
  if (parent == LWITEM_NULL) return LWITEM_NULL;
  return child_after(parent, 0);
}

LWItemID next_child(LWItemID parent, LWItemID previous) {
  if (parent == LWITEM_NULL) return LWITEM_NULL;
  for (std::size_t i = 0; i < live->order.size(); ++i)
    if (live->order[i] == previous) return child_after(parent, i + 1);
  return LWITEM_NULL;
}

LWItemID parent_of(LWItemID item) {
  const Item* p = find(item);
  return p ? p->parent : LWITEM_NULL;
}

LWItemID goal_of(LWItemID item) {
  const Item* p = find(item);
  return p ? p->goal : LWITEM_NULL;
}

const char* name_of(LWItemID item) {
  const Item* p = find(item);
  return p ? p->name.c_str() : nullptr;
}

void param(LWItemID item, LWItemParam param, LWTime time, LWDVector out) {
  note_time(time);
  const Item* p = find(item);
  write(p ? channel(*p, param) : vec3(0.0), out);
}

unsigned int limits(LWItemID item, LWItemParam param, LWDVector min, LWDVector max) {
  const Item* p = find(item);
  if (p == nullptr || param != LWIP_ROTATION) {
    write(vec3(0.0), min);
    write(vec3(0.0), max);
    return 0;
  }
  write(p->limit_min, min);
  write(p->limit_max, max);
  return p->limit_flags;
}

const char* server(LWItemID item, const char* class_name, int index) {
  const Item* p = find(item);
  if (p == nullptr || std::strcmp(class_name, LWITEMMOTION_HCLASS) != 0) return nullptr;
  if (index < 1 || static_cast<std::size_t>(index) > p->handlers.size()) return nullptr;
  return p->handlers[index - 1].c_str();
}

void rest_param(LWItemID bone, LWItemParam param, LWDVector out) {
  const Item* p = find(bone);
  write(p && param == LWIP_ROTATION ? p->rest_rotation : vec3(0.0), out);
}

double rest_length(LWItemID bone) {
  const Item* p = find(bone);
  return p ? p->rest_length : 0.0;
}

void get_param(LWItemParam param, LWTime time, LWDVector out) {
  ++live->get_param_calls;
  note_time(time);
  const Item* p = find(live->motion_access.item);
  write(p ? channel(*p, param) : vec3(0.0), out);
}

void set_param(LWItemParam param, const LWDVector value) {
  if (param != LWIP_ROTATION) return;
  if (live->on_set_param) live->on_set_param();
  const vec3 v(value);
  live->set_rotations.push_back(v);
  const auto it = live->items.find(live->motion_access.item);
  if (it != live->items.end()) it->second.rotation = v;
}

}  // namespace

Scene::Scene()
    : previous_(live),
      previous_item_info_(tarsel::item_info),
      previous_bone_info_(tarsel::bone_info) {
  live = this;
  item_info = LWItemInfo{first,   next,    first_child, next_child, parent_of,
                         goal_of, name_of, param,       limits,     server};
  bone_info = LWBoneInfo{rest_param, rest_length};
  tarsel::item_info = &item_info;
  tarsel::bone_info = &bone_info;
}

Scene::~Scene() {
  tarsel::item_info = previous_item_info_;
  tarsel::bone_info = previous_bone_info_;
  live = previous_;
}

LWItemID Scene::add(const std::string& name, LWItemID parent) {
  const LWItemID id = reinterpret_cast<LWItemID>(static_cast<std::uintptr_t>(0x100 + order.size()));
  Item item;
  item.name = name;
  item.parent = parent;
  items[id] = item;
  order.push_back(id);
  return id;
}

LWItemID Scene::add_bone(const std::string& name, LWItemID parent, const vec3& position,
                         const vec3& rest, double length) {
  const LWItemID id = add(name, parent);
  Item& item = items[id];
  item.handlers.push_back("Tarsel");
  item.position = position;
  item.rest_rotation = rest;
  item.rest_length = length;
  return id;
}

const LWItemMotionAccess* Scene::access(LWItemID item, double time) {
  motion_access.item = item;
  motion_access.frame = 0;
  motion_access.time = time;
  motion_access.getParam = get_param;
  motion_access.setParam = set_param;
  return &motion_access;
}

vk_3dla::m44 Scene::world(LWItemID id) const {
  using namespace vk_3dla;
  m44 t(1.0);
  for (LWItemID cur = id; cur != LWITEM_NULL; cur = items.at(cur).parent) {
    const Item& item = items.at(cur);
    const vec3 parent_pivot = item.parent != LWITEM_NULL ? items.at(item.parent).pivot : vec3(0.0);
    const m33 linear =
        diag(item.scaling) * m33_from_hpb(item.rotation) * m33_from_hpb(item.pivot_rot);
    t = t * m44(linear, item.position - parent_pivot);
  }
  return t;
}

vk_3dla::vec3 Scene::world_position(LWItemID item) const { return world_point(item, vec3(0.0)); }

vk_3dla::vec3 Scene::world_point(LWItemID item, const vec3& point_from_pivot) const {
  return vk_3dla::from_homogeneous(point_from_pivot * world(item));
}

Scene& scene() { return *live; }

}  // namespace fake_scene
