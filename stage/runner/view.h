// The "view" subcommand: one self-contained HTML page showing a run in 3D, with a timeline and
// per-chain plots.
#ifndef TARSEL_STAGE_RUNNER_VIEW_H
#define TARSEL_STAGE_RUNNER_VIEW_H

#include <CLI/CLI.hpp>
#include <string>

namespace runner {

struct View_options {
  std::string scene;
  std::string output;  // default: the scene's base name with .html, in the current directory
  std::string frames;
  std::string module;
};

CLI::App* add_view_command(CLI::App& app, View_options& options);
int run_view(const View_options& options);

}  // namespace runner

#endif
