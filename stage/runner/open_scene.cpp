#include "stage/runner/open_scene.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "stage/error.h"
#include "stage/runner/module_path.h"

namespace runner {

void open_scene(stage::Host& host, const std::string& module_option, const std::string& scene) {
  load_module(host, module_path(module_option));
  host.load_scene(scene);
  print_warnings(host);
}

std::string viewer_template() {
  const char* env = std::getenv("TARSEL_VIEWER");
  std::string path = env != nullptr && *env != '\0' ? env : "";
#ifdef TARSEL_VIEWER_HTML
  if (path.empty()) path = TARSEL_VIEWER_HTML;
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
