// The "render" subcommand: a still picture of one frame, as SVG (drawn by the runner) or PNG
// (the viewer page drawn by headless Chromium).
#ifndef TARSEL_STAGE_RUNNER_RENDER_H
#define TARSEL_STAGE_RUNNER_RENDER_H

#include <CLI/CLI.hpp>
#include <string>

namespace runner {

struct Render_options {
  std::string scene;
  int frame = 0;
  std::string output;
  std::string view = "front";
  std::string size = "800x600";
  std::string module;
};

CLI::App* add_render_command(CLI::App& app, Render_options& options);
int run_render(const Render_options& options);

}  // namespace runner

#endif
