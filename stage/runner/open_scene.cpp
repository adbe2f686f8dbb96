#include "stage/runner/open_scene.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "stage/error.h"

#ifndef TARSEL_DEFAULT_MODULE
#define TARSEL_DEFAULT_MODULE "tarsel.p"
#endif

namespace runner {

void open_scene(stage::Host& host, const std::string& module_option, const std::string& scene) {
  std::string path = module_option;
  const char* env = std::getenv("TARSEL_MODULE");
  if (path.empty()) path = env != nullptr && *env != '\0' ? env : TARSEL_DEFAULT_MODULE;
  if (access(path.c_str(), R_OK) != 0)
    throw stage::Error("module not found: " + path + " (give --module PATH or set TARSEL_MODULE)");
  host.load_module(path);
  host.load_scene(scene);
  for (const std::string& w : host.warnings())
    std::fprintf(stderr, "tarsel-stage: warning: %s\n", w.c_str());
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
