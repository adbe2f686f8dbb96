// What the runner reports per frame: the items that carry a motion handler and, for every chain
// root, how far the chain's end is from its goal. Chains are found here from the scene alone, the
// way the module gathers them, so the report does not depend on the module's own account.
#ifndef TARSEL_STAGE_REPORT_CHAINS_H
#define TARSEL_STAGE_REPORT_CHAINS_H

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "stage/host.h"

namespace report {

// A chain: an item carrying "Tarsel_Top" and the items below it reached through children that
// carry "Tarsel".
struct Chain {
  LWItemID root = LWITEM_NULL;
  LWItemID last = LWITEM_NULL;           // the last item gathered (the root when alone)
  LWItemID goal = LWITEM_NULL;           // the goal of the last item; none when unset
  LWItemID goal_position = LWITEM_NULL;  // the root's Goal Position option; none when unset
  bool twist_target_missing = false;     // Twist Target names an item the scene does not have
  bool goal_elsewhere = false;           // no goal on the last item, but on another chain item
  bool arbitrary_limit = false;          // the root's Arbitrary Limit option is on
};

// The module's two servers, as a scene names them, and whether an item carries one.
inline constexpr const char* root_server = "Tarsel_Top";
inline constexpr const char* bone_server = "Tarsel";
bool carries(const stage::Item& item, const char* server);

// The root first, then its chain descendants depth first, parent before children.
std::vector<LWItemID> gather_chain(const stage::Scene& scene, LWItemID root);

// Every chain of the host's scene, roots in scene order. Reads each root's options from what its
// instance saves, so it needs the module loaded and the scene's instances created.
std::vector<Chain> find_chains(stage::Host& host);

// The point that is brought to the goal, in world space at the time: the Goal Position item when
// set, else the tip of the chain's last bone.
stage::Vec3 chain_end(const stage::Host& host, const Chain& chain, double time);

// A limit that held a chain's solve: the item it holds, its channel (0 heading, 1 pitch, 2 bank,
// 3 the root's cone) and the bound it held at (-1 lower, 1 upper, 0 for the cone).
struct Acted_limit {
  LWItemID item = LWITEM_NULL;
  int channel = 0;
  int bound = 0;
};

struct Item_sample {
  std::string name;
  stage::Vec3 hpb_deg{};   // the rotation channel after evaluation: heading, pitch, bank
  stage::Vec3 position{};  // world position
  bool is_chain_root = false;
  // For chain roots: the goal's name, the chain's end item, and the end-to-goal distance
  // (has_goal false when the chain has no goal).
  bool has_goal = false;
  std::string end_name;
  std::string goal_name;
  double goal_distance = 0;
  // What the module reported for the chain's solve in this frame (has_report() false when the host
  // got no report), and how many linear-algebra diagnostic lines it wrote meanwhile.
  bool has_report() const { return solve_report != nullptr; }
  // Held apart from the sample: most items are no chain root, and a report is some 700 bytes,
  // which a frame of 40,000 items would otherwise fill and clear on every frame.
  std::shared_ptr<const TarselChainReport> solve_report;
  const TarselChainReport& report() const {
    static const TarselChainReport none{};
    return solve_report ? *solve_report : none;
  }
  int diagnostic_lines = 0;

  // Every item: its world rotation (the rotation of its world transform, scale removed) as
  // heading, pitch, bank in degrees and as a quaternion [x, y, z, w].
  stage::Vec3 world_hpb_deg{};
  std::array<double, 4> world_quaternion{{0, 0, 0, 1}};

  // Chain roots: world positions of the chain's end and of the goal (the goal's only with
  // has_goal), and what the solve did (chain_state.h): the reach state with its reason, the limits
  // that acted, and the twist target's state.
  stage::Vec3 end_position{};
  stage::Vec3 goal_position{};
  std::string reach;
  std::string reason;
  std::vector<std::string> limits;
  std::vector<Acted_limit> acted_limits;  // what each of `limits` says, in the same order
  std::string twist_target;
};

struct Frame_sample {
  int frame = 0;
  double time = 0;  // seconds
  std::vector<Item_sample> items;
};

// Items that carry at least one motion handler, in evaluation order (parents first).
std::vector<LWItemID> reported_items(const stage::Scene& scene);

// Evaluates the frame in the host and samples the items and chains.
Frame_sample sample_frame(stage::Host& host, int frame, const std::vector<LWItemID>& items,
                          const std::vector<Chain>& chains);

}  // namespace report

#endif
