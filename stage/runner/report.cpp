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

namespace {

const char* const table_headers[] = {"frame", "item", "heading", "pitch",    "bank",
                                     "x",     "y",    "z",       "goal dist"};

std::string csv_rows(const Frame_sample& f) {
  std::string out;
  for (const Item_sample& s : f.items) {
    out += std::to_string(f.frame) + "," + exact(f.time) + "," + csv_field(s.name);
    for (int i = 0; i < 3; ++i) out += "," + exact(s.hpb_deg[i]);
    for (int i = 0; i < 3; ++i) out += "," + exact(s.position[i]);
    out += ",";
    if (s.is_chain_root && s.has_goal) out += exact(s.goal_distance);
    out += "\n";
  }
  return out;
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
    : format_(format), sink_(std::move(sink)) {
  switch (format_) {
    case Format::csv:
      sink_("frame,time,item,heading,pitch,bank,x,y,z,goal_distance\n");
      break;
    case Format::json: {
      nlohmann::ordered_json root = nlohmann::ordered_json::object();
      root["scene"] = header.scene;
      root["description"] = header.description;
      root["module"] = header.module;
      root["fps"] = header.fps;
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
      title_ += "\nangles in degrees, positions in world units; goal dist: chain end to goal\n\n";
      for (int c = 0; c < columns; ++c) width_[c] = std::string(table_headers[c]).size();
      break;
  }
}

void Report_writer::put_row(const Row& cells) {
  std::string line;
  for (int c = 0; c < columns; ++c) {
    const std::string& cell = cells[c];
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
  for (int c = 0; c < columns; ++c) header[c] = table_headers[c];
  put_row(header);
  for (const Row& row : sample_) put_row(row);
  sample_.clear();
  sample_.shrink_to_fit();
}

void Report_writer::frame(const Frame_sample& f) {
  switch (format_) {
    case Format::csv:
      sink_(csv_rows(f));
      break;
    case Format::json:
      sink_(std::string(frames_ == 0 ? "\n" : ",\n") + indented(dump(frame_json(f)), 2));
      break;
    case Format::table:
      for (const Item_sample& s : f.items) {
        Row row;
        row[0] = std::to_string(f.frame);
        row[1] = s.name;
        for (int i = 0; i < 3; ++i) row[2 + i] = fixed(s.hpb_deg[i], 3);
        for (int i = 0; i < 3; ++i) row[5 + i] = fixed(s.position[i], 4);
        row[8] = !s.is_chain_root ? "" : s.has_goal ? scientific(s.goal_distance) : "-";
        if (streaming_) {
          put_row(row);
          continue;
        }
        for (int c = 0; c < columns; ++c) width_[c] = std::max(width_[c], row[c].size());
        sample_.push_back(std::move(row));
        if (sample_.size() >= table_sample_rows) start_table();
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

}  // namespace runner
