// Skeletons and their motion read through assimp (BVH, glTF 2, FBX, Collada and the other formats
// assimp reads) and turned into a host scene: one object owning one bone per joint, the motion as
// keys on every frame. docs/motion-files.md tells the bone model and the change of axes.
#ifndef TARSEL_STAGE_FORMATS_IMPORT_H
#define TARSEL_STAGE_FORMATS_IMPORT_H

#include <string>
#include <vector>

#include "stage/scene_file.h"

namespace formats {

struct Import_options {
  double fps = 0;           // frames per second of the scene; 0: the file's own key rate
  double scale = 1;         // every length is multiplied by it (e.g. 0.01 for centimetres)
  bool has_frames = false;  // keep only frames first..last of the clip
  int first = 0;
  int last = 0;
  std::string animation;  // the animation's name or index (from 0); "": the first
};

// Reads the file and builds the scene. Throws stage::Error "<file>: <fault>" for a file that
// cannot be opened or read, that assimp does not read, that holds no animation or no skeleton, a
// frame range outside the clip, a joint transform the host's channels cannot hold (a shear, a
// zero scale, a value that is not finite), a hierarchy deeper than max_hierarchy_depth, or a clip
// of more frames than a scene holds (stage::max_scene_frames) or more joint frames than
// max_import_samples (stage/formats/file_limits.h). Joints that share a name are renamed NAME_2,
// NAME_3, ... (the first keeps the name); each warning (a line naming the file) is added to
// `warnings` when given.
stage::Scene_record import_motion(const std::string& path, const Import_options& options,
                                  std::vector<std::string>* warnings = nullptr);

// What `import --list` prints: the skeleton the import takes, its joints as a tree, and the
// file's animations by index and name. Throws as import_motion.
std::string list_motion_file(const std::string& path, const Import_options& options);

}  // namespace formats

#endif
