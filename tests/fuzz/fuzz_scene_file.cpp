// Fuzz target: the scene-file reader fed arbitrary text. A file it accepts must write back to a
// text it accepts again and that stays the same on a second round, and must load into a host.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/scene_file.h"

namespace {

[[noreturn]] void broken(const char* what, const std::string& text) {
  std::fprintf(stderr, "scene file round trip broke: %s\n%s\n", what, text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  stage::Scene_record record;
  try {
    record = stage::parse_scene(text, "fuzz.json");
  } catch (const stage::Error&) {
    return 0;  // refused with a message: fine
  }

  const std::string written = stage::format_scene(record);
  stage::Scene_record again;
  try {
    again = stage::parse_scene(written, "written.json");
  } catch (const stage::Error& e) {
    broken(e.what(), written);
  }
  if (stage::format_scene(again) != written) broken("the second round differs", written);

  // No module is loaded: handlers stay inactive and keep their data.
  static stage::Host host;
  try {
    host.load_scene_record(record, "fuzz.json");
    host.evaluate_frame(record.frame_start);
    for (std::size_t i = 0; i < host.scene().size(); ++i)
      host.world_position(host.scene().item(i).id, 0);
  } catch (const stage::Error&) {
  }
  return 0;
}
