#include "stage/scene_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "stage/error.h"
#include "stage/host.h"
#include "tests/stage/stage_test_util.h"
#include "tests/stage/test_module.h"

namespace {

using stage::deg_to_rad;
using stage::Item_type;
using stage::Vec3;
using stage_test::Host_with_test_module;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

Bank_instance& bank_of(stage::Host& host, LWItemID item) {
  return *static_cast<Bank_instance*>(host.instance(item, "Test_Bank"));
}

// A rig with two bones and a goal, a camera and a light, channels constant and keyed, limits,
// and a Test_Bank handler whose options refer to another item.
struct Rig_scene : Host_with_test_module {
  Rig_scene() {
    scene.fps = 24;
    scene.frame_start = 1;
    scene.frame_end = 48;
    rig = scene.add(Item_type::object, "Rig");
    target = scene.add(Item_type::object, "Target");
    cam = scene.add(Item_type::camera, "Cam");
    lamp = scene.add(Item_type::light, "Lamp");
    upper = scene.add(Item_type::bone, "Upper", rig);
    lower = scene.add(Item_type::bone, "Lower", rig);
    scene.set_parent(lower, upper);
    scene.set_parent(cam, target);
    scene.at(lower).goal = target;
    stage::Item& r = scene.at(rig);
    r.channels[stage::ch_position].keys = {
        {0.0, {0, 0, 0}}, {15 / 24.0, {1, 2, 3}}, {0.7, {4, 5, 6}}};
    r.channels[stage::ch_rotation].value = deg_to_rad(Vec3{90, -45, 30});
    r.channels[stage::ch_pivot].value = {0.25, 0, 0};
    stage::Item& lo = scene.at(lower);
    lo.rest_position = {0, 0, 1};
    lo.rest_rotation = deg_to_rad(Vec3{0, 20, 0});
    lo.rest_length = 1.5;
    lo.limits.flags = 0x3;
    lo.limits.lower = deg_to_rad(Vec3{-30, -60, 0});
    lo.limits.upper = deg_to_rad(Vec3{30, 10, 0});
    lo.channels[stage::ch_scaling].value = {1, 2, 1};
    Bank_instance& b = *static_cast<Bank_instance*>(host.attach_handler(rig, "Test_Bank"));
    b.bank = 0.5;
    b.target = target;
    b.mode = 2;
    host.attach_handler(upper, "Test_Idle");
  }
  LWItemID rig, target, cam, lamp, upper, lower;
};

TEST_F(Rig_scene, FileShowsTheModulesOwnTokens) {
  const std::string path = stage_test::temp_path(".json");
  host.save_scene(path);
  const nlohmann::json j = nlohmann::json::parse(read_text(path));
  const nlohmann::json& rig_json = j["items"][0];
  EXPECT_EQ(rig_json["name"], "Rig");
  // Items made in the host get the file's identifiers 1, 2, ... in scene order, in handler data
  // as well (through the instance's changeID).
  EXPECT_EQ(rig_json["id"], 1);
  EXPECT_EQ(j["items"][1]["id"], 2);
  const std::vector<std::string> data = rig_json["handlers"][0]["data"];
  EXPECT_EQ(data,
            (std::vector<std::string>{"Bank 0.5", "Target 2", "Mode 2", "Enabled 0", "EndEnd"}));
  // The instance itself still refers to the host's item.
  EXPECT_EQ(static_cast<Bank_instance*>(host.instance(rig, "Test_Bank"))->target, target);
  EXPECT_EQ(rig_json["rotation"], nlohmann::json::parse("[90, -45, 30]"));
  EXPECT_EQ(rig_json["position"][1]["frame"], 15);
  EXPECT_EQ(rig_json["position"][2]["time"], 0.7);
  EXPECT_FALSE(j["items"][4]["handlers"][0].contains("data"));  // Test_Idle has no save
  EXPECT_EQ(j["frames"], nlohmann::json::parse("[1, 48]"));
}

TEST_F(Rig_scene, RoundTripKeepsTheSceneAndRemapsInstanceItems) {
  const std::string path = stage_test::temp_path(".json");
  host.save_scene(path);
  stage::Host loaded;
  loaded.load_module(STAGE_TEST_MODULE);
  loaded.load_scene(path);
  EXPECT_TRUE(loaded.warnings().empty());
  const stage::Scene& s = loaded.scene();
  ASSERT_EQ(s.size(), scene.size());
  EXPECT_EQ(s.fps, 24);
  EXPECT_EQ(s.frame_start, 1);
  EXPECT_EQ(s.frame_end, 48);

  const LWItemID rig2 = s.find_by_name("Rig"), target2 = s.find_by_name("Target");
  const LWItemID upper2 = s.find_by_name("Upper"), lower2 = s.find_by_name("Lower");
  // Fresh identifiers: none of the file's is reused.
  const nlohmann::json file = nlohmann::json::parse(read_text(path));
  for (const auto& saved : file["items"]) {
    EXPECT_EQ(s.find(stage::id_from_value(saved["id"].get<uint32_t>())), nullptr);
  }
  EXPECT_EQ(s.at(lower2).parent, upper2);
  EXPECT_EQ(s.at(upper2).parent, rig2);
  EXPECT_EQ(s.at(lower2).goal, target2);
  EXPECT_EQ(s.at(s.find_by_name("Cam")).parent, target2);
  EXPECT_EQ(s.first(LWI_BONE, rig2), upper2);

  const stage::Item& a = scene.at(rig);
  const stage::Item& b = s.at(rig2);
  for (int c = 0; c < stage::ch_count; ++c) {
    SCOPED_TRACE(c);
    ASSERT_EQ(a.channels[c].keys.size(), b.channels[c].keys.size());
    EXPECT_TRIPLE_NEAR(a.channels[c].value, b.channels[c].value, 1e-12);
    for (std::size_t k = 0; k < a.channels[c].keys.size(); ++k) {
      EXPECT_NEAR(a.channels[c].keys[k].time, b.channels[c].keys[k].time, 1e-12);
      EXPECT_TRIPLE_NEAR(a.channels[c].keys[k].value, b.channels[c].keys[k].value, 1e-12);
    }
  }
  const stage::Item& lo = s.at(lower2);
  EXPECT_EQ(lo.limits.flags, 0x3u);
  EXPECT_TRIPLE_NEAR(lo.limits.lower, deg_to_rad(Vec3{-30, -60, 0}), 1e-12);
  EXPECT_TRIPLE_NEAR(lo.limits.upper, deg_to_rad(Vec3{30, 10, 0}), 1e-12);
  EXPECT_TRIPLE_NEAR(lo.rest_rotation, deg_to_rad(Vec3{0, 20, 0}), 1e-12);
  EXPECT_TRIPLE_NEAR(lo.rest_position, (Vec3{0, 0, 1}), 0);
  EXPECT_EQ(lo.rest_length, 1.5);
  EXPECT_TRIPLE_NEAR(lo.channels[stage::ch_scaling].value, (Vec3{1, 2, 1}), 0);

  // The instance was created on the new item, loaded, then told old -> new identifiers.
  const Bank_instance& inst = bank_of(loaded, rig2);
  EXPECT_EQ(inst.bank, 0.5);
  EXPECT_EQ(inst.mode, 2);
  EXPECT_EQ(inst.item, rig2);
  EXPECT_EQ(inst.target, target2);
  ASSERT_EQ(s.at(upper2).handlers.size(), 1u);
  EXPECT_EQ(s.at(upper2).handlers[0].server, "Test_Idle");
  EXPECT_NE(s.at(upper2).handlers[0].motion, nullptr);
}

TEST(SceneFile, IdentifierPairsNeverChainIntoEachOther) {
  // Saved identifiers equal to those a fresh host hands out first: were they reused, the pair
  // for "Second" (old 0x01000001) would move the target again after the pair for "First".
  const std::string text = R"({"items": [
    {"id": 16777218, "type": "object", "name": "First",
     "handlers": [{"server": "Test_Bank", "data": ["Target 16777218", "EndEnd"]}]},
    {"id": 16777217, "type": "object", "name": "Second"}]})";
  stage::Host host;
  host.load_module(STAGE_TEST_MODULE);
  host.load_scene_record(stage::parse_scene(text, "pairs.json"), "pairs.json");
  const LWItemID first = host.scene().find_by_name("First");
  EXPECT_EQ(bank_of(host, first).target, first);
  EXPECT_EQ(bank_of(host, first).item, first);
  EXPECT_EQ(bank_of(host, first).bank, TEST_BANK_DEFAULT);  // no Bank block: the default
}

TEST(SceneFile, HandlersWithoutTheirModuleAreKeptWithTheirData) {
  const std::string text = R"({"items": [{"id": 3, "type": "object", "name": "Rig",
     "handlers": [{"server": "Test_Bank", "data": "Bank 2\nEndEnd\n"}]}]})";
  stage::Host host;  // no module loaded
  host.load_scene_record(stage::parse_scene(text, "kept.json"), "kept.json");
  ASSERT_EQ(host.warnings().size(), 1u);
  EXPECT_NE(host.warnings()[0].find("kept.json: /items/0/handlers/0: handler \"Test_Bank\" is "
                                    "inactive: no loaded module offers it"),
            std::string::npos)
      << host.warnings()[0];
  host.evaluate(0);  // the inactive handler is skipped
  const stage::Scene_record again = host.scene_record();
  ASSERT_EQ(again.items[0].handlers.size(), 1u);
  EXPECT_EQ(again.items[0].handlers[0].data, (std::vector<std::string>{"Bank 2", "EndEnd"}));
}

TEST(SceneFile, DefaultsAndKeyTimes) {
  const stage::Scene_record r = stage::parse_scene(R"({"fps": 10, "items": [
      {"id": 1, "type": "object", "rotation": [{"frame": 45, "value": [90, 0, 0]},
                                               {"time": 0.5, "value": [0, 0, 0]}]},
      {"id": 2, "type": "bone", "owner": 1}]})",
                                                   "defaults.json");
  EXPECT_EQ(r.fps, 10);
  EXPECT_EQ(r.frame_start, 0);
  EXPECT_EQ(r.frame_end, 45);  // the last key
  const stage::Channel& rot = r.items[0].channels[stage::ch_rotation];
  ASSERT_EQ(rot.keys.size(), 2u);  // sorted by time
  EXPECT_EQ(rot.keys[0].time, 0.5);
  EXPECT_EQ(rot.keys[1].time, 4.5);
  EXPECT_NEAR(rot.keys[1].value[0], stage::pi / 2, 1e-15);
  EXPECT_TRIPLE_NEAR(r.items[0].channels[stage::ch_scaling].value, (Vec3{1, 1, 1}), 0);
  EXPECT_EQ(r.items[1].parent, 0u);  // a bone without parent hangs from its owner
  EXPECT_EQ(r.items[0].name, "");

  stage::Host host;
  host.load_scene_record(r, "defaults.json");
  const LWItemID bone = host.scene().first(LWI_BONE, host.scene().first(LWI_OBJECT, LWITEM_NULL));
  EXPECT_EQ(host.scene().at(bone).parent, host.scene().first(LWI_OBJECT, LWITEM_NULL));
}

TEST(SceneFile, BadFilesAreRefusedWithFilePathAndReason) {
  struct Case {
    const char* what;
    const char* text;
    const char* message;
  } cases[] = {
      {"syntax", R"({"items": [})", "bad.json: not valid JSON: "},
      {"not an object", "[]", "bad.json: /: expected an object"},
      {"unknown top field", R"({"itemz": []})", "bad.json: /itemz: unknown field"},
      {"unknown field with a slash", R"({"a/b~c": 1})", "bad.json: /a~1b~0c: unknown field"},
      {"unknown item field", R"({"items": [{"id": 1, "type": "object", "rotaton": [0, 0, 0]}]})",
       "bad.json: /items/0/rotaton: unknown field"},
      {"unknown type", R"({"items": [{"id": 1, "type": "mesh"}]})",
       "bad.json: /items/0/type: unknown item type \"mesh\""},
      {"missing id", R"({"items": [{"type": "object"}]})",
       "bad.json: /items/0: an item needs an \"id\""},
      {"id zero", R"({"items": [{"id": 0, "type": "object"}]})",
       "bad.json: /items/0/id: an item id is a whole number from 1 to 4294967295"},
      {"id too big", R"({"items": [{"id": 4294967296, "type": "object"}]})",
       "bad.json: /items/0/id: an item id is a whole number from 1 to 4294967295"},
      {"id as text", R"({"items": [{"id": "1", "type": "object"}]})",
       "bad.json: /items/0/id: expected an item id"},
      {"duplicate id", R"({"items": [{"id": 1, "type": "object"}, {"id": 1, "type": "light"}]})",
       "bad.json: /items/1/id: id 1 is already used by /items/0"},
      {"parent names no item", R"({"items": [{"id": 1, "type": "object", "parent": 9}]})",
       "bad.json: /items/0/parent: no item has id 9"},
      {"goal names no item",
       R"({"items": [{"id": 1, "type": "object"}, {"id": 2, "type": "object", "goal": 7}]})",
       "bad.json: /items/1/goal: no item has id 7"},
      {"owner names no item", R"({"items": [{"id": 1, "type": "bone", "owner": 5}]})",
       "bad.json: /items/0/owner: no item has id 5"},
      {"cycle", R"({"items": [{"id": 1, "type": "object", "name": "a", "parent": 3},
                              {"id": 2, "type": "object", "name": "b", "parent": 1},
                              {"id": 3, "type": "object", "name": "c", "parent": 2}]})",
       "bad.json: /items/0/parent: parent links form a cycle: \"a\" -> \"c\" -> \"b\" -> \"a\""},
      {"own parent", R"({"items": [{"id": 1, "type": "object", "name": "a", "parent": 1}]})",
       "bad.json: /items/0/parent: parent links form a cycle: \"a\" -> \"a\""},
      {"bone without owner", R"({"items": [{"id": 1, "type": "bone"}]})",
       "bad.json: /items/0: a bone needs an \"owner\" object"},
      {"owner not an object",
       R"({"items": [{"id": 1, "type": "camera"}, {"id": 2, "type": "bone", "owner": 1}]})",
       "bad.json: /items/1/owner: item 1 is not an object"},
      {"owner of a light", R"({"items": [{"id": 1, "type": "light", "owner": 1}]})",
       "bad.json: /items/0/owner: only bones have an owner"},
      {"non-finite number",
       R"({"items": [{"id": 1, "type": "object", "position": [0, 1e400, 0]}]})",
       "bad.json: /items/0/position/1: the number is not finite"},
      {"name of wrong type", R"({"items": [{"id": 1, "type": "object", "name": 5}]})",
       "bad.json: /items/0/name: expected a string"},
      {"number as text", R"({"items": [{"id": 1, "type": "object", "scaling": [1, "2", 1]}]})",
       "bad.json: /items/0/scaling/1: expected a number"},
      {"short triple", R"({"items": [{"id": 1, "type": "object", "position": [0, 0]}]})",
       "bad.json: /items/0/position: expected three numbers [x, y, z]"},
      {"channel of wrong type", R"({"items": [{"id": 1, "type": "object", "pivot": "here"}]})",
       "bad.json: /items/0/pivot: expected a triple [x, y, z] or a non-empty list of keys"},
      {"key with frame and time",
       R"({"items": [{"id": 1, "type": "object",
                      "rotation": [{"frame": 1, "time": 2, "value": [0, 0, 0]}]}]})",
       "bad.json: /items/0/rotation/0: a key has either \"frame\" or \"time\""},
      {"two keys at one time",
       R"({"items": [{"id": 1, "type": "object", "rotation": [
            {"frame": 30, "value": [0, 0, 0]}, {"time": 1, "value": [1, 0, 0]}]}]})",
       "bad.json: /items/0/rotation: two keys at the same time"},
      {"limits reversed",
       R"({"items": [{"id": 1, "type": "object", "limits": {"heading": [10, -10]}}]})",
       "bad.json: /items/0/limits/heading: the lower limit is above the upper limit"},
      {"rest pose on an object", R"({"items": [{"id": 1, "type": "object", "rest_length": 1}]})",
       "bad.json: /items/0/rest_length: only bones have a rest pose"},
      {"negative rest length",
       R"({"items": [{"id": 1, "type": "object"},
                     {"id": 2, "type": "bone", "owner": 1, "rest_length": -1}]})",
       "bad.json: /items/1/rest_length: a rest length is not negative"},
      {"zero frame rate", R"({"fps": 0})", "bad.json: /fps: the frame rate must be above 0"},
      {"frames reversed", R"({"frames": [10, 2]})",
       "bad.json: /frames: the first frame is after the last"},
      {"future version", R"({"version": 2})", "bad.json: /version: unknown format version"},
      {"handler data of wrong type",
       R"({"items": [{"id": 1, "type": "object", "handlers": [{"server": "X", "data": 3}]}]})",
       "bad.json: /items/0/handlers/0/data: expected a list of lines or one string"},
      {"mesh of too many vertices",
       R"({"meshes": [{"source": "a.fbx", "mesh": 0, "vertices": 5000001, "checksum": "",
                       "placement": [[1, 0, 0], [0, 1, 0], [0, 0, 1], [0, 0, 0]], "bones": []}]})",
       "bad.json: /meshes/0/vertices: expected a vertex count from 0 to 5000000"},
      {"bone bind of three rows",
       R"({"meshes": [{"source": "a.fbx", "mesh": 0, "vertices": 3, "checksum": "",
                       "placement": [[1, 0, 0], [0, 1, 0], [0, 0, 1], [0, 0, 0]],
                       "bones": [{"joint": "hip", "bind": [[1, 0, 0], [0, 1, 0], [0, 0, 1]]}]}]})",
       "bad.json: /meshes/0/bones/0/bind: expected four rows [x, y, z]"},
      {"handler without server",
       R"({"items": [{"id": 1, "type": "object", "handlers": [{"data": []}]}]})",
       "bad.json: /items/0/handlers/0: a handler needs a \"server\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      stage::parse_scene(c.text, "bad.json");
      ADD_FAILURE() << "accepted";
    } catch (const stage::Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

TEST_F(Rig_scene, RefusedLoadKeepsTheCurrentScene) {
  struct Case {
    const char* what;
    const char* text;
    const char* message;
  } cases[] = {
      {"malformed instance data",
       R"({"items": [{"id": 1, "type": "object",
           "handlers": [{"server": "Test_Bank", "data": ["Bank many", "EndEnd"]}]}]})",
       "/items/0/handlers/0: handler \"Test_Bank\" of \"\": its data is malformed: line 1: "
       "\"many\" is not a number"},
      {"number beyond a float",
       R"({"items": [{"id": 1, "type": "object",
           "handlers": [{"server": "Test_Bank", "data": ["Bank 1e+300", "EndEnd"]}]}]})",
       "/items/0/handlers/0: handler \"Test_Bank\" of \"\": its data is malformed: line 1: "
       "\"1e+300\" is outside the range of a float (about 1.2e-38 to 3.4e+38)"},
      {"bad link", R"({"items": [{"id": 1, "type": "object", "goal": 2}]})",
       "/items/0/goal: no item has id 2"},
  };
  const std::size_t items = scene.size();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = stage_test::temp_path(".json");
    write_text(path, c.text);
    try {
      host.load_scene(path);
      ADD_FAILURE() << "loaded";
    } catch (const stage::Error& e) {
      EXPECT_EQ(std::string(e.what()), path + ": " + c.message) << e.what();
    }
    EXPECT_EQ(scene.size(), items);
    EXPECT_EQ(bank_of(host, rig).bank, 0.5);
  }
  try {
    host.load_scene(stage_test::temp_path(".missing.json"));
    ADD_FAILURE() << "loaded";
  } catch (const stage::Error& e) {
    EXPECT_NE(std::string(e.what()).find(".missing.json: cannot open"), std::string::npos);
  }
}

TEST_F(Rig_scene, FailedSaveLeavesNoTraceAndSavesReplaceWhole) {
  const std::string path = stage_test::temp_path(".json");
  write_text(path, "an old file, not a scene");
  host.save_scene(path);
  EXPECT_EQ(stage::read_scene_file(path).items.size(), scene.size());

  // A directory in the way: the save fails, names the target and leaves the directory as it was.
  const std::string dir = stage_test::temp_path(".dir");
  mkdir(dir.c_str(), 0755);
  write_text(dir + "/keep", "x");
  try {
    host.save_scene(dir);
    ADD_FAILURE() << "saved over a directory";
  } catch (const stage::Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(dir + ": cannot write", 0), 0u) << e.what();
  }
  EXPECT_EQ(read_text(dir + "/keep"), "x");
  EXPECT_THROW(host.save_scene(dir + "/no/such/folder/scene.json"), stage::Error);
  // No temporary file is left next to the target.
  const std::string prefix = dir.substr(dir.rfind('/') + 1) + ".";
  DIR* folder = opendir(STAGE_TEST_DIR);
  ASSERT_NE(folder, nullptr);
  for (dirent* e = readdir(folder); e; e = readdir(folder)) {
    EXPECT_NE(std::string(e->d_name).rfind(prefix, 0), 0u) << e->d_name;
  }
  closedir(folder);
}

// A change the file cannot take member by member replaces the smallest value that holds it, and
// what did not change keeps its text (1.10 stays 1.10).
TEST(SceneFile, PatchedTextChangesOnlyTheChangedValues) {
  const struct {
    const char* original;
    const char* before;
    const char* after;
    const char* patched;
  } cases[] = {
      // A key the file leaves out: the object holding it is replaced.
      {"{\"h\": {\"s\": \"T\"}, \"x\": 1.10}",
       "{\"h\": {\"s\": \"T\", \"d\": [\"K 1\"]}, \"x\": 1.1}",
       "{\"h\": {\"s\": \"T\", \"d\": [\"K 2\"]}, \"x\": 1.1}",
       "{\"h\": {\"s\": \"T\", \"d\": [\"K 2\"]}, \"x\": 1.10}"},
      // An array that grows is replaced whole, its lines moved to the file's indentation.
      {"{\n    \"d\": [\"K 1\"],\n    \"x\": 1.10\n}", "{\n  \"d\": [\"K 1\"],\n  \"x\": 1.1\n}",
       "{\n  \"d\": [\n    \"K 1\",\n    \"L 2\"\n  ],\n  \"x\": 1.1\n}",
       "{\n    \"d\": [\n      \"K 1\",\n      \"L 2\"\n    ],\n    \"x\": 1.10\n}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.original);
    EXPECT_EQ(stage::patch_scene_text(c.original, c.before, c.after), c.patched);
  }
}

}  // namespace
