#include "la3d/hpb.h"

namespace vk_3dla {

vec3 hpb_near(const vec3& h, const vec3& ref) {
  vec3 cand[2] = {h, hpb_equivalent(h)};
  double cost[2];
  for (int k = 0; k < 2; ++k) {
    cost[k] = 0.0;
    for (int i = 0; i < 3; ++i) {
      cand[k][i] = angle_near(cand[k][i], ref[i]);
      cost[k] += std::fabs(cand[k][i] - ref[i]);
    }
  }
  return cost[1] < cost[0] ? cand[1] : cand[0];
}

}  // namespace vk_3dla
