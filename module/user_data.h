// The record of one chain-root instance: the options the user set in the panel (the solver reads
// those), the item the instance is attached to, the buffer the host reads the instance's item
// dependencies from, and what its evaluations keep from one to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "module/bone_results.h"
#include "sdk/lwtypes.h"
#include "solver/chain_options.h"
#include "solver/chain_state.h"
#include "solver/prefetch.h"
#include "solver/records.h"

namespace tarsel {

struct UserData : Chain_options {
  // --- Not options: neither copied nor stored. ---

  // The item the instance is attached to (the chain root).
  LWItemID owner = LWITEM_NULL;
  // Items this instance depends on, ended by none; rebuilt by every useItems call.
  std::vector<LWItemID> used_items;

  // Reused by every evaluation of the instance: the gathered chain, with for each item the end of
  // the part of the chain gathered from it, the solve's results, and the solver's kept state.
  std::vector<LWItemID> chain, previous_chain;
  std::vector<std::size_t> subchain_end;
  std::vector<Result> results;
  // Where the chain's bones' entries are in bone_results (element 0, the root's, unused), valid
  // while the chain and the table's generation are those they were found for.
  std::vector<Bone_entry*> entries;
  unsigned long entries_generation = 0;
  // The root's own entry, which a bone of another chain may have (see freeze_entry).
  Kept_lookup root_entry;
  Chain_state solver;
  // The factor the chain's links were scaled by in the last evaluation (1 for none).
  double stretch = 1.0;

  // Asks for the record and the blocks every evaluation reads, ahead of the evaluation (see
  // solver/prefetch.h): the record first, as it is read first.
  void prefetch() const {
    prefetch_bytes(this, sizeof *this);
    solver.prefetch();
    prefetch_vector(results);
    prefetch_vector(chain);
    prefetch_vector(subchain_end);
    prefetch_vector(entries);
  }
};

// Chain-root instances alive. Where there are few, their records stay in the cache from one
// evaluation to the next and asking for them ahead only costs; from `prefetch_above_instances`
// (some 4 MB of kept records, more than a core's own caches hold) it pays.
extern std::size_t root_instances;
constexpr std::size_t prefetch_above_instances = 256;

}  // namespace tarsel
