// IK chains put on the limbs of a scene (typically an imported one): the chain root gets
// Tarsel_Top, the bones down to the end joint's parent get Tarsel, and a goal object (and a twist
// target, the pole) is keyed on every frame where the clip has the end joint. Goals can then be
// pinned over frames or moved. Works on the scene record alone; no module is needed.
#ifndef TARSEL_STAGE_FORMATS_RIG_H
#define TARSEL_STAGE_FORMATS_RIG_H

#include <string>
#include <vector>

#include "stage/scene_file.h"

namespace formats {

// --chain ROOT:END: END is the joint brought to the goal; the bones from ROOT to END's parent
// turn. The rest bends come from the frame where END comes closest to ROOT, or, with a bend, are
// that frame's bend axes turned by `bend_deg` degrees.
struct Chain_request {
  std::string root;
  std::string end;
  std::string pole = "auto";  // "auto": a keyed twist target; "NONE": none; else an item's name
  // The world orientation END keeps: "clip" (the goal is keyed with the clip's, and END matches
  // its goal's orientation), "free" (END keeps its keyed rotation below the solved chain), or an
  // item's name (END matches that item's orientation).
  std::string end_orientation = "clip";
  bool has_bend = false;
  double bend_deg = 0;
};

// --pin END:A-B[:EASE] holds END's goal at its frame-A place (position, and rotation where the
// goal is keyed with one, so the whole foot is held) through frame B, blending into and out of
// the hold over EASE frames before A and after B with a smooth curve (0: a hard hold);
// --offset END:x,y,z moves the goal by (x, y, z) on every frame.
struct Goal_edit {
  std::string end;
  bool pin = false;
  int first = 0;
  int last = 0;
  int ease = 5;
  stage::Vec3 offset{};
};

struct Rig_request {
  std::vector<Chain_request> chains;
  std::vector<Goal_edit> edits;
  bool empty() const { return chains.empty() && edits.empty(); }
};

// Adds the chains, then applies the edits (to goals made here or already in the scene). Throws
// stage::Error "<file>: <fault>" for a name that is no bone, an END not below ROOT, a joint that
// already carries a handler, a pin outside the scene's frames or an edit of an END no chain ends
// at; the scene is then unchanged. Returns warnings "<file>: <what>", e.g. for a pin the chain
// cannot reach, naming the frames.
std::vector<std::string> rig_scene(stage::Scene_record& scene, const Rig_request& request,
                                   const std::string& file);

}  // namespace formats

#endif
