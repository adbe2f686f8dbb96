// Items' world transforms: the position-only form and the kept (memo) form give the very bits of
// the full composition, through hierarchies of turned, scaled and pivoted items and as any value
// or link changes; and the composition agrees with the fake scene's own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "solver/item_world.h"
#include "tests/solver/fake_scene.h"

namespace {

using vk_3dla::m44;
using vk_3dla::vec3;

bool same_bits(const void* a, const void* b, std::size_t n) { return std::memcmp(a, b, n) == 0; }

vec3 translation(const m44& t) { return vec3(t.m[3][0], t.m[3][1], t.m[3][2]); }

TEST(ItemWorld, PositionAndKeptTransformAreTheFullCompositionsBits) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  const auto any = [&] { return vec3(u(rng), u(rng), u(rng)); };
  fake_scene::Scene scene;
  std::vector<LWItemID> items;
  for (int i = 0; i < 5; ++i) {  // a chain of parents, every value set
    items.push_back(scene.add("item" + std::to_string(i), i == 0 ? LWITEM_NULL : items.back()));
    fake_scene::Item& it = scene[items.back()];
    it.position = any();
    it.rotation = any();
    it.scaling = vec3(1.0) + any() * 0.2;
    it.pivot = any() * 0.1;
    it.pivot_rot = any() * 0.3;
  }
  const LWItemID leaf = items.back(), spare = scene.add("spare");
  World_memo memo;
  for (int step = 0; step < 200; ++step) {
    SCOPED_TRACE(step);
    // One change at a time: a value of some level, a link, or nothing (the memo's hit).
    fake_scene::Item& it = scene[items[rng() % items.size()]];
    switch (rng() % 6) {
      case 0:
        it.rotation.y = u(rng);
        break;
      case 1:
        it.pivot.x = u(rng);
        break;
      case 2:
        it.scaling.z = u(rng);
        break;
      case 3:
        it.position = step % 17 == 0 ? vec3(std::numeric_limits<double>::infinity()) : any();
        break;
      case 4: {  // re-linked: under another top item, under none (a level fewer), back
        LWItemID& parent = scene[items[1]].parent;
        parent = parent == items[0] ? spare : parent == spare ? LWITEM_NULL : items[0];
        break;
      }
      default:
        break;
    }
    const m44 full = item_world(leaf, 0.0);
    const vec3 position = item_world_position(leaf, 0.0);
    const vec3 row = translation(full);
    EXPECT_TRUE(same_bits(&position, &row, sizeof row));
    const m44& kept = item_world(&memo, leaf, 0.0);
    EXPECT_TRUE(same_bits(&kept, &full, sizeof full));
    if (std::isfinite(row.x)) {
      const m44 independent = scene.world(leaf);
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(full.m[i][j], independent.m[i][j], 1e-9);
    }
  }
}

}  // namespace
