// What a chain's solve did in one frame, in words for the report: the reach state with its
// reason, the limits that acted and the twist target's state (docs/guide.md lists the words).
#ifndef TARSEL_STAGE_REPORT_CHAIN_STATE_H
#define TARSEL_STAGE_REPORT_CHAIN_STATE_H

#include "stage/report/chains.h"

namespace report {

// A goal distance below this share of the scene's scale is rounding, reported as 0.
constexpr double distance_rounding = 1e-12;

// Fills sample->reach, reason, limits and twist_target (and rounds goal_distance) from the
// sample's positions and the module's report.
void describe_chain(const stage::Scene& scene, const Chain& chain, Item_sample* sample);

}  // namespace report

#endif
