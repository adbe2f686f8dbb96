// World transforms of a scene record's items at a time, composed as the host composes them
// (stage/transform.h), without building a host.
#ifndef TARSEL_STAGE_FORMATS_RECORD_WORLD_H
#define TARSEL_STAGE_FORMATS_RECORD_WORLD_H

#include <cstdint>
#include <map>
#include <vector>

#include "stage/scene_file.h"

namespace formats {

class Record_world {
 public:
  explicit Record_world(const stage::Scene_record& scene);
  // Every item's world transform at the time, by record index.
  const std::vector<stage::Mat4>& at(double time);
  std::size_t index(uint32_t id) const;         // npos for no item
  std::size_t parent(std::size_t index) const;  // the parent's (or a bone's owner's) index, npos
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  const stage::Scene_record& scene_;
  std::map<uint32_t, std::size_t> index_;
  std::vector<std::size_t> order_;  // parents first
  std::vector<stage::Mat4> world_;
};

}  // namespace formats

#endif
