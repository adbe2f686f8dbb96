#include "stage/scene.h"

#include <algorithm>

#include "stage/error.h"

namespace stage {

namespace {

std::string describe(const Item& item) {
  return std::string(item_type_name(item.type)) + " \"" + item.name + "\"";
}

}  // namespace

const char* item_type_name(Item_type type) {
  switch (type) {
    case Item_type::object:
      return "object";
    case Item_type::light:
      return "light";
    case Item_type::camera:
      return "camera";
    case Item_type::bone:
      return "bone";
  }
  return "?";
}

bool item_type_from_name(const std::string& name, Item_type& type) {
  for (Item_type t : {Item_type::object, Item_type::light, Item_type::camera, Item_type::bone}) {
    if (name == item_type_name(t)) {
      type = t;
      return true;
    }
  }
  return false;
}

// Identifiers carry a type tag in the top byte and a serial below it: 0x01000001 is the first
// item if it is an object. Never 0, always within 32 bits.
LWItemID Scene::new_id(Item_type type) {
  const uint32_t tag = static_cast<uint32_t>(type) + 1;
  for (;;) {
    if (next_serial_ > 0xFFFFFFu) throw Error("scene: too many items");
    const uint32_t value = (tag << 24) | next_serial_++;
    if (avoided_.count(value) == 0) return id_from_value(value);
  }
}

void Scene::avoid_ids(const std::vector<uint32_t>& ids) { avoided_.insert(ids.begin(), ids.end()); }

LWItemID Scene::add(Item_type type, const std::string& name, LWItemID owner) {
  Item* owner_item = nullptr;
  if (type == Item_type::bone) {
    owner_item = find(owner);
    if (!owner_item || owner_item->type != Item_type::object)
      throw Error("bone \"" + name + "\" needs an object as owner");
  } else if (owner != LWITEM_NULL) {
    throw Error(std::string(item_type_name(type)) + " \"" + name + "\" cannot have an owner");
  }
  Item item;
  item.id = new_id(type);
  item.type = type;
  item.name = name;
  item.owner = owner;
  item.channels[ch_scaling].value = {1, 1, 1};
  std::vector<LWItemID>* list = nullptr;
  switch (type) {
    case Item_type::object:
      list = &objects_;
      break;
    case Item_type::light:
      list = &lights_;
      break;
    case Item_type::camera:
      list = &cameras_;
      break;
    case Item_type::bone:
      list = &owner_item->bones;
      break;
  }
  item.list_pos = list->size();
  list->push_back(item.id);
  const LWItemID id = item.id;
  const uint32_t serial = id_value(id) & 0xFFFFFFu;
  if (serial >= index_.size()) index_.resize(std::max<std::size_t>(serial + 1, 2 * index_.size()));
  index_[serial] = {id_value(id), static_cast<uint32_t>(items_.size())};
  items_.push_back(std::move(item));
  if (type == Item_type::bone) set_parent(id, owner);
  return id;
}

void Scene::set_parent(LWItemID id, LWItemID parent) {
  Item& item = at(id);
  if (parent == LWITEM_NULL && item.type == Item_type::bone)
    throw Error(describe(item) + ": a bone needs a parent");
  if (parent != LWITEM_NULL) {
    const Item* p = find(parent);
    if (!p) throw Error(describe(item) + ": parent is not an item of the scene");
    // Only an item with children can be made its own ancestor.
    if (!item.children.empty() || p == &item) {
      for (; p; p = find(p->parent)) {
        if (p->id == id) throw Error(describe(item) + ": parent link would close a cycle");
      }
    }
  }
  ++links_version_;
  if (item.parent != LWITEM_NULL) {
    std::vector<LWItemID>& siblings = at(item.parent).children;
    siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(item.child_pos));
    for (std::size_t k = item.child_pos; k < siblings.size(); ++k) at(siblings[k]).child_pos = k;
  }
  item.parent = parent;
  if (parent == LWITEM_NULL) return;
  // Children stay in creation order whatever order the links are made in; a new child is most
  // often the latest item, placed at the end.
  std::vector<LWItemID>& children = at(parent).children;
  const std::size_t index = index_of(id);
  std::size_t pos = children.size();
  while (pos > 0 && index_of(children[pos - 1]) > index) --pos;
  children.insert(children.begin() + static_cast<std::ptrdiff_t>(pos), id);
  for (std::size_t k = pos; k < children.size(); ++k) at(children[k]).child_pos = k;
}

void Scene::set_parents(const std::vector<std::pair<LWItemID, LWItemID>>& links) {
  std::vector<std::size_t> parent(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i) parent[i] = index_of(items_[i].parent);
  for (const auto& [id, p] : links) {
    const Item& item = at(id);
    if (p == LWITEM_NULL && item.type == Item_type::bone)
      throw Error(describe(item) + ": a bone needs a parent");
    const std::size_t pi = p == LWITEM_NULL ? npos : index_of(p);
    if (p != LWITEM_NULL && pi == npos)
      throw Error(describe(item) + ": parent is not an item of the scene");
    parent[index_of(id)] = pi;
  }
  // Walk up from each item, marking the walk; meeting the walk itself again is a cycle.
  std::vector<char> state(items_.size(), 0);  // 1: on the current walk, 2: known to end
  std::vector<std::size_t> walk;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    walk.clear();
    std::size_t k = i;
    for (; k != npos && state[k] == 0; k = parent[k]) {
      state[k] = 1;
      walk.push_back(k);
    }
    if (k != npos && state[k] == 1)
      throw Error(describe(items_[k]) + ": parent link would close a cycle");
    for (std::size_t w : walk) state[w] = 2;
  }
  ++links_version_;
  for (Item& item : items_) item.children.clear();
  for (std::size_t i = 0; i < items_.size(); ++i) {
    Item& item = items_[i];
    item.parent = parent[i] == npos ? LWITEM_NULL : items_[parent[i]].id;
    if (parent[i] == npos) continue;
    std::vector<LWItemID>& children = items_[parent[i]].children;
    item.child_pos = children.size();
    children.push_back(item.id);
  }
}

Item& Scene::at(LWItemID id) {
  Item* item = find(id);
  if (!item) throw Error("no item with identifier " + std::to_string(id_value(id)));
  return *item;
}

const Item& Scene::at(LWItemID id) const { return const_cast<Scene*>(this)->at(id); }

LWItemID Scene::find_by_name(const std::string& name) const {
  for (const Item& item : items_) {
    if (item.name == name) return item.id;
  }
  return LWITEM_NULL;
}

const std::vector<LWItemID>* Scene::list_of(const Item& item) const {
  switch (item.type) {
    case Item_type::object:
      return &objects_;
    case Item_type::light:
      return &lights_;
    case Item_type::camera:
      return &cameras_;
    case Item_type::bone:
      return &at(item.owner).bones;
  }
  return nullptr;
}

LWItemID Scene::first(LWItemType type, LWItemID owner) const {
  const std::vector<LWItemID>* list = nullptr;
  switch (type) {
    case LWI_OBJECT:
      list = &objects_;
      break;
    case LWI_LIGHT:
      list = &lights_;
      break;
    case LWI_CAMERA:
      list = &cameras_;
      break;
    case LWI_BONE: {
      const Item* o = find(owner);
      if (o && o->type == Item_type::object) list = &o->bones;
      break;
    }
    default:
      break;
  }
  return list && !list->empty() ? list->front() : LWITEM_NULL;
}

LWItemID Scene::next(LWItemID id) const {
  const Item* item = find(id);
  if (!item) return LWITEM_NULL;
  const std::vector<LWItemID>& list = *list_of(*item);
  return item->list_pos + 1 < list.size() ? list[item->list_pos + 1] : LWITEM_NULL;
}

LWItemID Scene::first_child(LWItemID parent) const {
  const Item* p = find(parent);
  return p && !p->children.empty() ? p->children.front() : LWITEM_NULL;
}

LWItemID Scene::next_child(LWItemID parent, LWItemID previous) const {
  const Item* p = find(parent);
  const Item* c = find(previous);
  if (!p || !c || c->parent != parent || p == c) return LWITEM_NULL;
  return c->child_pos + 1 < p->children.size() ? p->children[c->child_pos + 1] : LWITEM_NULL;
}

const std::vector<std::size_t>& Scene::evaluation_order() const {
  std::vector<std::size_t>& order = order_;
  if (order_version_ == links_version_ && order.size() == items_.size()) return order;
  order_version_ = links_version_;
  order.clear();
  order.reserve(items_.size());
  std::vector<char> placed(items_.size(), 0);
  std::vector<std::size_t> pending;  // an item and its unplaced ancestors, nearest first
  for (std::size_t i = 0; i < items_.size(); ++i) {
    pending.clear();
    for (std::size_t k = i; k != npos && !placed[k]; k = index_of(items_[k].parent)) {
      pending.push_back(k);
      placed[k] = 1;
    }
    order.insert(order.end(), pending.rbegin(), pending.rend());
  }
  return order;
}

}  // namespace stage
