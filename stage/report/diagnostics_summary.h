// The module's own diagnostic lines ("abs = 0", "determinant = 0") folded into the report: each
// frame's captured lines are counted per chain, and a scene's run ends with one summary line.
#ifndef TARSEL_STAGE_REPORT_DIAGNOSTICS_SUMMARY_H
#define TARSEL_STAGE_REPORT_DIAGNOSTICS_SUMMARY_H

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "sdk/tarsel_diagnostics.h"
#include "stage/report/chains.h"
#include "stage/report/stderr_capture.h"

namespace report {

// Splits one frame's captured stderr among the chains that reported in it: what was written up
// to a chain's report (offsets[r], the captured size when report r came in) belongs to that
// chain. Lines that are not the module's diagnostics are passed on to stderr.
void take_diagnostics(const std::string& text, const std::vector<long long>& offsets,
                      const stage::Host::Chain_reports& reports, Frame_sample& frame,
                      Diagnostic_counts& scene_counts);

// What the module's diagnostic lines add up to over a scene's run, for one summary line instead
// of the raw lines: how many, in which frames, on which chains, and a likely cause when every
// chain concerned was stretched straight (a straight chain has no bending plane).
struct Diagnostics_summary {
  Diagnostic_counts counts;
  bool seen = false, all_straight = true;
  int first = 0, last = 0;
  std::vector<std::string> chains;  // in the order first seen
  std::unordered_set<std::string> chain_seen;

  void add(const Frame_sample& frame);
  // "tarsel-stage: note: SCENE: ..." on stderr; nothing when no line was counted.
  void print(const std::string& scene) const;
};

// Runs `work` (evaluating the scene's frames) with the module's diagnostic lines held back, then
// passes any other lines on and prints one summary line for them, as `run` does; with `raw` the
// lines go to stderr as the module writes them.
void fold_diagnostics(const std::string& scene, bool raw, const std::function<void()>& work);

}  // namespace report

#endif
