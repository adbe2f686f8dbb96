// The built module, loaded through the stand-in host exactly as the host program would.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/scene_file.h"
#include "tests/stage/stage_test_util.h"

namespace {

using stage::Item_type;

constexpr unsigned long id_twist = 0x8001, id_twist_target = 0x8002, id_plugin_effect = 0x8005,
                        id_mix_with_fk = 0x8006, id_excess_stretch = 0x8007,
                        id_posture_weight = 0x8008, id_soft_reach = 0x800A, id_max_stretch = 0x800B;

// A rig whose three bones form a chain under Tarsel_Top, with a goal, a twist target and an
// effect item.
struct Tarsel_rig {
  explicit Tarsel_rig(stage::Host& host) {
    stage::Scene& s = host.scene();
    rig = s.add(Item_type::object, "Rig");
    goal = s.add(Item_type::object, "Goal");
    twister = s.add(Item_type::object, "Twister");
    effect = s.add(Item_type::object, "Effect");
    s.add(Item_type::camera, "Camera");
    s.add(Item_type::light, "Light");
    root = s.add(Item_type::bone, "Root", rig);
    mid = s.add(Item_type::bone, "Mid", rig);
    tip = s.add(Item_type::bone, "Tip", rig);
    s.set_parent(mid, root);
    s.set_parent(tip, mid);
    s.at(tip).goal = goal;
    for (LWItemID b : {root, mid, tip}) {
      s.at(b).rest_length = 1;
      s.at(b).channels[stage::ch_position].value = {0, 0, b == root ? 0.0 : 1.0};
    }
    s.at(goal).channels[stage::ch_position].value = {1, 1, 1};
    host.attach_handler(root, "Tarsel_Top");
    host.attach_handler(mid, "Tarsel");
    host.attach_handler(tip, "Tarsel");
  }
  LWItemID rig, goal, twister, effect, root, mid, tip;
};

TEST(TarselModule, ActivatesItsServersAndKeepsOptionsThroughAScene) {
  const std::string path = stage_test::temp_path(".json");
  {
    stage::Host host;
    host.load_module(TARSEL_MODULE_PATH);
    const std::vector<stage::Server_name> servers = host.modules()[0]->servers();
    ASSERT_EQ(servers.size(), 3u);
    EXPECT_EQ(servers[0].class_name + "/" + servers[0].name, "ItemMotionHandler/Tarsel_Top");
    EXPECT_EQ(servers[1].class_name + "/" + servers[1].name, "ItemMotionInterface/Tarsel_Top");
    EXPECT_EQ(servers[2].class_name + "/" + servers[2].name, "ItemMotionHandler/Tarsel");

    Tarsel_rig rig(host);
    EXPECT_TRUE(host.motion_server("Tarsel_Top")->active());
    EXPECT_TRUE(host.motion_server("Tarsel")->active());
    EXPECT_EQ(host.describe_handler(rig.root, 0), "Tarsel_Top");
    EXPECT_EQ(host.describe_handler(rig.mid, 0), "Tarsel");

    stage::Panel& panel = host.open_panel(rig.root, "Tarsel_Top");
    EXPECT_EQ(panel.label(), "Tarsel");
    ASSERT_EQ(panel.controls().size(), 11u);
    // Objects, cameras, lights, then bones per object, after the "none" entry.
    EXPECT_EQ(panel.entries(id_twist),
              (std::vector<std::string>{"(none)", "Rig", "Goal", "Twister", "Effect", "Camera",
                                        "Light", "Root", "Mid", "Tip"}));
    panel.choose(id_twist_target, "Twister");
    panel.choose(id_plugin_effect, "Effect");
    panel.set(id_mix_with_fk, 1);
    panel.set(id_excess_stretch, 0);
    panel.set(id_posture_weight, 0.1);
    panel.set(id_soft_reach, 0.25);
    panel.set(id_max_stretch, 2.5);
    EXPECT_EQ(host.notifications().size(), 7u);
    EXPECT_EQ(host.used_items(rig.root, 0),
              (std::vector<LWItemID>{rig.goal, rig.twister, rig.effect}));

    // The root's evaluation and the bones' handlers run without disturbing finite channels.
    host.evaluate_frame(0);
    for (LWItemID b : {rig.root, rig.mid, rig.tip}) {
      for (double v : host.param(b, LWIP_ROTATION, 0.0)) EXPECT_TRUE(std::isfinite(v));
    }
    host.save_scene(path);

    const nlohmann::json j = nlohmann::json::parse(std::ifstream(path));
    const std::vector<std::string> data = j["items"][6]["handlers"][0]["data"];
    EXPECT_EQ(data.size(), 12u);
    // The file's identifier of the twister item, written in handler data too.
    uint32_t twister_id = 0;
    for (const auto& item : j["items"])
      if (item["name"] == host.scene().at(rig.twister).name) twister_id = item["id"];
    EXPECT_NE(twister_id, 0u);
    EXPECT_EQ(data[1], "TwistTarget " + std::to_string(twister_id));
    EXPECT_EQ(data[7], "PostureWeight 0.1");
    EXPECT_EQ(data[9], "SoftReach 0.25");
    EXPECT_EQ(data[10], "MaxStretch 2.5");
    EXPECT_EQ(data.back(), "EndEnd");
  }

  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene(path);
  EXPECT_TRUE(host.warnings().empty());
  const LWItemID root = host.scene().find_by_name("Root");
  stage::Panel& panel = host.open_panel(root, "Tarsel_Top");
  std::vector<std::string> shown;
  for (const stage::Control_value& v : panel.values()) {
    shown.push_back(v.label + ": " + stage::format_value(v));
  }
  EXPECT_EQ(shown,
            (std::vector<std::string>{
                "Twist: 0 ((none))", "Twist Target: 3 (Twister)", "Twist Target Effect: 0 ((none))",
                "Goal Position: 0 ((none))", "Plugin Effect: 4 (Effect)", "Mix With FK: on",
                "Excess Stretch: off", "Posture Weight: 0.1", "Arbitrary Limit: off",
                "Soft Reach: 0.25", "Max Stretch: 2.5"}));
  EXPECT_EQ(panel.value(id_posture_weight).number, static_cast<double>(0.1f));
  EXPECT_EQ(host.used_items(root, 0), (std::vector<LWItemID>{host.scene().find_by_name("Goal"),
                                                             host.scene().find_by_name("Twister"),
                                                             host.scene().find_by_name("Effect")}));
}

// The example of the scene format's documentation loads with the real module.
TEST(TarselModule, LoadsTheDocumentedExampleScene) {
  std::ifstream doc(STAGE_SOURCE_DIR "/docs/scene-format.md");
  const std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
  const std::size_t begin = text.find("```json\n{");
  ASSERT_NE(begin, std::string::npos);
  const std::size_t end = text.find("```", begin + 7);
  const std::string example = text.substr(begin + 7, end - begin - 7);

  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene_record(stage::parse_scene(example, "example.json"), "example.json");
  EXPECT_TRUE(host.warnings().empty());
  const LWItemID upper = host.scene().find_by_name("Upper");
  EXPECT_EQ(host.scene().frame_end, 30);
  EXPECT_EQ(host.scene().at(host.scene().find_by_name("Lower")).goal,
            host.scene().find_by_name("Goal"));
  stage::Panel& panel = host.open_panel(upper, "Tarsel_Top");
  EXPECT_EQ(stage::format_value(panel.value(id_excess_stretch)), "on");
  host.evaluate_frame(15);
  EXPECT_TRUE(std::isfinite(host.bone_tip(host.scene().find_by_name("Lower"), 0.5)[0]));
}

// What the panel accepted is what a saved scene gives back (to a float's precision), and stored
// weights the panel would refuse are refused on load, naming the item, the key and the reason.
TEST(TarselModule, PostureWeightSurvivesSaveAndLoadAsThePanelAcceptedIt) {
  for (const double typed : {0.5, 0.1, 2.5, 1e39, 1e-50, 1e-44, -3.0}) {
    SCOPED_TRACE(typed);
    stage::Host host;
    host.load_module(TARSEL_MODULE_PATH);
    const Tarsel_rig rig(host);
    host.open_panel(rig.root, "Tarsel_Top").set(id_posture_weight, typed);
    const double accepted = host.panels().back()->value(id_posture_weight).number;
    host.load_scene_record(host.scene_record(), "saved.json");
    const LWItemID root = host.scene().find_by_name("Root");
    const double loaded = host.open_panel(root, "Tarsel_Top").value(id_posture_weight).number;
    EXPECT_TRUE(std::isfinite(loaded));
    EXPECT_EQ(loaded == 0, accepted == 0);
    EXPECT_LE(std::fabs(loaded - accepted), std::fabs(accepted) * 1e-7);
  }
  for (const char* stored : {"nan", "inf", "-inf"}) {
    SCOPED_TRACE(stored);
    const std::string text = std::string(R"({"items": [{"id": 1, "type": "object", "name": "Rig"},
        {"id": 2, "type": "bone", "name": "Upper", "owner": 1,
         "handlers": [{"server": "Tarsel_Top", "data": ["PostureWeight )") +
                             stored + R"(", "EndEnd"]}]}]})";
    stage::Host host;
    host.load_module(TARSEL_MODULE_PATH);
    try {
      host.load_scene_record(stage::parse_scene(text, "w.json"), "w.json");
      ADD_FAILURE() << "loaded";
    } catch (const stage::Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "w.json: /items/1/handlers/0: handler \"Tarsel_Top\" of \"Upper\" refused its "
                "data: PostureWeight: the weight is not a finite number");
    }
  }
}

// Finite in, finite out: where squares of coordinates or scales overflow, the chain keeps the
// host's rotations rather than taking NaN.
TEST(TarselModule, ExtremeRigsNeverGetRotationsThatAreNotFinite) {
  const struct {
    const char* what;
    int channel;
    double value;
    bool on_goal;
  } rigs[] = {
      {"rig far away", stage::ch_position, 1e300, false},
      {"rig and goal far away", stage::ch_position, 1e155, true},
      {"rig scaled up", stage::ch_scaling, 1e200, false},
      {"rig scaled down", stage::ch_scaling, 1e-200, false},
      {"goal far away", stage::ch_position, 1e300, true},
  };
  for (const auto& r : rigs) {
    SCOPED_TRACE(r.what);
    stage::Host host;
    host.load_module(TARSEL_MODULE_PATH);
    const Tarsel_rig rig(host);
    host.scene().at(rig.rig).channels[r.channel].value = {r.value, r.value, r.value};
    if (r.on_goal)
      host.scene().at(rig.goal).channels[r.channel].value = {r.value, r.value, r.value};
    host.evaluate(0);
    for (LWItemID bone : {rig.root, rig.mid, rig.tip}) {
      const stage::Vec3 hpb = host.param(bone, LWIP_ROTATION, 0);
      for (double a : hpb) EXPECT_TRUE(std::isfinite(a)) << host.scene().at(bone).name;
    }
  }
}

}  // namespace
