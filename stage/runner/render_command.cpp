// tarsel-stage render SCENE --frame N -o PIC: a still picture of one frame, as SVG (drawn by the
// runner) or PNG (the viewer page drawn by headless Chromium).
#include <cstdio>
#include <memory>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/pictures/png_picture.h"
#include "stage/pictures/svg_picture.h"
#include "stage/pictures/view_data.h"
#include "stage/report/diagnostics_summary.h"
#include "stage/report/frames.h"
#include "stage/runner/command_options.h"
#include "stage/runner/commands.h"
#include "stage/runner/open_scene.h"

namespace runner {

namespace {

struct Render_options {
  std::string scene;
  int frame = 0;
  std::string output;
  std::string view = "front";
  std::string size = "800x600";
  std::string module;
  bool strict = false;
  bool raw_diagnostics = false;
};

void parse_size(const std::string& text, int& width, int& height) {
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &rest) != 3 ||
      (x != 'x' && x != 'X') || width < 16 || height < 16 || width > 8192 || height > 8192)
    throw stage::Error("--size \"" + text + "\": expected WIDTHxHEIGHT, each 16 to 8192 pixels");
}

CLI::App* add_render_options(CLI::App& app, Render_options& options) {
  CLI::App* cmd = app.add_subcommand(
      "render",
      "Draw one frame as a still picture: SVG (written by the runner; any view) or PNG (the\n"
      "viewer page drawn by headless Chromium), chosen by the output's extension.");
  add_scene_option(cmd, options.scene);
  cmd->add_option("--frame", options.frame, "The frame to draw")->required()->type_name("N");
  cmd->add_option("-o,--output", options.output, "PIC.svg or PIC.png (written whole or not at all)")
      ->required()
      ->type_name("FILE");
  cmd->add_option("--view", options.view, "front (default), side, top or persp")->type_name("VIEW");
  cmd->add_option("--size", options.size, "Picture size in pixels (default 800x600)")
      ->type_name("WxH");
  add_module_option(cmd, options.module);
  add_strict_option(cmd, options.strict);
  add_raw_diagnostics_option(cmd, options.raw_diagnostics);
  return cmd;
}

int run_render(const Render_options& options) {
  pictures::View_kind view = pictures::View_kind::front;
  if (!pictures::parse_view(options.view, view))
    throw stage::Error("--view \"" + options.view + "\": expected front, side, top or persp");
  int width = 0, height = 0;
  parse_size(options.size, width, height);
  const bool png = ends_with(options.output, ".png");
  if (!png && !ends_with(options.output, ".svg"))
    throw stage::Error(options.output + ": the picture's name must end in .svg or .png");
  const std::string page_template = png ? viewer_template() : std::string();
  stage::Output_file output(options.output);
  stage::Host host;
  const std::vector<std::string> warnings =
      open_scene(host, options.module, options.scene, options.strict);
  // The frame evaluated with the module's degenerate-geometry lines folded into one, as elsewhere.
  std::string svg, data;
  report::fold_diagnostics(options.scene, options.raw_diagnostics, [&] {
    if (png) {
      data =
          pictures::view_data_json(host, options.scene, {options.frame, options.frame}, warnings);
    } else {
      svg = pictures::svg_picture(host, options.scene, options.frame, view, width, height);
    }
  });
  if (!png) {
    output.commit(svg);
    return 0;
  }
  const std::string page = pictures::view_page(page_template, data, options.scene);
  const std::string fragment = "still&view=" + options.view +
                               "&frame=" + std::to_string(options.frame) +
                               "&w=" + std::to_string(width) + "&h=" + std::to_string(height);
  std::string picture;
  try {
    picture = pictures::png_picture(page, fragment, width, height);
  } catch (const stage::Error& e) {
    throw stage::Error(options.output + ": " + e.what());
  }
  output.commit(picture);
  return 0;
}

}  // namespace

Command add_render_command(CLI::App& app) {
  auto o = std::make_shared<Render_options>();
  CLI::App* cmd = add_render_options(app, *o);
  return {cmd, [o] { return run_render(*o); }};
}

}  // namespace runner
