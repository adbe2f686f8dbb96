#include "stage/formats/skinned_mesh.h"

#include <assimp/config.h>
#include <algorithm>
#include <array>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "stage/error.h"
#include "stage/formats/file_limits.h"
#include "stage/formats/frame_math.h"

namespace formats {

namespace {

using stage::Error;

std::string mesh_label(const aiMesh& mesh) {
  return std::string("mesh \"") + mesh.mName.C_Str() + "\"";
}

bool finite(const aiVector3D& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The four strongest influences on one vertex, strongest first; a joint named twice adds up.
struct Influences {
  std::array<float, 4> weight{};
  std::array<uint16_t, 4> joint{};

  void add(uint16_t j, float w) {
    for (int i = 0; i < 4; ++i)
      if (weight[i] > 0 && joint[i] == j) {
        w += weight[i];
        for (int k = i; k < 3; ++k) weight[k] = weight[k + 1], joint[k] = joint[k + 1];
        weight[3] = 0, joint[3] = 0;
        break;
      }
    int at = 4;
    while (at > 0 && weight[at - 1] < w) --at;
    if (at == 4) return;
    for (int k = 3; k > at; --k) weight[k] = weight[k - 1], joint[k] = joint[k - 1];
    weight[at] = w, joint[at] = j;
  }
};

}  // namespace

std::string vertex_checksum(const aiMesh& mesh) {
  // FNV-1a over the positions' bytes.
  uint64_t h = 1469598103934665603ull;
  for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
    const float xyz[3] = {mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z};
    unsigned char bytes[sizeof xyz];
    std::memcpy(bytes, xyz, sizeof xyz);
    for (const unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

void check_mesh(const aiMesh& mesh, const std::string& file) {
  const auto fail = [&](const std::string& what) {
    throw Error(file + ": " + mesh_label(mesh) + ": " + what);
  };
  if (mesh.mNumVertices > stage::max_mesh_vertices)
    fail(std::to_string(mesh.mNumVertices) + " vertices; a scene's meshes hold at most " +
         std::to_string(stage::max_mesh_vertices));
  for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
    if (!finite(mesh.mVertices[v]))
      fail("vertex " + std::to_string(v) + "'s position is not finite (nan or inf)");
    if (mesh.mNormals && !finite(mesh.mNormals[v]))
      fail("vertex " + std::to_string(v) + "'s normal is not finite (nan or inf)");
  }
  for (unsigned b = 0; b < mesh.mNumBones; ++b) {
    const aiBone& bone = *mesh.mBones[b];
    const std::string name = std::string("bone \"") + bone.mName.C_Str() + "\"";
    for (unsigned w = 0; w < bone.mNumWeights; ++w) {
      const aiVertexWeight& vw = bone.mWeights[w];
      if (vw.mVertexId >= mesh.mNumVertices)
        fail(name + " weighs vertex " + std::to_string(vw.mVertexId) + ", past the mesh's " +
             std::to_string(mesh.mNumVertices) + " vertices");
      if (!std::isfinite(vw.mWeight) || vw.mWeight < 0)
        fail(name + " weighs vertex " + std::to_string(vw.mVertexId) +
             " by a weight that is not a finite number of at least 0");
    }
  }
  for (unsigned f = 0; f < mesh.mNumFaces; ++f)
    for (unsigned i = 0; i < mesh.mFaces[f].mNumIndices; ++i)
      if (mesh.mFaces[f].mIndices[i] >= mesh.mNumVertices)
        fail("face " + std::to_string(f) + " names vertex " +
             std::to_string(mesh.mFaces[f].mIndices[i]) + ", past the mesh's " +
             std::to_string(mesh.mNumVertices) + " vertices");
}

struct Mesh_reader::State {
  std::string path;
  Assimp::Importer importer;
  const aiScene* scene = nullptr;
};

Mesh_reader::Mesh_reader() : state_(std::make_unique<State>()) {}
Mesh_reader::~Mesh_reader() = default;

const aiScene* Mesh_reader::open(const std::string& path) {
  if (state_->scene && state_->path == path) return state_->scene;
  state_->scene = nullptr;
  state_->path = path;
  check_motion_file(path);  // the file may have changed since the import
  // Read as the import read it, so that the meshes keep their indices.
  state_->importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
  state_->scene = state_->importer.ReadFile(path, 0);
  if (state_->scene == nullptr)
    throw Error(path + ": cannot read the meshes again: " + state_->importer.GetErrorString());
  return state_->scene;
}

Mesh_data Mesh_reader::read(const stage::Mesh_binding& binding,
                            const std::vector<uint16_t>& joint_slot, uint16_t unweighted_slot,
                            double scale) {
  const aiScene* scene = open(binding.source);
  const std::string& file = binding.source;
  if (binding.mesh >= scene->mNumMeshes)
    throw Error(file + ": mesh " + std::to_string(binding.mesh) + " is gone (the file holds " +
                std::to_string(scene->mNumMeshes) +
                " meshes): it changed since the import; import it again");
  const aiMesh& mesh = *scene->mMeshes[binding.mesh];
  if (mesh.mNumVertices != binding.vertices || mesh.mNumBones != binding.bones.size() ||
      vertex_checksum(mesh) != binding.checksum || joint_slot.size() != mesh.mNumBones)
    throw Error(file + ": " + mesh_label(mesh) +
                " is not the mesh imported (the file changed since): import it again");
  check_mesh(mesh, file);

  // File coordinates to the export's: the placement, then back to the right-handed frame.
  Mat4 to_export = binding.placement;
  for (int i = 0; i < 4; ++i) {
    to_export.m[i][2] = -to_export.m[i][2];
    for (int c = 0; c < 3; ++c) to_export.m[i][c] *= scale;
  }
  const Mat3 linear_part = linear(to_export);
  const Mat3 normal_map = transpose(linear(inverse(to_export)));
  const double det = dot(cross({linear_part.m[0][0], linear_part.m[0][1], linear_part.m[0][2]},
                               {linear_part.m[1][0], linear_part.m[1][1], linear_part.m[1][2]}),
                         {linear_part.m[2][0], linear_part.m[2][1], linear_part.m[2][2]});

  Mesh_data out;
  const std::size_t n = mesh.mNumVertices;
  out.positions.reserve(3 * n);
  for (std::size_t v = 0; v < n; ++v) {
    const aiVector3D& p = mesh.mVertices[v];
    const Vec3 q = stage::transform_point({p.x, p.y, p.z}, to_export);
    for (int c = 0; c < 3; ++c) {
      const float x = static_cast<float>(q[c]);
      out.positions.push_back(x);
      out.min[c] = v == 0 ? x : std::min(out.min[c], x);
      out.max[c] = v == 0 ? x : std::max(out.max[c], x);
    }
  }
  if (mesh.mNormals) {
    out.normals.reserve(3 * n);
    for (std::size_t v = 0; v < n; ++v) {
      const aiVector3D& a = mesh.mNormals[v];
      Vec3 d = mul({a.x, a.y, a.z}, normal_map);
      const double len = norm(d);
      // A zero normal (a file's degenerate face) points along +Y rather than nowhere.
      d = len > 1e-30 && std::isfinite(len) ? scaled(d, 1 / len) : Vec3{0, 1, 0};
      for (int c = 0; c < 3; ++c) out.normals.push_back(static_cast<float>(d[c]));
    }
  }

  // The four strongest bones of each vertex, their weights then made to add up to 1.
  std::vector<Influences> influence(n);
  for (unsigned b = 0; b < mesh.mNumBones; ++b) {
    const aiBone& bone = *mesh.mBones[b];
    for (unsigned w = 0; w < bone.mNumWeights; ++w)
      if (bone.mWeights[w].mWeight > 0)
        influence[bone.mWeights[w].mVertexId].add(joint_slot[b], bone.mWeights[w].mWeight);
  }
  out.joints.reserve(4 * n);
  out.weights.reserve(4 * n);
  for (Influences& in : influence) {
    double sum = 0;
    for (const float w : in.weight) sum += w;
    if (!(sum > 0)) in.weight = {1, 0, 0, 0}, in.joint = {unweighted_slot, 0, 0, 0}, sum = 1;
    float rest = 1;
    std::array<float, 4> w{};
    for (int i = 1; i < 4; ++i) rest -= (w[i] = static_cast<float>(in.weight[i] / sum));
    w[0] = rest;  // the strongest takes what rounding leaves, so the four add up to 1
    for (int i = 0; i < 4; ++i) {
      out.joints.push_back(w[i] > 0 ? in.joint[i] : 0);
      out.weights.push_back(w[i] > 0 ? w[i] : 0);
    }
  }

  // Triangles, and polygons as fans of triangles; points and lines are left out. A placement
  // that mirrors turns the faces over, so their order is reversed to keep them facing out.
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
    const aiFace& face = mesh.mFaces[f];
    for (unsigned i = 2; i < face.mNumIndices; ++i) {
      const uint32_t a = face.mIndices[0], b = face.mIndices[i - 1], c = face.mIndices[i];
      out.indices.insert(out.indices.end(), {a, det < 0 ? c : b, det < 0 ? b : c});
    }
  }
  return out;
}

}  // namespace formats
