#include "stage/report/warnings.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include "stage/report/chains.h"
#include "stage/report/value_range.h"
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

// The first item below `item` (not itself) that carries Tarsel, or none: depth first in child
// order, with a stack of the items being walked rather than recursion, so any depth fits.
LWItemID first_tarsel_below(const stage::Scene& scene, LWItemID item) {
  std::vector<std::pair<LWItemID, LWItemID>> path;  // (parent, its child being looked at)
  LWItemID parent = item, c = scene.first_child(item);
  for (;;) {
    if (c == LWITEM_NULL) {
      if (path.empty()) return LWITEM_NULL;
      std::tie(parent, c) = path.back();
      path.pop_back();
      c = scene.next_child(parent, c);
      continue;
    }
    if (carries(scene.at(c), bone_server)) return c;
    if (path.size() < scene.size()) {  // a bound the scene's acyclic parents never reach
      path.push_back({parent, c});
      parent = c;
      c = scene.first_child(c);
    } else {
      c = scene.next_child(parent, c);
    }
  }
}

bool has_rest_bend(const stage::Item& item) {
  for (int i = 0; i < 3; ++i)
    if (std::fabs(item.rest_rotation[i]) >= 1e-4) return true;  // the module's zero threshold
  return false;
}

// Whether a channel is zero at every time (no keys and a zero value, or only zero keys).
bool always_zero(const stage::Channel& channel) {
  const auto zero = [](const stage::Vec3& v) { return v[0] == 0 && v[1] == 0 && v[2] == 0; };
  if (!channel.keys.empty()) {
    for (const stage::Key& key : channel.keys)
      if (!zero(key.value)) return false;
    return true;
  }
  return zero(channel.value);
}

// The chain item that `item` hangs below (itself included), or none: an item parented under the
// chain it drives moves with it, which no solve can settle.
LWItemID chain_item_above(const stage::Scene& scene, LWItemID item,
                          const std::unordered_set<LWItemID>& chain) {
  std::size_t steps = 0;
  for (LWItemID at = item; at != LWITEM_NULL && steps <= scene.size(); ++steps) {
    if (chain.count(at) != 0) return at;
    const stage::Item* found = scene.find(at);
    at = found ? found->parent : LWITEM_NULL;
  }
  return LWITEM_NULL;
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

    // A root alone with a goal of its own is a one-bone chain that points at its goal.
    if (chain.size() == 1 && root.goal == LWITEM_NULL) {
      warn(root.name,
           "carries Tarsel_Top but no child carries Tarsel, so there is no chain to solve; attach "
           "Tarsel to each bone below it that is to take part");
    }
    const std::unordered_set<LWItemID> in_chain(chain.begin(), chain.end());
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
      // A child of the last item that has the goal but no Tarsel was meant to end the chain.
      LWItemID goal_below = LWITEM_NULL;
      for (LWItemID c = scene.first_child(last.id); c != LWITEM_NULL && goal_below == LWITEM_NULL;
           c = scene.next_child(last.id, c)) {
        const stage::Item& child = scene.at(c);
        if (child.goal != LWITEM_NULL && !carries(child, bone_server)) goal_below = c;
      }
      if (goal_below != LWITEM_NULL) {
        const std::string name = scene.at(goal_below).name;
        warn(name, "has a goal but no Tarsel handler, so the chain of " + quoted(root.name) +
                       " ends at " + quoted(last.name) + " above it and is not solved; attach " +
                       "Tarsel to " + quoted(name));
      } else if (!goal_elsewhere) {
        warn(last.name, "is the last item of the chain of " + quoted(root.name) +
                            " but has no goal, so the chain is not solved; give it a goal");
      }
    }
    // Goals and twist targets parented under the chain they drive.
    const auto check_not_under_chain = [&](LWItemID item, const std::string& what) {
      if (item == LWITEM_NULL || scene.find(item) == nullptr) return;
      const LWItemID above = chain_item_above(scene, item, in_chain);
      if (above == LWITEM_NULL) return;
      const std::string name = scene.at(item).name;
      warn(name, "is the " + what + " of the chain of " + quoted(root.name) + " but " +
                     (above == item ? "is itself in that chain"
                                    : "is parented under " + quoted(scene.at(above).name) +
                                          ", which is in that chain") +
                     ", so it moves with the chain it drives and the chain chases it; parent " +
                     quoted(name) + " outside the chain (for example to the rig's parent)");
    };
    check_not_under_chain(last.goal, "goal");
    // Bones placed by rest_position alone: the host places a bone by its position channel, so it
    // sits on its parent's pivot and the chain has no length there.
    for (const LWItemID id : chain) {
      const stage::Item& item = scene.at(id);
      const stage::Vec3& rest = item.rest_position;
      if (item.type != stage::Item_type::bone || (rest[0] == 0 && rest[1] == 0 && rest[2] == 0))
        continue;
      if (!always_zero(item.channels[stage::ch_position])) continue;
      warn(item.name,
           "has a rest_position but no position, so it sits on its parent's pivot "
           "(the host places a bone by its position; rest_position is the pose the "
           "module bends from); give it a position, usually equal to its rest_position");
    }
    if (chain.size() > 1) {
      bool bends = false;
      for (std::size_t k = 1; k < chain.size(); ++k) bends |= has_rest_bend(scene.at(chain[k]));
      // A joint between the first bend and the end with no rest bend of its own stays straight,
      // so a leg or arm bends at one joint only.
      for (std::size_t k = 1; bends && k + 1 < chain.size(); ++k) {
        const stage::Item& joint = scene.at(chain[k]);
        if (has_rest_bend(joint)) continue;
        warn(joint.name, "is a joint of the chain of " + quoted(root.name) +
                             " but has no rest_rotation, so it stays straight and the chain "
                             "bends at its other joints only; give it a rest_rotation in the "
                             "direction it bends");
      }
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
      } else if (std::string(option.key) == "TwistTarget") {
        check_not_under_chain(id, "Twist Target");
      } else if (std::string(option.key) == "GoalPosition" && scene.at(id).parent != last.id) {
        // Its position is read as a point in the last item's frame, so it must be a child of it.
        warn(root.name, "Goal Position (GoalPosition) " + quoted(scene.at(id).name) +
                            " is not a child of the chain's last item " + quoted(last.name) +
                            ", so its position is read in the wrong frame; make it a child of " +
                            quoted(last.name));
      }
    }
    const auto limit = options.find("ArbitraryLimit");
    const bool limit_on =
        limit != options.end() && std::strtoll(limit->second.c_str(), nullptr, 10) != 0;
    std::vector<LWItemID> markers;
    for (LWItemID c = scene.first_child(root.parent); c != LWITEM_NULL;
         c = scene.next_child(root.parent, c)) {
      if (c != root.id && is_marker_name(scene.at(c).name)) markers.push_back(c);
    }
    if (limit_on && markers.empty()) {
      warn(root.name,
           "Arbitrary Limit (ArbitraryLimit) is on, but no sibling of it has \"for-ik-limit\" in "
           "its name, so no marker limit applies; add marker items beside it (docs/guide.md) "
           "or turn Arbitrary Limit off");
    } else if (!limit_on && !markers.empty()) {
      warn(root.name, "has limit markers beside it (" + quoted(scene.at(markers[0]).name) +
                          (markers.size() > 1 ? ", ..." : "") +
                          ") but Arbitrary Limit (ArbitraryLimit) is off, so they are ignored; "
                          "turn Arbitrary Limit on in the panel, or remove the markers");
    } else if (limit_on) {
      bool turned = false;
      for (const LWItemID m : markers)
        turned |= !always_zero(scene.at(m).channels[stage::ch_rotation]);
      if (!turned) {
        warn(root.name,
             "its limit markers are not rotated, so their Z axes all point the same way and "
             "draw no cone (the root is held on one direction); turn each marker so that its Z "
             "axis points where the root may turn to at most (docs/guide.md)");
      }
    }
  }
  return out;
}

std::vector<std::string> scene_warnings(stage::Host& host, const std::string& file) {
  std::vector<std::string> out = host.warnings();
  const std::string beyond = beyond_exact_range(host.scene());
  if (!beyond.empty()) out.push_back(file + ": " + beyond);
  for (std::string& w : rig_warnings(host, file)) out.push_back(std::move(w));
  return out;
}

}  // namespace report
