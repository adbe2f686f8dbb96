#include "stage/channel.h"

#include <algorithm>

namespace stage {

Vec3 keyed_value(const Key_list& keys, double time) {
  if (keys.empty()) return Vec3{};
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

}  // namespace stage
