// Loading the module and a scene for the subcommands that draw a run (view, render).
#ifndef TARSEL_STAGE_RUNNER_OPEN_SCENE_H
#define TARSEL_STAGE_RUNNER_OPEN_SCENE_H

#include <string>
#include <vector>

#include "stage/host.h"
#include "stage/report/frames.h"
#include "stage/scene_file.h"

namespace runner {

// Loads the module (as module_path finds it) and the scene, and prints every warning for it
// (report::scene_warnings: the same words as `run`) on stderr. With `strict`, a scene with
// warnings is refused before any work is done. Throws stage::Error naming what is missing.
std::vector<std::string> open_scene(stage::Host& host, const std::string& module_option,
                                    const std::string& scene, bool strict);

// The same checks for a scene made in memory (by rig or import) before it is written to `file`:
// the record is loaded into a host with the module, its warnings printed and, with `strict`, a
// scene with warnings refused.
std::vector<std::string> check_scene_record(const stage::Scene_record& record,
                                            const std::string& file,
                                            const std::string& module_option, bool strict);

// The frames a command covers: FIRST-LAST as given, which must lie inside the scene's own range,
// else the scene's range. Throws stage::Error naming the scene file.
report::Frame_range frames_within_scene(const stage::Scene& scene, const std::string& frames,
                                        const std::string& file);

// Throws "warnings given and --strict is set" when `strict` and there are warnings.
void check_strict(const std::vector<std::string>& warnings, bool strict);

// The viewer page the runner fills with a run's data: $TARSEL_VIEWER, else the one built with
// the runner. Throws stage::Error when neither exists.
std::string viewer_template();

}  // namespace runner

#endif
