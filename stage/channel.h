// An item channel triple (position, rotation, ...): a constant or keys over time.
#ifndef TARSEL_STAGE_CHANNEL_H
#define TARSEL_STAGE_CHANNEL_H

#include <vector>

#include "sdk/lwtypes.h"
#include "stage/transform.h"

namespace stage {

struct Key {
  double time;  // seconds
  Vec3 value;   // angles in radians
};

// With no keys the channel holds `value` at every time. With keys (sorted by time, no two at the
// same time) it interpolates linearly between neighbouring keys and holds the end keys outside
// their range.
struct Channel {
  Vec3 value{};
  std::vector<Key> keys;
};

// Keyed channels are interpolated out of line; a constant one, the most common, is answered here.
Vec3 keyed_value(const std::vector<Key>& keys, double time);
inline Vec3 channel_value(const Channel& channel, double time) {
  return channel.keys.empty() ? channel.value : keyed_value(channel.keys, time);
}

// The channels every item has, indexed by Channel_index.
enum Channel_index { ch_position, ch_rotation, ch_scaling, ch_pivot, ch_pivot_rotation, ch_count };

// The channel an LWIP_ parameter names, or ch_count for a parameter the host does not know.
inline int channel_of_param(LWItemParam param) {
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

#endif
