// The options that several subcommands of tarsel-stage share, worded the same everywhere.
#ifndef TARSEL_STAGE_RUNNER_COMMAND_OPTIONS_H
#define TARSEL_STAGE_RUNNER_COMMAND_OPTIONS_H

#include <CLI/CLI.hpp>
#include <string>

namespace runner {

// Whether a file name ends in `suffix` (the kind of file a command writes is told by it).
inline bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The scene file, as the command's first positional argument.
inline void add_scene_option(CLI::App* cmd, std::string& scene) {
  cmd->add_option("scene", scene, "Scene file (JSON)")->required()->type_name("SCENE");
}

// --module: the module file to load instead of the one built with the runner.
inline void add_module_option(CLI::App* cmd, std::string& module) {
  cmd->add_option("-m,--module", module,
                  "Module file to load (default: the built tarsel.p, or $TARSEL_MODULE)")
      ->type_name("PATH");
}

// --strict: a scene with warnings fails the command (exit 1) before anything is written.
inline void add_strict_option(CLI::App* cmd, bool& strict) {
  cmd->add_flag("--strict", strict, "Fail (exit 1) when the scene gives warnings");
}

// --raw-diagnostics: the module's own lines passed to stderr instead of one summary line.
inline void add_raw_diagnostics_option(CLI::App* cmd, bool& raw) {
  cmd->add_flag("--raw-diagnostics", raw,
                "Pass the module's own diagnostic lines (\"abs = 0\", \"determinant = 0\") "
                "to stderr instead of counting them");
}

}  // namespace runner

#endif
