#include "stage/web/session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "stage/error.h"
#include "stage/pictures/view_data.h"
#include "stage/report/options.h"
#include "stage/report/value_range.h"
#include "stage/report/warnings.h"
#include "stage/scene_file.h"

namespace web {

namespace {

void append_number(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  out += buf;
}

void append_string(std::string& out, const std::string& s) {
  out += '"';
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

Session::Session(const std::string& module) { host_.load_module(module); }

void Session::load(const std::string& scene_text, const std::string& name) {
  host_.load_scene_record(stage::parse_scene(scene_text, name), name);
  name_ = name;
}

std::vector<std::string> Session::warnings() {
  std::vector<std::string> out = host_.warnings();
  const std::string beyond = report::beyond_exact_range(host_.scene());
  if (!beyond.empty()) out.push_back(name_ + ": " + beyond);
  for (const std::string& w : report::rig_warnings(host_, name_)) out.push_back(w);
  return out;
}

std::string Session::rotations_json(int first, int last) {
  const stage::Scene& scene = host_.scene();
  std::string out = "{\"items\": [";
  for (std::size_t i = 0; i < scene.size(); ++i) {
    if (i) out += ", ";
    append_string(out, scene.item(i).name);
  }
  out += "], \"first\": " + std::to_string(first) + ", \"last\": " + std::to_string(last) +
         ", \"rotations\": [";
  for (int frame = first; frame <= last; ++frame) {
    host_.evaluate_frame(frame);
    const double time = host_.evaluated_time();
    out += frame == first ? "[" : ", [";
    for (std::size_t i = 0; i < scene.size(); ++i) {
      const stage::Vec3 r = host_.param(scene.item(i).id, LWIP_ROTATION, time);
      for (int c = 0; c < 3; ++c) {
        if (i || c) out += ", ";
        append_number(out, r[c]);
      }
    }
    out += "]";
  }
  out += "]}";
  return out;
}

std::string Session::view_data_json(int first, int last) {
  return pictures::view_data_json(host_, name_, report::Frame_range{first, last});
}

void Session::set_channel(const std::string& item_name, int channel, int frame,
                          const stage::Vec3& value, bool key) {
  const LWItemID id = host_.scene().find_by_name(item_name);
  if (id == LWITEM_NULL) throw stage::Error("no item named \"" + item_name + "\"");
  if (channel < 0 || channel >= stage::ch_count)
    throw stage::Error("no channel " + std::to_string(channel));
  stage::Channel& ch = host_.scene().at(id).channels[static_cast<std::size_t>(channel)];
  const double time = frame / host_.scene().fps;
  if (key) {
    auto at = std::lower_bound(ch.keys.begin(), ch.keys.end(), time,
                               [](const stage::Key& k, double t) { return k.time < t; });
    if (at != ch.keys.end() && at->time == time)
      at->value = value;
    else
      ch.keys.insert(at, stage::Key{time, value});
  } else if (ch.keys.empty()) {
    ch.value = value;
  } else {
    // The keys keep their shape and move by what the edit changed at this frame.
    const stage::Vec3 now = stage::channel_value(ch, time);
    for (stage::Key& k : ch.keys)
      for (int c = 0; c < 3; ++c) k.value[c] += value[c] - now[c];
  }
}

stage::Panel& Session::panel(const std::string& root) {
  const LWItemID id = host_.scene().find_by_name(root);
  if (id == LWITEM_NULL) throw stage::Error("no item named \"" + root + "\"");
  return host_.open_panel(id, "Tarsel_Top");
}

std::string Session::options_json(const std::string& root) {
  stage::Panel& p = panel(root);
  std::string out = "{\"root\": ";
  append_string(out, root);
  out += ", \"options\": [";
  bool more = false;
  for (const stage::Control_value& v : p.values()) {
    out += more ? ", {\"id\": " : "{\"id\": ";
    more = true;
    out += std::to_string(v.id) + ", \"label\": ";
    append_string(out, v.label);
    static const char* const kinds[] = {"popup", "switch", "integer", "number", "other"};
    out += ", \"kind\": \"";
    out += kinds[static_cast<int>(v.kind)];
    out += "\", \"value\": ";
    if (!v.has_value)
      out += "null";
    else if (v.kind == stage::Control_kind::number)
      append_number(out, v.number);
    else
      out += std::to_string(v.integer);
    if (v.kind == stage::Control_kind::popup) {
      out += ", \"entries\": [";
      bool next = false;
      for (const std::string& e : p.entries(v.id)) {
        if (next) out += ", ";
        next = true;
        append_string(out, e);
      }
      out += "]";
    } else if (v.kind == stage::Control_kind::number) {
      out += ", \"range\": ";
      append_string(out, report::accepted_range(v.label));
    }
    out += "}";
  }
  return out + "]}";
}

void Session::set_option(const std::string& root, unsigned long id, double value) {
  panel(root).set(id, value);
}

std::string Session::scene_text() { return stage::format_scene(host_.file_record()); }

}  // namespace web
