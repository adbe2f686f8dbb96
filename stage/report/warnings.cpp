#include "stage/report/warnings.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "stage/report/chains.h"
#include "stage/scene_file.h"

namespace report {

namespace {

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

// The options a chain root stored: key -> first value, as written in its data lines.
std::map<std::string, std::string> stored_options(const stage::Scene_record& record,
                                                  LWItemID root) {
  std::map<std::string, std::string> options;
  for (const stage::Item_record& r : record.items) {
    if (r.id != stage::id_value(root)) continue;
    for (const stage::Handler_record& h : r.handlers) {
      if (h.server != root_server) continue;
      for (const std::string& line : h.data) {
        std::istringstream words(line);
        std::string key, value;
        if (words >> key >> value) options.emplace(key, value);
      }
      break;
    }
  }
  return options;
}

// The first item below `item` (not itself) that carries Tarsel, or none.
LWItemID first_tarsel_below(const stage::Scene& scene, LWItemID item, std::size_t depth = 0) {
  if (depth > scene.size()) return LWITEM_NULL;
  for (LWItemID c = scene.first_child(item); c != LWITEM_NULL; c = scene.next_child(item, c)) {
    if (carries(scene.at(c), bone_server)) return c;
    const LWItemID below = first_tarsel_below(scene, c, depth + 1);
    if (below != LWITEM_NULL) return below;
  }
  return LWITEM_NULL;
}

bool has_rest_bend(const stage::Item& item) {
  for (int i = 0; i < 3; ++i)
    if (std::fabs(item.rest_rotation[i]) >= 1e-4) return true;  // the module's zero threshold
  return false;
}

bool is_marker_name(const std::string& name) {
  return name.size() >= 12 && name.find("for-ik-limit") != std::string::npos;
}

struct Item_option {
  const char* key;
  const char* label;
};
const Item_option item_options[] = {{"Twist", "Twist"},
                                    {"TwistTarget", "Twist Target"},
                                    {"TwistEffect", "Twist Target Effect"},
                                    {"GoalPosition", "Goal Position"},
                                    {"PluginEffect", "Plugin Effect"}};

}  // namespace

std::vector<std::string> rig_warnings(stage::Host& host, const std::string& file) {
  std::vector<std::string> out;
  const stage::Scene& scene = host.scene();
  const stage::Scene_record record = host.scene_record();
  const auto warn = [&](const std::string& item, const std::string& text) {
    out.push_back(file + ": item " + quoted(item) + ": " + text);
  };

  for (std::size_t i = 0; i < scene.size(); ++i) {
    const stage::Item& root = scene.item(i);
    if (!carries(root, root_server)) continue;
    const std::vector<LWItemID> chain = gather_chain(scene, root.id);
    const stage::Item& last = scene.at(chain.back());

    if (chain.size() == 1) {
      warn(root.name,
           "carries Tarsel_Top but no child carries Tarsel, so there is no chain to solve; attach "
           "Tarsel to each bone below it that is to take part");
    }
    // Items inside the chain: a goal on one that is not the last; a child without Tarsel that has
    // Tarsel bones below it, cutting the chain short.
    for (const LWItemID id : chain) {
      const stage::Item& item = scene.at(id);
      if (id != last.id && item.goal != LWITEM_NULL) {
        warn(item.name, "has a goal, but the chain of " + quoted(root.name) +
                            " takes its goal from its last item " + quoted(last.name) +
                            "; move the goal to " + quoted(last.name));
      }
      for (LWItemID c = scene.first_child(id); c != LWITEM_NULL; c = scene.next_child(id, c)) {
        const stage::Item& child = scene.at(c);
        if (child.type != stage::Item_type::bone || carries(child, bone_server)) continue;
        const LWItemID below = first_tarsel_below(scene, c);
        if (below == LWITEM_NULL) continue;
        warn(child.name, "has no Tarsel handler, so the chain of " + quoted(root.name) +
                             " stops above it and " + quoted(scene.at(below).name) +
                             " below it is not solved; attach Tarsel to " + quoted(child.name));
      }
    }
    if (chain.size() > 1 && last.goal == LWITEM_NULL) {
      bool goal_elsewhere = false;
      for (const LWItemID id : chain) goal_elsewhere |= scene.at(id).goal != LWITEM_NULL;
      if (!goal_elsewhere) {
        warn(last.name, "is the last item of the chain of " + quoted(root.name) +
                            " but has no goal, so the chain is not solved; give it a goal");
      }
    }
    if (chain.size() > 1) {
      bool bends = false;
      for (std::size_t k = 1; k < chain.size(); ++k) bends |= has_rest_bend(scene.at(chain[k]));
      if (!bends) {
        warn(root.name,
             "no bone of its chain below it has a rest_rotation, so the chain cannot bend (every "
             "bone bends by a fraction of its rest bend) and reaches only as far as it is long; "
             "give the bones that should bend a rest_rotation in the direction they bend");
      }
    }

    // Options that name items.
    const std::map<std::string, std::string> options = stored_options(record, root.id);
    for (const Item_option& option : item_options) {
      const auto it = options.find(option.key);
      if (it == options.end()) continue;
      const long long value = std::strtoll(it->second.c_str(), nullptr, 10);
      if (value == 0) continue;
      const LWItemID id = stage::id_from_value(static_cast<uint32_t>(value));
      if (scene.find(id) == nullptr) {
        warn(root.name, std::string(option.label) + " (" + option.key + ") names item " +
                            it->second +
                            ", which the scene does not have, so the option has lost its item; " +
                            "choose an existing item in the panel or set it to (none)");
      } else if (std::string(option.key) == "GoalPosition" && scene.at(id).parent != last.id) {
        // Its position is read as a point in the last item's frame, so it must be a child of it.
        warn(root.name, "Goal Position (GoalPosition) " + quoted(scene.at(id).name) +
                            " is not a child of the chain's last item " + quoted(last.name) +
                            ", so its position is read in the wrong frame; make it a child of " +
                            quoted(last.name));
      }
    }
    const auto limit = options.find("ArbitraryLimit");
    if (limit != options.end() && std::strtoll(limit->second.c_str(), nullptr, 10) != 0) {
      bool marker = false;
      for (LWItemID c = scene.first_child(root.parent); c != LWITEM_NULL;
           c = scene.next_child(root.parent, c)) {
        marker |= c != root.id && is_marker_name(scene.at(c).name);
      }
      if (!marker) {
        warn(root.name,
             "Arbitrary Limit (ArbitraryLimit) is on, but no sibling of it has \"for-ik-limit\" in "
             "its name, so no marker limit applies; add marker items beside it (docs/guide.md) "
             "or turn Arbitrary Limit off");
      }
    }
  }
  return out;
}

}  // namespace report
