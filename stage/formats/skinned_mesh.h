// Skinned meshes of motion files: checked and fingerprinted when the import binds them to the
// scene's bones, and read again from their file for the glTF export, which writes their
// vertices, four bone weights a vertex and triangles (docs/motion-files.md).
#ifndef TARSEL_STAGE_FORMATS_SKINNED_MESH_H
#define TARSEL_STAGE_FORMATS_SKINNED_MESH_H

#include <assimp/mesh.h>
#include <assimp/scene.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stage/mesh_binding.h"

namespace formats {

// A fingerprint of the mesh's vertex positions (16 hex digits), to tell on export that the file
// still holds the mesh the scene was bound to.
std::string vertex_checksum(const aiMesh& mesh);

// Checks what the export would otherwise trust: finite positions and normals, bone weights that
// are finite, not negative and name vertices of the mesh, faces whose indices name vertices.
// Throws stage::Error "<file>: mesh "<name>": <fault>".
void check_mesh(const aiMesh& mesh, const std::string& file);

// A bound mesh as the glTF export writes it, in the export's right-handed frame and unit.
struct Mesh_data {
  std::vector<float> positions;                  // x, y, z a vertex, where the bind pose puts it
  std::vector<float> normals;                    // unit length; empty when the file has none
  std::vector<uint16_t> joints;                  // four skin joint indices a vertex
  std::vector<float> weights;                    // their weights, summing to 1
  std::vector<uint32_t> indices;                 // triangles
  float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};  // of the positions
};

// Reads bound meshes again from their files, keeping the last file read open.
class Mesh_reader {
 public:
  Mesh_reader();
  ~Mesh_reader();
  // The mesh of the binding with each of its bones weighing on skin joint joint_slot[b] (a vertex
  // no bone weighs follows `unweighted_slot`), its coordinates taken through the placement and
  // then mirrored back to the right-handed frame and multiplied by `scale`. Throws stage::Error
  // "<file>: ..." when the file no longer reads or holds another mesh than the one bound.
  Mesh_data read(const stage::Mesh_binding& binding, const std::vector<uint16_t>& joint_slot,
                 uint16_t unweighted_slot, double scale);

 private:
  const aiScene* open(const std::string& path);
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace formats

#endif
