// The subcommands that bring motion files in and out: import, rig, bake and export. Each lives in
// its own file; main registers them and runs the one the user chose.
#ifndef TARSEL_STAGE_RUNNER_MOTION_COMMANDS_H
#define TARSEL_STAGE_RUNNER_MOTION_COMMANDS_H

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

// `module_path` turns the --module option into the module file to load (bake needs it).
using Module_path = std::function<std::string(const std::string&)>;

Command add_import_command(CLI::App& app);
Command add_rig_command(CLI::App& app);
Command add_bake_command(CLI::App& app, Module_path module_path);
Command add_export_command(CLI::App& app, Module_path module_path);

}  // namespace runner

#endif
