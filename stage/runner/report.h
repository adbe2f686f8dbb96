// The runner's report of a run in three forms: an aligned table for reading on a terminal, CSV for
// spreadsheets and scripts, JSON for programs.
#ifndef TARSEL_STAGE_RUNNER_REPORT_H
#define TARSEL_STAGE_RUNNER_REPORT_H

#include <string>
#include <vector>

#include "stage/runner/chains.h"

namespace runner {

struct Report {
  std::string scene;        // the scene file as given
  std::string description;  // the scene's description line, may be empty
  std::string module;       // the module file used
  double fps = 30;
  std::vector<std::string> warnings;  // what loading and the rig checks found, once per scene
  std::vector<Frame_sample> frames;
};

enum class Format { table, csv, json };

// "table", "csv" or "json"; false for anything else.
bool parse_format(const std::string& name, Format& format);

// A title line, then one row per frame and item: frame, item, heading, pitch, bank (degrees),
// world x, y, z, and the goal distance on chain roots ("-" when the chain has no goal).
std::string format_table(const Report& report);
// Header "frame,time,item,heading,pitch,bank,x,y,z,goal_distance", then one line per frame and
// item; goal_distance is empty on items that are not chain roots or have no goal. Names are quoted
// when they hold a comma, a quote or a line break.
std::string format_csv(const Report& report);
// {"scene", "description", "module", "fps", "frames": [{"frame", "time", "items": [{"name",
// "heading", "pitch", "bank", "position": [x, y, z]}], "chains": [{"root", "end", "goal",
// "goal_distance"}]}]}; a chain without goal has null "goal" and "goal_distance", and any value
// that is not finite is null.
std::string format_json(const Report& report);

std::string format_report(const Report& report, Format format);

}  // namespace runner

#endif
