#include "stage/runner/open_scene.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "stage/error.h"
#include "stage/report/warnings.h"
#include "stage/runner/module_path.h"

namespace runner {

namespace {

std::vector<std::string> warn(stage::Host& host, const std::string& scene, bool strict) {
  std::vector<std::string> warnings = report::scene_warnings(host, scene);
  for (const std::string& w : warnings)
    std::fprintf(stderr, "tarsel-stage: warning: %s\n", w.c_str());
  check_strict(warnings, strict);
  return warnings;
}

}  // namespace

std::vector<std::string> open_scene(stage::Host& host, const std::string& module_option,
                                    const std::string& scene, bool strict) {
  load_module(host, module_path(module_option));
  host.load_scene(scene);
  return warn(host, scene, strict);
}

std::vector<std::string> check_scene_record(const stage::Scene_record& record,
                                            const std::string& file,
                                            const std::string& module_option, bool strict) {
  stage::Host host;
  load_module(host, module_path(module_option));
  host.load_scene_record(record, file);
  return warn(host, file, strict);
}

report::Frame_range frames_within_scene(const stage::Scene& scene, const std::string& frames,
                                        const std::string& file) {
  if (frames.empty()) return {scene.frame_start, scene.frame_end};
  const report::Frame_range range = report::parse_frame_range(frames);
  if (range.first < scene.frame_start || range.last > scene.frame_end) {
    throw stage::Error(file + ": frames " + frames + " are outside the scene's frames " +
                       std::to_string(scene.frame_start) + "-" + std::to_string(scene.frame_end));
  }
  return range;
}

void check_strict(const std::vector<std::string>& warnings, bool strict) {
  if (strict && !warnings.empty()) throw stage::Error("warnings given and --strict is set");
}

std::string viewer_template() {
  const char* env = std::getenv("TARSEL_VIEWER");
  std::string path = env != nullptr && *env != '\0' ? env : "";
#ifdef TARSEL_VIEWER_HTML
  // The page built alongside, else the installed copy (the build folder may be gone).
  if (path.empty()) {
    path = TARSEL_VIEWER_HTML;
    const std::string installed = installed_file("share/tarsel/tarsel-viewer.html");
    if (std::ifstream(path).fail() && !installed.empty()) path = installed;
  }
#endif
  if (path.empty()) {
    throw stage::Error(
        "this runner was built without the viewer (run npm ci at the top of the source tree, "
        "then configure and build again), or set TARSEL_VIEWER to a built viewer page");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw stage::Error(path + ": cannot read the viewer page (set TARSEL_VIEWER?)");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace runner
