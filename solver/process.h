// The chain-level solve: reads the chain from the host's item and bone services, measures how far
// it can bend and stretch, picks the bend fraction that puts its end at the goal's distance, and
// settles the root's rotation with the joint solve. The root evaluation calls it once per
// evaluation.
#ifndef TARSEL_SOLVER_PROCESS_H
#define TARSEL_SOLVER_PROCESS_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "sdk/lwmotion.h"
#include "sdk/lwtypes.h"
#include "sdk/tarsel_diagnostics.h"
#include "solver/chain_options.h"
#include "solver/records.h"

// Solves the chain `items` (root first, as gathered by the root evaluation) towards `goal`.
// `results` holds one element per item, weighted by the caller. The hpb of every bone on the path
// from the root to the last item is written; a bone off that path (a side branch) gets weight 0 so
// that it keeps the host's rotation. Element 0 is left alone: the root's solved rotation (parent
// frame, before its pivot rotation) is returned. Reads the options of *instance and clamps a
// negative posture weight there to 0. Needs the item-info and bone-info service slots. `state`
// is what the chain-root instance keeps between evaluations (a fresh one when null); results are
// the same with or without it. A non-null report receives the reach, bend fraction, limits acted,
// twist target state and stretch factor (solver fields only; the caller fills root, time, effect
// weight and unsolved).
struct Chain_state;
vk_3dla::m33 process(std::vector<Result>* results, tarsel::Chain_options* instance,
                     const LWItemMotionAccess* access, const std::vector<LWItemID>& items,
                     LWItemID goal, int arbitrary_limit, Chain_state* state = nullptr,
                     TarselChainReport* report = nullptr);

// Whether the chain bends in one plane: -1 when its joints do not bend in one common plane, 0 when
// every bending joint turns about Y, 1 when every bending joint turns about X or Z (or none bends).
// With ignore_fk the joints' own host rotations are taken as zero.
int plane_kind(const std::vector<Work>& works, bool ignore_fk);

#endif
