// Warnings for rigs that load but cannot do what their author meant: a chain that cannot bend, a
// goal on the wrong item, a chain cut short, options naming items the scene does not have, and the
// like. Each names the file, the item and what to change. They are found once per scene from the
// scene and the chain roots' stored options, and never change a result.
#ifndef TARSEL_STAGE_REPORT_WARNINGS_H
#define TARSEL_STAGE_REPORT_WARNINGS_H

#include <string>
#include <vector>

#include "stage/host.h"

namespace report {

// The warnings for the host's scene, loaded from `file` (used to start each message).
std::vector<std::string> rig_warnings(stage::Host& host, const std::string& file);

// Every warning a command gives for a loaded scene, in the same words everywhere: loading's (what
// the host could not honour), a value beyond the exactly handled range, and the rig checks.
std::vector<std::string> scene_warnings(stage::Host& host, const std::string& file);

}  // namespace report

#endif
