// Prints the skinned vertices of a motion file at a frame, one "x,y,z" line each (every mesh with
// bones in turn), for readers outside this build to be compared with.
// Usage: skinned_points FILE FRAME FPS
#include <assimp/config.h>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tests/motion/skinning.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  Assimp::Importer importer;
  importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
  const aiScene* scene = importer.ReadFile(argv[1], 0);
  if (scene == nullptr || scene->mNumAnimations == 0) return 1;
  const double frame = std::atof(argv[2]), fps = std::atof(argv[3]);
  const double tps =
      scene->mAnimations[0]->mTicksPerSecond > 0 ? scene->mAnimations[0]->mTicksPerSecond : 25;
  // Files keyed on whole ticks one a frame count ticks as frames, as the import does.
  const double ticks = std::fabs(fps - tps) < 1e-3 * tps ? frame : frame / fps * tps;
  for (const auto& mesh : motion_test::skinned_vertices(*scene, ticks))
    for (const auto& p : mesh) std::printf("%.9g,%.9g,%.9g\n", p[0], p[1], p[2]);
  return 0;
}
