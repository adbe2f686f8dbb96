#include "stage/formats/bake.h"

#include "stage/formats/frame_math.h"

namespace formats {

stage::Scene_record bake_scene(stage::Host& host, int first, int last) {
  stage::Scene_record record = host.scene_record();  // items in the scene's order
  const stage::Scene& scene = host.scene();
  std::vector<std::size_t> baked;
  for (std::size_t i = 0; i < scene.size(); ++i)
    if (!scene.item(i).handlers.empty() || scene.item(i).match_goal_orientation) baked.push_back(i);

  const int channels[] = {stage::ch_position, stage::ch_rotation, stage::ch_scaling};
  const LWItemParam params[] = {LWIP_POSITION, LWIP_ROTATION, LWIP_SCALING};
  // Keys by baked item and channel; whether a handler set the channel on some frame.
  std::vector<std::array<std::vector<stage::Key>, 3>> keys(baked.size());
  std::vector<std::array<bool, 3>> set(baked.size(), {false, false, false});
  for (long long f = first; f <= last; ++f) {
    const double t = f / scene.fps;
    host.evaluate(t);
    for (std::size_t b = 0; b < baked.size(); ++b) {
      const LWItemID id = scene.item(baked[b]).id;
      for (int c = 0; c < 3; ++c) {
        keys[b][c].push_back({t, host.param(id, params[c], t)});
        if (host.set_by_handler(id, channels[c])) set[b][c] = true;
      }
    }
  }
  for (std::size_t b = 0; b < baked.size(); ++b) {
    stage::Item_record& r = record.items[baked[b]];
    for (int c = 0; c < 3; ++c) {
      if (c != 1 && !set[b][c])
        continue;  // the rotation always; the others where a handler set them
      if (c == 1) {
        // Angles move by whole turns to follow the previous frame, for interpolation between keys.
        for (std::size_t k = 1; k < keys[b][c].size(); ++k)
          keys[b][c][k].value = nearest_turn(keys[b][c][k].value, keys[b][c][k - 1].value);
      }
      stage::Channel& channel = r.channels[channels[c]];
      channel.keys = std::move(keys[b][c]);
      channel.value = channel.keys.front().value;
    }
    r.handlers.clear();
    r.match_goal_orientation = false;  // the turn is in the keys now
  }
  record.frame_start = first;
  record.frame_end = last;
  return record;
}

}  // namespace formats
