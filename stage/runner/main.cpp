// tarsel-stage: runs scenes through the stand-in host with the Tarsel module loaded, as the
// animation program would, and reports what the chains did. This file builds the command line
// and hands over to the subcommand chosen; each subcommand lives in its own *_command.cpp.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "stage/runner/commands.h"
#include "stage/runner/module_path.h"

#ifndef TARSEL_VERSION
#define TARSEL_VERSION "0"
#endif

namespace {

const char* const program = "tarsel-stage";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Runs Tarsel inverse-kinematics rigs headless: loads the Tarsel module (tarsel.p) into a\n"
      "stand-in host, opens a scene file (JSON; see docs/scene-format.md and examples/),\n"
      "evaluates frames and reports every chain's rotations, positions and distance to its goal."};
  app.name(program);
  app.set_version_flag("--version", std::string(program) + " " + TARSEL_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Examples:\n"
      "  tarsel-stage run examples/two_bone_arm.json\n"
      "  tarsel-stage run examples/leg_limits.json --frames 0-24 --format csv -o leg.csv\n"
      "  tarsel-stage panel examples/two_bone_arm.json\n"
      "  tarsel-stage panel examples/two_bone_arm.json --set \"Posture Weight=0.5\" --save\n"
      "\n"
      "The module is the one built with this program unless --module or the environment\n"
      "variable TARSEL_MODULE names another.");

  const std::vector<runner::Command> commands = {
      runner::add_run_command(app),    runner::add_panel_command(app),
      runner::add_import_command(app), runner::add_rig_command(app),
      runner::add_bake_command(app),   runner::add_export_command(app),
      runner::add_view_command(app),   runner::add_render_command(app)};

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::fprintf(stderr, "%s: error: %s (see %s --help)\n", program, e.what(), program);
    return 2;  // a usage error
  }

  try {
    for (const runner::Command& c : commands)
      if (c.app->parsed()) return c.run();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: error: out of memory (the scene is too large for this machine)\n",
                 program);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: error: %s\n", program, e.what());
  }
  return 1;
}
