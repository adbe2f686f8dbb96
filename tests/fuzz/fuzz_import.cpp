// Fuzz target: the import path fed an arbitrary motion file (its kind told by its first bytes, as
// assimp tells it: "glTF" binary, '{' glTF text, else BVH): import, IK chains on the first joint
// and the joint two below it, the scene written and read back. A refusal with a message is fine;
// a crash, undefined behaviour, an unbounded allocation (the run's -rss_limit_mb and
// -malloc_limit_mb) or a scene that does not read back is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stage/error.h"
#include "stage/formats/import.h"
#include "stage/formats/rig.h"
#include "stage/output_file.h"
#include "stage/scene_file.h"

namespace {

[[noreturn]] void broken(const char* what, const std::string& text) {
  std::fprintf(stderr, "import round trip broke: %s\n%s\n", what, text.substr(0, 2000).c_str());
  std::abort();
}

std::string file_for(const std::string& bytes) {
  const char* ext = bytes.rfind("glTF", 0) == 0 ? ".glb"
                    : bytes.rfind("{", 0) == 0  ? ".gltf"
                                                : ".bvh";
  return "/tmp/fuzz_import." + std::to_string(getpid()) + ext;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string path = file_for(bytes);
  stage::write_file_whole(path, bytes);
  stage::Scene_record scene;
  try {
    scene = formats::import_motion(path, formats::Import_options{});
  } catch (const stage::Error&) {
    return 0;
  }
  // Items: the object, then the joints parents first; a chain from the first joint to the first
  // joint two levels below it, when there is one.
  formats::Rig_request rig;
  for (std::size_t i = 2; i < scene.items.size(); ++i) {
    const uint32_t parent = scene.items[i].parent;
    if (parent >= 2 && scene.items[parent - 1].parent == scene.items[1].id) {
      formats::Chain_request chain;
      chain.root = scene.items[1].name;
      chain.end = scene.items[i].name;
      rig.chains.push_back(chain);
      break;
    }
  }
  try {
    if (!rig.empty()) formats::rig_scene(scene, rig, path);
  } catch (const stage::Error&) {
  }
  const std::string written = stage::format_scene(scene);
  try {
    stage::parse_scene(written, "written.json");
  } catch (const stage::Error& e) {
    broken(e.what(), written);
  }
  return 0;
}
