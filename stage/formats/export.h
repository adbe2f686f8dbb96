// The evaluated animation of a scene written as a skeleton with keyframes: glTF 2 (binary .glb or
// text .gltf with the data inline) and BVH. Every object that owns bones and its bones are
// written (BVH holds one skeleton: the first such object's), each with a key on every frame, in
// the right-handed frame of both formats (docs/motion-files.md).
#ifndef TARSEL_STAGE_FORMATS_EXPORT_H
#define TARSEL_STAGE_FORMATS_EXPORT_H

#include <functional>
#include <string>

#include "stage/host.h"

namespace formats {

// The file's bytes in pieces, in order, as they are made.
using Sink = std::function<void(const std::string&)>;

// Evaluate frames first..last in the host (with its module, so chains are solved) and write the
// file's bytes to `out`. Throw stage::Error when the scene has no bones. BVH is written frame by
// frame as evaluated (the frames are evaluated twice: first to find which joints move); glTF
// holds its data buffer, at its final size, until the end.
void export_gltf(stage::Host& host, int first, int last, bool binary, const Sink& out);
void export_bvh(stage::Host& host, int first, int last, const Sink& out);
// The same, returning the bytes.
std::string export_gltf(stage::Host& host, int first, int last, bool binary);
std::string export_bvh(stage::Host& host, int first, int last);

}  // namespace formats

#endif
