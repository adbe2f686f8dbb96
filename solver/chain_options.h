// The options of one chain-root instance that the solve reads: what the user set in the panel.
#pragma once

#include <cstdint>

#include "sdk/lwtypes.h"

namespace tarsel {

struct Chain_options {
  // Item whose bank angle twists the chain; none (0) for no twist.
  LWItemID twist = LWITEM_NULL;
  // Item the chain's twist is turned towards; none for no twist target.
  LWItemID twist_target = LWITEM_NULL;
  // Item whose position x, clamped to [0, 1], weights the twist target; none for full weight.
  LWItemID twist_effect = LWITEM_NULL;
  // Item whose position x, clamped to [0, 1], is the effect weight of the whole solve.
  LWItemID plugin_effect = LWITEM_NULL;
  // Item marking the point on the chain's last item that is brought to the goal; none for the
  // tip of the last bone.
  LWItemID goal_position = LWITEM_NULL;
  // Switch: when 0 the joints' own host rotations are replaced by zero before the solve.
  int32_t mix_with_fk = 0;
  // Switch: when on, a goal beyond the longest reach bends the chain further in proportion.
  int32_t excess_stretch = 1;
  // Weight of the change of the root's rotation when placing it on its limit boundary (>= 0).
  double posture_weight = 1.0;
  // Switch: when on, limit marker items are searched among the chain root's siblings.
  int32_t arbitrary_limit = 0;
  // Width of the band below the longest reach in which the solved-for distance eases towards it,
  // as a fraction of the chain's length, [0, 0.5]; 0 is off.
  double soft_reach = 0.0;
  // Largest factor every link of the chain may be scaled by to meet a goal beyond its reach,
  // [1, 10]; 1 is off.
  double max_stretch = 1.0;
};

// The option ranges the panel and the loader keep values within.
constexpr double soft_reach_max = 0.5;
constexpr double max_stretch_max = 10.0;

// A Soft Reach within [0, 0.5] and a Max Stretch within [1, 10], each held as a 4-byte float holds
// it (the precision scene files store), so that a saved value loads back unchanged; a value that
// is not a number becomes the option's default (off).
inline double clamp_soft_reach(double v) {
  const double kept = v > 0.0 ? (v < soft_reach_max ? v : soft_reach_max) : 0.0;
  return static_cast<float>(kept);
}
inline double clamp_max_stretch(double v) {
  const double kept = v > 1.0 ? (v < max_stretch_max ? v : max_stretch_max) : 1.0;
  return static_cast<float>(kept);
}

}  // namespace tarsel
