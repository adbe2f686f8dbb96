// Loading the module and a scene for the subcommands that draw a run (view, render).
#ifndef TARSEL_STAGE_RUNNER_OPEN_SCENE_H
#define TARSEL_STAGE_RUNNER_OPEN_SCENE_H

#include <string>

#include "stage/host.h"

namespace runner {

// Loads the module (as module_path finds it) and the scene, printing the host's warnings on
// stderr. Throws stage::Error naming what is missing.
void open_scene(stage::Host& host, const std::string& module_option, const std::string& scene);

// The viewer page the runner fills with a run's data: $TARSEL_VIEWER, else the one built with
// the runner. Throws stage::Error when neither exists.
std::string viewer_template();

}  // namespace runner

#endif
