// Rig warnings: each rig that loads but cannot do what its author meant gives its warning once,
// naming the file and the item; sound rigs (every example) give none.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "stage/host.h"
#include "stage/report/warnings.h"
#include "stage/scene_file.h"

namespace {

using nlohmann::json;

std::string example_text(const std::string& name) {
  std::ifstream in(std::string(TARSEL_EXAMPLES_DIR) + "/" + name + ".json");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Loading's warnings and the rig checks, as the runner gives them.
std::vector<std::string> warnings_of(const std::string& text, const std::string& file) {
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene_record(stage::parse_scene(text, file), file);
  std::vector<std::string> all = host.warnings();
  for (const std::string& w : report::rig_warnings(host, file)) all.push_back(w);
  return all;
}

json& item(json& scene, int id) {
  for (json& i : scene["items"])
    if (i["id"] == id) return i;
  throw std::runtime_error("no item " + std::to_string(id));
}

// The arm example's root options with one line replaced.
void set_option(json& scene, const std::string& key, const std::string& line) {
  for (json& l : item(scene, 10)["handlers"][0]["data"])
    if (l.get<std::string>().rfind(key + " ", 0) == 0) l = line;
}

json bone(int id, const std::string& name, int parent, bool tarsel) {
  json b = {{"id", id},
            {"type", "bone"},
            {"name", name},
            {"owner", 1},
            {"parent", parent},
            {"position", {0, 0, 0.3}},
            {"rest_length", 0.3},
            {"rest_position", {0, 0, 0.3}},
            {"rest_rotation", {0, -20, 0}}};
  if (tarsel) b["handlers"] = json::array({{{"server", "Tarsel"}}});
  return b;
}

// The arm example as a clip for `rig`: no handlers or goals, and a hand below the forearm.
void unrigged_arm(json& s) {
  for (json& i : s["items"]) {
    i.erase("handlers");
    i.erase("goal");
  }
  s["items"].push_back(bone(12, "hand", 11, false));
}

// What `rig FILE ARGS --strict` warned (one line each) and its exit code.
std::vector<std::string> rig_warnings_of(const json& scene, const std::string& args, int& status) {
  const std::string dir = E2E_TEST_DIR, file = dir + "/rig.json", err = dir + "/rig_err.txt";
  std::ofstream(file) << scene.dump();
  const int raw = std::system(("cd '" + dir + "' && '" TARSEL_STAGE_EXE "' rig rig.json -o " +
                               "rigged.json --strict " + args + " 2>'" + err + "'")
                                  .c_str());
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(err);
  std::vector<std::string> out;
  const std::string prefix = "tarsel-stage: warning: ";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
  return out;
}

TEST(RigWarnings, EachFaultyRigGivesItsWarningsAndSoundRigsNone) {
  const struct {
    const char* name;
    std::function<void(json&)> change;
    std::vector<const char*> says;  // one warning per entry, each holding that text
    const char* rig = nullptr;      // `rig` arguments: the changed scene is rigged with --strict
  } cases[] = {
      {"bones without a rest rotation",
       [](json& s) {
         item(s, 11)["rest_rotation"] = {0, 0, 0};
       },
       {"item \"upper_arm\": no bone of its chain below it has a rest_rotation"}},
      {"goal on the chain root",
       [](json& s) {
         item(s, 11).erase("goal");
         item(s, 10)["goal"] = 2;
       },
       {"item \"upper_arm\": has a goal, but the chain of \"upper_arm\" takes its goal from its "
        "last item \"forearm\""}},
      {"a middle bone without Tarsel",
       [](json& s) {
         item(s, 11).erase("goal");
         s["items"].push_back(bone(12, "wrist", 11, false));
         s["items"].push_back(bone(13, "hand", 12, true));
         item(s, 13)["goal"] = 2;
       },
       {"item \"wrist\": has no Tarsel handler", "item \"forearm\": is the last item"}},
      {"a twist target the scene lacks",
       [](json& s) { set_option(s, "TwistTarget", "TwistTarget 99"); },
       {"Twist Target (TwistTarget) names item 99, which the scene does not have"}},
      {"other options naming missing items",
       [](json& s) {
         set_option(s, "Twist", "Twist 77");
         set_option(s, "TwistEffect", "TwistEffect 78");
         set_option(s, "PluginEffect", "PluginEffect 79");
         set_option(s, "GoalPosition", "GoalPosition 80");
       },
       {"Twist (Twist) names item 77", "Twist Target Effect (TwistEffect) names item 78",
        "Plugin Effect (PluginEffect) names item 79",
        "Goal Position (GoalPosition) names item 80"}},
      {"misspelled option keys",
       [](json& s) {
         set_option(s, "MixWithFk", "MixWithFK 1");
         set_option(s, "PostureWeight", "Posture_Weight 0.2");
       },
       {"item \"upper_arm\": handler \"Tarsel_Top\" never read its data line \"MixWithFK 1\"",
        "never read its data line \"Posture_Weight 0.2\""}},
      {"Arbitrary Limit without markers",
       [](json& s) { set_option(s, "ArbitraryLimit", "ArbitraryLimit 1"); },
       {"Arbitrary Limit (ArbitraryLimit) is on, but no sibling"}},
      {"a goal position that is not a child of the last item",
       [](json& s) { set_option(s, "GoalPosition", "GoalPosition 3"); },
       {"Goal Position (GoalPosition) \"elbow_pole\" is not a child of the chain's last item"}},
      {"a chain root without Tarsel bones",
       [](json& s) { item(s, 11)["handlers"] = json::array(); },
       {"item \"upper_arm\": carries Tarsel_Top but no child carries Tarsel"}},
      {"a one-bone chain pointing at its own goal",
       [](json& s) {
         item(s, 11)["handlers"] = json::array();
         item(s, 10)["goal"] = 2;
       },
       {}},
      {"the goal parented under the chain",
       [](json& s) { item(s, 2)["parent"] = 11; },
       {"item \"hand_goal\": is the goal of the chain of \"upper_arm\" but is parented under "
        "\"forearm\""}},
      {"the twist target parented under the chain",
       [](json& s) { item(s, 3)["parent"] = 10; },
       {"item \"elbow_pole\": is the Twist Target of the chain of \"upper_arm\" but is parented "
        "under \"upper_arm\""}},
      {"a bone with rest_position but no position",
       [](json& s) { item(s, 11).erase("position"); },
       {"item \"forearm\": has a rest_position but no position"}},
      {"the goal on a bone below the chain's end that lacks Tarsel",
       [](json& s) {
         item(s, 11).erase("goal");
         s["items"].push_back(bone(12, "hand", 11, false));
         item(s, 12)["goal"] = 2;
       },
       {"item \"hand\": has a goal but no Tarsel handler, so the chain of \"upper_arm\" ends at "
        "\"forearm\""}},
      {"a middle joint without a rest bend",
       [](json& s) {
         item(s, 11).erase("goal");
         item(s, 11)["rest_rotation"] = {0, 0, 0};
         s["items"].push_back(bone(12, "hand", 11, true));
         item(s, 12)["goal"] = 2;
       },
       {"item \"forearm\": is a joint of the chain of \"upper_arm\" but has no rest_rotation"}},
      {"markers that are not rotated",
       [](json& s) {
         set_option(s, "ArbitraryLimit", "ArbitraryLimit 1");
         for (int k = 0; k < 3; ++k)
           s["items"].push_back({{"id", 20 + k},
                                 {"type", "object"},
                                 {"name", "arm-for-ik-limit-" + std::to_string(k)},
                                 {"parent", 1}});
         item(s, 10)["parent"] = 1;
       },
       {"item \"upper_arm\": its limit markers are not rotated"}},
      {"markers with Arbitrary Limit off",
       [](json& s) {
         s["items"].push_back({{"id", 20},
                               {"type", "object"},
                               {"name", "arm-for-ik-limit-1"},
                               {"parent", 1},
                               {"rotation", {30, 0, 0}}});
       },
       {"item \"upper_arm\": has limit markers beside it (\"arm-for-ik-limit-1\") but Arbitrary "
        "Limit (ArbitraryLimit) is off"}},
      {"rig: a one-bone chain",
       unrigged_arm,
       {"--chain forearm:hand: the chain is the one bone \"forearm\", which turns to point at "
        "the goal but cannot bend, so \"hand\" is on its goal only where the goal is that "
        "bone's length away; to bend at \"forearm\", start the chain one joint higher "
        "(--chain upper_arm:hand)"},
       "--chain forearm:hand"},
      {"rig: pins whose holds overlap",
       unrigged_arm,
       {"--pin hand:15-40:5 overlaps --pin hand:0-20:5 on frames 10-20"},
       "--chain upper_arm:hand --pin hand:0-20 --pin hand:15-40"},
      {"rig: a pin eased into another's hold",
       unrigged_arm,
       {"--pin hand:0-20:0 overlaps --pin hand:24-40:8 on frames 16-20"},
       "--chain upper_arm:hand --pin hand:24-40:8 --pin hand:0-20:0"},
      {"rig: a pin the chain cannot reach",
       [](json& s) {
         unrigged_arm(s);
         item(s, 1)["position"] = json::parse(
             R"([{"frame": 0, "value": [0.2, 1.45, 0]}, {"frame": 48, "value": [2.2, 1.45, 0]}])");
       },
       {"--pin hand: the chain cannot reach the held place on"},
       "--chain upper_arm:hand --pin hand:0-48"},
      {"rig: pins apart by their eases",
       unrigged_arm,
       {},
       "--chain upper_arm:hand --pin hand:0-10 --pin hand:21-40 --pin hand:47-48:2"},
  };
  const json arm = json::parse(example_text("two_bone_arm"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    json scene = arm;
    c.change(scene);
    int status = 0;
    const std::vector<std::string> got =
        c.rig ? rig_warnings_of(scene, c.rig, status) : warnings_of(scene.dump(), "rig.json");
    if (c.rig) {
      EXPECT_EQ(status, c.says.empty() ? 0 : 1);  // --strict fails a rig that warns
    }
    std::string all;
    for (const std::string& w : got) all += w + "\n";
    ASSERT_EQ(got.size(), c.says.size()) << all;
    for (const char* text : c.says) {
      bool found = false;
      for (const std::string& w : got) found |= w.find(text) != std::string::npos;
      EXPECT_TRUE(found) << "no warning says: " << text << "\n" << all;
    }
    for (const std::string& w : got) EXPECT_EQ(w.rfind("rig.json: ", 0), 0u) << w;
  }
  for (const char* name :
       {"two_bone_arm", "leg_limits", "tail_cone", "branching", "plugin_effect"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(warnings_of(example_text(name), name), std::vector<std::string>{});
  }
}

}  // namespace
