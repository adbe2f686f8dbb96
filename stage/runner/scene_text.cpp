#include "stage/runner/scene_text.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "stage/error.h"
#include "stage/runner/output_file.h"
#include "stage/scene_file.h"

namespace runner {

namespace {

using nlohmann::ordered_json;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw stage::Error(path + ": cannot open: " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw stage::Error(path + ": cannot read");
  return text.str();
}

}  // namespace

std::string load_scene_file(stage::Host& host, const std::string& path) {
  std::string text = read_text(path);
  std::string description;
  // Text that is not JSON goes to the host unchanged, which reports where it breaks.
  ordered_json root = ordered_json::parse(text, nullptr, false);
  if (!root.is_discarded() && root.is_object() && root.contains("description")) {
    const ordered_json& d = root["description"];
    if (!d.is_string()) throw stage::Error(path + ": /description: expected a string");
    description = d.get<std::string>();
    root.erase("description");
    text = root.dump();
  }
  host.load_scene_record(stage::parse_scene(text, path), path);
  return description;
}

void save_scene_file(stage::Host& host, const std::string& path, const std::string& description) {
  std::string text = stage::format_scene(host.scene_record());
  if (!description.empty()) {
    ordered_json root = ordered_json::parse(text);
    ordered_json out = ordered_json::object();
    for (auto it = root.begin(); it != root.end(); ++it) {
      out[it.key()] = it.value();
      if (it.key() == "version") out["description"] = description;
    }
    text = out.dump(2) + "\n";
  }
  write_file_whole(path, text);
}

}  // namespace runner
