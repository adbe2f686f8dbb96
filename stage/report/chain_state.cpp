#include "stage/report/chain_state.h"
#include "pmath/pmath.h"

#include <algorithm>
#include <cmath>

#include "stage/transform.h"

namespace report {

namespace {

const char* const channel_names[] = {"heading", "pitch", "bank"};

double magnitude(const stage::Vec3& v) { return pmath::hypot(pmath::hypot(v[0], v[1]), v[2]); }

// Why nothing was solved, or empty when the module solved the chain.
std::string unsolved_reason(const Chain& chain, const Item_sample& s) {
  if (!s.has_goal)
    return chain.goal_elsewhere ? "goal on an item that is not the chain's last" : "no goal";
  if (!s.has_report()) return "no report";
  switch (s.report().unsolved) {
    case TARSEL_SOLVED:
      return "";
    case TARSEL_NO_EFFECT:
      return "effect weight 0";
    case TARSEL_NO_GOAL:
      return "no goal";
    default:
      return "the module could not read the scene";
  }
}

}  // namespace

void describe_chain(const stage::Scene& scene, const Chain& chain, Item_sample* sample) {
  Item_sample& s = *sample;
  const TarselChainReport& r = s.report();
  const double scale =
      1 + std::max(magnitude(s.end_position), s.has_goal ? magnitude(s.goal_position) : 0.0);
  if (s.has_goal && s.goal_distance < distance_rounding * scale) s.goal_distance = 0;

  s.limits.clear();
  s.acted_limits.clear();
  if (s.has_report() && r.unsolved == TARSEL_SOLVED) {
    const stage::Item* root = scene.find(chain.root);
    // The module says which root channel held, not at which bound: the nearer one.
    const auto root_bound = [&](int c) {
      if (!root) return 0;
      const double v = stage::deg_to_rad(s.hpb_deg[c]);
      return std::fabs(v - root->limits.lower[c]) <= std::fabs(v - root->limits.upper[c]) ? -1 : 1;
    };
    if (r.root_limits & TARSEL_LIMIT_HEADING) {
      s.limits.push_back("root heading");
      s.acted_limits.push_back({chain.root, 0, root_bound(0)});
    }
    if (r.root_limits & TARSEL_LIMIT_PITCH) {
      s.limits.push_back("root pitch");
      s.acted_limits.push_back({chain.root, 1, root_bound(1)});
    }
    // Heading and pitch limits together are held as a cone through the corners of their box.
    if (r.root_limits & TARSEL_LIMIT_CONE) {
      s.limits.push_back(chain.arbitrary_limit ? "root marker cone" : "root heading/pitch cone");
      s.acted_limits.push_back({chain.root, 3, 0});
    }
    for (int j = 0; j < r.joint_count && j < TARSEL_REPORT_JOINTS; ++j) {
      if (r.joint_clamp[j] == 0 || r.joint_channel[j] < 0 || r.joint_channel[j] > 2) continue;
      const stage::Item* item = scene.find(r.joint_item[j]);
      s.limits.push_back((item ? item->name : std::string("?")) + " " +
                         channel_names[r.joint_channel[j]] +
                         (r.joint_clamp[j] < 0 ? " at lower" : " at upper"));
      s.acted_limits.push_back(
          {r.joint_item[j], r.joint_channel[j], r.joint_clamp[j] < 0 ? -1 : 1});
    }
  }

  s.twist_target = "none";
  if (chain.twist_target_missing) {
    s.twist_target = "off: missing item";
  } else if (s.has_report() && r.unsolved == TARSEL_SOLVED) {
    switch (r.twist_target) {
      case TARSEL_TWIST_ACTED:
        s.twist_target = "acted";
        break;
      case TARSEL_TWIST_ON_LINE:
        s.twist_target = "off: on the goal line";
        break;
      case TARSEL_TWIST_NO_EFFECT:
        s.twist_target = "off: effect 0";
        break;
      default:
        break;
    }
  }

  s.reason = unsolved_reason(chain, s);
  if (!s.reason.empty()) {
    s.reach = "not solved";
    return;
  }
  // Within the chain's own length tolerance (and never finer than rounding).
  const double tolerance = std::max(r.length_tolerance, distance_rounding * scale);
  if (s.goal_distance <= tolerance) {
    s.reach = "reached";
    return;
  }
  s.reach = "out of reach";
  if (r.stretch_capped) {
    s.reason = "beyond the longest stretch";
  } else if (r.eased) {
    s.reason = "eased by Soft Reach";
  } else if (!r.reach_measured) {
    s.reason = "the chain cannot bend";
  } else if (r.goal_distance_root > r.longest + tolerance) {
    s.reason = "beyond the longest reach";
  } else if (r.goal_distance_root < r.shortest - tolerance) {
    s.reason = "inside the shortest reach";
  } else if (!s.limits.empty()) {
    s.reason = "held by limits";
  } else {
    s.reason = "missed";
  }
}

}  // namespace report
