// The runner's report of a run in three forms: an aligned table for reading on a terminal, CSV for
// spreadsheets and scripts, JSON for programs.
#ifndef TARSEL_STAGE_RUNNER_REPORT_H
#define TARSEL_STAGE_RUNNER_REPORT_H

#include <array>
#include <cstddef>
#include <functional>
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

// Writes a report frame by frame, so that a run of any length needs memory for one frame only.
// The text is the same as the format_ functions give, except that a table longer than
// `table_sample_rows` rows takes its column widths from its first rows.
class Report_writer {
 public:
  using Sink = std::function<void(const std::string&)>;
  static constexpr std::size_t table_sample_rows = 1000;

  // The report's fields but its frames are taken now.
  Report_writer(Format format, const Report& header, Sink sink);
  void frame(const Frame_sample& frame);
  void finish();  // after the last frame

 private:
  static constexpr int columns = 9;
  using Row = std::array<std::string, columns>;
  void put_row(const Row& row);
  void start_table();

  Format format_;
  Sink sink_;
  std::string title_;  // table: the lines before the header
  std::vector<Row> sample_;
  std::array<std::size_t, columns> width_{};
  bool streaming_ = false;  // table: widths fixed, rows go straight out
  std::size_t frames_ = 0;
};

}  // namespace runner

#endif
