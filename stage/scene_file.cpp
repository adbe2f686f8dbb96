#include "stage/scene_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "stage/error.h"
#include "stage/output_file.h"

namespace stage {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

constexpr int format_version = 1;
const char* const channel_names[ch_count] = {"position", "rotation", "scaling", "pivot",
                                             "pivot_rotation"};
const char* const limit_names[3] = {"heading", "pitch", "bank"};

bool is_angle_channel(int c) { return c == ch_rotation || c == ch_pivot_rotation; }

// A field name as a JSON pointer step: "~" becomes "~0", "/" becomes "~1".
std::string pointer_step(const std::string& key) {
  std::string out;
  for (char c : key) out += c == '~' ? "~0" : (c == '/' ? "~1" : std::string(1, c));
  return out;
}

// Reads one file, throwing Error with the file name, the JSON path and the fault.
class Parser {
 public:
  explicit Parser(const std::string& file) : file_(file) {}

  [[noreturn]] void fail(const std::string& path, const std::string& what) const {
    throw Error(file_ + ": " + (path.empty() ? "/" : path) + ": " + what);
  }

  const json& object(const json& j, const std::string& path) const {
    if (!j.is_object()) fail(path, "expected an object");
    return j;
  }

  void only_fields(const json& j, const std::string& path,
                   std::initializer_list<const char*> allowed) const {
    for (auto it = j.begin(); it != j.end(); ++it) {
      const bool known =
          std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return it.key() == a; });
      if (!known) fail(path + "/" + pointer_step(it.key()), "unknown field");
    }
  }

  double number(const json& j, const std::string& path) const {
    if (!j.is_number()) fail(path, "expected a number");
    const double v = j.get<double>();
    if (!std::isfinite(v)) fail(path, "the number is not finite");
    return v;
  }

  int integer(const json& j, const std::string& path) const {
    if (!j.is_number_integer()) fail(path, "expected a whole number");
    if (j.is_number_unsigned() ? j.get<uint64_t>() > 2147483647u
                               : (j.get<int64_t>() < -2147483647 || j.get<int64_t>() > 2147483647))
      fail(path, "the number is out of range");
    return static_cast<int>(j.get<int64_t>());
  }

  void check_frame_count(double frames, const std::string& path) const {
    if (frames <= max_scene_frames) return;
    char count[32];
    std::snprintf(count, sizeof count, "%.0f", frames);
    fail(path, std::string("the scene spans ") + count + " frames; a scene holds at most " +
                   std::to_string(max_scene_frames));
  }

  uint32_t id(const json& j, const std::string& path) const {
    if (!j.is_number_integer()) fail(path, "expected an item id (a whole number)");
    if (!j.is_number_unsigned() || j.get<uint64_t>() == 0 || j.get<uint64_t>() > 0xFFFFFFFFu)
      fail(path, "an item id is a whole number from 1 to 4294967295");
    return static_cast<uint32_t>(j.get<uint64_t>());
  }

  std::string string(const json& j, const std::string& path) const {
    if (!j.is_string()) fail(path, "expected a string");
    return j.get<std::string>();
  }

  Vec3 triple(const json& j, const std::string& path) const {
    if (!j.is_array() || j.size() != 3) fail(path, "expected three numbers [x, y, z]");
    Vec3 v{};
    for (int i = 0; i < 3; ++i) v[i] = number(j[i], path + "/" + std::to_string(i));
    return v;
  }

  // An affine transform as four rows of three numbers: the X, Y and Z rows, then the position.
  Mat4 affine_rows(const json& j, const std::string& path) const {
    if (!j.is_array() || j.size() != 4) fail(path, "expected four rows [x, y, z]");
    Mat4 m{};
    for (int i = 0; i < 4; ++i) {
      const Vec3 row = triple(j[i], path + "/" + std::to_string(i));
      for (int c = 0; c < 3; ++c) m.m[i][c] = row[c];
      m.m[i][3] = i == 3 ? 1 : 0;
    }
    return m;
  }

  Mesh_binding mesh(const json& j, const std::string& path) const {
    object(j, path);
    only_fields(j, path, {"source", "mesh", "name", "vertices", "checksum", "placement", "bones"});
    for (const char* field : {"source", "mesh", "vertices", "checksum", "placement", "bones"})
      if (!j.contains(field)) fail(path + "/" + field, "missing");
    Mesh_binding m;
    m.source = string(j["source"], path + "/source");
    const int index = integer(j["mesh"], path + "/mesh");
    const int vertices = integer(j["vertices"], path + "/vertices");
    if (index < 0) fail(path + "/mesh", "expected a mesh index from 0");
    if (vertices < 0 || vertices > max_mesh_vertices)
      fail(path + "/vertices",
           "expected a vertex count from 0 to " + std::to_string(max_mesh_vertices));
    m.mesh = static_cast<uint32_t>(index);
    m.vertices = static_cast<uint32_t>(vertices);
    if (j.contains("name")) m.name = string(j["name"], path + "/name");
    m.checksum = string(j["checksum"], path + "/checksum");
    m.placement = affine_rows(j["placement"], path + "/placement");
    const json& bones = j["bones"];
    if (!bones.is_array()) fail(path + "/bones", "expected a list of bones");
    for (std::size_t b = 0; b < bones.size(); ++b) {
      const std::string bp = path + "/bones/" + std::to_string(b);
      object(bones[b], bp);
      only_fields(bones[b], bp, {"joint", "bind"});
      if (!bones[b].contains("joint") || !bones[b].contains("bind"))
        fail(bp, "a bone needs \"joint\" and \"bind\"");
      m.bones.push_back(
          {string(bones[b]["joint"], bp + "/joint"), affine_rows(bones[b]["bind"], bp + "/bind")});
    }
    return m;
  }

  // A constant triple, or a list of keys {"frame" or "time", "value"}.
  Channel channel(const json& j, const std::string& path, double fps, bool angles) const {
    Channel c;
    const auto convert = [&](const Vec3& v) { return angles ? deg_to_rad(v) : v; };
    if (j.is_array() && !j.empty() && !j[0].is_object()) {
      c.value = convert(triple(j, path));
      return c;
    }
    if (!j.is_array() || j.empty())
      fail(path, "expected a triple [x, y, z] or a non-empty list of keys");
    for (std::size_t k = 0; k < j.size(); ++k) {
      const std::string kp = path + "/" + std::to_string(k);
      const json& key = object(j[k], kp);
      only_fields(key, kp, {"frame", "time", "value"});
      const bool has_frame = key.contains("frame"), has_time = key.contains("time");
      if (has_frame == has_time) fail(kp, "a key has either \"frame\" or \"time\"");
      if (!key.contains("value")) fail(kp, "a key needs a \"value\"");
      const double t =
          has_frame ? number(key["frame"], kp + "/frame") / fps : number(key["time"], kp + "/time");
      if (!std::isfinite(t)) fail(kp, "the key's time is not finite");
      c.keys.push_back({t, convert(triple(key["value"], kp + "/value"))});
    }
    std::stable_sort(c.keys.begin(), c.keys.end(),
                     [](const Key& a, const Key& b) { return a.time < b.time; });
    for (std::size_t k = 1; k < c.keys.size(); ++k) {
      if (c.keys[k].time == c.keys[k - 1].time) fail(path, "two keys at the same time");
    }
    c.value = c.keys.front().value;
    return c;
  }

  Limits limits(const json& j, const std::string& path) const {
    object(j, path);
    only_fields(j, path, {"heading", "pitch", "bank"});
    Limits l;
    for (int i = 0; i < 3; ++i) {
      if (!j.contains(limit_names[i])) continue;
      const std::string lp = path + "/" + limit_names[i];
      const json& pair = j[limit_names[i]];
      if (!pair.is_array() || pair.size() != 2) fail(lp, "expected [lower, upper] in degrees");
      const double lo = number(pair[0], lp + "/0"), hi = number(pair[1], lp + "/1");
      if (lo > hi) fail(lp, "the lower limit is above the upper limit");
      l.flags |= 1u << i;
      l.lower[i] = deg_to_rad(lo);
      l.upper[i] = deg_to_rad(hi);
    }
    return l;
  }

  Handler_record handler(const json& j, const std::string& path) const {
    object(j, path);
    only_fields(j, path, {"server", "data"});
    if (!j.contains("server")) fail(path, "a handler needs a \"server\"");
    Handler_record h;
    h.server = string(j["server"], path + "/server");
    if (h.server.empty()) fail(path + "/server", "the server name is empty");
    if (j.contains("data")) {
      const json& d = j["data"];
      h.has_data = true;
      if (d.is_string()) {
        h.data = split_lines(d.get<std::string>());
      } else if (d.is_array()) {
        for (std::size_t i = 0; i < d.size(); ++i)
          h.data.push_back(string(d[i], path + "/data/" + std::to_string(i)));
      } else {
        fail(path + "/data", "expected a list of lines or one string");
      }
    }
    return h;
  }

  Item_record item(const json& j, const std::string& path, double fps) const {
    object(j, path);
    only_fields(j, path,
                {"id", "type", "name", "owner", "parent", "goal", "match_goal_orientation",
                 "position", "rotation", "scaling", "pivot", "pivot_rotation", "rest_position",
                 "rest_rotation", "rest_length", "limits", "handlers"});
    Item_record r;
    if (!j.contains("id")) fail(path, "an item needs an \"id\"");
    r.id = id(j["id"], path + "/id");
    if (!j.contains("type")) fail(path, "an item needs a \"type\"");
    const std::string type = string(j["type"], path + "/type");
    if (!item_type_from_name(type, r.type))
      fail(path + "/type", "unknown item type \"" + type + "\" (object, bone, camera or light)");
    if (j.contains("name")) r.name = string(j["name"], path + "/name");
    const bool bone = r.type == Item_type::bone;
    if (j.contains("owner")) {
      if (!bone) fail(path + "/owner", "only bones have an owner");
      r.owner = id(j["owner"], path + "/owner");
    } else if (bone) {
      fail(path, "a bone needs an \"owner\" object");
    }
    if (j.contains("parent")) r.parent = id(j["parent"], path + "/parent");
    if (j.contains("goal")) r.goal = id(j["goal"], path + "/goal");
    if (j.contains("match_goal_orientation")) {
      const json& m = j["match_goal_orientation"];
      if (!m.is_boolean()) fail(path + "/match_goal_orientation", "expected true or false");
      r.match_goal_orientation = m.get<bool>();
    }
    for (int c = 0; c < ch_count; ++c) {
      if (j.contains(channel_names[c]))
        r.channels[c] =
            channel(j[channel_names[c]], path + "/" + channel_names[c], fps, is_angle_channel(c));
    }
    for (const char* field : {"rest_position", "rest_rotation", "rest_length"}) {
      if (j.contains(field) && !bone) fail(path + "/" + field, "only bones have a rest pose");
    }
    if (j.contains("rest_position"))
      r.rest_position = triple(j["rest_position"], path + "/rest_position");
    if (j.contains("rest_rotation"))
      r.rest_rotation = deg_to_rad(triple(j["rest_rotation"], path + "/rest_rotation"));
    if (j.contains("rest_length")) {
      r.rest_length = number(j["rest_length"], path + "/rest_length");
      if (r.rest_length < 0) fail(path + "/rest_length", "a rest length is not negative");
    }
    if (j.contains("limits")) r.limits = limits(j["limits"], path + "/limits");
    if (j.contains("handlers")) {
      const json& hs = j["handlers"];
      if (!hs.is_array()) fail(path + "/handlers", "expected a list of handlers");
      for (std::size_t h = 0; h < hs.size(); ++h)
        r.handlers.push_back(handler(hs[h], path + "/handlers/" + std::to_string(h)));
    }
    return r;
  }

  // References name items of the file; owners are objects; parent links have no cycle.
  void check_links(const Scene_record& scene) const {
    std::map<uint32_t, std::size_t> index;
    for (std::size_t i = 0; i < scene.items.size(); ++i) {
      const auto [it, fresh] = index.emplace(scene.items[i].id, i);
      if (!fresh)
        fail("/items/" + std::to_string(i) + "/id", "id " + std::to_string(scene.items[i].id) +
                                                        " is already used by /items/" +
                                                        std::to_string(it->second));
    }
    const auto check = [&](std::size_t i, const char* field, uint32_t ref) {
      if (ref != 0 && index.count(ref) == 0)
        fail("/items/" + std::to_string(i) + "/" + field, "no item has id " + std::to_string(ref));
    };
    for (std::size_t i = 0; i < scene.items.size(); ++i) {
      const Item_record& r = scene.items[i];
      check(i, "owner", r.owner);
      check(i, "parent", r.parent);
      check(i, "goal", r.goal);
      if (r.owner != 0 && scene.items[index[r.owner]].type != Item_type::object)
        fail("/items/" + std::to_string(i) + "/owner",
             "item " + std::to_string(r.owner) + " is not an object");
    }
    // Follow each item's parent links; meeting the item again means a cycle.
    const auto parent_of = [&](std::size_t i) -> std::size_t {
      const Item_record& r = scene.items[i];
      const uint32_t p = r.parent != 0 ? r.parent : r.owner;
      return p == 0 ? Scene::npos : index[p];
    };
    std::vector<char> state(scene.items.size(),
                            0);  // 1: on the walk from the current item; 2: done
    std::vector<std::size_t> walk;
    for (std::size_t i = 0; i < scene.items.size(); ++i) {
      walk.clear();
      std::size_t k = i;
      while (k != Scene::npos && state[k] == 0) {
        state[k] = 1;
        walk.push_back(k);
        k = parent_of(k);
      }
      if (k != Scene::npos && state[k] == 1) {
        std::string names = "\"" + scene.items[k].name + "\"";
        for (std::size_t m = parent_of(k); m != k; m = parent_of(m))
          names += " -> \"" + scene.items[m].name + "\"";
        names += " -> \"" + scene.items[k].name + "\"";
        fail("/items/" + std::to_string(k) + "/parent", "parent links form a cycle: " + names);
      }
      for (std::size_t w : walk) state[w] = 2;
    }
  }

 private:
  std::string file_;
};

// Twelve significant digits when they read back as the same angle: what a user typed as 90 reads
// back as 90, not 90.00000000000001. A computed angle (a baked key) is written in full, so that
// it reads back exactly.
double tidy_degrees(double rad) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.12g", rad_to_deg(rad));
  const double tidy = std::strtod(buf, nullptr);
  return deg_to_rad(tidy) == rad ? tidy : rad_to_deg(rad);
}

ordered_json triple_json(const Vec3& v) { return ordered_json::array({v[0], v[1], v[2]}); }

ordered_json angles_json(const Vec3& v) {
  return ordered_json::array({tidy_degrees(v[0]), tidy_degrees(v[1]), tidy_degrees(v[2])});
}

bool is_default(const Channel& c, int index) {
  const Vec3 d = index == ch_scaling ? Vec3{1, 1, 1} : Vec3{};
  return c.keys.empty() && c.value == d;
}

std::string number_text(double v);

// A channel's keys as the compact text of their list, written straight from the keys: a JSON
// document of a million keys would take ten times the memory of its text.
std::string keys_text(const Channel& c, bool angles, double fps) {
  // Room for the longest key (under 128 bytes) reserved at once: the text is never moved as it
  // grows, and the pages reserved but not written take no memory.
  std::string out;
  out.reserve(2 + 128 * c.keys.size());
  out += "[";
  for (std::size_t i = 0; i < c.keys.size(); ++i) {
    const Key& k = c.keys[i];
    const double frame = k.time * fps;
    out += i ? ", {" : "{";
    if (std::fabs(frame - std::round(frame)) < 1e-9 && std::fabs(frame) < 1e15) {
      out += "\"frame\": " + std::to_string(static_cast<int64_t>(std::round(frame)));
    } else {
      out += "\"time\": " + number_text(k.time);
    }
    out += ", \"value\": [";
    for (int j = 0; j < 3; ++j)
      out += (j ? ", " : "") + number_text(angles ? tidy_degrees(k.value[j]) : k.value[j]);
    out += "]}";
  }
  out += "]";
  return out;
}

// A constant channel as its triple; a keyed one as the text of its keys, in a string that
// `compact` writes as it is (only channel fields of an item hold a string).
ordered_json channel_json(const Channel& c, bool angles, double fps) {
  if (c.keys.empty()) return angles ? angles_json(c.value) : triple_json(c.value);
  return keys_text(c, angles, fps);
}

// Builds the document as nlohmann's own reader does, keeping the path of the value being read
// (a key per object, an index per array; constant work per event, however large the file).
class Path_follower {
 public:
  json root;
  bool number_too_large = false;  // the read stopped at a number beyond a double's range

  Path_follower() : dom_(root, true) {}

  std::string path() const {
    std::string out;
    for (const Level& l : levels_)
      out += "/" + (l.array ? std::to_string(l.index) : pointer_step(l.key));
    return out;
  }

  bool null() { return value(dom_.null()); }
  bool boolean(bool v) { return value(dom_.boolean(v)); }
  bool number_integer(json::number_integer_t v) { return value(dom_.number_integer(v)); }
  bool number_unsigned(json::number_unsigned_t v) { return value(dom_.number_unsigned(v)); }
  bool number_float(json::number_float_t v, const std::string& s) {
    return value(dom_.number_float(v, s));
  }
  bool string(std::string& v) { return value(dom_.string(v)); }
  bool binary(json::binary_t& v) { return value(dom_.binary(v)); }
  bool start_object(std::size_t n) {
    levels_.push_back({false, 0, ""});
    return dom_.start_object(n);
  }
  bool key(std::string& k) {
    levels_.back().key = k;
    return dom_.key(k);
  }
  bool end_object() {
    levels_.pop_back();
    return value(dom_.end_object());
  }
  bool start_array(std::size_t n) {
    levels_.push_back({true, 0, ""});
    return dom_.start_array(n);
  }
  bool end_array() {
    levels_.pop_back();
    return value(dom_.end_array());
  }
  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::detail::exception& e) {
    number_too_large = e.id == 406;
    return dom_.parse_error(position, token, e);
  }

 private:
  struct Level {
    bool array;
    std::size_t index;
    std::string key;
  };

  bool value(bool ok) {
    if (!levels_.empty() && levels_.back().array) ++levels_.back().index;
    return ok;
  }

  nlohmann::detail::json_sax_dom_parser<json> dom_;
  std::vector<Level> levels_;
};

std::string strip_json_prefix(const std::string& what) {
  const std::size_t close = what.find("] ");
  return what.rfind("[json.exception.", 0) == 0 && close != std::string::npos
             ? what.substr(close + 2)
             : what;
}

}  // namespace

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

Scene_record parse_scene(const std::string& text, const std::string& file_name) {
  const Parser p(file_name);
  // The parser reports a number too large for a double without saying where; following the
  // parse events gives the JSON path of the value being read when it stops.
  Path_follower follower;
  try {
    json::sax_parse(text, &follower);
  } catch (const json::exception& e) {
    if (follower.number_too_large) p.fail(follower.path(), "the number is not finite");
    throw Error(file_name + ": not valid JSON: " + strip_json_prefix(e.what()));
  }
  const json& root = follower.root;
  p.object(root, "");
  p.only_fields(root, "", {"version", "description", "fps", "frames", "meshes", "items"});
  if (root.contains("version") && p.integer(root["version"], "/version") != format_version)
    p.fail("/version", "unknown format version (this host reads version " +
                           std::to_string(format_version) + ")");
  Scene_record scene;
  if (root.contains("description")) {
    if (!root["description"].is_string()) p.fail("/description", "expected a string");
    scene.description = root["description"].get<std::string>();
  }
  if (root.contains("fps")) {
    scene.fps = p.number(root["fps"], "/fps");
    if (!(scene.fps > 0)) p.fail("/fps", "the frame rate must be above 0");
  }
  if (root.contains("items")) {
    const json& items = root["items"];
    if (!items.is_array()) p.fail("/items", "expected a list of items");
    scene.items.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
      scene.items.push_back(p.item(items[i], "/items/" + std::to_string(i), scene.fps));
  }
  p.check_links(scene);
  if (root.contains("meshes")) {
    const json& meshes = root["meshes"];
    if (!meshes.is_array()) p.fail("/meshes", "expected a list of meshes");
    long long vertices = 0;
    for (std::size_t i = 0; i < meshes.size(); ++i) {
      scene.meshes.push_back(p.mesh(meshes[i], "/meshes/" + std::to_string(i)));
      vertices += scene.meshes.back().vertices;
      if (vertices > max_mesh_vertices)
        p.fail("/meshes/" + std::to_string(i), "the meshes hold more than " +
                                                   std::to_string(max_mesh_vertices) +
                                                   " vertices together");
    }
  }
  if (root.contains("frames")) {
    const json& f = root["frames"];
    if (!f.is_array() || f.size() != 2) p.fail("/frames", "expected [first, last]");
    scene.frame_start = p.integer(f[0], "/frames/0");
    scene.frame_end = p.integer(f[1], "/frames/1");
    if (scene.frame_start > scene.frame_end) p.fail("/frames", "the first frame is after the last");
    p.check_frame_count(static_cast<double>(scene.frame_end) - scene.frame_start + 1, "/frames");
  } else {
    // Without a range: from frame 0 to the last key of any channel.
    double last = 0;
    for (const Item_record& item : scene.items)
      for (const Channel& c : item.channels)
        if (!c.keys.empty()) last = std::max(last, c.keys.back().time * scene.fps);
    last = std::ceil(last - 1e-9);
    p.check_frame_count(last + 1, "/items (its last key, as no \"frames\" are given)");
    scene.frame_end = static_cast<int>(last);
  }
  return scene;
}

namespace {

// A number as the file writes it: whole values without a fraction ("30", not "30.0"), others in
// the shortest form that reads back as the same double.
std::string number_text(double v) {
  if (!std::isfinite(v)) throw Error("a value to be written is not finite (nan or inf)");
  if (v == 0) return "0";
  if (v == std::floor(v) && std::fabs(v) < 1e15) return std::to_string(static_cast<int64_t>(v));
  return ordered_json(v).dump();
}

// Writes the keys of the named channel after `out`, which holds the line so far.
using Keys_writer = std::function<void(const std::string& channel, std::string& out)>;

// One JSON value on one line, with a space after each ':' and ',', appended to `out`. A channel
// field holding a string is its keys' text, appended as it is, or where a writer is given a
// place the writer fills.
void compact(const ordered_json& j, std::string& out, const Keys_writer* keys_writer) {
  if (j.is_object()) {
    out += '{';
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
      const bool keys = it.value().is_string() &&
                        std::find(std::begin(channel_names), std::end(channel_names), it.key()) !=
                            std::end(channel_names);
      out += first ? "" : ", ";
      out += ordered_json(it.key()).dump();
      out += ": ";
      if (keys && keys_writer) {
        (*keys_writer)(it.key(), out);
      } else if (keys) {
        out += it.value().get_ref<const std::string&>();
      } else {
        compact(it.value(), out, keys_writer);
      }
      first = false;
    }
    out += '}';
    return;
  }
  if (j.is_array()) {
    out += '[';
    for (std::size_t i = 0; i < j.size(); ++i) {
      out += i ? ", " : "";
      compact(j[i], out, keys_writer);
    }
    out += ']';
    return;
  }
  if (j.is_number_float()) {
    out += number_text(j.get<double>());
    return;
  }
  out += j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string compact(const ordered_json& j) {
  std::string out;
  compact(j, out, nullptr);
  return out;
}

// An item as a JSON document; with `keys_later` a keyed channel holds an empty string, its place.
ordered_json item_json(const Item_record& r, double fps, bool keys_later) {
  ordered_json j = ordered_json::object();
  j["id"] = r.id;
  j["type"] = item_type_name(r.type);
  if (!r.name.empty()) j["name"] = r.name;
  if (r.owner) j["owner"] = r.owner;
  if (r.parent && !(r.type == Item_type::bone && r.parent == r.owner)) j["parent"] = r.parent;
  if (r.goal) j["goal"] = r.goal;
  if (r.match_goal_orientation) j["match_goal_orientation"] = true;
  for (int c = 0; c < ch_count; ++c) {
    if (!is_default(r.channels[c], c))
      j[channel_names[c]] = keys_later && !r.channels[c].keys.empty()
                                ? ordered_json("")
                                : channel_json(r.channels[c], is_angle_channel(c), fps);
  }
  if (r.type == Item_type::bone) {
    if (r.rest_position != Vec3{}) j["rest_position"] = triple_json(r.rest_position);
    if (r.rest_rotation != Vec3{}) j["rest_rotation"] = angles_json(r.rest_rotation);
    if (r.rest_length != 0) j["rest_length"] = r.rest_length;
  }
  if (r.limits.flags & 7u) {
    ordered_json l = ordered_json::object();
    for (int i = 0; i < 3; ++i) {
      if (r.limits.flags & (1u << i))
        l[limit_names[i]] = {tidy_degrees(r.limits.lower[i]), tidy_degrees(r.limits.upper[i])};
    }
    j["limits"] = std::move(l);
  }
  if (!r.handlers.empty()) {
    ordered_json hs = ordered_json::array();
    for (const Handler_record& h : r.handlers) {
      ordered_json hj = ordered_json::object();
      hj["server"] = h.server;
      if (h.has_data) hj["data"] = h.data;
      hs.push_back(std::move(hj));
    }
    j["handlers"] = std::move(hs);
  }
  return j;
}

}  // namespace

ordered_json affine_rows_json(const Mat4& m) {
  ordered_json rows = ordered_json::array();
  for (int i = 0; i < 4; ++i) rows.push_back({m.m[i][0], m.m[i][1], m.m[i][2]});
  return rows;
}

ordered_json mesh_json(const Mesh_binding& m) {
  ordered_json j = {{"source", m.source}, {"mesh", m.mesh}};
  if (!m.name.empty()) j["name"] = m.name;
  j["vertices"] = m.vertices;
  j["checksum"] = m.checksum;
  j["placement"] = affine_rows_json(m.placement);
  ordered_json bones = ordered_json::array();
  for (const Mesh_bone& b : m.bones)
    bones.push_back({{"joint", b.joint}, {"bind", affine_rows_json(b.bind)}});
  j["bones"] = std::move(bones);
  return j;
}

// The scene's fields one a line, then one item a line with its keys in a fixed order, so that a
// change to one item (one option of a handler, say) changes one line of the file.
void write_scene(const Scene_record& scene, const std::function<void(const std::string&)>& out) {
  std::string head = "{\n  \"version\": " + std::to_string(format_version) + ",\n";
  if (!scene.description.empty())
    head += "  \"description\": " + compact(ordered_json(scene.description)) + ",\n";
  head += "  \"fps\": " + number_text(scene.fps) + ",\n";
  head += "  \"frames\": [" + std::to_string(scene.frame_start) + ", " +
          std::to_string(scene.frame_end) + "],\n";
  if (!scene.meshes.empty()) {
    head += "  \"meshes\": [\n";
    for (std::size_t i = 0; i < scene.meshes.size(); ++i)
      head += "    " + compact(mesh_json(scene.meshes[i])) +
              (i + 1 < scene.meshes.size() ? ",\n" : "\n");
    head += "  ],\n";
  }
  if (scene.items.empty()) return out(head + "  \"items\": []\n}\n");
  out(head + "  \"items\": [\n");
  for (std::size_t i = 0; i < scene.items.size(); ++i) {
    const Item_record& r = scene.items[i];
    // Each keyed channel's text made as its place comes and written then, so that one channel's
    // text at most is held (a baked channel of a million keys is some 75 MB of it).
    const Keys_writer keys = [&](const std::string& channel, std::string& line) {
      out(line);
      line.clear();
      const int c =
          static_cast<int>(std::find(std::begin(channel_names), std::end(channel_names), channel) -
                           std::begin(channel_names));
      out(keys_text(r.channels[c], is_angle_channel(c), scene.fps));
    };
    std::string line = "    ";
    compact(item_json(r, scene.fps, true), line, &keys);
    out(line + (i + 1 < scene.items.size() ? ",\n" : "\n"));
  }
  out("  ]\n}\n");
}

void write_scene(const Scene_record& scene, Output_file& output) {
  try {
    write_scene(scene, [&output](const std::string& piece) { output.write(piece); });
  } catch (const Error& e) {
    const std::string what = e.what();
    if (what.rfind(output.path(), 0) == 0) throw;
    throw Error(output.path() + ": " + what + "; nothing is written");
  }
}

std::string format_scene(const Scene_record& scene) {
  std::string text;
  write_scene(scene, [&text](const std::string& piece) { text += piece; });
  return text;
}

Scene_record read_scene_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(path + ": cannot open: " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw Error(path + ": cannot read");
  return parse_scene(text.str(), path);
}

void write_scene_file(const std::string& path, const Scene_record& scene) {
  write_file_whole(path, format_scene(scene));
}

}  // namespace stage
