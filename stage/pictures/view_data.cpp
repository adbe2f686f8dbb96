#include "stage/pictures/view_data.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <sstream>

#include "stage/error.h"
#include "stage/report/chains.h"
#include "stage/scene_file.h"

namespace pictures {

namespace {

using nlohmann::ordered_json;

const LWItemParam channel_params[] = {LWIP_POSITION, LWIP_SCALING, LWIP_PIVOT, LWIP_ROTATION,
                                      LWIP_PIVOT_ROT};
const char* const channel_names[] = {"position", "scaling", "pivot", "rotation", "pivot_rotation"};
constexpr int channel_total = 5;
constexpr int first_angle_channel = 3;  // rotation and pivot rotation are written in degrees
const char* const limit_channel_names[] = {"heading", "pitch", "bank", "cone"};
const char* const bound_names[] = {"lower", "", "upper"};  // by Acted_limit::bound + 1

// Values are kept to 1e-8 (angles in degrees to 1e-8 degree), far below what a picture shows and
// what the browser tests compare, yet short in the file; nlohmann writes the shortest form.
ordered_json number(double v) {
  if (!std::isfinite(v)) return nullptr;
  if (std::fabs(v) < 1e7) v = std::round(v * 1e8) / 1e8;
  return v == 0 ? 0.0 : v;
}

// The file's item order is not always parents first; the viewer wants it so.
struct Item_index {
  std::vector<std::size_t> order;   // scene indices, parents first
  std::vector<long long> of_scene;  // scene index -> viewer index
  long long of(const stage::Scene& scene, LWItemID id) const {
    const std::size_t i = scene.index_of(id);
    return i == stage::Scene::npos ? -1 : of_scene[i];
  }
};

ordered_json limits_json(const stage::Limits& limits) {
  ordered_json j = ordered_json::object();
  const char* const names[] = {"heading", "pitch", "bank"};
  for (int c = 0; c < 3; ++c) {
    if ((limits.flags & (1u << c)) == 0) continue;
    j[names[c]] = {number(stage::rad_to_deg(limits.lower[c])),
                   number(stage::rad_to_deg(limits.upper[c]))};
  }
  return j;
}

}  // namespace

// Read from the root's own saved blocks alone: the page asks for a view of a few frames after every
// edit, and a whole scene's record (every key of a long clip) would cost more than the solve.
Root_options root_options(stage::Host& host, LWItemID root) {
  Root_options o;
  const stage::Item* item = host.scene().find(root);
  if (item == nullptr) return o;
  for (std::size_t n = 0; n < item->handlers.size(); ++n) {
    const stage::Handler_record h = host.handler_record(root, n);
    if (h.server != "Tarsel_Top") continue;
    for (const std::string& line : h.data) {
      std::istringstream words(line);
      std::string key;
      double value = 0;
      if (!(words >> key >> value)) continue;
      const LWItemID id = stage::id_from_value(static_cast<uint32_t>(value));
      if (key == "TwistTarget") o.twist_target = id;
      if (key == "TwistEffect") o.twist_effect = id;
      if (key == "PluginEffect") o.plugin_effect = id;
      if (key == "ArbitraryLimit") o.arbitrary_limit = value != 0;
    }
  }
  return o;
}

report::Frame_range view_range(const stage::Host& host, const std::string& frames) {
  report::Frame_range range{host.scene().frame_start, host.scene().frame_end};
  if (!frames.empty()) range = report::parse_frame_range(frames);
  if (range.count() > max_view_frames) {
    throw stage::Error("frames " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                       ": " + std::to_string(range.count()) + " frames; a view holds at most " +
                       std::to_string(max_view_frames) + " (choose a shorter range with --frames)");
  }
  return range;
}

std::string view_data_json(stage::Host& host, const std::string& scene_name,
                           const report::Frame_range& range,
                           const std::vector<std::string>& warnings) {
  const stage::Scene& scene = host.scene();
  Item_index index;
  index.order = scene.evaluation_order();
  index.of_scene.assign(scene.size(), -1);
  for (std::size_t i = 0; i < index.order.size(); ++i)
    index.of_scene[index.order[i]] = static_cast<long long>(i);

  const std::vector<LWItemID> reported = report::reported_items(scene);
  const std::vector<report::Chain> chains = report::find_chains(host);

  // Every channel of every item on every frame, and each chain's goal distance as the run
  // report gives it.
  const std::size_t n_items = index.order.size();
  const std::size_t n_frames = static_cast<std::size_t>(range.count());
  std::vector<std::vector<double>> channels(n_items * channel_total);
  for (auto& c : channels) c.reserve(3 * n_frames);
  std::vector<std::vector<double>> goal_distance(chains.size());
  // What the module reported for each chain's solve: the reach state, whether a limit acted and
  // whether the twist target was off (taken from the same evaluation, not run again).
  std::vector<ordered_json> reach(chains.size(), ordered_json::array());
  std::vector<ordered_json> limits_acted(chains.size(), ordered_json::array());
  std::vector<ordered_json> twist_off(chains.size(), ordered_json::array());
  // Which limits held each frame's solve: indices into the chain's list of the limits that ever
  // held, so that a long run repeats no words.
  std::vector<ordered_json> acted(chains.size(), ordered_json::array());
  std::vector<ordered_json> acted_kinds(chains.size(), ordered_json::array());
  std::vector<std::vector<std::string>> acted_words(chains.size());
  std::vector<bool> has_twist(chains.size(), false);
  std::vector<std::size_t> root_sample(chains.size(), 0);  // where each root is in a sample
  for (std::size_t k = 0; k < chains.size(); ++k)
    for (std::size_t r = 0; r < reported.size(); ++r)
      if (reported[r] == chains[k].root) root_sample[k] = r;
  for (long long f = range.first; f <= range.last; ++f) {
    const report::Frame_sample sample =
        report::sample_frame(host, static_cast<int>(f), reported, chains);
    for (std::size_t i = 0; i < n_items; ++i) {
      const LWItemID id = scene.item(index.order[i]).id;
      for (int c = 0; c < channel_total; ++c) {
        stage::Vec3 v = host.param(id, channel_params[c], sample.time);
        if (c >= first_angle_channel) v = stage::rad_to_deg(v);
        channels[i * channel_total + c].insert(channels[i * channel_total + c].end(), v.begin(),
                                               v.end());
      }
    }
    for (std::size_t k = 0; k < chains.size(); ++k) {
      const report::Item_sample& s = sample.items[root_sample[k]];
      goal_distance[k].push_back(s.has_goal ? s.goal_distance : std::nan(""));
      reach[k].push_back(s.reach);
      limits_acted[k].push_back(s.limits.empty() ? 0 : 1);
      ordered_json held = ordered_json::array();
      for (std::size_t n = 0; n < s.limits.size() && n < s.acted_limits.size(); ++n) {
        std::vector<std::string>& words = acted_words[k];
        const auto known = std::find(words.begin(), words.end(), s.limits[n]);
        held.push_back(known - words.begin());
        if (known != words.end()) continue;
        const report::Acted_limit& a = s.acted_limits[n];
        words.push_back(s.limits[n]);
        acted_kinds[k].push_back({{"item", index.of(scene, a.item)},
                                  {"channel", limit_channel_names[a.channel]},
                                  {"bound", bound_names[a.bound + 1]},
                                  {"text", s.limits[n]}});
      }
      acted[k].push_back(std::move(held));
      twist_off[k].push_back(s.twist_target.compare(0, 3, "off") == 0 ? 1 : 0);
      if (s.twist_target != "none") has_twist[k] = true;
    }
  }

  ordered_json root = ordered_json::object();
  root["format"] = 1;
  root["scene"] = scene_name;
  root["description"] = scene.description;
  root["fps"] = scene.fps;
  root["frames"] = {range.first, range.last};
  root["warnings"] = warnings;
  ordered_json items = ordered_json::array();
  for (std::size_t i = 0; i < n_items; ++i) {
    const stage::Item& item = scene.item(index.order[i]);
    ordered_json j = ordered_json::object();
    j["name"] = item.name;
    j["type"] = stage::item_type_name(item.type);
    j["parent"] = index.of(scene, item.parent);
    if (item.type == stage::Item_type::bone) j["rest_length"] = number(item.rest_length);
    if (item.limits.flags != 0) j["limits"] = limits_json(item.limits);
    for (int c = 0; c < channel_total; ++c) {
      const std::vector<double>& v = channels[i * channel_total + c];
      bool still = true;
      for (std::size_t k = 3; k < v.size() && still; ++k) still = v[k] == v[k % 3];
      ordered_json values = ordered_json::array();
      for (std::size_t k = 0; k < (still ? std::size_t{3} : v.size()); ++k)
        values.push_back(number(v[k]));
      j[channel_names[c]] = std::move(values);
    }
    items.push_back(std::move(j));
  }
  root["items"] = std::move(items);

  ordered_json chains_json = ordered_json::array();
  for (std::size_t k = 0; k < chains.size(); ++k) {
    const report::Chain& chain = chains[k];
    const Root_options options = root_options(host, chain.root);
    ordered_json j = ordered_json::object();
    j["root"] = index.of(scene, chain.root);
    ordered_json bones = ordered_json::array();
    for (const LWItemID id : report::gather_chain(scene, chain.root))
      bones.push_back(index.of(scene, id));
    j["bones"] = std::move(bones);
    j["goal"] = index.of(scene, chain.goal);
    j["goal_position"] = index.of(scene, chain.goal_position);
    j["twist_target"] = index.of(scene, options.twist_target);
    j["twist_effect"] = index.of(scene, options.twist_effect);
    j["plugin_effect"] = index.of(scene, options.plugin_effect);
    j["arbitrary_limit"] = options.arbitrary_limit;
    // Marker items: the root's siblings whose names hold "for-ik-limit" (Z axes on the limit's
    // boundary) or "ik-limit-org" (its centre axis); names shorter than 12 characters never count.
    ordered_json markers = ordered_json::array();
    long long origin = -1;
    if (options.arbitrary_limit) {
      const LWItemID parent = scene.at(chain.root).parent;
      for (std::size_t i = 0; i < n_items; ++i) {
        const stage::Item& item = scene.item(index.order[i]);
        if (item.id == chain.root || item.parent != parent || item.name.size() < 12) continue;
        if (item.name.find("for-ik-limit") != std::string::npos) markers.push_back(i);
        if (item.name.find("ik-limit-org") != std::string::npos) origin = static_cast<long long>(i);
      }
    }
    j["markers"] = std::move(markers);
    j["limit_origin"] = origin;
    // The plots under the view show every series listed here; a further per-chain figure of the
    // run report becomes one more entry.
    ordered_json distance = ordered_json::array();
    for (const double d : goal_distance[k]) distance.push_back(number(d));
    ordered_json series = ordered_json::array(
        {{{"key", "goal_distance"},
          {"label", "goal distance"},
          {"kind", "line"},
          {"unit", "scene units"},
          {"values", std::move(distance)}},
         {{"key", "reach"}, {"label", "reach"}, {"kind", "state"}, {"values", std::move(reach[k])}},
         {{"key", "limits_acted"},
          {"label", "limit acted"},
          {"kind", "marks"},
          {"values", std::move(limits_acted[k])}}});
    if (has_twist[k])
      series.push_back({{"key", "twist_off"},
                        {"label", "twist target off"},
                        {"kind", "marks"},
                        {"values", std::move(twist_off[k])}});
    j["series"] = std::move(series);
    j["acted_limits"] = std::move(acted_kinds[k]);
    j["acted"] = std::move(acted[k]);
    chains_json.push_back(std::move(j));
  }
  root["chains"] = std::move(chains_json);
  // Names come from scene files and may hold any bytes; replace what is not UTF-8.
  return root.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

namespace {

// "</" cannot appear inside a script element; "<\/" is the same JSON string.
// No name may end the script element, open a comment in it ("<!--" puts a script into its
// escaped state) or end a JavaScript string: '<', '>' and '&' (which JSON text holds only inside
// strings) and the line separators U+2028/9 are written as \u escapes of the same string.
std::string script_safe_json(const std::string& json) {
  std::string safe;
  safe.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '<') {
      safe += "\\u003c";
    } else if (c == '>') {
      safe += "\\u003e";
    } else if (c == '&') {
      safe += "\\u0026";
    } else if (c == '\xE2' && json.compare(i + 1, 2, "\x80\xA8") == 0) {
      safe += "\\u2028";
      i += 2;
    } else if (c == '\xE2' && json.compare(i + 1, 2, "\x80\xA9") == 0) {
      safe += "\\u2029";
      i += 2;
    } else {
      safe += c;
    }
  }
  return safe;
}

std::string base64(const std::string& bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? digits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace

std::string with_solver(const std::string& page, const Page_solver& solver) {
  const std::size_t body_end = page.rfind("</body>");
  if (body_end == std::string::npos) throw stage::Error("the viewer page has no </body>");
  std::string lower = solver.script;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("</script") != std::string::npos)
    throw stage::Error("the page's solver script holds \"</script\"");
  std::string out = page.substr(0, body_end);
  out += "<script id=\"tarsel-scene\" type=\"application/json\">";
  out += script_safe_json(solver.scene);
  out += "</script>\n<script id=\"tarsel-wasm\" type=\"application/octet-stream\">";
  out += base64(solver.wasm);
  out += "</script>\n<script>\n";
  out += solver.script;
  out += "\n</script>\n";
  out.append(page, body_end, std::string::npos);
  return out;
}

std::string view_page(const std::string& page_template, const std::string& data_json,
                      const std::string& title) {
  const std::string data_mark = "__TARSEL_VIEW_DATA__", title_mark = "__TARSEL_TITLE__";
  const std::size_t data_at = page_template.find(data_mark);
  const std::size_t title_at = page_template.find(title_mark);
  if (data_at == std::string::npos || title_at == std::string::npos || title_at > data_at)
    throw stage::Error("the viewer page has no place for the data (rebuild the viewer)");
  std::string safe_title;
  for (const char c : title) {
    if (c == '<')
      safe_title += "&lt;";
    else if (c == '>')
      safe_title += "&gt;";
    else if (c == '&')
      safe_title += "&amp;";
    else
      safe_title += c;
  }
  const std::string safe_data = script_safe_json(data_json);
  std::string page;
  page.reserve(page_template.size() + safe_data.size() + safe_title.size());
  page.append(page_template, 0, title_at);
  page += safe_title;
  page.append(page_template, title_at + title_mark.size(), data_at - title_at - title_mark.size());
  page += safe_data;
  page.append(page_template, data_at + data_mark.size(), std::string::npos);
  return page;
}

}  // namespace pictures
