// A skinned mesh that a scene's bones carry. The scene holds how the mesh was bound to its bones
// and where to read it again, not its vertices: these stay in the motion file it was imported
// from, so that a scene file stays a readable list of items (docs/motion-files.md).
#ifndef TARSEL_STAGE_MESH_BINDING_H
#define TARSEL_STAGE_MESH_BINDING_H

#include <cstdint>
#include <string>
#include <vector>

#include "stage/transform.h"

namespace stage {

// The most vertices the meshes of one scene may hold together (some 50 bytes each once
// exported): a bound on what an export allocates for them.
constexpr long long max_mesh_vertices = 5000000;

struct Mesh_bone {
  std::string joint;  // the bone's name in the scene
  Mat4 bind{};        // the bone's world transform when the mesh was bound (host frame, row form)
};

struct Mesh_binding {
  std::string source;     // the motion file, as an absolute path
  uint32_t mesh = 0;      // the mesh's index among the file's meshes as assimp reads it
  std::string name;       // the mesh's name in the file
  uint32_t vertices = 0;  // its vertex count
  std::string checksum;   // of its vertex positions: tells that the file still holds this mesh
  // The mesh's own coordinates (as the file has them) to the host's world at bind: the mesh's
  // node transform, the import's scaling and the change to the host's left-handed frame.
  Mat4 placement{};
  std::vector<Mesh_bone> bones;  // the mesh's bones in the file's order
};

}  // namespace stage

#endif
