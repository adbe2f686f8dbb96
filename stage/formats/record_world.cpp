#include "stage/formats/record_world.h"

#include <vector>

namespace formats {

Record_world::Record_world(const stage::Scene_record& scene) : scene_(scene) {
  for (std::size_t i = 0; i < scene.items.size(); ++i) index_[scene.items[i].id] = i;
  std::vector<char> placed(scene.items.size(), 0);
  // Parents first, without recursion: each item's unplaced ancestors are gathered walking up, then
  // placed from the top. Scene records are checked for cycles when read; the length bound guards
  // records built here.
  std::vector<std::size_t> up;
  for (std::size_t i = 0; i < scene.items.size(); ++i) {
    up.clear();
    for (std::size_t a = i; a != npos && !placed[a] && up.size() <= scene.items.size();
         a = parent(a))
      up.push_back(a);
    for (std::size_t k = up.size(); k-- > 0;) {
      if (placed[up[k]]) continue;
      placed[up[k]] = 1;
      order_.push_back(up[k]);
    }
  }
  world_.assign(scene.items.size(), stage::identity4());
}

std::size_t Record_world::index(uint32_t id) const {
  const auto it = index_.find(id);
  return it == index_.end() ? npos : it->second;
}

std::size_t Record_world::parent(std::size_t i) const {
  const stage::Item_record& r = scene_.items[i];
  return index(r.parent ? r.parent : r.owner);
}

const std::vector<stage::Mat4>& Record_world::at(double time) {
  for (const std::size_t i : order_) {
    const stage::Item_record& r = scene_.items[i];
    const std::size_t p = parent(i);
    const stage::Vec3 parent_pivot =
        p == npos ? stage::Vec3{}
                  : stage::channel_value(scene_.items[p].channels[stage::ch_pivot], time);
    const auto value = [&](int c) { return stage::channel_value(r.channels[c], time); };
    const stage::Mat4 local = stage::local_matrix(
        value(stage::ch_scaling), value(stage::ch_rotation), value(stage::ch_position),
        value(stage::ch_pivot_rotation), parent_pivot);
    world_[i] = p == npos ? local : local * world_[p];
  }
  return world_;
}

}  // namespace formats
