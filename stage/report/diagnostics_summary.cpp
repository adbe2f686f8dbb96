#include "stage/report/diagnostics_summary.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace report {

void take_diagnostics(const std::string& text, const std::vector<long long>& offsets,
                      const stage::Host::Chain_reports& reports, Frame_sample& frame,
                      Diagnostic_counts& scene_counts) {
  // The chain roots' rows by root, so that the split is linear in the chains of the frame.
  std::unordered_map<LWItemID, std::vector<Item_sample*>> rows;
  for (Item_sample& item : frame.items)
    if (item.is_chain_root && item.has_report()) rows[item.report().root].push_back(&item);
  std::size_t from = 0;
  for (std::size_t r = 0; r <= offsets.size(); ++r) {
    const std::size_t to =
        r < offsets.size() ? std::min<std::size_t>(text.size(), offsets[r]) : text.size();
    Diagnostic_counts counts;
    const std::string rest = count_diagnostics(text.substr(from, to - from), &counts);
    if (!rest.empty()) std::fwrite(rest.data(), 1, rest.size(), stderr);
    scene_counts.abs_zero += counts.abs_zero;
    scene_counts.determinant_zero += counts.determinant_zero;
    if (r < offsets.size() && r < reports.size()) {
      const auto found = rows.find(reports[r].root);
      if (found != rows.end())
        for (Item_sample* item : found->second) item->diagnostic_lines += counts.total();
    }
    from = to;
  }
}

void Diagnostics_summary::add(const Frame_sample& f) {
  for (const Item_sample& s : f.items) {
    if (s.diagnostic_lines == 0) continue;
    if (!seen) first = f.frame;
    last = f.frame;
    seen = true;
    if (chain_seen.insert(s.name).second) chains.push_back(s.name);
    const TarselChainReport& r = s.report();
    all_straight &= s.has_report() && r.reach_measured &&
                    r.goal_distance_root >= r.longest - r.length_tolerance;
  }
}

void Diagnostics_summary::print(const std::string& scene) const {
  if (counts.total() == 0) return;
  std::string what;
  if (counts.abs_zero > 0)
    what = std::to_string(counts.abs_zero) + " degenerate direction" +
           (counts.abs_zero == 1 ? "" : "s");
  if (counts.determinant_zero > 0) {
    what += (what.empty() ? "" : " and ") + std::to_string(counts.determinant_zero) +
            " singular matri" + (counts.determinant_zero == 1 ? "x" : "ces");
  }
  std::string where;
  if (seen) {
    where = first == last ? " in frame " + std::to_string(first)
                          : " in frames " + std::to_string(first) + "\u2013" + std::to_string(last);
    // A few names say where to look; a crowd's every chain would make the note unreadable.
    constexpr std::size_t named = 5;
    where += chains.size() == 1 ? " (chain" : " (chains";
    for (std::size_t i = 0; i < chains.size() && i < named; ++i)
      where += std::string(i == 0 ? " " : ", ") + "\"" + chains[i] + "\"";
    if (chains.size() > named) where += " and " + std::to_string(chains.size() - named) + " more";
    where += ")";
  }
  const std::string cause =
      seen && all_straight ? ": the chain was stretched straight towards a goal out of reach" : "";
  std::fprintf(stderr,
               "tarsel-stage: note: %s: %s%s%s (--raw-diagnostics shows the module's lines)\n",
               scene.c_str(), what.c_str(), where.c_str(), cause.c_str());
}

void fold_diagnostics(const std::string& scene, bool raw, const std::function<void()>& work) {
  Stderr_capture capture(!raw);
  capture.begin();
  work();
  Diagnostics_summary summary;
  const std::string rest = count_diagnostics(capture.end(), &summary.counts);
  if (!rest.empty()) std::fwrite(rest.data(), 1, rest.size(), stderr);
  summary.print(scene);
}

}  // namespace report
