// The two halves of the chain-level solve and what passes between them: the chain set-up reads
// the scene and measures the chain, the chain solve orients the root and writes the results.
#ifndef TARSEL_SOLVER_CHAIN_SETUP_H
#define TARSEL_SOLVER_CHAIN_SETUP_H

#include <cstddef>
#include <vector>

#include "la3d/vk_3dla.h"
#include "sdk/lwmotion.h"
#include "sdk/tarsel_diagnostics.h"
#include "solver/chain_options.h"
#include "solver/records.h"
#include "solver/root_limit.h"

// Everything the set-up learns about the chain for one evaluation. Lengths in scene units, bend
// fractions dimensionless (1 the rest pose, 0 the straightened chain).
struct Chain_setup {
  // The joints from the root to the chain's last item (index 0 the root).
  std::vector<Work> works;
  // For every joint of `works`, its position in the gathered item list (and the results vector).
  std::vector<std::size_t> result_index;

  vk_3dla::m33 inv_w0{1};         // upper-left block of the inverse of the root's reference
                                  // transform: world directions to root frame
  vk_3dla::m44 inv_w0_full{1};    // the whole inverse: world points to root frame
  vk_3dla::vec3 goal_local{0.0};  // the goal, root frame; with Soft Reach or Max Stretch on, the
                                  // point on the goal's line the unscaled chain is solved for
  vk_3dla::vec3 goal_dir{0.0};    // goal_local normalised (zero for a goal at the pivot)

  double total_length = 0;      // summed scaled link lengths
  double largest_arc = 0;       // largest |bend| times the length the joint carries
  double length_tolerance = 0;  // total length * 1e-4
  double step = 1;              // start step of the bend-fraction searches
  double fraction_tolerance = 1e-3;

  double s_min = 0;              // smallest bend fraction the joint limits allow
  double s_lo = 0, s_hi = 0;     // admissible range of the bend fraction
  double s_near = 0, s_far = 0;  // fractions of the shortest and the longest reach
  double shortest = 0, longest = 0;
  bool range_measured = false;  // the reach was measured (two or more items, some bend)
  double s_sol = 0;             // the bend fraction that puts the end at the goal's distance
  double s_max = 0;    // largest bend fraction the joint solve searches: s_hi, or past it for a
                       // goal nearer than the first reach minimum that a deeper bend meets
  double stretch = 1;  // factor every link is scaled by (Max Stretch), 1 for none
  bool eased = false;  // Soft Reach brought the solved-for distance below the goal's
  bool stretch_capped = false;  // stretched to Max Stretch with the goal still beyond
  c_2items_ik two_items;        // closed form, valid for qualifying two-item chains
  IK_kind kind = IK_align_dir;  // twist mode of the joint solve
  int works_plane_kind = -1;    // plane_kind(works, false), worked out with the works

  std::vector<LWItemID> limit_items;  // siblings marking the root's limit boundary
  LWItemID limit_origin = LWITEM_NULL;
};

struct Chain_state;

// First half: fills state->setup and builds the root's direction limit into state->limit. What
// does not depend on the goal is kept from the state's last set-up when every input it came from
// is bit for bit the same; the rest is worked out afresh.
void set_up_chain(Chain_state* state, const tarsel::Chain_options& options,
                  const LWItemMotionAccess& access, const std::vector<LWItemID>& items,
                  LWItemID goal, int arbitrary_limit);

// The same from nothing kept, into *setup and *limit.
void set_up_chain(Chain_setup* setup, Root_limit* limit, const tarsel::Chain_options& options,
                  const LWItemMotionAccess& access, const std::vector<LWItemID>& items,
                  LWItemID goal, int arbitrary_limit);

// Second half: proposes the root's rotation, runs the joint solve (twice when a twist target acts
// with a partial effect), writes the bones' results and returns the root's rotation. Reads the
// set-up, the limit and the scratch of *state. A non-null report receives what the solve did; it
// is only written, so results do not depend on it.
vk_3dla::m33 solve_chain(std::vector<Result>* results, const tarsel::Chain_options& options,
                         const LWItemMotionAccess& access, Chain_state* state,
                         TarselChainReport* report = nullptr);

// Whether `name` marks a limit boundary item / the limit's origin (names under 12 characters never
// do).
bool is_limit_item_name(const char* name);
bool is_limit_origin_name(const char* name);

#endif
