// Hostile motion files and scenes, made here, given to the runner in a child process held to 1 GB
// of memory and 30 s of processor time: each must end with its one line (or its right result)
// well inside those bounds, which only a hang, a runaway allocation or a crash breaks.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "stage/output_file.h"
#include "stage/scene_file.h"
#include "stage/transform.h"

namespace {

const std::string dir = MOTION_TEST_DIR "/hostile";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool limit_memory = false;  // the address sanitizer reserves terabytes of address space
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool limit_memory = false;
#else
constexpr bool limit_memory = true;
#endif
#else
constexpr bool limit_memory = true;
#endif

struct Outcome {
  int code = -1;     // exit code; -1 when killed by a signal
  int signal = 0;    // the signal that ended it
  long peak_kb = 0;  // its largest resident size
  std::string err;   // its standard error
};

// Runs tarsel-stage with the arguments under the bounds (with TARSEL_CHROMIUM set when given).
Outcome run_bounded(const std::vector<std::string>& args, const std::string& chromium = "") {
  // One file a test process: CTest runs these tests side by side.
  const std::string err_file = dir + "/stderr." + std::to_string(getpid()) + ".txt";
  const pid_t pid = fork();
  if (pid == 0) {
    rlimit cpu{30, 31};
    setrlimit(RLIMIT_CPU, &cpu);
    if (limit_memory) {
      rlimit memory{1L << 30, 1L << 30};
      setrlimit(RLIMIT_AS, &memory);
    }
    const int out = open("/dev/null", O_WRONLY);
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    if (!chromium.empty()) setenv("TARSEL_CHROMIUM", chromium.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(TARSEL_STAGE_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TARSEL_STAGE_EXE, argv.data());
    _exit(127);
  }
  Outcome o;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (WIFEXITED(status)) o.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
  o.peak_kb = usage.ru_maxrss;
  std::ifstream in(err_file);
  std::ostringstream text;
  text << in.rdbuf();
  o.err = text.str();
  return o;
}

std::string write(const std::string& name, const std::string& text) {
  const std::string path = dir + "/" + name;
  stage::write_file_whole(path, text);
  return path;
}

// A BVH file: a chain `depth` joints deep, its MOTION header lines as given, and `rows` frames.
std::string bvh(int depth, const std::string& frames_line, const std::string& time_line,
                int rows = 2, const std::string& value = "1") {
  std::string out =
      "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n"
      " CHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n";
  for (int i = 1; i < depth; ++i)
    out += "JOINT j" + std::to_string(i) +
           "\n{\n OFFSET 0 1 0\n CHANNELS 3 Zrotation Yrotation Xrotation\n";
  out += "End Site\n{\n OFFSET 0 1 0\n}\n";
  for (int i = 0; i < depth; ++i) out += "}\n";
  out += "MOTION\n" + frames_line + "\n" + time_line + "\n";
  for (int r = 0; r < rows; ++r) {
    std::string row = "0 0 0 0 0 " + value;
    for (int i = 1; i < depth; ++i) row += " 0 " + value + " 0";
    out += row + "\n";
  }
  return out;
}

// A glTF skeleton of two nodes whose root moves between two keys `gap` seconds apart.
std::string gltf_keys_apart(const std::string& name, float gap) {
  const float data[] = {0, gap, 0, 0, 0, 0, 1, 0};
  write(name + ".bin", std::string(reinterpret_cast<const char*>(data), sizeof data));
  return write(name + ".gltf", R"({"asset": {"version": "2.0"}, "scene": 0,
    "scenes": [{"nodes": [0]}], "nodes": [{"name": "A", "children": [1]},
    {"name": "B", "translation": [0, 1, 0]}],
    "buffers": [{"uri": ")" + name +
                                   R"(.bin", "byteLength": 32}],
    "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 8},
                    {"buffer": 0, "byteOffset": 8, "byteLength": 24}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": 2, "type": "SCALAR",
                   "min": [0], "max": [)" +
                                   std::to_string(gap) + R"(]},
                  {"bufferView": 1, "componentType": 5126, "count": 2, "type": "VEC3"}],
    "animations": [{"channels": [{"sampler": 0, "target": {"node": 0, "path": "translation"}}],
                    "samplers": [{"input": 0, "output": 1}]}]})");
}

// A glTF node tree `depth` nodes deep.
std::string gltf_deep(int depth) {
  std::string nodes;
  for (int i = 0; i < depth; ++i)
    nodes += std::string(i ? "," : "") + "{\"name\": \"n" + std::to_string(i) + "\"" +
             (i + 1 < depth ? ", \"children\": [" + std::to_string(i + 1) + "]}" : "}");
  return write("deep.gltf", R"({"asset": {"version": "2.0"}, "scene": 0,
    "scenes": [{"nodes": [0]}], "nodes": [)" +
                                nodes + "]}");
}

// A glTF file whose buffer (or image) names the URI given.
std::string gltf_uri(const std::string& name, const std::string& list, const std::string& uri) {
  return write(name, R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
    "nodes": [{"name": "A"}], ")" +
                         list + R"(": [{"uri": ")" + uri + R"(", "byteLength": 8}]})");
}

// A glTF character of one triangle skinned to two joints, its first vertex at x = `x0`, its
// vertices weighted by joints `joint` and 1 of the skin's two.
std::string gltf_skinned(const std::string& name, float x0, uint16_t joint) {
  std::string data;
  const auto put = [&data](const auto& values) {
    data.append(reinterpret_cast<const char*>(values), sizeof values);
  };
  const float times[] = {0, 1}, moves[] = {0, 0, 0, 0, 1, 0};
  const float binds[] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0,  0, 1,
                         1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1};
  const float positions[] = {x0, 0, 0, 1, 0, 0, 0, 1, 0};
  const uint16_t joints[] = {joint, 1, 0, 0, joint, 1, 0, 0, joint, 1, 0, 0};
  const float weights[] = {0.5f, 0.5f, 0, 0, 0.5f, 0.5f, 0, 0, 0.5f, 0.5f, 0, 0};
  put(times), put(moves), put(binds), put(positions), put(joints), put(weights);
  write(name + ".bin", data);
  return write(name + ".gltf", R"({"asset": {"version": "2.0"}, "scene": 0,
    "scenes": [{"nodes": [0, 1]}], "nodes": [{"name": "Body", "mesh": 0, "skin": 0},
    {"name": "A", "children": [2]}, {"name": "B", "translation": [0, 1, 0]}],
    "skins": [{"joints": [1, 2], "inverseBindMatrices": 2}],
    "meshes": [{"primitives": [{"attributes": {"POSITION": 3, "JOINTS_0": 4, "WEIGHTS_0": 5}}]}],
    "animations": [{"channels": [{"sampler": 0, "target": {"node": 1, "path": "translation"}}],
                    "samplers": [{"input": 0, "output": 1}]}],
    "buffers": [{"uri": ")" + name +
                                   R"(.bin", "byteLength": 268}],
    "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 8},
                    {"buffer": 0, "byteOffset": 8, "byteLength": 24},
                    {"buffer": 0, "byteOffset": 32, "byteLength": 128},
                    {"buffer": 0, "byteOffset": 160, "byteLength": 36},
                    {"buffer": 0, "byteOffset": 196, "byteLength": 24},
                    {"buffer": 0, "byteOffset": 220, "byteLength": 48}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": 2, "type": "SCALAR",
                   "min": [0], "max": [1]},
                  {"bufferView": 1, "componentType": 5126, "count": 2, "type": "VEC3"},
                  {"bufferView": 2, "componentType": 5126, "count": 2, "type": "MAT4"},
                  {"bufferView": 3, "componentType": 5126, "count": 3, "type": "VEC3"},
                  {"bufferView": 4, "componentType": 5123, "count": 3, "type": "VEC4"},
                  {"bufferView": 5, "componentType": 5126, "count": 3, "type": "VEC4"}]})");
}

// A packaged .X character whose first skin weight names a vertex far past its mesh's.
std::string x_weight_past_the_mesh() {
  std::ifstream in(MOTION_MODELS_DIR "/X/BCN_Epileptic.X", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string x = text.str();
  const std::size_t count = x.find(';', x.find("SkinWeights W-"));  // after the bone's name
  const std::size_t first = x.find_first_of("0123456789", x.find(';', count + 1));
  x.replace(first, x.find(',', first) - first, "7220000");
  return write("weight_past.X", x);
}

// A stand-in browser that takes the picture of a page whose script never ran: a PNG, and the
// page's body without the mark the viewer sets once it has drawn.
std::string browser_of_a_dead_page() {
  const std::string path = write("dead_page_browser.sh", R"(#!/bin/sh
for a in "$@"; do
  case "$a" in --screenshot=*) printf '\211PNG\r\n\032\n' > "${a#--screenshot=}" ;; esac
done
echo '<html><head></head><body class="still"><script>data-tarsel-drawn="yes"</script></body></html>'
)");
  chmod(path.c_str(), 0755);
  return path;
}

std::string scene_with_frames(const std::string& name, const std::string& frames) {
  return write(name, R"({"fps": 30, "frames": )" + frames + R"(, "items": [
    {"id": 1, "type": "object", "name": "rig"},
    {"id": 2, "type": "bone", "owner": 1, "name": "Up", "rest_length": 1},
    {"id": 3, "type": "bone", "owner": 1, "parent": 2, "name": "Low", "position": [0, 0, 1],
     "rest_length": 1},
    {"id": 4, "type": "bone", "owner": 1, "parent": 3, "name": "Foot", "position": [0, 0, 1],
     "rest_length": 1}]})");
}

TEST(HostileInput, EndsWithOneLineWithinBoundedTimeAndMemory) {
  mkdir(dir.c_str(), 0755);
  const std::string out = dir + "/never.json";
  const std::string huge = scene_with_frames("huge.json", "[0, 2147483647]");
  const std::string good = bvh(3, "Frames: 2", "Frame Time: 0.04");
  const std::string two = write("two.bvh", good);
  const std::string rigged = dir + "/rigged.json";
  ASSERT_EQ(run_bounded({"import", two, "--chain", "Hips:j2", "-o", rigged}).code, 0);
  const struct {
    std::vector<std::string> args;
    std::string says;  // besides the file's name
    std::string file;
    std::string chromium = "";  // TARSEL_CHROMIUM for the run
  } cases[] = {
      {{"bake", huge, "-o", out}, "a scene holds at most 10000000", "huge.json"},
      {{"export", huge, "-o", dir + "/never.bvh"}, "a scene holds at most", "huge.json"},
      {{"rig", huge, "--chain", "Up:Foot", "-o", out}, "a scene holds at most", "huge.json"},
      {{"import", write("f0.bvh", bvh(3, "Frames: 0", "Frame Time: 0.04")), "-o", out},
       "\"Frames: 0\": expected a whole number",
       "f0.bvh"},
      {{"import", write("fnan.bvh", bvh(3, "Frames: nan", "Frame Time: 0.04")), "-o", out},
       "\"Frames: nan\"",
       "fnan.bvh"},
      {{"import", write("fbig.bvh", bvh(3, "Frames: 4294967295", "Frame Time: 0.04")), "-o", out},
       "\"Frames: 4294967295\"",
       "fbig.bvh"},
      {{"import", write("f9.bvh", bvh(3, "Frames: 999999999", "Frame Time: 0.04")), "-o", out},
       "from 1 to 10000000",
       "f9.bvh"},
      {{"import", write("t0.bvh", bvh(3, "Frames: 2", "Frame Time: 0")), "-o", out},
       "\"Frame Time: 0\"",
       "t0.bvh"},
      {{"import", write("ttiny.bvh", bvh(3, "Frames: 2", "Frame Time: 1e-300")), "-o", out},
       "at least 1e-06",
       "ttiny.bvh"},
      {{"import", write("tneg.bvh", bvh(3, "Frames: 2", "Frame Time: -0.04")), "-o", out},
       "\"Frame Time: -0.04\"",
       "tneg.bvh"},
      {{"import", write("tnan.bvh", bvh(3, "Frames: 2", "Frame Time: nan")), "-o", out},
       "\"Frame Time: nan\"",
       "tnan.bvh"},
      {{"import", write("tinf.bvh", bvh(3, "Frames: 2", "Frame Time: inf")), "-o", out},
       "\"Frame Time: inf\"",
       "tinf.bvh"},
      {{"import", gltf_keys_apart("apart", 1e6f), "-o", out},
       "a scene holds at most",
       "apart.gltf"},
      {{"import", write("deep.bvh", bvh(40000, "Frames: 1", "Frame Time: 0.04", 1)), "-o", out},
       "more than 1000 nodes deep",
       "deep.bvh"},
      {{"import", gltf_deep(20000), "-o", out}, "more than 1000 nodes deep", "deep.gltf"},
      // A skin's inverse bind matrices past the end of their buffer (assimp reads past it).
      {{"import",
        write("past.gltf",
              R"({"asset": {"version": "2.0"}, "scenes": [{"nodes": [0]}], "nodes": [{"skin": 0},
                  {}], "skins": [{"inverseBindMatrices": 0, "joints": [1]}],
                  "accessors": [{"bufferView": 0, "componentType": 5126, "count": 4,
                                 "type": "MAT4"}],
                  "bufferViews": [{"buffer": 0, "byteLength": 64}],
                  "buffers": [{"byteLength": 64, "uri": "data:application/octet-stream;base64,)" +
                  std::string(88, 'A') + R"("}]})"),
        "-o", out},
       "accessor 0 reads past the end of its buffer view",
       "past.gltf"},
      // A primitive without positions (assimp sizes its vertices from 0 - 1), and a name that is
      // not UTF-8, which would hide any fault from the checks.
      {{"import", write("nopos.gltf", R"({"asset": {"version": "2.0"}, "nodes": [{"mesh": 0}],
                               "meshes": [{"primitives": [{"attributes": {}, "mode": 3}]}]})"),
        "-o", out},
       "without a POSITION attribute",
       "nopos.gltf"},
      {{"import", write("nobind.gltf", R"({"asset": {"version": "2.0"}, "nodes": [{"skin": 0}, {}],
                               "skins": [{"joints": [1]}]})"),
        "-o", out},
       "has no inverseBindMatrices",
       "nobind.gltf"},
      {{"import",
        write("latin1.gltf",
              "{\"asset\": {\"version\": \"2.0\"}, \"nodes\": [{\"name\": \"\xff\"}]}"),
        "-o", out},
       "not valid JSON",
       "latin1.gltf"},
      {{"import", write("nan.bvh", bvh(3, "Frames: 2", "Frame Time: 0.04", 2, "nan")), "-o", out},
       "not finite",
       "nan.bvh"},
      {{"import", two, "--fps", "nan", "-o", out}, "--fps", "--fps"},
      {{"rig", rigged, "--offset", "j2:nan,0,0", "-o", out}, "finite", "--offset"},
      {{"rig", rigged, "--offset", "j2:1e308,0,0", "--offset", "j2:1e308,0,0", "-o", out},
       "would not be finite",
       "rigged.json"},
      {{"rig", two, "--chain", "Hips:j2", "--bend", "inf", "-o", out}, "finite", "--bend"},
      // External files of a glTF file stay in its folder: nothing else is read for a hostile file.
      {{"import", gltf_uri("abs.gltf", "buffers", "/etc/passwd"), "-o", out},
       "\"/etc/passwd\": it is an absolute path",
       "abs.gltf"},
      {{"import", gltf_uri("up.gltf", "images", "a/..%2F..%2Fsecret.png"), "-o", out},
       "climbs out of the glTF file's folder",
       "up.gltf"},
      {{"import", gltf_uri("scheme.gltf", "buffers", "file:///etc/passwd"), "-o", out},
       "names a scheme",
       "scheme.gltf"},
      // Characters: a vertex that is not finite, and a skin weight past the mesh's vertices
      // (which assimp's .X reader would write through).
      {{"import", gltf_skinned("nan_vertex", std::nanf(""), 0), "-o", out},
       "mesh \"meshes[0]\": vertex 0's position is not finite",
       "nan_vertex.gltf"},
      {{"import", x_weight_past_the_mesh(), "-o", out},
       "skin weights name vertex 7220000 of a mesh of 1170 vertices",
       "weight_past.X"},
      // A page whose script never drew gives no picture.
      {{"render", scene_with_frames("plain.json", "[0, 1]"), "--frame", "0", "-o",
        dir + "/never.png"},
       "the viewer page never drew",
       "never.png",
       browser_of_a_dead_page()},
  };
  long worst_kb = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + (c.args.size() > 2 ? " " + c.args[2] : ""));
    const auto o_arg = std::find(c.args.begin(), c.args.end(), "-o");
    if (o_arg != c.args.end()) std::remove(o_arg[1].c_str());
    const Outcome o = run_bounded(c.args, c.chromium);
    EXPECT_EQ(o.signal, 0) << "killed: a bound was broken or it crashed";
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_NE(o.err.find(c.file), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    struct stat st;
    if (o_arg != c.args.end()) {
      EXPECT_NE(stat(o_arg[1].c_str(), &st), 0) << "an output was written";
    }
    worst_kb = std::max(worst_kb, o.peak_kb);
  }
  std::printf("largest resident size of the hostile cases: %ld kB\n", worst_kb);

  // Frames at the very end of int: a short range there bakes, exports and rigs correctly.
  const std::string last = scene_with_frames("last.json", "[2147483640, 2147483647]");
  EXPECT_EQ(run_bounded({"bake", last, "-o", dir + "/baked.json"}).code, 0);
  EXPECT_EQ(run_bounded({"export", last, "-o", dir + "/last.bvh"}).code, 0);
  const Outcome rig = run_bounded({"rig", last, "--chain", "Up:Foot", "-o", dir + "/rig.json"});
  EXPECT_EQ(rig.code, 0) << rig.err;
  EXPECT_EQ(stage::read_scene_file(dir + "/rig.json").frame_end, 2147483647);
}

// The first rotation key of the item named `name`, degrees; nan when it has none.
double first_turn(const stage::Scene_record& scene, const std::string& name) {
  for (const stage::Item_record& r : scene.items)
    if (r.name == name && !r.channels[stage::ch_rotation].keys.empty())
      return stage::rad_to_deg(r.channels[stage::ch_rotation].keys[0].value[0]);
  return std::nan("");
}

// Inputs a hostile user might give that have a right answer, given within the same bounds.
TEST(HostileInput, OddButSoundInputsGiveTheRightResult) {
  mkdir(dir.c_str(), 0755);
  // Joints that share a name keep their own motion (10 and 5 degrees here) under names made
  // unique, with a warning.
  const std::string twice = write("twice.bvh", R"(HIERARCHY
ROOT Hips
{ OFFSET 0 0 0 CHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation
  JOINT Leg
  { OFFSET 0 -1 0 CHANNELS 3 Zrotation Yrotation Xrotation
    JOINT Leg
    { OFFSET 0 -1 0 CHANNELS 3 Zrotation Yrotation Xrotation
      End Site { OFFSET 0 -1 0 } } } }
MOTION
Frames: 2
Frame Time: 0.04
0 0 0 0 0 0 10 0 0 5 0 0
0 1 0 0 0 0 20 0 0 7 0 0
)");
  const Outcome dup = run_bounded({"import", twice, "-o", dir + "/twice.json"});
  ASSERT_EQ(dup.code, 0) << dup.err;
  EXPECT_NE(dup.err.find("warning: " + twice + ": joints share the names \"Leg\""),
            std::string::npos)
      << dup.err;
  const stage::Scene_record imported = stage::read_scene_file(dir + "/twice.json");
  EXPECT_NEAR(first_turn(imported, "Leg"), 10, 1e-4);
  EXPECT_NEAR(first_turn(imported, "Leg_2"), 5, 1e-4);

  // Names holding whitespace and control characters export to a BVH file that reads back with
  // every joint apart.
  const std::string odd = write("odd_names.json", R"({"fps": 30, "frames": [0, 2], "items": [
    {"id": 1, "type": "object", "name": "rig"},
    {"id": 2, "type": "bone", "owner": 1, "name": "a\nb", "rest_length": 1},
    {"id": 3, "type": "bone", "owner": 1, "parent": 2, "name": "a\rb", "position": [0, 0, 1],
     "rest_length": 1, "rotation": [{"frame": 0, "value": [0, 0, 0]}, {"frame": 2, "value": [0, 30, 0]}]},
    {"id": 4, "type": "bone", "owner": 1, "parent": 3, "name": "a\u000bb c", "position": [0, 0, 1],
     "rest_length": 1}]})");
  ASSERT_EQ(run_bounded({"export", odd, "-o", dir + "/odd.bvh"}).code, 0);
  const Outcome back = run_bounded({"import", dir + "/odd.bvh", "-o", dir + "/odd_back.json"});
  ASSERT_EQ(back.code, 0) << back.err;
  EXPECT_EQ(back.err, "");  // no shared names after the export's renaming
  // The skeleton, its top bone standing for the object above it, and an end site.
  EXPECT_EQ(stage::read_scene_file(dir + "/odd_back.json").items.size(), 5u);

  // A skin weight naming a joint past the skin's: assimp's reader drops it, and the character is
  // imported and exported with its vertices on the other joint alone.
  const std::string past = dir + "/joint_past.json";
  const Outcome past_import = run_bounded({"import", gltf_skinned("joint_past", 0, 7), "-o", past});
  ASSERT_EQ(past_import.code, 0) << past_import.err;
  EXPECT_EQ(stage::read_scene_file(past).meshes.size(), 1u);
  const Outcome past_export = run_bounded({"export", past, "-o", dir + "/joint_past.glb"});
  EXPECT_EQ(past_export.code, 0) << past_export.err;

  // A chain 20,000 bones long in a scene file is rigged (the scene reader and the rig walk the
  // hierarchy without recursion).
  std::string deep = R"({"frames": [0, 1], "items": [{"id": 1, "type": "object"})";
  for (int i = 2; i <= 20001; ++i)
    deep += ",\n{\"id\": " + std::to_string(i) +
            ", \"type\": \"bone\", \"owner\": 1, \"name\": \"b" + std::to_string(i) +
            "\", \"position\": [0, 0, 1], \"rest_length\": 1" +
            (i > 2 ? ", \"parent\": " + std::to_string(i - 1) : "") + "}";
  const Outcome long_chain = run_bounded({"rig", write("deep.json", deep + "]}"), "--chain",
                                          "b2:b20001", "-o", dir + "/deep_rig.json"});
  EXPECT_EQ(long_chain.code, 0) << long_chain.err;
  // ... and exports as BVH: the hierarchy is written without recursion, its indentation bounded
  // so that the file grows with the joints rather than with their square (about 8e8 bytes here).
  const std::string deep_bvh = dir + "/deep_export.bvh";
  const Outcome deep_export = run_bounded({"export", dir + "/deep.json", "-o", deep_bvh});
  EXPECT_EQ(deep_export.code, 0) << deep_export.err;
  struct stat deep_file {};
  EXPECT_EQ(stat(deep_bvh.c_str(), &deep_file), 0);
  EXPECT_LT(deep_file.st_size, 20000 * 1000);

  // Long exports hold no transforms per frame: from 1,000 to 50,000 frames a BVH file's peak
  // memory stays put (its frames are written as evaluated) and a binary glTF file's grows by at
  // most twice the floats it writes (40 bytes a joint and frame, 4 joints here). Held, the
  // frames' transforms alone would add 25 MB. The sanitizer's own bookkeeping hides this.
  if (limit_memory) {
    const std::string short_scene = scene_with_frames("short.json", "[0, 999]");
    const std::string long_scene = scene_with_frames("long.json", "[0, 49999]");
    for (const char* kind : {".bvh", ".glb"}) {
      SCOPED_TRACE(kind);
      const Outcome a = run_bounded({"export", short_scene, "-o", dir + "/short" + kind});
      const Outcome b = run_bounded({"export", long_scene, "-o", dir + "/long" + kind});
      ASSERT_EQ(a.code, 0) << a.err;
      ASSERT_EQ(b.code, 0) << b.err;
      const long floats_kb = std::string(kind) == ".glb" ? 49000L * 4 * 40 / 1024 : 0;
      EXPECT_LT(b.peak_kb - a.peak_kb, 2 * floats_kb + 2048)
          << a.peak_kb << " kB, then " << b.peak_kb;
    }
  }

  // 20,000 joints (a wide skeleton, well inside the depth limit) import within the bounds.
  std::string wide =
      "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n"
      " CHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n";
  std::string row = "0 0 0 0 0 0";
  for (int i = 1; i < 20000; ++i) {
    wide += "JOINT j" + std::to_string(i) +
            "\n{\n OFFSET 0 1 0\n CHANNELS 3 Zrotation Yrotation Xrotation\n"
            "End Site\n{\n OFFSET 0 1 0\n}\n}\n";
    row += " 0 1 0";
  }
  wide += "}\nMOTION\nFrames: 2\nFrame Time: 0.04\n" + row + "\n" + row + "\n";
  const Outcome big = run_bounded({"import", write("wide.bvh", wide), "-o", dir + "/wide.json"});
  EXPECT_EQ(big.code, 0) << big.err;
  std::printf("20,000 joints imported, largest resident size %ld kB\n", big.peak_kb);
}

}  // namespace
