#include "stage/channel.h"

#include <algorithm>

namespace stage {

Vec3 channel_value(const Channel& channel, double time) {
  const std::vector<Key>& keys = channel.keys;
  if (keys.empty()) return channel.value;
  if (!(time > keys.front().time)) return keys.front().value;  // also a NaN time
  if (time >= keys.back().time) return keys.back().value;
  // First key after `time`; the one before it is at or before `time`.
  const auto after = std::upper_bound(keys.begin(), keys.end(), time,
                                      [](double t, const Key& k) { return t < k.time; });
  const Key& k1 = *after;
  const Key& k0 = *(after - 1);
  const double f = (time - k0.time) / (k1.time - k0.time);
  Vec3 r{};
  for (int i = 0; i < 3; ++i) r[i] = k0.value[i] + f * (k1.value[i] - k0.value[i]);
  return r;
}

int channel_of_param(LWItemParam param) {
  switch (param) {
    case LWIP_POSITION:
      return ch_position;
    case LWIP_ROTATION:
      return ch_rotation;
    case LWIP_SCALING:
      return ch_scaling;
    case LWIP_PIVOT:
      return ch_pivot;
    case LWIP_PIVOT_ROT:
      return ch_pivot_rotation;
    default:
      return ch_count;
  }
}

}  // namespace stage
