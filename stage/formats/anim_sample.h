// A node's local transform at a time from an assimp animation channel: keys interpolated as assimp
// lays them out (positions and scalings linearly, rotations by spherical interpolation), the end
// keys held outside their range. Double precision throughout.
#ifndef TARSEL_STAGE_FORMATS_ANIM_SAMPLE_H
#define TARSEL_STAGE_FORMATS_ANIM_SAMPLE_H

#include <assimp/anim.h>
#include <assimp/matrix4x4.h>
#include <assimp/scene.h>

namespace formats {

using Matrix = aiMatrix4x4t<double>;

Matrix to_double(const aiMatrix4x4& m);
// The node's local transform at `ticks` as translation * rotation * scaling: each from the channel
// where it keys it, else from the node's own transform.
Matrix node_local(const aiNode& node, const aiNodeAnim* channel, double ticks);

}  // namespace formats

#endif
