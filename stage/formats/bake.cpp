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
  const auto frames = static_cast<std::size_t>(static_cast<long long>(last) - first + 1);
  // Keys by baked item and channel: the rotation's always, a position's or scaling's once a
  // handler has set it on some frame. Until then such a channel held its own keyed value, which
  // is what the frames before get, so that only the channels written are ever kept.
  std::vector<std::array<std::vector<stage::Key>, 3>> keys(baked.size());
  for (auto& k : keys) k[1].reserve(frames);
  for (long long f = first; f <= last; ++f) {
    const double t = f / scene.fps;
    host.evaluate(t);
    for (std::size_t b = 0; b < baked.size(); ++b) {
      const stage::Item& item = scene.item(baked[b]);
      for (int c = 0; c < 3; ++c) {
        std::vector<stage::Key>& k = keys[b][c];
        if (c != 1 && k.empty()) {
          if (!host.set_by_handler(item.id, channels[c])) continue;
          k.reserve(frames);
          for (long long e = first; e < f; ++e)
            k.push_back(
                {e / scene.fps, stage::channel_value(item.channels[channels[c]], e / scene.fps)});
        }
        k.push_back({t, host.param(item.id, params[c], t)});
      }
    }
  }
  for (std::size_t b = 0; b < baked.size(); ++b) {
    stage::Item_record& r = record.items[baked[b]];
    for (int c = 0; c < 3; ++c) {
      std::vector<stage::Key>& k = keys[b][c];
      if (k.empty()) continue;  // the rotation always; the others where a handler set them
      if (c == 1) {
        // Angles move by whole turns to follow the previous frame, for interpolation between keys.
        for (std::size_t i = 1; i < k.size(); ++i)
          k[i].value = nearest_turn(k[i].value, k[i - 1].value);
      }
      stage::Channel& channel = r.channels[channels[c]];
      channel.keys = std::move(k);
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
