#include "stage/runner/report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace runner {

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

std::string format_table(const Report& report) {
  static const char* const headers[] = {"frame", "item", "heading", "pitch",    "bank",
                                        "x",     "y",    "z",       "goal dist"};
  constexpr int columns = 9;
  std::vector<std::array<std::string, columns>> rows;
  for (const Frame_sample& f : report.frames) {
    for (const Item_sample& s : f.items) {
      std::array<std::string, columns> row;
      row[0] = std::to_string(f.frame);
      row[1] = s.name;
      for (int i = 0; i < 3; ++i) row[2 + i] = fixed(s.hpb_deg[i], 3);
      for (int i = 0; i < 3; ++i) row[5 + i] = fixed(s.position[i], 4);
      row[8] = !s.is_chain_root ? "" : s.has_goal ? scientific(s.goal_distance) : "-";
      rows.push_back(std::move(row));
    }
  }
  std::array<std::size_t, columns> width{};
  for (int c = 0; c < columns; ++c) width[c] = std::string(headers[c]).size();
  for (const auto& row : rows)
    for (int c = 0; c < columns; ++c) width[c] = std::max(width[c], row[c].size());

  std::string out = "scene " + report.scene;
  if (!report.description.empty()) out += ": " + report.description;
  out += "\nangles in degrees, positions in world units; goal dist: chain end to goal\n\n";
  const auto put_row = [&](const auto& cells) {
    std::string line;
    for (int c = 0; c < columns; ++c) {
      const std::string cell = cells[c];
      const std::string pad(width[c] - cell.size(), ' ');
      if (c > 0) line += "  ";
      line += c == 1 ? cell + pad : pad + cell;  // item names left, numbers right
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  };
  std::array<std::string, columns> header_row;
  for (int c = 0; c < columns; ++c) header_row[c] = headers[c];
  put_row(header_row);
  for (const auto& row : rows) put_row(row);
  if (rows.empty()) out += "(no items carry a motion handler)\n";
  return out;
}

std::string format_csv(const Report& report) {
  std::string out = "frame,time,item,heading,pitch,bank,x,y,z,goal_distance\n";
  for (const Frame_sample& f : report.frames) {
    for (const Item_sample& s : f.items) {
      out += std::to_string(f.frame) + "," + exact(f.time) + "," + csv_field(s.name);
      for (int i = 0; i < 3; ++i) out += "," + exact(s.hpb_deg[i]);
      for (int i = 0; i < 3; ++i) out += "," + exact(s.position[i]);
      out += ",";
      if (s.is_chain_root && s.has_goal) out += exact(s.goal_distance);
      out += "\n";
    }
  }
  return out;
}

std::string format_json(const Report& report) {
  using nlohmann::ordered_json;
  ordered_json root = ordered_json::object();
  root["scene"] = report.scene;
  root["description"] = report.description;
  root["module"] = report.module;
  root["fps"] = report.fps;
  ordered_json frames = ordered_json::array();
  for (const Frame_sample& f : report.frames) {
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
      item["position"] = {json_number(s.position[0]), json_number(s.position[1]),
                          json_number(s.position[2])};
      items.push_back(std::move(item));
      if (!s.is_chain_root) continue;
      ordered_json chain = ordered_json::object();
      chain["root"] = s.name;
      chain["end"] = s.end_name;
      chain["goal"] = s.has_goal ? ordered_json(s.goal_name) : ordered_json(nullptr);
      chain["goal_distance"] = s.has_goal ? json_number(s.goal_distance) : ordered_json(nullptr);
      chains.push_back(std::move(chain));
    }
    frame["items"] = std::move(items);
    frame["chains"] = std::move(chains);
    frames.push_back(std::move(frame));
  }
  root["frames"] = std::move(frames);
  // Names come from scene files and may hold any bytes; replace what is not UTF-8.
  return root.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string format_report(const Report& report, Format format) {
  switch (format) {
    case Format::csv:
      return format_csv(report);
    case Format::json:
      return format_json(report);
    case Format::table:
      break;
  }
  return format_table(report);
}

}  // namespace runner
