// Scene files as the runner reads and writes them: the stand-in host's format plus an optional
// top-level "description" (one line telling a user what the scene shows), which the runner keeps
// aside so that the host sees only the fields it knows.
#ifndef TARSEL_STAGE_RUNNER_SCENE_TEXT_H
#define TARSEL_STAGE_RUNNER_SCENE_TEXT_H

#include <string>

#include "stage/host.h"

namespace runner {

// Loads the file into the host (its modules must be loaded first) and returns the description, or
// "" when the file has none. Throws stage::Error naming the file for a missing or unreadable file
// and for anything the host rejects; the host's scene is unchanged then.
std::string load_scene_file(stage::Host& host, const std::string& path);

// Writes the host's scene to the file, whole or not at all, with the description (if not empty)
// after the format version.
void save_scene_file(stage::Host& host, const std::string& path, const std::string& description);

}  // namespace runner

#endif
