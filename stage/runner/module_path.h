// Which module file a command loads, and loading it with a message a user can act on.
#ifndef TARSEL_STAGE_RUNNER_MODULE_PATH_H
#define TARSEL_STAGE_RUNNER_MODULE_PATH_H

#include <string>

#include "stage/host.h"

namespace runner {

// --module, else $TARSEL_MODULE, else the module built with this program, else the installed one
// (../lib/tarsel/tarsel.p beside the program's folder).
std::string module_path(const std::string& option);

// A file installed with this program (cmake --install): `relative` to the folder above the
// program's own, e.g. "lib/tarsel/tarsel.p"; empty when there is no such readable file.
std::string installed_file(const std::string& relative);

// Loads the module file into the host. Throws stage::Error naming the path when it is missing.
void load_module(stage::Host& host, const std::string& path);

// The host's warnings on loading a scene, one "tarsel-stage: warning: ..." line each on stderr.
void print_warnings(const stage::Host& host);

}  // namespace runner

#endif
