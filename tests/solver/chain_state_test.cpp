// The set-up results an instance keeps between evaluations: reused while nothing they came from
// changes, worked out again when any input changes by a single bit, and never a result different
// from a solve that keeps nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/chain_options.h"
#include "solver/chain_state.h"
#include "solver/process.h"
#include "tests/solver/fake_scene.h"

namespace {

using vk_3dla::deg2rad;
using vk_3dla::vec3;

// A three-bone chain with Mix With FK on, rotation limits, and a marker cone around its root.
struct Rig {
  fake_scene::Scene scene;
  tarsel::Chain_options options;
  LWItemID carrier, root, b1, b2, goal, target, marker, origin;
  std::vector<LWItemID> items;
  Rig() {
    carrier = scene.add("carrier");
    root = scene.add_bone("root", carrier, vec3(0.0), vec3(0.0), 1.0);
    b1 = scene.add_bone("b1", root, vec3(0.0, 0.0, 1.0), vec3(0.0, deg2rad(30.0), 0.0), 1.0);
    b2 = scene.add_bone("b2", b1, vec3(0.0, 0.0, 1.0), vec3(0.0, deg2rad(30.0), 0.0), 1.0);
    goal = scene.add("goal");
    scene[goal].position = vec3(0.8, 0.9, 1.2);
    scene[b2].goal = goal;
    scene[b1].rotation = vec3(deg2rad(3.0), deg2rad(30.0), 0.0);
    scene[b1].limit_flags = 2;
    scene[b1].limit_min = vec3(0.0, deg2rad(-40.0), 0.0);
    scene[b1].limit_max = vec3(0.0, deg2rad(80.0), 0.0);
    origin = scene.add("cone-ik-limit-org", carrier);
    for (int i = 0; i < 4; ++i) {
      const LWItemID m = scene.add("cone-for-ik-limit-" + std::to_string(i), carrier);
      scene[m].rotation = vec3(deg2rad(20.0) * (i % 2 ? 1 : -1), deg2rad(i < 2 ? 15.0 : -15.0), 0);
      if (i == 0) marker = m;
    }
    target = scene.add("target", carrier);
    scene[target].position = vec3(0.5, -0.3, 0.4);
    options.twist_target = target;
    options.mix_with_fk = 1;
    options.arbitrary_limit = 1;
    items = {root, b1, b2};
  }
  std::vector<Result> solve(Chain_state* state, vk_3dla::m33* root_rot) {
    std::vector<Result> results(items.size(), Result{vec3(0.0), 1.0});
    *root_rot = process(&results, &options, scene.access(root), items, goal, 1, state);
    return results;
  }
};

bool same_bits(const std::vector<Result>& a, const vk_3dla::m33& ra, const std::vector<Result>& b,
               const vk_3dla::m33& rb) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Result)) == 0 &&
         std::memcmp(&ra, &rb, sizeof ra) == 0;
}

TEST(ChainState, EachChangedInputIsRecomputedAndMatchesASolveKeepingNothing) {
  const double bit = 1.0 + 0x1p-52;  // a change of the last bit
  struct Case {
    const char* name;
    std::function<void(Rig&)> change;
    bool chain, limit;  // which kept part must be worked out again
  };
  const Case cases[] = {
      {"nothing", [](Rig&) {}, false, false},
      {"goal moves", [](Rig& r) { r.scene[r.goal].position.x += 0.1; }, false, false},
      {"root scale", [&](Rig& r) { r.scene[r.root].scaling.y *= bit; }, true, false},
      {"bone scale", [&](Rig& r) { r.scene[r.b2].scaling.z *= 1.1; }, true, false},
      {"bone pivot", [](Rig& r) { r.scene[r.b1].pivot.x = 1e-300; }, true, false},
      {"pivot rotation", [](Rig& r) { r.scene[r.b2].pivot_rot.z = 0.01; }, true, false},
      {"rest pose", [&](Rig& r) { r.scene[r.b2].rest_rotation.y *= bit; }, true, false},
      {"bone limit", [](Rig& r) { r.scene[r.b1].limit_max.y = deg2rad(50.0); }, true, false},
      {"root limit", [](Rig& r) { r.scene[r.root].limit_flags = 1; }, true, true},
      {"FK rotation", [&](Rig& r) { r.scene[r.b1].rotation.x *= bit; }, true, false},
      {"rest length", [](Rig& r) { r.scene[r.b2].rest_length = 1.5; }, true, false},
      {"marker rotation", [&](Rig& r) { r.scene[r.marker].rotation.y *= bit; }, false, true},
      {"marker renamed", [](Rig& r) { r.scene[r.marker].name = "no marker now"; }, false, true},
      {"origin rotation", [](Rig& r) { r.scene[r.origin].rotation.x = 0.2; }, false, true},
      {"chain moves", [](Rig& r) { r.scene[r.carrier].position.y = 0.5; }, false, false},
      {"chain turns", [](Rig& r) { r.scene[r.carrier].rotation.x = 0.2; }, false, true},
      {"carrier reparented",
       [](Rig& r) {
         const LWItemID top = r.scene.add("top");
         r.scene[top].position = vec3(0.0, 2.0, 0.0);
         r.scene[r.carrier].parent = top;
       },
       false, false},
      {"twist target moves", [&](Rig& r) { r.scene[r.target].position.y *= bit; }, false, false},
      {"Mix With FK off", [](Rig& r) { r.options.mix_with_fk = 0; }, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    Chain_state state;
    vk_3dla::m33 kept_root, fresh_root;
    rig.solve(&state, &kept_root);
    rig.solve(&state, &kept_root);
    ASSERT_EQ(state.chain_builds, 1);
    ASSERT_EQ(state.limit_builds, 1);
    c.change(rig);
    const std::vector<Result> kept = rig.solve(&state, &kept_root);
    const std::vector<Result> fresh = rig.solve(nullptr, &fresh_root);
    EXPECT_TRUE(same_bits(kept, kept_root, fresh, fresh_root));
    EXPECT_EQ(state.chain_builds, c.chain ? 2 : 1);
    EXPECT_EQ(state.limit_builds, c.limit ? 2 : 1);
  }
}

}  // namespace
