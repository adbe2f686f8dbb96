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

// Takes the file's bytes piece by piece, in order.
using Export_sink = std::function<void(const std::string&)>;

// Evaluate frames first..last in the host (with its module, so chains are solved) and give the
// file's bytes to the sink, every length multiplied by `scale`. Throw stage::Error when the scene
// has no bones. Memory stays bounded by what the file needs rather than by transforms per frame:
// BVH frames are written as they are evaluated (the frames are evaluated twice: first to find
// which joints move), glTF keeps the floats of its buffer alone until it is written.
void export_gltf(stage::Host& host, int first, int last, bool binary, double scale,
                 const Export_sink& sink);
void export_bvh(stage::Host& host, int first, int last, double scale, const Export_sink& sink);

// The same, returning the file's bytes.
std::string export_gltf(stage::Host& host, int first, int last, bool binary, double scale = 1);
std::string export_bvh(stage::Host& host, int first, int last, double scale = 1);

}  // namespace formats

#endif
