// What one chain-root instance keeps from one evaluation to the next: the chain set-up's results
// that do not depend on the goal (the joints' fixed parts, the reach range, the root limit) with
// the exact inputs they came from, and the scratch space every solve reuses, so that an evaluation
// of an unchanged chain reads the scene, compares and goes straight to the goal-dependent part
// without touching the heap.
#ifndef TARSEL_SOLVER_CHAIN_STATE_H
#define TARSEL_SOLVER_CHAIN_STATE_H

#include <cstddef>
#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/chain_end.h"
#include "solver/chain_setup.h"
#include "solver/item_world.h"
#include "solver/prefetch.h"
#include "solver/root_limit.h"

struct Chain_state {
  Chain_state() = default;
  // A copy starts afresh: what is kept belongs to the instance that measured it.
  Chain_state(const Chain_state&) : Chain_state() {}
  Chain_state& operator=(const Chain_state&) { return *this; }

  Chain_setup setup;
  Root_limit limit;
  Chain_ends ends{setup.works};  // memo of chain ends, valid while the works are unchanged

  // The inputs the kept results came from, compared bit for bit (every double's bits, item ids
  // included): the chain's are everything the Work records are made of, the limit's everything
  // the root limit is built from. Each evaluation reads its inputs over them.
  std::vector<double> chain_inputs;
  std::vector<double> limit_inputs;
  bool chain_kept = false;
  bool limit_kept = false;
  long chain_builds = 0;  // how often the chain's parts were worked out (for the tests)
  long limit_builds = 0;

  // The end's distance from the root sampled past the first reach minimum, over the rest of the
  // bend range (worked out the first time a goal lies nearer than that minimum, kept with the
  // chain's parts): deep_reach[i] at the fraction deep_first + i * deep_spacing.
  std::vector<double> deep_reach;
  double deep_first = 0, deep_spacing = 0;
  bool deep_measured = false;

  // World transforms read every evaluation that seldom move, kept with the values they were
  // composed from: the root's reference frame (with its inverse) and the limit items'. (Goals and
  // twist targets, which mostly move, are placed afresh from their positions.)
  World_memo root_frame;
  std::vector<World_memo> limit_worlds;

  // Scratch of the set-up and the solve.
  std::vector<double> link_length;
  std::vector<vk_3dla::vec3> limit_z_world;
  Root_limit_scratch limit_scratch;
  std::vector<double> angles, angles_free;
  std::vector<char> on_path;

  // Asks for the largest kept blocks every evaluation reads: the inputs compared, and the joints
  // the solve turns (see solver/prefetch.h).
  void prefetch() const {
    prefetch_vector(chain_inputs);
    prefetch_vector(setup.works);
  }
};

#endif
