// Skinned vertices of a file as assimp lays skinning out, written apart from the exporter: each
// bone's offset matrix, then its node's world transform at a time, weighted, so that two files
// can be compared where they put the character.
#ifndef TARSEL_TESTS_MOTION_SKINNING_H
#define TARSEL_TESTS_MOTION_SKINNING_H

#include <assimp/scene.h>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "stage/formats/anim_sample.h"

namespace motion_test {

// Every vertex of each mesh with bones (in file order) at `ticks` of the first animation, in the
// file's frame; a vertex no bone weighs is left where the mesh puts it.
inline std::vector<std::vector<std::array<double, 3>>> skinned_vertices(const aiScene& scene,
                                                                        double ticks) {
  std::map<std::string, const aiNodeAnim*> channel;
  if (scene.mNumAnimations > 0)
    for (unsigned c = 0; c < scene.mAnimations[0]->mNumChannels; ++c)
      channel[scene.mAnimations[0]->mChannels[c]->mNodeName.C_Str()] =
          scene.mAnimations[0]->mChannels[c];
  const auto world = [&](const aiNode* node) {
    formats::Matrix m;
    for (; node; node = node->mParent) {
      const auto it = channel.find(node->mName.C_Str());
      m = formats::node_local(*node, it == channel.end() ? nullptr : it->second, ticks) * m;
    }
    return m;
  };
  std::vector<std::vector<std::array<double, 3>>> out;
  for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
    const aiMesh& mesh = *scene.mMeshes[m];
    if (mesh.mNumBones == 0) continue;
    std::vector<aiVector3t<double>> sum(mesh.mNumVertices);
    std::vector<double> weight(mesh.mNumVertices, 0);
    for (unsigned b = 0; b < mesh.mNumBones; ++b) {
      const aiBone& bone = *mesh.mBones[b];
      const formats::Matrix skin =
          world(scene.mRootNode->FindNode(bone.mName)) * formats::to_double(bone.mOffsetMatrix);
      for (unsigned w = 0; w < bone.mNumWeights; ++w) {
        const aiVertexWeight& vw = bone.mWeights[w];
        const aiVector3D& v = mesh.mVertices[vw.mVertexId];
        sum[vw.mVertexId] += (skin * aiVector3t<double>(v.x, v.y, v.z)) * double(vw.mWeight);
        weight[vw.mVertexId] += vw.mWeight;
      }
    }
    out.emplace_back();
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
      const aiVector3t<double> p =
          weight[v] > 0
              ? sum[v] / weight[v]
              : aiVector3t<double>(mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z);
      out.back().push_back({p.x, p.y, p.z});
    }
  }
  return out;
}

}  // namespace motion_test

#endif
