// The evaluated animation of a scene written as a skeleton with keyframes: glTF 2 (binary .glb or
// text .gltf with the data inline) and BVH. Every object that owns bones and its bones are
// written (BVH holds one skeleton: the first such object's), each with a key on every frame, in
// the right-handed frame of both formats (docs/motion-files.md).
#ifndef TARSEL_STAGE_FORMATS_EXPORT_H
#define TARSEL_STAGE_FORMATS_EXPORT_H

#include <string>

#include "stage/host.h"

namespace formats {

// Evaluate frames first..last in the host (with its module, so chains are solved) and return the
// file's bytes, every length multiplied by `scale`. Throw stage::Error when the scene has no bones.
std::string export_gltf(stage::Host& host, int first, int last, bool binary, double scale = 1);
std::string export_bvh(stage::Host& host, int first, int last, double scale = 1);

}  // namespace formats

#endif
