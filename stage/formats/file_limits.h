// Limits of a motion file checked at the door, before assimp reads it: assimp walks a hierarchy
// by recursion and sizes its arrays from the counts a file states, so a deep or lying file could
// otherwise overflow the stack or take all memory before the importer sees a single node.
#ifndef TARSEL_STAGE_FORMATS_FILE_LIMITS_H
#define TARSEL_STAGE_FORMATS_FILE_LIMITS_H

#include <string>

namespace formats {

// The deepest hierarchy imported, counted in nodes from the file's top node (a human skeleton is
// a few dozen deep).
constexpr int max_hierarchy_depth = 1000;
// The most joint frames (joints times frames) one import samples: a clip of 100 joints may hold
// 200,000 frames.
constexpr long long max_import_samples = 20000000;
// The shortest frame time a BVH file may state, in seconds.
constexpr double min_frame_time = 1e-6;

// Checks what can be checked without assimp: for a BVH file its nesting and its "Frames:" and
// "Frame Time:" lines, for a glTF file (text or binary) the depth of its node tree and that the
// tree has no cycle and no node with two parents, and that its buffers and images are data: URIs
// or files in the glTF file's folder or below it (never an absolute path, a scheme or "../" out
// of the folder). Other files, and files whose text is too broken
// to tell, pass: assimp then reports them. Throws stage::Error "<file>: <fault>".
void check_motion_file(const std::string& path);
// The fault of a hierarchy found `depth` nodes deep, past the limit.
std::string hierarchy_too_deep(int depth);

}  // namespace formats

#endif
