// Big scenes through the stand-in host and the runner: each test takes about a second and would
// take minutes (or overflow the stack) if loading, linking, world transforms or chain lookups grew
// with the square of the scene, or if a walk recursed once per level of the hierarchy.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/report/chains.h"
#include "stage/report/diagnostics_summary.h"
#include "stage/report/stderr_capture.h"
#include "stage/scene_file.h"

namespace {

using stage::Item_type;

// Sanitizer builds run many times slower: there the tests of growth use a quarter of the size
// (the walks that must not recurse keep theirs).
#if defined(__SANITIZE_ADDRESS__)
constexpr uint32_t shrink = 4;
#else
constexpr uint32_t shrink = 1;
#endif

stage::Item_record object(uint32_t id, const std::string& name) {
  return stage::item_record(id, Item_type::object, name);
}

// 200,000 flat items and one channel of 100,000 keys, read from text and loaded.
TEST(BigScene, ManyItemsAndKeysLoad) {
  stage::Scene_record scene;
  for (uint32_t i = 1; i <= 200000 / shrink; ++i)
    scene.items.push_back(object(i, "o" + std::to_string(i)));
  for (uint32_t k = 0; k < 100000 / shrink; ++k)
    scene.items[0].channels[stage::ch_position].keys.push_back({k / 30.0, {double(k), 0, 0}});
  const std::string text = stage::format_scene(scene);
  stage::Host host;
  host.load_scene_record(stage::parse_scene(text, "flat.json"), "flat.json");
  ASSERT_EQ(host.scene().size(), 200000u / shrink);
  EXPECT_EQ(host.scene().frame_end, 0);  // "frames" as written
  EXPECT_EQ(host.param(host.scene().item(0).id, LWIP_POSITION, 999 / 30.0)[0], 999);
}

// 100,000 objects each the child of the one before: linked, evaluated and every world position
// asked for.
TEST(BigScene, DeepHierarchyLinksAndComposesOnce) {
  constexpr uint32_t depth = 100000 / shrink;
  stage::Scene_record scene;
  for (uint32_t i = 1; i <= depth; ++i) {
    stage::Item_record r = object(i, "o");
    r.parent = i - 1;
    r.channels[stage::ch_position].value = {0, 0, 0.5};
    scene.items.push_back(r);
  }
  stage::Host host;
  host.load_scene_record(stage::parse_scene(stage::format_scene(scene), "deep.json"), "deep.json");
  host.evaluate(0);
  double z = 0;
  for (std::size_t i = 0; i < host.scene().size(); ++i)
    z = host.world_position(host.scene().item(i).id, 0)[2];
  EXPECT_EQ(z, 0.5 * depth);
  // Linking the top under the bottom is refused, and is found without recursion.
  const stage::Scene& s = host.scene();
  EXPECT_THROW(host.scene().set_parent(s.item(0).id, s.item(depth - 1).id), stage::Error);
}

// A chain of 300,000 bones, gathered by the runner as the module does.
TEST(BigScene, LongChainIsGatheredWithoutRecursion) {
  stage::Scene s;
  const LWItemID rig = s.add(Item_type::object, "rig");
  LWItemID last = rig;
  std::vector<std::pair<LWItemID, LWItemID>> links;
  for (int i = 0; i < 300000; ++i) {
    const LWItemID bone = s.add(Item_type::bone, "b", rig);
    s.at(bone).handlers.push_back({});
    s.at(bone).handlers.back().server = i == 0 ? "Tarsel_Top" : "Tarsel";
    if (i > 0) links.emplace_back(bone, last);
    last = bone;
  }
  s.set_parents(links);
  const std::vector<LWItemID> chain = report::gather_chain(s, s.item(1).id);
  ASSERT_EQ(chain.size(), 300000u);
  EXPECT_EQ(chain.back(), last);
}

// The module gathers and solves a chain of 200,000 bones from its root. The bones' own handlers
// are left inactive (the host sees them, but does not run them), so only the root's walk runs.
TEST(BigScene, LongChainIsSolvedByTheModuleWithoutRecursion) {
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  stage::Scene& s = host.scene();
  const LWItemID rig = s.add(Item_type::object, "rig");
  const LWItemID goal = s.add(Item_type::object, "goal");
  s.at(goal).channels[stage::ch_position].value = {0.3, 0.3, 0.5};
  std::vector<std::pair<LWItemID, LWItemID>> links;
  LWItemID last = LWITEM_NULL;
  for (int i = 0; i < 200000; ++i) {
    const LWItemID bone = s.add(Item_type::bone, "b", rig);
    s.at(bone).rest_length = 1e-5;
    s.at(bone).channels[stage::ch_position].value = {0, 0, i == 0 ? 0.0 : 1e-5};
    if (i == 0) host.attach_handler(bone, "Tarsel_Top");
    if (i > 0) {
      s.at(bone).handlers.push_back({});
      s.at(bone).handlers.back().server = "Tarsel";
      links.emplace_back(bone, last);
    }
    last = bone;
  }
  s.set_parents(links);
  s.at(last).goal = goal;
  host.evaluate(0);
  for (double a : host.param(s.item(2).id, LWIP_ROTATION, 0)) EXPECT_TRUE(std::isfinite(a));
}

// 20,000 two-bone chains through the module: loaded, their chains found and one frame reported.
TEST(BigScene, ManyChainsLoadAndReport) {
  constexpr uint32_t chains = 20000 / shrink;
  stage::Scene_record scene;
  for (uint32_t c = 0; c < chains; ++c) {
    const uint32_t base = 4 * c + 1;
    stage::Item_record rig = object(base, "rig" + std::to_string(c));
    rig.channels[stage::ch_position].value = {3.0 * c, 0, 0};
    stage::Item_record goal = object(base + 1, "goal" + std::to_string(c));
    goal.channels[stage::ch_position].value = {3.0 * c + 0.5, 0.5, 0.8};
    scene.items.push_back(rig);
    scene.items.push_back(goal);
    for (uint32_t b = 0; b < 2; ++b) {
      stage::Item_record bone = stage::item_record(base + 2 + b, Item_type::bone,
                                                   (b == 0 ? "arm" : "fore") + std::to_string(c));
      bone.owner = base;
      bone.parent = b == 0 ? 0 : base + 2;
      bone.channels[stage::ch_position].value = {0, 0, b == 0 ? 0.0 : 1.0};
      bone.rest_position = bone.channels[stage::ch_position].value;
      bone.channels[stage::ch_rotation].value = {0, b == 0 ? 0.0 : 1.0, 0};  // bent at the joint
      bone.rest_rotation = bone.channels[stage::ch_rotation].value;
      bone.rest_length = 1;
      bone.handlers.push_back({b == 0 ? "Tarsel_Top" : "Tarsel", b == 0, {}});
      if (b == 0) bone.handlers.back().data = {"TwistTarget " + std::to_string(base + 1), "EndEnd"};
      if (b == 1) bone.goal = base + 1;
      scene.items.push_back(bone);
    }
  }
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene_record(scene, "chains.json");
  const std::vector<LWItemID> items = report::reported_items(host.scene());
  const std::vector<report::Chain> found = report::find_chains(host);
  ASSERT_EQ(found.size(), chains);
  const report::Frame_sample frame = report::sample_frame(host, 0, items, found);
  ASSERT_EQ(frame.items.size(), 2 * chains);
  std::size_t reached = 0;
  for (const report::Item_sample& s : frame.items)
    if (s.is_chain_root && s.has_goal && s.goal_distance < 1e-3) ++reached;
  EXPECT_EQ(reached, chains);
  // The module's degenerate-geometry lines on every chain fold into one short note that names a
  // few of them.
  report::Frame_sample noisy = frame;
  report::Diagnostics_summary summary;
  for (report::Item_sample& s : noisy.items) s.diagnostic_lines = s.is_chain_root ? 1 : 0;
  summary.counts.abs_zero = static_cast<int>(chains);
  summary.add(noisy);
  report::Stderr_capture capture(true);
  capture.begin();
  summary.print("chains.json");
  const std::string note = capture.end();
  EXPECT_LT(note.size(), 300u) << note;
  EXPECT_NE(note.find("(chains \"arm0\", \"arm1\", \"arm2\", \"arm3\", \"arm4\" and " +
                      std::to_string(chains - 5) + " more)"),
            std::string::npos)
      << note;
  // The twist target was remapped to each chain's own goal.
  const stage::Handler_record saved = host.handler_record(found.back().root, 0);
  EXPECT_EQ(saved.data[1], "TwistTarget " + std::to_string(stage::id_value(found.back().goal)));
}

}  // namespace
