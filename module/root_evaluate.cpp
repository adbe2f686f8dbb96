#include "module/root_evaluate.h"

#include <cmath>
#include <vector>

#include "la3d/vk_3dla.h"
#include "module/bone_results.h"
#include "module/chain_walk.h"
#include "module/diagnostics_slot.h"
#include "module/rotation_blend.h"
#include "module/service_slots.h"
#include "module/user_data.h"
#include "solver/process.h"

namespace tarsel {
namespace {

using vk_3dla::m33;
using vk_3dla::vec3;

// How strongly the solve acts: the x position of the effect item clamped to [0, 1] (not a number
// gives 0), or 1 without such an item.
double effect_weight(const UserData& options, LWTime time) {
  if (options.plugin_effect == LWITEM_NULL) return 1.0;
  if (item_info == nullptr) return 0.0;
  LWDVector position = {0.0, 0.0, 0.0};
  item_info->param(options.plugin_effect, LWIP_POSITION, time, position);
  const double x = position[0];
  if (!(x > 0.0)) return 0.0;
  return x >= 1.0 ? 1.0 : x;
}

}  // namespace

void root_evaluate(LWInstance inst, const LWItemMotionAccess* access) {
  if (inst == nullptr || access == nullptr) return;
  UserData& options = *static_cast<UserData*>(inst);
  if (root_instances > prefetch_above_instances) options.prefetch();

  const double effect = effect_weight(options, access->time);
  double w = effect;
  std::vector<LWItemID>& chain = options.chain;
  options.previous_chain.swap(chain);
  chain.clear();
  options.subchain_end.clear();
  gather_chain(chain, options.subchain_end, access->item);
  const LWItemID goal = item_info != nullptr ? item_info->goal(chain.back()) : LWITEM_NULL;
  if (goal == LWITEM_NULL) w = 0.0;

  std::vector<Result>& results = options.results;
  results.assign(chain.size(), Result{vec3(0.0), 0.0});
  for (Result& r : results) r.weight = w;

  LWDVector current = {0.0, 0.0, 0.0};
  access->getParam(LWIP_ROTATION, access->time, current);
  vec3 out(current);
  // Filled (and cleared) only for a host that offers the diagnostics service.
  TarselChainReport report;
  TarselChainReport* const report_to = diagnostics != nullptr ? &report : nullptr;
  if (report_to != nullptr) {
    report = TarselChainReport{};
    report.root = access->item;
    report.time = access->time;
    report.effect_weight = effect;
    report.stretch = 1.0;
    report.unsolved = goal == LWITEM_NULL ? TARSEL_NO_GOAL
                      : w == 0.0          ? TARSEL_NO_EFFECT
                                          : TARSEL_SOLVED;
  }
  if (w != 0.0) {
    m33 solved = process(&results, &options, access, chain, goal, options.arbitrary_limit,
                         &options.solver, report_to);
    if (w < 1.0) solved = blend_rotation(vk_3dla::m33_from_hpb(out), solved, w);
    out = vk_3dla::hpb_from_m33(solved);
    // Where a solve cannot stay finite (coordinates or scales whose squares overflow), the
    // root keeps the rotation the host gave it.
    if (!(std::isfinite(out.x) && std::isfinite(out.y) && std::isfinite(out.z)))
      out = vec3(current);
  }

  // The bones' entries go in first: the root's own entry is never stored.
  const unsigned long stamp = ++bone_results_stamp;
  const double stretch = w != 0.0 ? options.solver.setup.stretch : 1.0;
  options.stretch = stretch;
  const std::vector<LWItemID>& left = options.previous_chain;
  const bool same_chain = left == chain;
  std::vector<Bone_entry*>& entries = options.entries;
  if (!same_chain || entries.size() != chain.size() ||
      options.entries_generation != bone_results.generation) {
    entries.assign(chain.size(), nullptr);
    for (std::size_t i = 1; i < chain.size(); ++i) entries[i] = &bone_results[chain[i]];
    options.entries_generation = bone_results.generation;
  }
  for (std::size_t i = 1; i < chain.size(); ++i)
    *entries[i] = Bone_entry(results[i], chain[options.subchain_end[i]], stamp, stretch,
                             i + 1 == chain.size());
  last_written = Written_entries{&options, chain.data() + 1, entries.data() + 1,
                                 0,        chain.size() - 1, bone_results.generation};
  // Bones that have left the chain keep their entries, frozen. A chain the same as last time's
  // has just written every entry below its root: only the root's own can be stale, and whether it
  // has one is mostly known from the last evaluation.
  if (same_chain && !left.empty())
    freeze_entry(find_kept(left[0], &options.root_entry), stamp);
  else
    freeze_entries(left, stamp);

  const LWDVector value = {out.x, out.y, out.z};
  access->setParam(LWIP_ROTATION, value);
  if (chain.size() == 1 && stretch != 1.0 && std::isfinite(stretch)) {
    // A chain of the root alone stretches by the root's own length.
    LWDVector scaling = {1.0, 1.0, 1.0};
    access->getParam(LWIP_SCALING, access->time, scaling);
    scaling[2] = stretched(scaling[2], 0.0, stretch, w);
    access->setParam(LWIP_SCALING, scaling);
  }
  if (report_to != nullptr && diagnostics->chainSolved != nullptr)
    diagnostics->chainSolved(report_to);
}

}  // namespace tarsel
