// What the viewer and the still pictures draw: a scene's items with their roles in the chains, and
// every item's evaluated channels per frame (the viewer composes world transforms from them the
// way the host does), with each chain's per-frame figures for the plots under the view.
#ifndef TARSEL_STAGE_PICTURES_VIEW_DATA_H
#define TARSEL_STAGE_PICTURES_VIEW_DATA_H

#include <string>
#include <vector>

#include "stage/host.h"
#include "stage/report/frames.h"

namespace pictures {

// A chain root's saved options that name items or switch the marker limit.
struct Root_options {
  LWItemID twist_target = LWITEM_NULL;
  LWItemID twist_effect = LWITEM_NULL;
  LWItemID plugin_effect = LWITEM_NULL;
  bool arbitrary_limit = false;
};
Root_options root_options(stage::Host& host, LWItemID root);

// The most frames one view holds; a longer range is refused before any evaluation.
constexpr long long max_view_frames = 200000;

// Evaluates every frame of the range in the host (module and scene loaded) and returns the
// viewer's data as JSON text. Layout (angles in degrees, lengths in scene units):
//   {"format": 1, "scene", "description", "fps", "frames": [first, last], "warnings": [text],
//    "items": [{"name", "type", "parent" (index or -1, parents listed first), "rest_length",
//               "limits": {"heading": [lo, hi], "pitch": [lo, hi], "bank": [lo, hi]},
//               "position", "rotation", "scaling", "pivot", "pivot_rotation"}],
//    "chains": [{"root", "bones": [...], "goal", "goal_position", "twist_target",
//                "twist_effect", "plugin_effect", "arbitrary_limit", "markers": [...],
//                "limit_origin", "series": [{"key", "label", "kind", "unit", "values"}],
//                "acted_limits": [{"item", "channel", "bound", "text"}], "acted": [[k, ...]]}]}
// A channel is [x, y, z] when it holds still over the range, else 3 values per frame. Item
// references are indices into "items" (-1 for none). A series' kind is "line" (a number per
// frame, null where there is none), "marks" (0 or 1 per frame) or "state" (a word per frame);
// the viewer plots whatever series a chain carries; "unit" names a line's unit, when it has one.
// "acted_limits" lists every limit that held the chain's solve on some frame: the item, its channel
// ("heading", "pitch", "bank" or "cone"), the bound ("lower", "upper", "" for the cone) and the run
// report's words; "acted" holds per frame the indices of those that held then.
// "warnings" holds the scene's warnings as the runner gives them, for the page's warnings panel.
std::string view_data_json(stage::Host& host, const std::string& scene_name,
                           const report::Frame_range& range,
                           const std::vector<std::string>& warnings = {});

// The range a view or picture covers: the given text, else the scene's own range; refused
// when it holds more than max_view_frames.
report::Frame_range view_range(const stage::Host& host, const std::string& frames);

// The viewer page with the data put in: the template holds one "__TARSEL_VIEW_DATA__" (inside a
// JSON script element) and one "__TARSEL_TITLE__". Throws stage::Error for a template without them.
std::string view_page(const std::string& page_template, const std::string& data_json,
                      const std::string& title);

// The page's own solver: the WebAssembly build's script and program, and the scene file's text
// for it to load, so that the page can solve the scene itself (docs/viewer.md).
struct Page_solver {
  std::string script;  // tarsel-web.js
  std::string wasm;    // tarsel-web.wasm, its bytes
  std::string scene;   // the scene file's text
};
// A page from view_page with the solver put in before its closing body tag: the scene as JSON in
// "tarsel-scene", the program in base64 in "tarsel-wasm", and the script. Throws stage::Error
// for a page without "</body>" or a script that holds "</script".
std::string with_solver(const std::string& page, const Page_solver& solver);

}  // namespace pictures

#endif
