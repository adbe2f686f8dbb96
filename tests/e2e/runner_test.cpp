// The command-line runner: its frame ranges, its three report forms, scene files with a
// description, and the built program run on every example scene and on broken input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/report/frames.h"
#include "stage/report/report.h"

namespace {

const char* const examples[] = {"two_bone_arm", "leg_limits", "tail_cone", "branching",
                                "plugin_effect"};

std::string example(const std::string& name) {
  return std::string(TARSEL_EXAMPLES_DIR) + "/" + name + ".json";
}

std::string temp_path(const std::string& suffix) {
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(E2E_TEST_DIR) + "/" + t->test_suite_name() + "_" + t->name() + suffix;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(FrameRange, ParsesSingleFramesAndRanges) {
  const struct {
    const char* text;
    int first, last;
  } good[] = {
      {"0-48", 0, 48},
      {"7", 7, 7},
      {"-10--2", -10, -2},
      {"-5-5", -5, 5},
      {"+3-4", 3, 4},
      {"12-12", 12, 12},
      {"-2147483648-2147483647", std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}};
  for (const auto& g : good) {
    SCOPED_TRACE(g.text);
    const report::Frame_range r = report::parse_frame_range(g.text);
    EXPECT_EQ(r.first, g.first);
    EXPECT_EQ(r.last, g.last);
  }
  EXPECT_EQ(report::parse_frame_range("-2147483648-2147483647").count(), 4294967296LL);
}

TEST(FrameRange, RejectsMalformedRangesWithAMessageNamingThem) {
  for (const char* bad : {"", "5-2", "abc", "1-", "-", "1-2-3", "2147483648", "1..5", " 1-2",
                          "1-2 ", "0x10", "3-a", "--1"}) {
    SCOPED_TRACE(std::string("\"") + bad + "\"");
    try {
      report::parse_frame_range(bad);
      ADD_FAILURE() << "accepted";
    } catch (const stage::Error& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("\"") + bad + "\""), std::string::npos)
          << e.what();
    }
  }
}

report::Report sample_report() {
  report::Report report;
  report.scene = "scene.json";
  report.description = "two frames";
  report.fps = 24;
  for (int f = 3; f <= 4; ++f) {
    report::Frame_sample frame;
    frame.frame = f;
    frame.time = f / 24.0;
    report::Item_sample root;
    root.name = "arm, \"left\"";
    root.hpb_deg = {10.5, -0.00001, 180};
    root.position = {1, 2, 3};
    root.is_chain_root = true;
    root.has_goal = f == 3;
    root.end_name = "hand";
    root.goal_name = "target";
    root.goal_distance = f == 3 ? 1.5e-7 : 0;
    report::Item_sample bone;
    bone.name = "hand";
    bone.hpb_deg = {std::nan(""), 0, 0};
    bone.position = {-1, 0.25, 1e6};
    frame.items = {root, bone};
    report.frames.push_back(frame);
  }
  return report;
}

// The fields of a CSV line, quotes undone.
std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

constexpr std::size_t csv_columns = 30;

TEST(Report, CsvHasOneQuotedRecordPerFrameAndItem) {
  const std::vector<std::string> lines = lines_of(report::format_csv(sample_report()));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(csv_fields(lines[0]).size(), csv_columns);
  EXPECT_EQ(lines[0].rfind("scene,frame,time,item,heading,pitch,bank,world_heading,", 0), 0u);
  EXPECT_EQ(lines[1].rfind("scene.json,3,0.125,\"arm, \"\"left\"\"\",10.5,", 0), 0u) << lines[1];
  for (const std::string& line : lines) EXPECT_EQ(csv_fields(line).size(), csv_columns) << line;
  EXPECT_EQ(csv_fields(lines[1])[13], "1.5e-07");  // goal_distance
  EXPECT_EQ(csv_fields(lines[2])[13], "");         // not a chain root: empty distance
  EXPECT_EQ(csv_fields(lines[3])[13], "");         // a chain without goal: empty too
  EXPECT_EQ(lines[2].rfind("scene.json,3,0.125,hand,nan,0,0,0,0,0,-1,0.25,1000000,", 0), 0u)
      << lines[2];
}

TEST(Report, JsonCarriesFramesItemsAndChainsWithNullForMissingValues) {
  const nlohmann::json j = nlohmann::json::parse(report::format_json(sample_report()));
  EXPECT_EQ(j["scene"], "scene.json");
  EXPECT_EQ(j["description"], "two frames");
  EXPECT_EQ(j["fps"], 24.0);
  ASSERT_EQ(j["frames"].size(), 2u);
  const nlohmann::json& f0 = j["frames"][0];
  EXPECT_EQ(f0["frame"], 3);
  ASSERT_EQ(f0["items"].size(), 2u);
  EXPECT_EQ(f0["items"][0]["name"], "arm, \"left\"");
  EXPECT_EQ(f0["items"][0]["heading"], 10.5);
  EXPECT_EQ(f0["items"][0]["position"], nlohmann::json::array({1.0, 2.0, 3.0}));
  EXPECT_TRUE(f0["items"][1]["heading"].is_null());  // NaN has no JSON form
  ASSERT_EQ(f0["chains"].size(), 1u);
  EXPECT_EQ(f0["chains"][0]["root"], "arm, \"left\"");
  EXPECT_EQ(f0["chains"][0]["end"], "hand");
  EXPECT_EQ(f0["chains"][0]["goal"], "target");
  EXPECT_EQ(f0["chains"][0]["goal_distance"], 1.5e-7);
  EXPECT_TRUE(j["frames"][1]["chains"][0]["goal"].is_null());
  EXPECT_TRUE(j["frames"][1]["chains"][0]["goal_distance"].is_null());
}

TEST(Report, TableAlignsColumnsAndMarksChainsWithoutGoal) {
  const std::vector<std::string> lines = lines_of(report::format_table(sample_report()));
  ASSERT_EQ(lines.size(), 13u);  // five title lines, blank, header, two frames of 2 items + chain
  EXPECT_EQ(lines[0], "scene scene.json: two frames");
  const std::string& header = lines[6];
  const std::size_t heading_end = header.find("heading") + 7;
  for (std::size_t i = 7; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    if (lines[i].find("chain ") != std::string::npos) continue;  // a chain's own line
    EXPECT_NE(lines[i][heading_end - 1], ' ');                   // numbers end under their header
    EXPECT_EQ(lines[i][heading_end], ' ');
  }
  EXPECT_NE(lines[7].find("1.500e-07"), std::string::npos);
  EXPECT_EQ(lines[7].find("-0.000"), std::string::npos);  // no negative zero
  EXPECT_EQ(lines[10].back(), '-');                       // frame 4's chain has no goal
}

// --- The built program ------------------------------------------------------------------------

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result run_runner(const std::string& args) {
  const std::string out = temp_path(".stdout"), err = temp_path(".stderr");
  const std::string command =
      std::string("'") + TARSEL_STAGE_EXE + "' " + args + " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

TEST(RunnerProgram, EveryExampleRunsInEveryFormat) {
  for (const char* name : examples) {
    SCOPED_TRACE(name);
    const nlohmann::json scene = nlohmann::json::parse(read_file(example(name)));
    ASSERT_TRUE(scene["description"].is_string());
    const int frames = scene["frames"][1].get<int>() - scene["frames"][0].get<int>() + 1;

    const Result table = run_runner("run '" + example(name) + "'");
    ASSERT_EQ(table.status, 0) << table.err;
    // No warning for the examples, and the module's own diagnostic lines come only as a count.
    for (const std::string& line : lines_of(table.err))
      EXPECT_EQ(line.rfind("tarsel-stage: note: ", 0), 0u) << line;
    EXPECT_NE(table.out.find(scene["description"].get<std::string>()), std::string::npos);

    const std::string json_file = temp_path(std::string("_") + name + ".json");
    const Result json_run = run_runner("run '" + example(name) + "' -o '" + json_file + "'");
    ASSERT_EQ(json_run.status, 0) << json_run.err;
    EXPECT_EQ(json_run.out, "");
    const nlohmann::json report = nlohmann::json::parse(read_file(json_file));
    std::remove(json_file.c_str());
    ASSERT_EQ(report["frames"].size(), static_cast<std::size_t>(frames));
    for (const nlohmann::json& frame : report["frames"]) {
      ASSERT_FALSE(frame["items"].empty());
      ASSERT_EQ(frame["chains"].size(), 1u);
      for (const nlohmann::json& item : frame["items"]) {
        for (const char* angle : {"heading", "pitch", "bank"}) EXPECT_TRUE(item[angle].is_number());
      }
      EXPECT_TRUE(frame["chains"][0]["goal_distance"].is_number());
    }

    const Result csv = run_runner("run '" + example(name) + "' --frames 0-4 --format csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::vector<std::string> lines = lines_of(csv.out);
    ASSERT_GT(lines.size(), 5u);
    for (const std::string& line : lines) {
      EXPECT_EQ(csv_fields(line).size(), csv_columns) << line;
    }
  }
}

TEST(RunnerProgram, FailuresAreOneLineOnStderrAndNoOutputFile) {
  const std::string bad_json = temp_path(".json");
  std::ofstream(bad_json) << "{\"items\": [ {\"id\": 1, \"type\": \"object\"} ";
  const std::string output = temp_path(".csv");
  std::remove(output.c_str());
  const std::string long_range = temp_path("_range.json");
  nlohmann::json scene = nlohmann::json::parse(read_file(example("two_bone_arm")));
  scene["frames"] = {-2147483647, 2147483647};
  std::ofstream(long_range) << scene.dump();
  const std::string arm = "'" + example("two_bone_arm") + "'";
  const struct {
    const char* name;
    std::string args;
    const char* says;
  } cases[] = {
      {"missing module", "run " + arm + " --module /nonexistent/tarsel.p", "module not found"},
      {"range backwards", "run " + arm + " --frames 5-2", "5-2"},
      {"range not a number", "run " + arm + " --frames abc", "abc"},
      {"unknown format", "run " + arm + " --format xml", "xml"},
      {"missing scene", "run /nonexistent/scene.json", "/nonexistent/scene.json"},
      {"broken scene", "run '" + bad_json + "' -o '" + output + "'", "not valid JSON"},
      {"unwritable output", "run " + arm + " -o /nonexistent/out.csv", "/nonexistent/out.csv"},
      {"format against extension", "run " + arm + " --format csv -o '" + output + ".json'",
       "contradicts"},
      {"no subcommand", "", "subcommand"},
      {"unknown option", "run " + arm + " --frame 3", "--frame"},
      {"unknown panel control", "panel " + arm + " --set 'Elbow=1'", "Elbow"},
      {"too many frames", "run " + arm + " --frames 0-10000000", "at most 10000000"},
      {"scene's range too long", "run '" + long_range + "'",
       "/frames: the scene spans 4294967295 frames; a scene holds at most 10000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = run_runner(c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("tarsel-stage: error: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
  }
  EXPECT_FALSE(std::ifstream(output).good());  // nothing half-written
  std::remove(bad_json.c_str());
}

TEST(RunnerProgram, FramesOutsideTheScenesRangeAndTheEnvironmentModuleAreAccepted) {
  const Result r =
      run_runner("run '" + example("two_bone_arm") + "' --frames 100-101 --format csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines_of(r.out).size(), 1u + 2 * 2);  // header, two frames of two items
  const Result env = run_runner("run '" + example("two_bone_arm") + "' --frames 0");
  ASSERT_EQ(env.status, 0);
  const std::string with_env = std::string("TARSEL_MODULE=/nonexistent/x.p ");
  const int raw = std::system((with_env + "'" + TARSEL_STAGE_EXE + "' run '" +
                               example("two_bone_arm") + "' --frames 0 >/dev/null 2>&1")
                                  .c_str());
  EXPECT_NE(WEXITSTATUS(raw), 0);  // the environment's module is the one looked for
}

TEST(RunnerProgram, PanelEditsAreSavedWithTheDescription) {
  const std::string copy = temp_path(".json");
  std::ofstream(copy) << read_file(example("two_bone_arm"));
  const Result shown = run_runner("panel '" + copy + "'");
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("Posture Weight"), std::string::npos);
  // Items by name with their identifier in the file, "(none)" once, ranges of numbers.
  EXPECT_NE(shown.out.find("Twist Target        = elbow_pole (3)"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Twist               = (none)\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Posture Weight      = 1  (0 and up"), std::string::npos) << shown.out;
  const Result negative = run_runner("panel '" + copy + "' --set 'Posture Weight=-2'");
  EXPECT_NE(negative.err.find("-2 was changed to 0 by the module"), std::string::npos)
      << negative.err;
  // A value the module keeps is not reported as changed, whatever its single-precision rounding.
  for (const char* value : {"0.1", "0.2", "0.3", "1.1"}) {
    const Result kept = run_runner("panel '" + copy + "' --set 'Posture Weight=" + value + "'");
    EXPECT_EQ(kept.err.find("was changed"), std::string::npos) << kept.err;
  }
  // A save without changes writes the author's file back as it was.
  ASSERT_EQ(run_runner("panel '" + copy + "' --save").status, 0);
  EXPECT_EQ(read_file(copy), read_file(example("two_bone_arm")));

  const Result edited = run_runner("panel '" + copy +
                                   "' --set 'Posture Weight=0.5' --set 'Arbitrary Limit=on' "
                                   "--set 'Twist Target=(none)' --save");
  ASSERT_EQ(edited.status, 0) << edited.err;
  const nlohmann::json saved = nlohmann::json::parse(read_file(copy));
  EXPECT_EQ(saved["description"],
            nlohmann::json::parse(read_file(example("two_bone_arm")))["description"]);
  const Result again = run_runner("panel '" + copy + "'");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("0.5"), std::string::npos) << again.out;
  EXPECT_EQ(again.out.find("elbow_pole"), std::string::npos) << again.out;
  std::remove(copy.c_str());
}

// Saves keep the author's file: its identifiers, its order and its layout, so an unchanged scene
// saves back byte for byte, one option changes one line, and a new item takes an unused id.
TEST(SceneSave, ExamplesSaveBackByteForByteAndOneOptionChangesOneLine) {
  const std::string copy = temp_path(".json");
  for (const char* name : examples) {
    SCOPED_TRACE(name);
    stage::Host host;
    host.load_module(TARSEL_MODULE_PATH);
    host.load_scene(example(name));
    host.save_scene(copy);
    EXPECT_EQ(read_file(copy), read_file(example(name)));
  }
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene(example("two_bone_arm"));
  LWItemID root = LWITEM_NULL;
  for (std::size_t i = 0; i < host.scene().size(); ++i)
    if (host.scene().item(i).name == "upper_arm") root = host.scene().item(i).id;
  stage::Panel& panel = host.open_panel(root, "Tarsel_Top");
  panel.set(panel.control("Posture Weight")->id, 0.5);
  host.save_scene(copy);
  const std::vector<std::string> before = lines_of(read_file(example("two_bone_arm")));
  const std::vector<std::string> after = lines_of(read_file(copy));
  ASSERT_EQ(before.size(), after.size());
  int changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i];
  EXPECT_EQ(changed, 1);

  host.scene().add(stage::Item_type::object, "added");
  host.save_scene(copy);
  const nlohmann::json saved = nlohmann::json::parse(read_file(copy));
  EXPECT_EQ(saved["items"].back()["name"], "added");
  EXPECT_EQ(saved["items"].back()["id"], 12);  // the file uses 1, 2, 3, 10 and 11
  std::remove(copy.c_str());
}

// What each solve did, in every format: reached with the twist target acting; beyond reach with
// the module's degenerate-direction line counted; held by the root's limit; not solved at effect 0.
TEST(RunnerProgram, ReportsWhatEachSolveDidInEveryFormat) {
  const std::string arm = "'" + example("two_bone_arm") + "'";
  const std::string json_file = temp_path(".json");
  const Result json_run =
      run_runner("run " + arm + " '" + example("leg_limits") + "' '" + example("plugin_effect") +
                 "' --frames 28-30 -o '" + json_file + "'");
  ASSERT_EQ(json_run.status, 0) << json_run.err;
  const nlohmann::json scenes = nlohmann::json::parse(read_file(json_file))["scenes"];
  std::remove(json_file.c_str());
  ASSERT_EQ(scenes.size(), 3u);
  EXPECT_TRUE(scenes[0]["warnings"].empty());
  const nlohmann::json& reached = scenes[0]["frames"][0]["chains"][0];
  EXPECT_EQ(reached["reach"], "reached");
  EXPECT_TRUE(reached["reason"].is_null());
  EXPECT_EQ(reached["goal_distance"], 0.0);  // below rounding
  EXPECT_NEAR(reached["shortest"].get<double>(), 0.02, 1e-9);
  EXPECT_NEAR(reached["longest"].get<double>(), 0.58, 1e-9);
  EXPECT_GT(reached["bend_fraction"].get<double>(), 0.0);
  EXPECT_EQ(reached["twist_target"], "acted");
  EXPECT_EQ(reached["effect_weight"], 1.0);
  EXPECT_EQ(reached["limits"], nlohmann::json::array());
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(reached["end_position"][i].get<double>(), reached["goal_position"][i].get<double>(),
                1e-9);
  // The forearm's world rotation carries its +Z along the bone, from its base to the chain's end.
  const nlohmann::json& forearm = scenes[0]["frames"][0]["items"][1];
  const nlohmann::json& q = forearm["world_rotation"]["quaternion"];
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double axis[3] = {2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)};
  for (int i = 0; i < 3; ++i) {
    const double along =
        reached["end_position"][i].get<double>() - forearm["position"][i].get<double>();
    EXPECT_NEAR(axis[i] * 0.28, along, 1e-9);
  }
  const nlohmann::json& beyond = scenes[0]["frames"][2]["chains"][0];
  EXPECT_EQ(beyond["reach"], "out of reach");
  EXPECT_EQ(beyond["reason"], "beyond the longest reach");
  EXPECT_EQ(beyond["diagnostics"], 1);
  EXPECT_NE(json_run.err.find("tarsel-stage: note: " + example("two_bone_arm") +
                              ": 1 degenerate direction in frame 30"),
            std::string::npos)
      << json_run.err;
  EXPECT_EQ(json_run.err.find("abs = 0"), std::string::npos);

  // The stretchy arm: met while stretching, then at full stretch; the eased leg says why it lags.
  const Result stretchy =
      run_runner("run '" + example("stretchy_arm") + "' --frames 30-36 --format json");
  const nlohmann::json stretch_frames = nlohmann::json::parse(stretchy.out)["frames"];
  EXPECT_EQ(stretch_frames[0]["chains"][0]["reach"], "reached");
  EXPECT_GT(stretch_frames[0]["chains"][0]["stretch"].get<double>(), 1.1);
  EXPECT_EQ(stretch_frames[6]["chains"][0]["stretch"], 1.5);
  EXPECT_EQ(stretch_frames[6]["chains"][0]["reason"], "beyond the longest stretch");
  const Result eased =
      run_runner("run '" + example("soft_reach_leg") + "' --frames 12 --format json");
  const nlohmann::json soft = nlohmann::json::parse(eased.out)["frames"][0]["chains"][0];
  EXPECT_EQ(soft["reason"], "eased by Soft Reach");
  EXPECT_EQ(soft["stretch"], 1.0);

  const Result leg = run_runner("run '" + example("leg_limits") + "' --frames 60 --format json");
  const nlohmann::json held = nlohmann::json::parse(leg.out)["frames"][0]["chains"][0];
  EXPECT_EQ(held["reason"], "held by limits");
  EXPECT_EQ(held["limits"], nlohmann::json::array({"root heading/pitch cone"}));
  // A forearm whose pitch limit stops its bend.
  nlohmann::json clamped = nlohmann::json::parse(read_file(example("two_bone_arm")));
  clamped["items"][4]["limits"] = {{"pitch", {-30, 0}}};
  const std::string clamped_file = temp_path("_clamped.json");
  std::ofstream(clamped_file) << clamped.dump();
  const Result bent = run_runner("run '" + clamped_file + "' --frames 0 --format json");
  std::remove(clamped_file.c_str());
  EXPECT_EQ(nlohmann::json::parse(bent.out)["frames"][0]["chains"][0]["limits"],
            nlohmann::json::array({"forearm pitch at lower"}));
  const Result off = run_runner("run '" + example("plugin_effect") + "' --frames 0 --format json");
  const nlohmann::json unsolved = nlohmann::json::parse(off.out)["frames"][0]["chains"][0];
  EXPECT_EQ(unsolved["reach"], "not solved");
  EXPECT_EQ(unsolved["reason"], "effect weight 0");

  const Result csv = run_runner("run " + arm + " --frames 30 --format csv");
  ASSERT_EQ(csv.status, 0) << csv.err;
  const std::vector<std::string> root = csv_fields(lines_of(csv.out).at(1));
  ASSERT_EQ(root.size(), csv_columns);
  EXPECT_EQ(root[3], "upper_arm");
  EXPECT_EQ(root[20], "out of reach");
  EXPECT_EQ(root[21], "beyond the longest reach");
  EXPECT_EQ(root[26], "acted");
  EXPECT_EQ(root[28], "1");

  const Result table = run_runner("run " + arm + " --frames 30 --raw-diagnostics");
  EXPECT_NE(table.out.find("chain upper_arm: out of reach (beyond the longest reach); end ("),
            std::string::npos)
      << table.out;
  EXPECT_NE(table.out.find("; twist target: acted; effect 1.000"), std::string::npos);
  EXPECT_EQ(table.err, "abs = 0\n");  // passed through as the module wrote it

  // --strict fails a run with warnings; a missing scene fails the run but not the others.
  const std::string typo = temp_path(".json");
  std::string text = read_file(example("two_bone_arm"));
  text.replace(text.find("MixWithFk"), 9, "MixWithFK");
  std::ofstream(typo) << text;
  const Result strict = run_runner("run '" + typo + "' --frames 0 --strict");
  EXPECT_EQ(strict.status, 1);
  EXPECT_NE(strict.err.find("never read its data line \"MixWithFK 0\""), std::string::npos);
  // A failed run leaves no report file; standard output keeps what it was sent (below).
  const std::string report_file = temp_path(".csv");
  EXPECT_EQ(run_runner("run '" + typo + "' --frames 0 --strict -o '" + report_file + "'").status,
            1);
  EXPECT_FALSE(std::ifstream(report_file).good()) << "a run failed by --strict left its report";
  EXPECT_EQ(run_runner("run /nonexistent.json " + arm + " -o '" + report_file + "'").status, 1);
  EXPECT_FALSE(std::ifstream(report_file).good()) << "a failed run left its report";
  std::remove(typo.c_str());
  const Result several = run_runner("run /nonexistent.json " + arm + " --frames 0 --format csv");
  EXPECT_EQ(several.status, 1);
  EXPECT_EQ(lines_of(several.out).size(), 3u);  // header and the arm's two items
  EXPECT_EQ(run_runner("--version").out, "tarsel-stage 0.1\n");
}

// A rig beyond the exact range: one warning naming it, and distances whose squares would
// overflow still reported as numbers.
TEST(RunnerProgram, FarRigsAreWarnedAboutOnceAndKeepFiniteDistances) {
  nlohmann::json scene = nlohmann::json::parse(read_file(example("two_bone_arm")));
  scene["items"][0]["position"] = {1e155, 0, 0};
  const std::string path = temp_path(".json");
  std::ofstream(path) << scene.dump();
  const Result r = run_runner("run '" + path + "' --frames 0-3 --format csv");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> warnings = lines_of(r.err);
  EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                          [](const std::string& l) {
                            return l.find("tarsel-stage: warning:") == 0 &&
                                   l.find("\"shoulder\": its position is beyond 1e+50") !=
                                       std::string::npos;
                          }),
            1);
  const std::vector<std::string> rows = lines_of(r.out);
  ASSERT_EQ(rows.size(), 1u + 4 * 2);
  for (std::size_t i = 1; i < rows.size(); i += 2) {
    const double d = std::strtod(csv_fields(rows[i])[13].c_str(), nullptr);  // goal_distance
    EXPECT_TRUE(std::isfinite(d) && d > 1e154) << rows[i];
  }
  std::remove(path.c_str());
}

// --- Where a report goes ----------------------------------------------------------------------

std::string fresh_dir(const std::string& suffix) {
  const std::string dir = temp_path(suffix);
  std::system(("rm -rf '" + dir + "'").c_str());
  mkdir(dir.c_str(), 0755);
  return dir;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  FILE* ls = popen(("ls -A '" + dir + "'").c_str(), "r");
  char line[4096];
  while (ls && std::fgets(line, sizeof line, ls)) {
    std::string name = line;
    if (!name.empty() && name.back() == '\n') name.pop_back();
    names.push_back(name);
  }
  if (ls) pclose(ls);
  return names;
}

mode_t kind_of(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// One table of output targets: what each becomes, what the run says, and that no temporary
// file is left beside any of them. A folder, a missing folder or an unwritable place is found
// before the run (the range below would take minutes to evaluate).
TEST(RunnerProgram, OutputTargetsAreWrittenWithoutReplacingWhatIsNotARegularFile) {
  const std::string dir = fresh_dir("_out");
  const std::string arm = "run '" + example("two_bone_arm") + "' --format csv ";
  const std::string report = run_runner(arm + "--frames 0-2").out;
  ASSERT_EQ(report.rfind("scene,frame,time,item", 0), 0u);
  std::ofstream(dir + "/regular.csv") << "old";
  std::ofstream(dir + "/real.csv") << "old";
  symlink("real.csv", (dir + "/link.csv").c_str());
  symlink("missing.csv", (dir + "/dangling.csv").c_str());
  mkfifo((dir + "/fifo").c_str(), 0644);
  const bool root = geteuid() == 0;
  const bool has_device = mknod((dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  mkdir((dir + "/ro").c_str(), 0555);

  const struct {
    const char* target;
    const char* frames;
    const char* says;   // null: the run succeeds
    const char* holds;  // a file that then holds the report
    mode_t kind;        // what the target is afterwards
  } cases[] = {
      {"regular.csv", "0-2", nullptr, "regular.csv", S_IFREG},
      {"new.csv", "0-2", nullptr, "new.csv", S_IFREG},
      {"link.csv", "0-2", nullptr, "real.csv", S_IFLNK},
      {"dangling.csv", "0-2", nullptr, "missing.csv", S_IFLNK},
      {"fifo", "0-2", nullptr, nullptr, S_IFIFO},
      {"null", "0-2", nullptr, nullptr, S_IFCHR},
      {"/dev/null", "0-2", nullptr, nullptr, S_IFCHR},
      {".", "0-9999999", "it is a folder", nullptr, S_IFDIR},
      {"none/out.csv", "0-9999999", "no folder", nullptr, 0},
      {"ro/out.csv", "0-9999999", "Permission denied", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    if (std::string(c.target) == "null" && !has_device) continue;
    if (std::string(c.target) == "ro/out.csv" && root) continue;  // root writes anywhere
    const std::string target = c.target[0] == '/' ? c.target : dir + "/" + c.target;
    std::string from_fifo;
    std::thread reader;
    if (c.kind == S_IFIFO) reader = std::thread([&] { from_fifo = read_file(target); });
    const Result r = run_runner(arm + "--frames " + c.frames + " -o '" + target + "'");
    if (reader.joinable()) {
      // Should the run never have opened the FIFO, this releases the reader.
      const int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
      reader.join();
    }
    if (c.says == nullptr) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.status, 0);
      EXPECT_NE(r.err.find(target), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    if (c.holds != nullptr) {
      EXPECT_EQ(read_file(dir + "/" + c.holds), report);
    }
    if (c.kind == S_IFIFO) {
      EXPECT_EQ(from_fifo, report);
    }
    EXPECT_EQ(kind_of(target), c.kind);
  }
  for (const std::string& name : names_in(dir)) EXPECT_EQ(name.find(".csv."), std::string::npos);
  const std::string ro = dir + "/ro/out.csv";
  EXPECT_FALSE(std::ifstream(ro).good());
  EXPECT_EQ(run_runner(arm + "--frames 0-2 -o -").out, report);
  EXPECT_EQ(run_runner(arm + "--frames 0-2 -o /dev/stdout").out, report);

  // A scene saved through a symbolic link: the link stays, the scene it leads to changes.
  std::ofstream(dir + "/scene.json") << read_file(example("two_bone_arm"));
  symlink("scene.json", (dir + "/scene_link.json").c_str());
  const Result saved =
      run_runner("panel '" + dir + "/scene_link.json' --set 'Posture Weight=0.25' --save");
  ASSERT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(kind_of(dir + "/scene_link.json"), S_IFLNK);
  EXPECT_NE(read_file(dir + "/scene.json").find("PostureWeight 0.25"), std::string::npos);
  chmod((dir + "/ro").c_str(), 0755);
}

// A run stopped by SIGINT or SIGTERM leaves nothing beside its output.
TEST(RunnerProgram, AnInterruptedRunLeavesNoTemporaryFile) {
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    const std::string dir = fresh_dir("_stop");
    const std::string out = dir + "/report.csv";
    const std::string scene = example("two_bone_arm");
    const pid_t child = fork();
    if (child == 0) {
      std::freopen("/dev/null", "w", stderr);
      execl(TARSEL_STAGE_EXE, TARSEL_STAGE_EXE, "run", scene.c_str(), "--frames", "0-9000000", "-o",
            out.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Once the temporary file exists the run is under way.
    for (int i = 0; i < 500 && names_in(dir).empty(); ++i) usleep(10000);
    EXPECT_EQ(names_in(dir).size(), 1u);
    kill(child, sig);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
    EXPECT_TRUE(names_in(dir).empty());
  }
}

}  // namespace
