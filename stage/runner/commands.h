// The subcommands of tarsel-stage, one file each: run and panel; import, rig, bake and export of
// motion files; view and render of pictures. main registers them and runs the one the user chose.
#ifndef TARSEL_STAGE_RUNNER_COMMANDS_H
#define TARSEL_STAGE_RUNNER_COMMANDS_H

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace runner {

// A registered subcommand: `run` does its work once the command line is parsed; it throws
// stage::Error with a message naming the file and the fault.
struct Command {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

Command add_run_command(CLI::App& app);
Command add_panel_command(CLI::App& app);
Command add_import_command(CLI::App& app);
Command add_rig_command(CLI::App& app);
Command add_bake_command(CLI::App& app);
Command add_export_command(CLI::App& app);
Command add_view_command(CLI::App& app);
Command add_render_command(CLI::App& app);

}  // namespace runner

#endif
