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

Vec3 channel_value(const Channel& channel, double time);

// The channels every item has, indexed by Channel_index.
enum Channel_index { ch_position, ch_rotation, ch_scaling, ch_pivot, ch_pivot_rotation, ch_count };

// The channel an LWIP_ parameter names, or ch_count for a parameter the host does not know.
int channel_of_param(LWItemParam param);

}  // namespace stage

#endif
