#include "stage/report/report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace report {

namespace {

std::string fixed(double v, int decimals) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
  if (v == 0) v = 0;  // no "-0.000"
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  // A value that rounds to zero shows as zero, without a sign.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string scientific(double v) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : "inf";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3e", v);
  return buf;
}

std::string exact(double v) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.12g", v == 0 ? 0.0 : v);
  return buf;
}

std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string quoted = "\"";
  for (char c : s) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

nlohmann::ordered_json json_number(double v) {
  return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

}  // namespace

bool parse_format(const std::string& name, Format& format) {
  if (name == "table") {
    format = Format::table;
  } else if (name == "csv") {
    format = Format::csv;
  } else if (name == "json") {
    format = Format::json;
  } else {
    return false;
  }
  return true;
}

namespace {

const char* const table_headers[] = {"frame",   "item",    "heading", "pitch", "bank", "world h",
                                     "world p", "world b", "x",       "y",     "z",    "goal dist"};

const char* const csv_header =
    "scene,frame,time,item,heading,pitch,bank,world_heading,world_pitch,world_bank,x,y,z,"
    "goal_distance,end_x,end_y,end_z,goal_x,goal_y,goal_z,reach,reason,shortest,longest,"
    "bend_fraction,limits,twist_target,effect_weight,diagnostics,stretch\n";

// The module measured the chain in this frame: reach and bend fraction are known.
bool solved(const Item_sample& s) { return s.has_report() && s.report().unsolved == TARSEL_SOLVED; }

std::string joined(const std::vector<std::string>& words, const char* separator) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
  return out;
}

std::string point(const stage::Vec3& p) {
  return "(" + fixed(p[0], 4) + ", " + fixed(p[1], 4) + ", " + fixed(p[2], 4) + ")";
}

// The table's line for a chain, under its root's row.
std::string chain_line(const Item_sample& s) {
  std::string line = "chain " + s.name + ": " + s.reach;
  if (!s.reason.empty()) line += " (" + s.reason + ")";
  line += "; end " + point(s.end_position);
  if (s.has_goal) line += ", goal " + point(s.goal_position);
  if (solved(s)) {
    const TarselChainReport& r = s.report();
    if (r.reach_measured) line += "; reach " + fixed(r.shortest, 4) + " to " + fixed(r.longest, 4);
    line += "; bend " + fixed(r.bend_fraction, 4);
    if (r.stretch != 1.0) line += "; stretch " + fixed(r.stretch, 4);
    line += "; limits: " + (s.limits.empty() ? std::string("none") : joined(s.limits, ", "));
  }
  line += "; twist target: " + s.twist_target;
  if (s.has_report()) line += "; effect " + fixed(s.report().effect_weight, 3);
  if (s.diagnostic_lines > 0)
    line += "; " + std::to_string(s.diagnostic_lines) + " degenerate-geometry line" +
            (s.diagnostic_lines == 1 ? "" : "s");
  return line;
}

std::string csv_rows(const std::string& scene, const Frame_sample& f) {
  std::string out;
  for (const Item_sample& s : f.items) {
    out += csv_field(scene) + "," + std::to_string(f.frame) + "," + exact(f.time) + "," +
           csv_field(s.name);
    for (int i = 0; i < 3; ++i) out += "," + exact(s.hpb_deg[i]);
    for (int i = 0; i < 3; ++i) out += "," + exact(s.world_hpb_deg[i]);
    for (int i = 0; i < 3; ++i) out += "," + exact(s.position[i]);
    out += ",";
    if (s.is_chain_root && s.has_goal) out += exact(s.goal_distance);
    if (!s.is_chain_root) {
      out += ",,,,,,,,,,,,,,,,\n";
      continue;
    }
    for (int i = 0; i < 3; ++i) out += "," + exact(s.end_position[i]);
    for (int i = 0; i < 3; ++i) out += "," + (s.has_goal ? exact(s.goal_position[i]) : "");
    out += "," + s.reach + "," + csv_field(s.reason);
    const TarselChainReport& r = s.report();
    const bool reach = solved(s) && r.reach_measured;
    out += "," + (reach ? exact(r.shortest) : "") + "," + (reach ? exact(r.longest) : "");
    out += "," + (solved(s) ? exact(r.bend_fraction) : "");
    out += "," + csv_field(joined(s.limits, "; ")) + "," + csv_field(s.twist_target);
    out += "," + (s.has_report() ? exact(r.effect_weight) : "");
    out += "," + std::to_string(s.diagnostic_lines);
    out += "," + (solved(s) ? exact(r.stretch) : "") + "\n";
  }
  return out;
}

nlohmann::ordered_json triple_json(const stage::Vec3& v) {
  return {json_number(v[0]), json_number(v[1]), json_number(v[2])};
}

nlohmann::ordered_json frame_json(const Frame_sample& f) {
  using nlohmann::ordered_json;
  ordered_json frame = ordered_json::object();
  frame["frame"] = f.frame;
  frame["time"] = f.time;
  ordered_json items = ordered_json::array();
  ordered_json chains = ordered_json::array();
  for (const Item_sample& s : f.items) {
    ordered_json item = ordered_json::object();
    item["name"] = s.name;
    item["heading"] = json_number(s.hpb_deg[0]);
    item["pitch"] = json_number(s.hpb_deg[1]);
    item["bank"] = json_number(s.hpb_deg[2]);
    ordered_json world = ordered_json::object();
    world["heading"] = json_number(s.world_hpb_deg[0]);
    world["pitch"] = json_number(s.world_hpb_deg[1]);
    world["bank"] = json_number(s.world_hpb_deg[2]);
    world["quaternion"] = {json_number(s.world_quaternion[0]), json_number(s.world_quaternion[1]),
                           json_number(s.world_quaternion[2]), json_number(s.world_quaternion[3])};
    item["world_rotation"] = std::move(world);
    item["position"] = triple_json(s.position);
    items.push_back(std::move(item));
    if (!s.is_chain_root) continue;
    const TarselChainReport& r = s.report();
    const bool reach = solved(s) && r.reach_measured;
    ordered_json chain = ordered_json::object();
    chain["root"] = s.name;
    chain["end"] = s.end_name;
    chain["goal"] = s.has_goal ? ordered_json(s.goal_name) : ordered_json(nullptr);
    chain["end_position"] = triple_json(s.end_position);
    chain["goal_position"] = s.has_goal ? triple_json(s.goal_position) : ordered_json(nullptr);
    chain["goal_distance"] = s.has_goal ? json_number(s.goal_distance) : ordered_json(nullptr);
    chain["reach"] = s.reach;
    chain["reason"] = s.reason.empty() ? ordered_json(nullptr) : ordered_json(s.reason);
    chain["shortest"] = reach ? json_number(r.shortest) : ordered_json(nullptr);
    chain["longest"] = reach ? json_number(r.longest) : ordered_json(nullptr);
    chain["bend_fraction"] = solved(s) ? json_number(r.bend_fraction) : ordered_json(nullptr);
    chain["limits"] = s.limits;
    chain["twist_target"] = s.twist_target;
    chain["effect_weight"] = s.has_report() ? json_number(r.effect_weight) : ordered_json(nullptr);
    chain["diagnostics"] = s.diagnostic_lines;
    chain["stretch"] = solved(s) ? json_number(r.stretch) : ordered_json(nullptr);
    chains.push_back(std::move(chain));
  }
  frame["items"] = std::move(items);
  frame["chains"] = std::move(chains);
  return frame;
}

// Names come from scene files and may hold any bytes; replace what is not UTF-8.
std::string dump(const nlohmann::ordered_json& j) {
  return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// A dumped value placed `depth` levels of two spaces in.
std::string indented(const std::string& text, int depth) {
  const std::string pad(2 * static_cast<std::size_t>(depth), ' ');
  std::string out = pad;
  for (char c : text) {
    out += c;
    if (c == '\n') out += pad;
  }
  return out;
}

}  // namespace

Report_writer::Report_writer(Format format, const Report& header, Sink sink)
    : format_(format), sink_(std::move(sink)), scene_(header.scene) {
  switch (format_) {
    case Format::csv:
      sink_(csv_header);
      break;
    case Format::json: {
      nlohmann::ordered_json root = nlohmann::ordered_json::object();
      root["scene"] = header.scene;
      root["description"] = header.description;
      root["module"] = header.module;
      root["fps"] = header.fps;
      root["warnings"] = header.warnings;
      root["frames"] = nullptr;
      std::string text = dump(root);
      // Everything up to the frames' place; the frames follow as a streamed array.
      text.erase(text.rfind("null"));
      sink_(text + "[");
      break;
    }
    case Format::table:
      title_ = "scene " + header.scene;
      if (!header.description.empty()) title_ += ": " + header.description;
      title_ +=
          "\nangles in degrees: heading about Y, then pitch about X, then bank about Z (bones lie "
          "along their +Z);\n"
          "heading/pitch/bank: the item's rotation relative to its parent; world h/p/b: its world "
          "rotation;\n"
          "x, y, z: world position; goal dist: chain end to goal; each chain's line: reach state, "
          "end and goal\npositions, reach range, bend fraction, limits acted, twist target, effect "
          "weight (docs/guide.md)\n\n";
      for (int c = 0; c < columns; ++c) width_[c] = std::string(table_headers[c]).size();
      break;
  }
}

void Report_writer::put_row(const Row& row) {
  if (!row.note.empty()) {
    sink_(std::string(width_[0] + 2, ' ') + row.note + "\n");
    return;
  }
  std::string line;
  for (int c = 0; c < columns; ++c) {
    const std::string& cell = row.cells[c];
    const std::string pad(width_[c] > cell.size() ? width_[c] - cell.size() : 0, ' ');
    if (c > 0) line += "  ";
    line += c == 1 ? cell + pad : pad + cell;  // item names left, numbers right
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  sink_(line + "\n");
}

void Report_writer::start_table() {
  streaming_ = true;
  sink_(title_);
  Row header;
  for (int c = 0; c < columns; ++c) header.cells[c] = table_headers[c];
  put_row(header);
  for (const Row& row : sample_) put_row(row);
  sample_.clear();
  sample_.shrink_to_fit();
}

void Report_writer::add_row(Row row) {
  if (streaming_) {
    put_row(row);
    return;
  }
  if (row.note.empty())
    for (int c = 0; c < columns; ++c) width_[c] = std::max(width_[c], row.cells[c].size());
  sample_.push_back(std::move(row));
  if (sample_.size() >= table_sample_rows) start_table();
}

void Report_writer::frame(const Frame_sample& f) {
  switch (format_) {
    case Format::csv:
      sink_(csv_rows(scene_, f));
      break;
    case Format::json:
      sink_(std::string(frames_ == 0 ? "\n" : ",\n") + indented(dump(frame_json(f)), 2));
      break;
    case Format::table:
      for (const Item_sample& s : f.items) {
        Row row;
        row.cells[0] = std::to_string(f.frame);
        row.cells[1] = s.name;
        for (int i = 0; i < 3; ++i) row.cells[2 + i] = fixed(s.hpb_deg[i], 3);
        for (int i = 0; i < 3; ++i) row.cells[5 + i] = fixed(s.world_hpb_deg[i], 3);
        for (int i = 0; i < 3; ++i) row.cells[8 + i] = fixed(s.position[i], 4);
        row.cells[11] = !s.is_chain_root ? "" : s.has_goal ? scientific(s.goal_distance) : "-";
        add_row(std::move(row));
      }
      for (const Item_sample& s : f.items) {
        if (!s.is_chain_root) continue;
        Row note;
        note.note = chain_line(s);
        add_row(std::move(note));
      }
      break;
  }
  ++frames_;
}

void Report_writer::finish() {
  switch (format_) {
    case Format::csv:
      break;
    case Format::json:
      sink_(frames_ == 0 ? "]\n}\n" : "\n  ]\n}\n");
      break;
    case Format::table: {
      const bool empty = !streaming_ && sample_.empty();
      if (!streaming_) start_table();
      if (empty) sink_("(no items carry a motion handler)\n");
      break;
    }
  }
}

std::string format_report(const Report& report, Format format) {
  std::string out;
  Report_writer writer(format, report, [&](const std::string& text) { out += text; });
  for (const Frame_sample& f : report.frames) writer.frame(f);
  writer.finish();
  return out;
}

std::string format_table(const Report& report) { return format_report(report, Format::table); }
std::string format_csv(const Report& report) { return format_report(report, Format::csv); }
std::string format_json(const Report& report) { return format_report(report, Format::json); }

}  // namespace report
