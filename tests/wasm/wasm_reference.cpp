// wasm-reference: the native module's answers, for comparing the WebAssembly build with. One JSON
// line per scene: every example over its frames, then the first sweep rigs a scene file can hold,
// at frame 0 (each plain and under its carrier), each solved by the native module through the same
// session the page uses:
//   {"name", "kind", "scene": the scene file's text, "first", "last",
//    "native": Session::rotations_json, "saved": Session::scene_text after the run, or null}
// Each example also comes edited as the page edits it: its first chain's goal keyed at a new
// place and turn mid-range, and the root's Posture Weight set, listed in "edits" as the session
// calls that made them ({"channel": [item, channel, frame, x, y, z, key]} or {"option": [root,
// id, value]}); "saved" is then the edited scene's text, and "native" the rotations of that text
// loaded afresh, as the runner would read the saved file.
// Last comes {"refused_rigs": how many rigs were passed over}.
//
//   wasm-reference MODULE EXAMPLES_DIR RIGS
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "stage/error.h"
#include "stage/report/chains.h"
#include "stage/scene_file.h"
#include "stage/web/session.h"
#include "tests/sweep/rig_checks.h"

namespace {

constexpr uint64_t sweep_seed = 20240611;  // the sweep test's

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void emit(web::Session& session, const std::string& name, const std::string& text,
          const std::string& kind = "example") {
  session.load(text, name);
  const stage::Scene& scene = session.host().scene();
  const int first = scene.frame_start, last = std::max(scene.frame_start, scene.frame_end);
  // An example also carries the scene as saved after the run (the handlers' blocks written anew).
  const std::string rotations = session.rotations_json(first, last);
  const std::string saved = kind == "example" ? json_string(session.scene_text()) : "null";
  std::printf(
      "{\"name\": %s, \"kind\": %s, \"scene\": %s, \"first\": %d, \"last\": %d, \"native\": %s, "
      "\"saved\": %s}\n",
      json_string(name).c_str(), json_string(kind).c_str(), json_string(text).c_str(), first, last,
      rotations.c_str(), saved.c_str());
}

// The example edited as a user would in the page, then saved and solved afresh by the native
// module: what the page's own answers on the edited scene must equal.
void emit_edited(web::Session& session, const std::string& module, const std::string& name,
                 const std::string& text) {
  session.load(text, name);
  const std::vector<report::Chain> chains = report::find_chains(session.host());
  if (chains.empty()) return;
  stage::Scene& scene = session.host().scene();
  const int first = scene.frame_start, last = std::max(scene.frame_start, scene.frame_end);
  const int mid = (first + last) / 2;
  std::string edits = "[";
  const report::Chain& chain = chains.front();
  if (chain.goal != LWITEM_NULL) {
    const std::string goal = scene.at(chain.goal).name;
    const stage::Vec3 at =
        stage::channel_value(scene.at(chain.goal).channels[stage::ch_position], mid / scene.fps);
    const stage::Vec3 moved{at[0] + 0.05, at[1] - 0.03, at[2] + 0.02}, turn{0.1, -0.2, 0.3};
    session.set_channel(goal, 0, mid, moved, true);
    session.set_channel(goal, 1, mid, turn, true);
    char buf[256];
    for (const auto& [channel, v] : {std::pair{0, moved}, std::pair{1, turn}}) {
      std::snprintf(buf, sizeof buf, "{\"channel\": [%s, %d, %d, %.17g, %.17g, %.17g, 1]}, ",
                    json_string(goal).c_str(), channel, mid, v[0], v[1], v[2]);
      edits += buf;
    }
  }
  const std::string root = scene.at(chain.root).name;
  const stage::Panel_control* weight =
      session.host().open_panel(chain.root, "Tarsel_Top").control("Posture Weight");
  if (weight == nullptr) throw stage::Error(name + ": no Posture Weight control");
  session.set_option(root, weight->id, 0.5);
  edits += "{\"option\": [" + json_string(root) + ", " + std::to_string(weight->id) + ", 0.5]}]";
  session.rotations_json(first, last);  // saved after a run, as the page saves it
  const std::string saved = session.scene_text();
  web::Session fresh(module);
  fresh.load(saved, name);
  std::printf(
      "{\"name\": %s, \"kind\": \"example\", \"scene\": %s, \"edits\": %s, \"first\": %d, "
      "\"last\": %d, \"native\": %s, \"saved\": %s}\n",
      json_string(name + " edited").c_str(), json_string(text).c_str(), edits.c_str(), first, last,
      fresh.rotations_json(first, last).c_str(), json_string(saved).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: wasm-reference MODULE EXAMPLES_DIR RIGS\n");
    return 2;
  }
  try {
    web::Session session(argv[1]);
    std::vector<std::filesystem::path> examples;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2]))
      if (entry.path().extension() == ".json") examples.push_back(entry.path());
    std::sort(examples.begin(), examples.end());
    for (const auto& path : examples) {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      emit(session, path.filename().string(), text.str());
      emit_edited(session, argv[1], path.filename().string(), text.str());
    }
    // A rig the scene file format refuses (a limit with crossed bounds, which the sweep draws on
    // purpose) can never reach the page: it is counted and the next one taken.
    const long rigs = std::atol(argv[3]);
    long refused = 0;
    for (long i = 0, taken = 0; taken < rigs; ++i) {
      const sweep::Rig_pair pair = sweep::sweep_rigs(sweep_seed, i);
      const std::string plain = stage::format_scene(sweep::rig_scene(pair.rig));
      try {
        stage::parse_scene(plain, "rig");
      } catch (const stage::Error& e) {
        std::fprintf(stderr, "wasm-reference: rig %ld passed over: %s\n", i, e.what());
        ++refused;
        continue;
      }
      // The rig's class, and "rounding" for one whose answer may jump under rounding.
      const std::string kind = std::string(sweep::rig_class_name(pair.rig.kind)) +
                               (pair.rig.rounding_sensitive ? " rounding" : "");
      emit(session, "rig " + std::to_string(i), plain, kind);
      emit(session, "rig " + std::to_string(i) + " carried",
           stage::format_scene(sweep::rig_scene(pair.carried)), kind);
      ++taken;
    }
    std::printf("{\"refused_rigs\": %ld}\n", refused);
  } catch (const stage::Error& e) {
    std::fprintf(stderr, "wasm-reference: %s\n", e.what());
    return 1;
  }
  return 0;
}
