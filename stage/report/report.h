// The runner's report of a run in three forms: an aligned table for reading on a terminal, CSV for
// spreadsheets and scripts, JSON for programs.
#ifndef TARSEL_STAGE_REPORT_REPORT_H
#define TARSEL_STAGE_REPORT_REPORT_H

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "stage/report/chains.h"

namespace report {

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

// Title lines saying the frames and rotation order, then per frame one row per item: frame, item,
// heading, pitch, bank (local, degrees), world h, p, b, world x, y, z, and the goal distance on
// chain roots ("-" when the chain has no goal); under a frame's items one line per chain: reach
// state (and reason), end and goal positions, reach range, bend fraction, stretch factor (when not
// 1), limits acted, twist target, effect weight and diagnostic lines.
std::string format_table(const Report& report);
// Header "scene,frame,time,item,heading,pitch,bank,world_heading,world_pitch,world_bank,x,y,z,
// goal_distance,end_x,end_y,end_z,goal_x,goal_y,goal_z,reach,reason,shortest,longest,
// bend_fraction,limits,twist_target,effect_weight,diagnostics,stretch", then one line per frame and
// item; the columns from goal_distance on are filled on chain roots only (empty where unknown).
// Names are quoted when they hold a comma, a quote or a line break; limits are joined by "; ".
std::string format_csv(const Report& report);
// {"scene", "description", "module", "fps", "warnings": [...], "frames": [{"frame", "time",
// "items": [{"name", "heading", "pitch", "bank", "world_rotation": {"heading", "pitch", "bank",
// "quaternion": [x, y, z, w]}, "position": [x, y, z]}], "chains": [{"root", "end", "goal",
// "end_position", "goal_position", "goal_distance", "reach", "reason", "shortest", "longest",
// "bend_fraction", "limits": [...], "twist_target", "effect_weight", "diagnostics",
// "stretch"}]}]}; unknown
// values (no goal, not solved) and values that are not finite are null.
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
  static constexpr int columns = 12;
  // A table row: the cells of an item's line, or (note set) a chain's line under its root's.
  struct Row {
    std::array<std::string, columns> cells;
    std::string note;
  };
  void put_row(const Row& row);
  void add_row(Row row);
  void start_table();

  Format format_;
  Sink sink_;
  std::string scene_;  // CSV: each line's first column
  std::string title_;  // table: the lines before the header
  std::vector<Row> sample_;
  std::array<std::size_t, columns> width_{};
  bool streaming_ = false;  // table: widths fixed, rows go straight out
  std::size_t frames_ = 0;
};

}  // namespace report

#endif
