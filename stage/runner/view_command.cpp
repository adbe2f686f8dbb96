// tarsel-stage view SCENE: one self-contained HTML page showing a run in 3D, with a timeline and
// per-chain plots.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/pictures/view_data.h"
#include "stage/report/diagnostics_summary.h"
#include "stage/runner/command_options.h"
#include "stage/runner/commands.h"
#include "stage/runner/open_scene.h"

namespace runner {

namespace {

struct View_options {
  std::string scene;
  std::string output;  // default: the scene's base name with .html, in the current directory
  std::string frames;
  std::string module;
  bool strict = false;
  bool raw_diagnostics = false;
};

std::string default_output(const std::string& scene) {
  std::string name = scene.substr(scene.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name + ".html";
}

CLI::App* add_view_options(CLI::App& app, View_options& options) {
  CLI::App* cmd = app.add_subcommand(
      "view",
      "Evaluate the frames and write one HTML file that shows the run in 3D: bones, goals,\n"
      "twist targets, root limits, a timeline and per-chain plots of the goal distance. It\n"
      "opens from disk in a browser, with no network.");
  add_scene_option(cmd, options.scene);
  cmd->add_option("-o,--output", options.output,
                  "The HTML file to write (default: the scene's name with .html, here)")
      ->type_name("FILE");
  cmd->add_option("-f,--frames", options.frames,
                  "Frames to show: FRAME or FIRST-LAST (default: the scene's own range)")
      ->type_name("RANGE");
  add_module_option(cmd, options.module);
  add_strict_option(cmd, options.strict);
  add_raw_diagnostics_option(cmd, options.raw_diagnostics);
  return cmd;
}

// The whole of a file, or false when it cannot be read.
bool read_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  text = bytes.str();
  return true;
}

// The WebAssembly build's folder: TARSEL_WASM_DIR in the environment, else the one CMake named.
std::string wasm_dir() {
  const char* env = std::getenv("TARSEL_WASM_DIR");
  if (env != nullptr && *env != '\0') return env;
#ifdef TARSEL_WASM_DIR
  return TARSEL_WASM_DIR;
#else
  return "";
#endif
}

// The page's solver from the WebAssembly build, with the scene's text; false when it is not built.
bool page_solver(const std::string& scene, pictures::Page_solver& solver) {
  const std::string dir = wasm_dir();
  return !dir.empty() && read_file(dir + "/tarsel-web.js", solver.script) &&
         read_file(dir + "/tarsel-web.wasm", solver.wasm) && read_file(scene, solver.scene);
}

int run_view(const View_options& options) {
  const std::string page_template = viewer_template();
  const std::string path = options.output.empty() ? default_output(options.scene) : options.output;
  stage::Output_file output(path);  // an unwritable place is reported before the run
  stage::Host host;
  const std::vector<std::string> warnings =
      open_scene(host, options.module, options.scene, options.strict);
  const report::Frame_range range = pictures::view_range(host, options.frames);
  std::string data;
  report::fold_diagnostics(options.scene, options.raw_diagnostics, [&] {
    data = pictures::view_data_json(host, options.scene, range, warnings);
  });
  std::string page = pictures::view_page(page_template, data, options.scene);
  pictures::Page_solver solver;
  if (page_solver(options.scene, solver)) {
    page = pictures::with_solver(page, solver);
  } else {
    std::fprintf(stderr,
                 "tarsel-stage: note: the page only plays the run back: its solver is not built "
                 "(cmake --preset wasm && cmake --build --preset wasm, or set TARSEL_WASM_DIR)\n");
  }
  output.commit(page);
  std::fprintf(stderr, "tarsel-stage: wrote %s (frames %d-%d, %.1f MB); open it in a browser\n",
               path.c_str(), range.first, range.last, page.size() / 1e6);
  return 0;
}

}  // namespace

Command add_view_command(CLI::App& app) {
  auto o = std::make_shared<View_options>();
  CLI::App* cmd = add_view_options(app, *o);
  return {cmd, [o] { return run_view(*o); }};
}

}  // namespace runner
