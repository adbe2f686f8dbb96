// The options that put IK chains on a scene's limbs, shared by `rig` and `import`.
#ifndef TARSEL_STAGE_RUNNER_RIG_OPTIONS_H
#define TARSEL_STAGE_RUNNER_RIG_OPTIONS_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "stage/formats/rig.h"

namespace runner {

struct Rig_options {
  std::vector<std::string> chains;  // ROOT:END
  std::string pole = "auto";
  std::string end_orientation = "clip";
  double bend = 0;
  bool has_bend = false;
  std::vector<std::string> pins;     // END:A-B
  std::vector<std::string> offsets;  // END:x,y,z
};

void add_rig_options(CLI::App* cmd, Rig_options& options);
// Throws stage::Error naming the option for a malformed value.
formats::Rig_request parse_rig_options(const Rig_options& options);

}  // namespace runner

#endif
