// Contact phases of a joint in a clip: the runs of frames where it is near the floor and nearly
// still, e.g. a foot planted during a walk, listed so that `rig --pin` can hold them.
#ifndef TARSEL_STAGE_FORMATS_CONTACTS_H
#define TARSEL_STAGE_FORMATS_CONTACTS_H

#include <string>
#include <vector>

#include "stage/scene_file.h"

namespace formats {

struct Contact_options {
  std::string joint;
  // Units a second the joint may move and still be planted; < 0: 5% of the figure's size.
  double speed = -1;
  // How far above the floor (the joint's lowest point in the clip, along +Y) it may be; < 0: 3%
  // of the figure's size.
  double height = -1;
  int shortest = 5;  // fewer frames than this make no contact
};

struct Contact_phase {
  int first = 0;
  int last = 0;
};

// The phases in frame order, from the scene's keys (no module: the clip's own motion). Throws
// stage::Error "<file>: --joint NAME: no joint named ..." for a name that is no bone.
std::vector<Contact_phase> find_contacts(const stage::Scene_record& scene,
                                         const Contact_options& options, const std::string& file);

}  // namespace formats

#endif
